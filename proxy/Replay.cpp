#include "proxy/Replay.h"

#include "gesture/Word.h"
#include "proxy/Driver.h"

void ToSystem(TOUCH_PANEL_SAMPLE_FLAGS flags, INT x, INT y) {
  PFN_TOUCH_PANEL_CALLBACK callback = LoadWord(Driver.SystemCallback);
  if (callback != nullptr) callback(flags, x, y);
}

void ReplayRecord(const MSG& record) {
  TOUCH_PANEL_SAMPLE_FLAGS flags = record.time;
  if (record.message == WM_MOUSEMOVE) flags |= TouchSampleDownFlag | TouchSamplePreviousDownFlag;
  if (record.message == WM_LBUTTONDOWN) flags |= TouchSampleDownFlag;
  ToSystem(flags, record.pt.x * 4, record.pt.y * 4);
}
