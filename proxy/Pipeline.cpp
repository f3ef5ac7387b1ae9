// The sample callback and its record builder.
#include "proxy/Pipeline.h"

#include <pm.h>

#include <utility>

#include "gesture/Word.h"
#include "proxy/Driver.h"
#include "proxy/ProxySettings.h"
#include "proxy/Stages.h"
#include "proxy/Worker.h"

PipelineState Pipeline;

const UINT kPowerStateNameChars = 50;
const DWORD kUserActivityMsg = PPN_APPBUTTONPRESSED;

static bool IsPenDown(TOUCH_PANEL_SAMPLE_FLAGS flags) {
  return (flags & TouchSampleValidFlag) && (flags & TouchSampleDownFlag) &&
         !(flags & TouchSamplePreviousDownFlag);
}

static void ToSystem(TOUCH_PANEL_SAMPLE_FLAGS flags, INT x, INT y) {
  PFN_TOUCH_PANEL_CALLBACK callback = LoadWord(Driver.SystemCallback);
  if (callback != nullptr) callback(flags, x, y);
}

static bool PowerIsIdle() {
  WCHAR name[kPowerStateNameChars] = {0};
  DWORD flags = 0;
  if (GetSystemPowerState(name, kPowerStateNameChars, &flags) != ERROR_SUCCESS) return false;
  return (flags & (POWER_STATE_IDLE | POWER_STATE_UNATTENDED)) != 0;
}

// Screen position of the pen-down, with the screen size first made to agree with the angle.
static void StorePenDownPoint(int px, int py) {
  int width = LoadWord(Settings.ScreenWidth);
  int height = LoadWord(Settings.ScreenHeight);
  switch (LoadWord(Settings.Angle)) {
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

// Builds the record of a sample in pixels; false when the sample yields none.
static bool BuildRecord(TOUCH_PANEL_SAMPLE_FLAGS flags, int px, int py) {
  UINT message = WM_LBUTTONUP;
  if (flags & TouchSampleDownFlag) {
    message = (flags & TouchSamplePreviousDownFlag) ? WM_MOUSEMOVE : WM_LBUTTONDOWN;
  }
  if (!(flags & TouchSampleValidFlag)) {
    ToSystem(flags, px * 4, py * 4);
    return false;
  }
  int sx, sy;
  switch (LoadWord(Settings.Angle)) {
    case 0:
      sx = px;
      sy = py;
      break;
    case 90:
      sx = LoadWord(Settings.ScreenWidth) - py;
      sy = px;
      break;
    case 270:
      sx = py;
      sy = LoadWord(Settings.ScreenHeight) - px;
      break;
    default:
      return false;
  }
  // Packed in unsigned arithmetic: each coordinate keeps its low 16 bits.
  LPARAM lParam =
      static_cast<LPARAM>(static_cast<DWORD>(sx & 0xFFFF) | (static_cast<DWORD>(sy) << 16));
  if (message == WM_LBUTTONUP) {
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

static void PostToWorker(const MSG& record) {
  if (Pipeline.WorkerStarted == nullptr) {
    Pipeline.WorkerStarted =
        CreateThread(nullptr, 0, WorkerRoutine, nullptr, 0, &Pipeline.WorkerThreadId);
    if (Pipeline.WorkerStarted != nullptr) CloseHandle(Pipeline.WorkerStarted);
  }
  if (Pipeline.WorkerThreadId != 0) {
    PostThreadMessageW(Pipeline.WorkerThreadId, kGestureSampleMsg, record.message, record.lParam);
  }
}

void ReplayRecord(const MSG& record) {
  TOUCH_PANEL_SAMPLE_FLAGS flags = record.time;
  if (record.message == WM_MOUSEMOVE) flags |= TouchSampleDownFlag | TouchSamplePreviousDownFlag;
  if (record.message == WM_LBUTTONDOWN) flags |= TouchSampleDownFlag;
  ToSystem(flags, record.pt.x * 4, record.pt.y * 4);
}

BOOL ProxySampleCallback(TOUCH_PANEL_SAMPLE_FLAGS flags, INT x, INT y) {
  Gestures* engine = Driver.ProxyEngine;
  int px = x / 4;
  int py = y / 4;

  if (IsPenDown(flags)) {
    if (PowerIsIdle()) {
      ToSystem(flags, x, y);
      return TRUE;
    }
    PowerPolicyNotify(kUserActivityMsg, 0);
    StorePenDownPoint(px, py);
    SearchTarget(*engine, Pipeline.PenDownPoint);
  }

  if (!LoadWord(Settings.Activate) && !LoadWord(engine->GestureAwareTarget)) {
    ToSystem(flags, x, y);
    return TRUE;
  }

  if (!BuildRecord(flags, px, py)) return TRUE;
  const MSG record = Pipeline.Record;

  bool up = record.message == WM_LBUTTONUP;
  if (Pipeline.UpSeen && up) return TRUE;
  Pipeline.UpSeen = up;

  RefineBrowserTarget(*engine, record);

  if (!LoadWord(engine->GestureAwareTarget)) {
    if (OperaStage(*engine, record)) return TRUE;
    if (InputPanelStage(*engine, record)) return TRUE;
  }

  if (PassThroughDecision(*engine, record, LoadWord(engine->TargetWnd))) return TRUE;

  PostToWorker(record);
  return TRUE;
}
