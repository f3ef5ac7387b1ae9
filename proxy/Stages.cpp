// Target-window classification: which window a stroke acts on, whether it takes gestures as
// messages, and the strokes that go to the window system as ordinary input because the Opera
// browser is in front or the soft input panel is on screen.
#include "proxy/Stages.h"
#include "proxy/StrokeReport.h"

#include <tchddi.h>
#include <wchar.h>

#include "gesture/Browser.h"
#include "gesture/Word.h"
#include "proxy/Replay.h"

static const WCHAR kInputPanelClass[] = TEXT("SipWndClass");
static const WCHAR kOperaMark[] = TEXT("Opera");
static const WCHAR kGestureAwarePrefix[] = TEXT("GST_");
const int kGestureAwarePrefixChars = 4;
const int kAwareClassChars = 128;
const int kOperaClassChars = 100;

struct TargetState {
  bool MoveSeen;         // the refinement has run for the first move of this stroke
  bool OperaForeground;  // decided at the pen-down
  bool InputPanelShown;  // decided at the pen-down
};

static TargetState Targets = {false, false, false};

static bool IsGestureAware(HWND window) {
  if (window == nullptr) return false;
  WCHAR cls[kAwareClassChars] = {0};
  GetClassNameW(window, cls, kAwareClassChars);
  return wcsncmp(cls, kGestureAwarePrefix, kGestureAwarePrefixChars) == 0;
}

static bool InputPanelVisible() {
  HWND panel = FindWindowW(kInputPanelClass, nullptr);
  return panel != nullptr && IsWindowVisible(panel);
}

// The pen-down that starts a stroke; an invalid sample never does.
static bool StartsStroke(const MSG& record) {
  return record.message == WM_LBUTTONDOWN && (record.time & TouchSampleValidFlag);
}

static POINT RecordPoint(const MSG& record) {
  POINT p;
  p.x = LOWORD(record.lParam);
  p.y = HIWORD(record.lParam);
  return p;
}

void SearchTarget(Gestures& engine, POINT penDown) {
  if (InputPanelVisible()) {
    // Upward from the window under the finger.
    for (HWND w = WindowFromPoint(penDown);; w = GetParent(w)) {
      StoreWord(engine.TargetWnd, w);
      if (w == nullptr) return;
      bool aware = IsGestureAware(w);
      StoreWord(engine.GestureAwareTarget, aware);
      if (aware) return;
    }
  }
  // Downward from the foreground window; each level is asked in its own client coordinates. A
  // window that is not gesture-aware ends the search with no target: the refinement at the
  // stroke's samples finds the window under the finger.
  for (HWND w = GetForegroundWindow();;) {
    StoreWord(engine.TargetWnd, w);
    if (w == nullptr) return;
    bool aware = IsGestureAware(w);
    StoreWord(engine.GestureAwareTarget, aware);
    if (aware) return;
    POINT p = penDown;
    ScreenToClient(w, &p);
    HWND child = ChildWindowFromPoint(w, p);
    w = child == w ? nullptr : child;
  }
}

// The HTML view directly under the point inside a view, if there is one.
static HWND NestedView(HWND view, POINT screen) {
  POINT p = screen;
  ScreenToClient(view, &p);
  HWND child = ChildWindowFromPoint(view, p);
  if (child == nullptr || child == view || !WindowClassIs(child, kBrowserViewClass)) return nullptr;
  return child;
}

void RefineBrowserTarget(Gestures& engine, const MSG& record) {
  if (LoadWord(engine.GestureAwareTarget) || record.message == WM_LBUTTONUP) return;
  if (record.message == WM_MOUSEMOVE) {
    if (Targets.MoveSeen) return;
    Targets.MoveSeen = true;
  } else if (record.message == WM_LBUTTONDOWN) {
    Targets.MoveSeen = false;
  }

  POINT screen = RecordPoint(record);
  HWND w = WindowFromPoint(screen);
  if (w == nullptr) return;
  // The deepest window under the finger.
  StoreWord(engine.TargetWnd, w);
  for (;;) {
    POINT p = screen;
    ScreenToClient(w, &p);
    HWND child = ChildWindowFromPoint(w, p);
    if (child == nullptr || child == w) break;  // null: on w's scroll bars, w stays the target
    StoreWord(engine.TargetWnd, child);
    w = child;
  }
  if (engine.IsScrollableWnd(LoadWord(engine.TargetWnd))) return;

  HWND frame = GetForegroundWindow();
  if (frame == nullptr || !WindowClassIs(frame, kBrowserFrameClass)) return;
  // The browser's HTML view among the frame's children, then the innermost view under the finger.
  HWND view = GetWindow(frame, GW_CHILD);
  for (;; view = GetWindow(view, GW_HWNDNEXT)) {
    StoreWord(engine.TargetWnd, view);
    if (view == nullptr) return;
    if (WindowClassIs(view, kBrowserViewClass)) break;
  }
  for (HWND inner; (inner = NestedView(LoadWord(engine.TargetWnd), screen)) != nullptr;) {
    StoreWord(engine.TargetWnd, inner);
  }
}

bool OperaStage(Gestures&, const MSG& record) {
  if (StartsStroke(record)) {
    HWND front = GetForegroundWindow();
    bool opera = false;
    if (front != nullptr) {
      WCHAR cls[kOperaClassChars] = {0};
      GetClassNameW(front, cls, kOperaClassChars);
      opera = wcsstr(cls, kOperaMark) != nullptr;
    }
    Targets.OperaForeground = opera;
    if (opera) ReportPassThrough(TEXT("Opera in front"));
  }
  if (!Targets.OperaForeground) return false;
  ReplayRecord(record);
  return true;
}

bool InputPanelStage(Gestures&, const MSG& record) {
  if (StartsStroke(record)) {
    Targets.InputPanelShown = InputPanelVisible();
    if (Targets.InputPanelShown) ReportPassThrough(TEXT("input panel shown"));
  }
  if (!Targets.InputPanelShown) return false;
  ReplayRecord(record);
  return true;
}
