// The touch sample pipeline: every sample from the stock driver runs through its stages in order.
#pragma once

#include <windows.h>
#include <tchddi.h>

// Message of a gesture sample posted to the worker thread.
const UINT kGestureSampleMsg = 2457;

struct PipelineState {
  MSG Record;          // the record of the sample being processed
  LPARAM LastLParam;   // of the last button-down or move record
  bool UpSeen;         // the last record that passed the duplicate pen-up filter was a button-up
  POINT PenDownPoint;  // screen position of the last pen-down, current orientation
  HANDLE WorkerStarted;
  DWORD WorkerThreadId;
};

extern PipelineState Pipeline;

// Hands a record back to the window system as a touch sample.
void ReplayRecord(const MSG& record);
