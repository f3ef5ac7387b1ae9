// The touch sample pipeline: every sample from the stock driver runs through its stages in order.
#pragma once

#include <windows.h>
#include <tchddi.h>

// Message of a gesture sample posted to the worker thread.
const UINT kGestureSampleMsg = 2457;

// How a stroke is mapped from the panel to the screen: fixed at its pen-down, so that a settings
// change mid-stroke takes effect at the next stroke.
struct StrokeMapping {
  int Angle;
  int ScreenWidth;
  int ScreenHeight;
};

struct PipelineState {
  MSG Record;          // the record of the sample being processed
  LPARAM LastLParam;   // of the last button-down or move record
  bool UpSeen;         // the last record that passed the duplicate pen-up filter was a button-up
  POINT PenDownPoint;  // screen position of the last pen-down, current orientation
  HANDLE WorkerStarted;
  DWORD WorkerThreadId;
  HANDLE WorkerReady;  // set by the worker once its message queue exists; kept for good
  // The current stroke goes to the window system unchanged, as without this driver: decided at
  // its pen-down (power idle, gesture function off, or an orientation the proxy cannot map).
  bool StrokeUnchanged;
  StrokeMapping Mapping;
};

extern PipelineState Pipeline;
