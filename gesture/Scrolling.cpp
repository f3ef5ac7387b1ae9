// Content scrolling: one step of a pan or of a momentum on the window under the finger. The
// browser's HTML view is moved by position; any other window with a scroll bar line by line,
// thinned out as the momentum decays.
#include <string.h>
#include <wchar.h>

#include "gesture/Arithmetic.h"
#include "gesture/Browser.h"
#include "gesture/Gestures.h"
#include "gesture/Momentum.h"
#include "gesture/Sound.h"
#include "gesture/Word.h"

const UINT kScrollInfoSize = 28;

// Momentum stages: a line on every tick above this count, on every second tick from it down.
const int kEveryTickAbove = 20;
// From this count down the step fades.
const int kFadeFrom = 10;

// Module-wide end-of-content state, kept across gestures.
static int lastScrollPos = -1;
static bool endSeenOnce = false;
static HWND browserParent = nullptr;

void RestartEndOfContent() {
  lastScrollPos = -1;
  endSeenOnce = false;
}

static UINT ScrollMessage(int bar) {
  return bar == SB_VERT ? WM_VSCROLL : WM_HSCROLL;
}

static int VerticalPosition(HWND window) {
  SCROLLINFO info;
  memset(&info, 0, sizeof(info));
  info.cbSize = kScrollInfoSize;
  info.fMask = SIF_ALL;
  GetScrollInfo(window, SB_VERT, &info);
  return info.nPos;
}

bool Gestures::IsScrollableWnd(HWND window) {
  LONG style = GetWindowLongW(window, GWL_STYLE);
  LONG exStyle = GetWindowLongW(window, GWL_EXSTYLE);
  if (exStyle & WS_EX_INK) return false;
  return (style & (WS_VSCROLL | WS_HSCROLL)) != 0;
}

int Gestures::GetScrollPos(HWND window, int bar, int* position) {
  SCROLLINFO info;
  memset(&info, 0, sizeof(info));
  info.cbSize = kScrollInfoSize;
  info.fMask = SIF_POS | SIF_TRACKPOS;
  int result = GetScrollInfo(window, bar, &info);
  if (position != nullptr) *position = info.nPos;
  return result;
}

bool Gestures::ScrollContent(HWND window, int bar, int distance) {
  if (!Panning && !SoundThreadStarted()) StartSoundThread();
  if (TargetIsPIEHTML) return ScrollBrowserView(window, bar, distance);
  if (!IsScrollableWnd(window)) return true;
  return ScrollWithLines(window, bar, distance);
}

bool Gestures::ScrollBrowserView(HWND window, int bar, int distance) {
  HWND view = window;
  if (window != browserParent) {
    if (!WindowClassIs(GetForegroundWindow(), kBrowserFrameClass)) {
      browserParent = GetParent(window);
      if (WindowClassIs(browserParent, kBrowserViewClass)) view = browserParent;
    }
  }

  if (!Panning) {
    SoundStartRequest(*this);
    int momentum = CodeSlots[0].length;
    if (momentum >= 1 && momentum <= kEveryTickAbove) {
      distance /= 2;
      SoundFadeRequest(*this);
    }
  }

  // A view whose position cannot be read stays where it is: a momentum ends there as at the end
  // of the content, a pan goes on without this step.
  int position = 0;
  if (GetScrollPos(view, bar, &position) == 0) return Panning;
  int target = SaturatingAdd(position, distance);
  PostMessageW(view, ScrollMessage(bar), MAKEWPARAM(SB_THUMBPOSITION, target & 0xFFFF), 0);
  SetScrollPos(view, bar, target, TRUE);

  // The position is set at once, so the first unchanged reading is the end.
  int now = VerticalPosition(view);
  if (now == lastScrollPos) {
    lastScrollPos = -1;
    return false;
  }
  lastScrollPos = now;
  return true;
}

bool Gestures::ScrollWithLines(HWND window, int bar, int distance) {
  WPARAM line = distance > 0 ? SB_LINEDOWN : SB_LINEUP;
  if (Panning) {
    // A segment without vertical movement moves nothing (a sideways drag must not creep up).
    if (bar == SB_VERT && distance != 0) PostMessageW(window, WM_VSCROLL, line, 0);
    return true;
  }

  SoundStartRequest(*this);
  int limit = LoadWord(ScrollLimit);
  if (CodeSlots[0].length > limit) CodeSlots[0].length = limit;
  int momentum = CodeSlots[0].length;

  // The last steps of a momentum are a third of almost nothing and truncate to 0; they go on in
  // the momentum's own direction rather than taking a line back.
  int direction = distance > 0 ? 1 : distance < 0 ? -1 : MomentumDirection;
  line = direction > 0 ? SB_LINEDOWN : SB_LINEUP;

  bool moved = false;
  if (direction != 0 && (momentum > kEveryTickAbove || (momentum >= 1 && momentum % 2 == 0))) {
    PostMessageW(window, ScrollMessage(bar), line, 0);
    moved = true;
  }
  if (momentum >= 1 && momentum <= kFadeFrom) SoundFadeRequest(*this);
  if (!moved) return true;

  // The lines are posted, so the reading right after still shows the line before: the end is
  // the second unchanged reading in a row.
  int now = VerticalPosition(window);
  if (now != lastScrollPos) {
    lastScrollPos = now;
    endSeenOnce = false;
    return true;
  }
  if (!endSeenOnce) {
    endSeenOnce = true;
    return true;
  }
  lastScrollPos = -1;
  endSeenOnce = false;
  return false;
}
