// The pass-through decision: which strokes reach the window system as ordinary input.
//
// Only scrollable windows, browser views and gesture-aware windows are candidates for gestures;
// a stroke that starts on any other window goes to the window system, record by record. Strokes
// on candidates all go to the engine for now: taps and holds on them are not yet told apart.
#include <wchar.h>

#include "gesture/Browser.h"
#include "gesture/Word.h"
#include "proxy/Pipeline.h"
#include "proxy/Stages.h"

int PathLength = 0;

// Until a pen-down has been judged, records pass through.
static bool PassThrough = true;

static bool IsCandidate(Gestures& engine, HWND target) {
  if (WindowClassIs(target, kBrowserViewClass)) return true;
  return LoadWord(engine.GestureAwareTarget) || engine.IsScrollableWnd(target);
}

bool PassThroughDecision(Gestures& engine, const MSG& record, HWND target) {
  if (record.message == WM_LBUTTONDOWN) PassThrough = !IsCandidate(engine, target);
  if (PassThrough) ReplayRecord(record);
  return PassThrough;
}
