// The sample callback and its record builder.
#include "proxy/Pipeline.h"

#include <pm.h>

#include <utility>

#include "gesture/DebugZones.h"
#include "gesture/Word.h"
#include "proxy/Driver.h"
#include "proxy/ProxySettings.h"
#include "proxy/Replay.h"
#include "proxy/Stages.h"
#include "proxy/StrokeReport.h"
#include "proxy/Worker.h"

// Until the first pen-down every sample goes to the window system unchanged.
PipelineState Pipeline = {{}, 0, false, {0, 0}, nullptr, 0, nullptr, true, {360, 0, 0}};

const UINT kPowerStateNameChars = 50;
const DWORD kUserActivityMsg = PPN_APPBUTTONPRESSED;
// How long the first gesture sample waits, once in the process's life, for the new worker's
// message queue; a worker that has not run by then is posted to all the same.
const DWORD kWorkerStartWaitMs = 1000;

static bool IsPenDown(TOUCH_PANEL_SAMPLE_FLAGS flags) {
  return (flags & TouchSampleValidFlag) && (flags & TouchSampleDownFlag) &&
         !(flags & TouchSamplePreviousDownFlag);
}

static bool PowerIsIdle() {
  WCHAR name[kPowerStateNameChars] = {0};
  DWORD flags = 0;
  if (GetSystemPowerState(name, kPowerStateNameChars, &flags) != ERROR_SUCCESS) return false;
  return (flags & (POWER_STATE_IDLE | POWER_STATE_UNATTENDED)) != 0;
}

// Screen position of the pen-down, with the screen size first made to agree with the angle.
static void StorePenDownPoint(int px, int py) {
  int width = Pipeline.Mapping.ScreenWidth;
  int height = Pipeline.Mapping.ScreenHeight;
  switch (Pipeline.Mapping.Angle) {
    case 0:
      if (width > height) std::swap(width, height);
      Pipeline.PenDownPoint = {px, py};
      break;
    case 90:
      if (width < height) std::swap(width, height);
      Pipeline.PenDownPoint = {width - py, px};
      break;
    case 270:
      if (width < height) std::swap(width, height);
      Pipeline.PenDownPoint = {py, height - px};
      break;
    default:
      break;
  }
}

static bool IsMappedAngle(int angle) {
  return angle == 0 || angle == 90 || angle == 270;
}

// Each setting is read once, so the stroke is mapped with one angle and the size that went with
// it.
static void FixStrokeMapping() {
  Pipeline.Mapping.Angle = LoadWord(Settings.Angle);
  Pipeline.Mapping.ScreenWidth = LoadWord(Settings.ScreenWidth);
  Pipeline.Mapping.ScreenHeight = LoadWord(Settings.ScreenHeight);
}

// Builds the record of a sample in pixels; false when the sample yields none. An invalid sample
// has a record too, so that it can keep its place among the held records of its stroke; it
// carries the last position and replays with its flags and coordinates as reported.
static bool BuildRecord(TOUCH_PANEL_SAMPLE_FLAGS flags, int px, int py) {
  UINT message = WM_LBUTTONUP;
  if (flags & TouchSampleDownFlag) {
    message = (flags & TouchSamplePreviousDownFlag) ? WM_MOUSEMOVE : WM_LBUTTONDOWN;
  }
  bool valid = (flags & TouchSampleValidFlag) != 0;
  const StrokeMapping& map = Pipeline.Mapping;
  int sx = 0, sy = 0;
  switch (valid ? map.Angle : 0) {
    case 0:
      sx = px;
      sy = py;
      break;
    case 90:
      sx = map.ScreenWidth - py;
      sy = px;
      break;
    case 270:
      sx = py;
      sy = map.ScreenHeight - px;
      break;
    default:
      return false;
  }
  // Packed in unsigned arithmetic: each coordinate keeps its low 16 bits.
  LPARAM lParam =
      static_cast<LPARAM>(static_cast<DWORD>(sx & 0xFFFF) | (static_cast<DWORD>(sy) << 16));
  if (message == WM_LBUTTONUP || !valid) {
    lParam = Pipeline.LastLParam;
  } else {
    Pipeline.LastLParam = lParam;
  }
  MSG& record = Pipeline.Record;
  record.hwnd = nullptr;
  record.message = message;
  record.wParam = MK_LBUTTON;
  record.lParam = lParam;
  record.time = flags;
  record.pt.x = px;
  record.pt.y = py;
  return true;
}

// A post to a thread that has no message queue yet may fail (desktop Win32 says so), and the
// engine would then miss the stroke's button-down. So the new worker makes its queue first and
// says so, and its first sample waits for that once.
static void StartWorker() {
  if (Pipeline.WorkerReady == nullptr) {
    Pipeline.WorkerReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  Pipeline.WorkerStarted =
      CreateThread(nullptr, 0, WorkerRoutine, Pipeline.WorkerReady, 0, &Pipeline.WorkerThreadId);
  if (Pipeline.WorkerStarted == nullptr) return;
  CloseHandle(Pipeline.WorkerStarted);
  if (Pipeline.WorkerReady != nullptr)
    WaitForSingleObject(Pipeline.WorkerReady, kWorkerStartWaitMs);
}

static void PostToWorker(const MSG& record) {
  if (Pipeline.WorkerStarted == nullptr) StartWorker();
  if (Pipeline.WorkerThreadId == 0) return;
  BOOL posted =
      PostThreadMessageW(Pipeline.WorkerThreadId, kGestureSampleMsg, record.message, record.lParam);
  if (posted && record.message == WM_LBUTTONDOWN) ++PostedDowns;
}

// The pen-down block: decides how the whole stroke goes. A stroke decided at its pen-down goes
// to the window system unchanged to its end, and no later stage sees any of it.
static void StartStroke(Gestures& engine, int px, int py) {
  if (PowerIsIdle()) {
    // The target of the previous stroke stays in force.
    Pipeline.StrokeUnchanged = true;
    ReportPassThrough(TEXT("the device is idle"));
    return;
  }
  PowerPolicyNotify(kUserActivityMsg, 0);
  FixStrokeMapping();
  StorePenDownPoint(px, py);
  SearchTarget(engine, Pipeline.PenDownPoint);
  bool gated = !LoadWord(Settings.Activate) && !LoadWord(engine.GestureAwareTarget);
  // Samples of an orientation the proxy cannot map could reach nobody else.
  Pipeline.StrokeUnchanged = gated || !IsMappedAngle(Pipeline.Mapping.Angle);
  if (gated) {
    ReportPassThrough(TEXT("gesture function off"));
  } else if (Pipeline.StrokeUnchanged) {
    ReportPassThrough(TEXT("screen angle not mapped"));
  }
}

BOOL ProxySampleCallback(TOUCH_PANEL_SAMPLE_FLAGS flags, INT x, INT y) {
  Gestures* engine = Driver.ProxyEngine;
  int px = x / 4;
  int py = y / 4;

  if (IsPenDown(flags)) StartStroke(*engine, px, py);
  if (Pipeline.StrokeUnchanged) {
    ToSystem(flags, x, y);
    return TRUE;
  }

  if (!BuildRecord(flags, px, py)) return TRUE;
  const MSG record = Pipeline.Record;
  bool valid = (flags & TouchSampleValidFlag) != 0;

  // An invalid pen-up ends its stroke too, but is never dropped as a second one.
  bool up = record.message == WM_LBUTTONUP;
  if (valid && Pipeline.UpSeen && up) return TRUE;
  if (valid || up) Pipeline.UpSeen = up;

  if (valid) RefineBrowserTarget(*engine, record);

  if (!LoadWord(engine->GestureAwareTarget)) {
    if (OperaStage(*engine, record)) return TRUE;
    if (InputPanelStage(*engine, record)) return TRUE;
  }

  // An invalid sample goes wherever its stroke goes, and never to the engine.
  if (PassThroughDecision(*engine, record, LoadWord(engine->TargetWnd)) || !valid) return TRUE;

  // The engine hands the gesture over at this pen-up: its value may have gone since the pen-down.
  // When it cannot be published again now, this one gesture is lost: once the stroke was a
  // gesture for sure its records were let go, so there is nothing left to replay.
  if (record.message == WM_LBUTTONUP && !KeepHandOverSource(engine)) {
    DEBUGMSG(ZONE_ERROR, (TEXT("Gesture lost: the engine could not be published again\r\n")));
  }
  PostToWorker(record);
  return TRUE;
}
