// The pass-through decision: which strokes reach the window system as ordinary input.
//
// Only scrollable windows, browser views and gesture-aware windows are candidates for gestures;
// a stroke that starts on any other window goes to the window system, record by record. Strokes
// on candidates all go to the engine for now: taps and holds on them are not yet told apart.
// Without a broker window no gesture can be carried out, so every stroke goes to the window
// system, as it would without this driver.
#include <wchar.h>

#include "gesture/Browser.h"
#include "gesture/Word.h"
#include "proxy/Pipeline.h"
#include "proxy/Stages.h"
#include "proxy/Worker.h"

int PathLength = 0;

// Until a pen-down has been judged, records pass through.
static bool PassThrough = true;

static bool IsCandidate(Gestures& engine, HWND target) {
  if (FindBroker() == nullptr) return false;
  if (WindowClassIs(target, kBrowserViewClass)) return true;
  return LoadWord(engine.GestureAwareTarget) || engine.IsScrollableWnd(target);
}

bool PassThroughDecision(Gestures& engine, const MSG& record, HWND target) {
  if (record.message == WM_LBUTTONDOWN) {
    // The check also gives the engine the broker, so that its button-down ends a momentum.
    BrokerIsScrolling();
    PassThrough = !IsCandidate(engine, target);
  }
  if (PassThrough) ReplayRecord(record);
  return PassThrough;
}
