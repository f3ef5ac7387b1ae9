// Target classification and the pass-through decision.
//
// Until windows and the engine's stroke capture exist, every stroke has no target and passes
// through: its records go back to the window system one by one, in order.
#include "proxy/Stages.h"

#include "gesture/Word.h"
#include "proxy/Pipeline.h"

void SearchTarget(Gestures& engine, POINT) {
  StoreWord(engine.TargetWnd, static_cast<HWND>(nullptr));
  StoreWord(engine.GestureAwareTarget, false);
}

void RefineBrowserTarget(Gestures&, const MSG&) {}

bool OperaStage(Gestures&, const MSG&) {
  return false;
}

bool InputPanelStage(Gestures&, const MSG&) {
  return false;
}

bool PassThroughDecision(Gestures&, const MSG& record, HWND) {
  ReplayRecord(record);
  return true;
}
