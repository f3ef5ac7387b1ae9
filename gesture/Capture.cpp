// Stroke capture and direction coding: the pointer messages of one stroke become either a pan,
// which scrolls the window under the finger as it moves, or up to ten direction codes with
// lengths, which are handed to the broker at the button-up.
#include <math.h>
#include <string.h>
#include <wchar.h>

#include "gesture/Arithmetic.h"
#include "gesture/Browser.h"
#include "gesture/DebugZones.h"
#include "gesture/Gestures.h"
#include "gesture/PanReport.h"
#include "gesture/Word.h"

DWORD* PannedStrokeWord = nullptr;

// Calls of ProcessMouseMsg since the last button-down, the button-down counting as 1.
static int MoveCounter = 0;
// Button-downs this module's engines have seen; wraps with the host's own count.
static DWORD ButtonDowns = 0;
// A button-down came and its button-up has not: the proxy gives the engine no pen-up that failed
// validation.
static bool StrokeOpen = false;

const float kThousandth = 0.001f;
const DWORD kTickBeforeZero = 0xFFFFFFFF;

static int PointX(LONG lParam) {
  return LOWORD(lParam);
}
static int PointY(LONG lParam) {
  return HIWORD(lParam);
}

// The segment distance as a whole number, rounded down; every threshold and every code length
// uses this one value.
static int SegmentDistance(int dx, int dy) {
  double exact = sqrt(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy);
  return static_cast<int>(floor(exact));
}

// The direction letter of a segment, or 0 when it yields none.
static WCHAR DirectionCode(int dx, int dy, int bound1, int bound2) {
  int adx = Magnitude(dx);
  int ady = Magnitude(dy);
  enum { None, Vertical, Horizontal, Diagonal } kind = None;
  if (adx == 0) {
    if (ady != 0) kind = Vertical;
  } else {
    float ratio = static_cast<float>(ady) / static_cast<float>(adx);
    float steep = static_cast<float>(bound1) * kThousandth;
    float flat = static_cast<float>(bound2) * kThousandth;
    if (ratio > steep) {
      kind = Vertical;
    } else if (ratio < flat) {
      // A level segment (ratio 0) is as horizontal as a segment gets.
      kind = Horizontal;
    } else if (ratio >= flat && ratio <= steep) {
      kind = Diagonal;
    }
  }
  switch (kind) {
    case Vertical:
      return dy > 0 ? TEXT('D') : TEXT('U');
    case Horizontal:
      return dx > 0 ? TEXT('R') : TEXT('L');
    case Diagonal:
      if (dy > 0) return dx > 0 ? TEXT('Q') : TEXT('E');
      return dx > 0 ? TEXT('Z') : TEXT('C');
    default:
      return 0;
  }
}

bool Gestures::ProcessMouseMsg(UINT message, UINT wParam, LONG lParam, HWND broker) {
  if (MoveCounter < INT_MAX) ++MoveCounter;
  switch (message) {
    case WM_LBUTTONDOWN: {
      if (StrokeOpen) {
        // The previous stroke never ended here: its pan ends with it rather than going on in
        // this stroke as a pan just released would.
        Panning = false;
        CodeAdded = false;
        UpTick = 0;
      }
      StrokeOpen = true;
      DownTick = GetTickCount();
      ++ButtonDowns;
      TravelSum = 0;
      MoveCounter = 1;
      ResetData();
      HWND myBroker = LoadWord(MsgBroker);
      if (myBroker != nullptr) PostMessageW(myBroker, kResetMsg, 0, 0);
      HWND target = LoadWord(TargetWnd);
      if (target != nullptr) ReadTargetClass(target);
      CurX = DownX = PointX(lParam);
      CurY = DownY = PointY(lParam);
      FirstMovePending = true;
      break;
    }
    case WM_MOUSEMOVE:
      if (MoveCounter >= LoadWord(IgnoreCount)) {
        MsgToBehavior(LoadWord(TargetWnd), message, wParam, lParam, broker);
        FirstMovePending = false;
      }
      break;
    case WM_LBUTTONUP:
      StrokeOpen = false;
      MsgToBehavior(LoadWord(TargetWnd), message, wParam, lParam, broker);
      if (!Panning) PostMessageW(broker, kHandOverMsg, HandOverWord(), 0);
      // 0 means "consumed": a button-up at tick 0 is taken as one a millisecond earlier, or the
      // next stroke would keep this stroke's pan or code.
      UpTick = GetTickCount();
      if (UpTick == 0) UpTick = kTickBeforeZero;
      GestureReady = true;
      break;
    default:
      break;
  }
  return true;
}

bool Gestures::MsgToBehavior(HWND target, UINT message, UINT, LONG lParam, HWND broker) {
  if (!IsWindow(broker)) return false;
  int x = PointX(lParam);
  int y = PointY(lParam);
  if (FirstMovePending || !SegmentOpen) {
    SegStartX = x;
    SegStartY = y;
    SegmentOpen = true;
    if (FirstMovePending) {
      DEBUGMSG(ZONE_VERBOSE, (TEXT("Gesture capture: %d move(s) ignored (IgnoreCount %d), the ")
                                  TEXT("stroke starts at (%d, %d)%s\r\n"),
                              MoveCounter - 2, LoadWord(IgnoreCount), x, y,
                              message == WM_LBUTTONUP ? TEXT(", its pen-up") : TEXT("")));
      return true;
    }
  }

  int dx = x - SegStartX;
  int dy = y - SegStartY;
  CurX = x;
  CurY = y;
  int distance = SegmentDistance(dx, dy);

  if (CheckIsPanningT(distance)) {
    if (distance < LoadWord(NOISESIZE)) return true;  // small moves add up
    if (PannedStrokeWord != nullptr) StoreWord(*PannedStrokeWord, ButtonDowns);
    if (IsWindow(target)) {
      ScrollContent(target, SB_HORZ, -dx);
      ScrollContent(target, SB_VERT, -dy);
    }
  } else {
    if (distance < LoadWord(GRIDSIZE)) return true;
    int length = SaturatingMul(LoadWord(Amp), distance);
    WCHAR code = DirectionCode(dx, dy, LoadWord(Bound1), LoadWord(Bound2));
    if (code != 0 && !CodeAdded) {
      DEBUGMSG(ZONE_VERBOSE, (TEXT("Gesture pan check: pressed %d ms vs PanTime %d, travel %d vs ")
                                  TEXT("LenThres %d: no pan\r\n"),
                              static_cast<int>(GetTickCount() - DownTick), LoadWord(PanTime),
                              TravelSum, LoadWord(LenThres)));
    }
    if (code != 0) AddGesture(code, length);
    DEBUGMSG(ZONE_VERBOSE,
             (TEXT("Gesture segment: (%d, %d) to (%d, %d), distance %d (GRIDSIZE %d), ")
                  TEXT("code %c, length %d (Amp %d)\r\n"),
              SegStartX, SegStartY, CurX, CurY, distance, LoadWord(GRIDSIZE),
              code != 0 ? code : TEXT('-'), length, LoadWord(Amp)));
  }

  SegStartX = CurX;
  SegStartY = CurY;
  return true;
}

bool Gestures::CheckIsPanningT(int distance) {
  TravelSum = SaturatingAdd(TravelSum, distance);
  DWORD now = GetTickCount();
  // UpTick is 0 once consumed. (Read as a signed number it would look unset for half of every
  // 49.7-day cycle of the tick count, and a pan or a code would then stick to every later stroke.)
  if (UpTick != 0) {
    // Unsigned too: read as a signed number, a pan released more than 24.8 days ago would seem
    // released a moment ago.
    int lastUpCount = LoadWord(LastUpCount);
    bool expired = lastUpCount < 0 || now - UpTick > static_cast<DWORD>(lastUpCount);
    if (expired || !Panning) {
      UpTick = 0;
      CodeAdded = false;
      Panning = false;
    } else {
      return true;  // a pan that ended a moment ago goes on in this stroke
    }
  }
  if (Panning) return true;
  if (CodeAdded) return false;  // a stroke that has produced a code never becomes a pan
  int pressed = static_cast<int>(now - DownTick);
  Panning = pressed > LoadWord(PanTime) && TravelSum < LoadWord(LenThres);
  if (Panning) {
    DEBUGMSG(ZONE_VERBOSE,
             (TEXT("Gesture pan: pressed %d ms > PanTime %d, travel %d < LenThres %d\r\n"), pressed,
              LoadWord(PanTime), TravelSum, LoadWord(LenThres)));
  }
  return Panning;
}

bool Gestures::CheckIsPanning(int distance) {
  if (distance < LoadWord(PGRIDSIZE)) {
    if (CodeAdded) return false;
    Panning = true;
    return true;
  }
  if (Panning) return true;
  CodeAdded = true;
  return false;
}

bool Gestures::AddGesture(WCHAR code, int length) {
  if (CodeCount < 0 || CodeCount >= kCodeSlots) return false;
  CodeAdded = true;
  int magnitude = Magnitude(length);
  if (CodeCount > 0 && CodeSlots[CodeCount - 1].code == code) {
    CodeSlots[CodeCount - 1].length = SaturatingAdd(CodeSlots[CodeCount - 1].length, magnitude);
  } else {
    CodeSlots[CodeCount].code = code;
    CodeSlots[CodeCount].length = magnitude;
    ++CodeCount;
  }
  return true;
}

int Gestures::GetGesLength() {
  int used = 0;
  while (used < kCodeSlots && CodeSlots[used].code != kFreeCode) ++used;
  return used;
}

bool Gestures::AddMsg(UINT message, UINT wParam, LONG lParam) {
  if (MsgBuffer.message != 0) return false;
  MsgBuffer.message = message;
  MsgBuffer.wParam = wParam;
  MsgBuffer.lParam = lParam;
  return true;
}

int Gestures::GetMsgLength() {
  return MsgBuffer.message != 0 ? 1 : 0;
}

bool Gestures::FlushMsg(HWND window) {
  if (MsgBuffer.message != 0) {
    PostMessageW(window, MsgBuffer.message + 5, MsgBuffer.wParam, MsgBuffer.lParam);
  }
  ResetData();
  return true;
}
