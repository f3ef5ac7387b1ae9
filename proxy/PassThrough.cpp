// The pass-through decision: which strokes reach the window system as ordinary input.
//
// Taps, press-and-hold strokes, strokes that start on a band or a scroll-bar strip and strokes on
// windows that take no gestures go to the window system; every other stroke goes to the engine
// only. The decision often comes several records into a stroke, so each record is held until it
// is known: a stroke that passes through has its held records replayed in arrival order and then
// streams record by record; a stroke that ends as a gesture has them discarded at its pen-up, and
// the window system never sees it. Without a broker window, or while the broker would not take
// this engine's hand-overs, no gesture can be carried out, so every stroke goes to the window
// system, as it would without this driver.
#include <stdint.h>
#include <stdlib.h>
#include <tchddi.h>

#include <new>

#include "gesture/Arithmetic.h"
#include "gesture/Browser.h"
#include "gesture/DebugZones.h"
#include "gesture/Word.h"
#include "proxy/Replay.h"
#include "proxy/ProxySettings.h"
#include "proxy/Stages.h"
#include "proxy/StrokeReport.h"
#include "proxy/Worker.h"

int PathLength = 0;
DWORD PannedStroke = 0;
DWORD PostedDowns = 0;

const int kAwareLongPressTime = 100;  // ms, press time of a hold on a gesture-aware target
const int kBandHeight = 25;           // pixels, and 25/320 of the long side at 192 dots per inch
const int kBandScaleDpi = 192;
const int kBandScaleSide = 320;
// Travel that a stroke the engine has panned counts as at least.
const int kPannedTravel = 100;
// Longest a stroke is held undecided, in ms. Only thresholds far above the stock ones leave a
// stroke undecided this long: a finger that has rested for a minute is taken as a press-and-hold.
const int kMaxHoldingMs = 60000;

enum Region { TopBand, BottomBand, VScrollStrip, HScrollStrip, RegionCount };

struct HeldRecord {
  MSG Record;
  HeldRecord* Next;
};

struct PassThroughState {
  HeldRecord* First;  // oldest held record
  HeldRecord* Last;
  bool StrokeOpen;   // a pen-down reached this stage and its pen-up has not
  bool PassThrough;  // the current stroke is ordinary input for the window system
  bool Settled;      // the current stroke is a gesture for good: nothing more is held
  bool BrokerScrolling;
  DWORD StrokeNumber;  // the engine's count of button-downs once it has this stroke's
  int PrevX, PrevY;    // last counted point; (0, 0) means none
  DWORD PenDownTick;
  DWORD LastMoveTick;
  RECT ExclusionRegions[RegionCount];  // inclusive on all sides
};

static PassThroughState State = {};

// Held copies come from a fixed pool, so that holding a sample allocates nothing; a stroke is
// held only until it is decided, which few strokes outlast. Past the pool the heap takes over,
// so that no stroke is cut by the pool's size. Only the sample thread holds and lets go.
const int kHeldPoolSize = 256;
static HeldRecord HeldPool[kHeldPoolSize];
static HeldRecord* FreeHeld = nullptr;
static bool HeldPoolReady = false;

static HeldRecord* NewHeld(const MSG& record) {
  if (!HeldPoolReady) {
    for (HeldRecord& r : HeldPool) {
      r.Next = FreeHeld;
      FreeHeld = &r;
    }
    HeldPoolReady = true;
  }
  HeldRecord* held = FreeHeld;
  if (held == nullptr) return new (std::nothrow) HeldRecord{record, nullptr};
  FreeHeld = held->Next;
  held->Record = record;
  held->Next = nullptr;
  return held;
}

static void DeleteHeld(HeldRecord* held) {
  uintptr_t at = reinterpret_cast<uintptr_t>(held);
  uintptr_t first = reinterpret_cast<uintptr_t>(&HeldPool[0]);
  if (at >= first && at < first + sizeof(HeldPool)) {
    held->Next = FreeHeld;
    FreeHeld = held;
  } else {
    delete held;
  }
}

// Frees every held record, replaying each to the window system first when asked to.
static void ReleaseHeld(bool replay) {
  while (State.First != nullptr) {
    HeldRecord* held = State.First;
    State.First = held->Next;
    if (replay) ReplayRecord(held->Record);
    DeleteHeld(held);
  }
  State.Last = nullptr;
}

void ForgetHeldRecords() {
  ReleaseHeld(false);
}

// False when no copy could be made; the stroke then cannot be held back and must pass through.
static bool Hold(const MSG& record) {
  if (State.Settled) return true;
  HeldRecord* held = NewHeld(record);
  if (held == nullptr) return false;
  if (State.Last == nullptr) {
    State.First = held;
  } else {
    State.Last->Next = held;
  }
  State.Last = held;
  return true;
}

static void CountPoint(int x, int y) {
  if (State.PrevX != 0 || State.PrevY != 0) {
    int step = SaturatingAdd(abs(State.PrevX - x), abs(State.PrevY - y));
    PathLength = SaturatingAdd(PathLength, step);
  }
  if (x == 0 && y == 0) PathLength = 0;
  State.PrevX = x;
  State.PrevY = y;
}

// The stroke's travel; once the engine has panned the stroke it counts as at least a pan's.
static int Travel() {
  bool panned = LoadWord(PannedStroke) == State.StrokeNumber;
  return panned && PathLength < kPannedTravel ? kPannedTravel : PathLength;
}

static int PressedMs() {
  return static_cast<int>(State.LastMoveTick - State.PenDownTick);
}

// A stroke that can become neither a press-and-hold nor a tap any more is a gesture for sure:
// nothing of it needs holding from here on.
static void SettleIfGesture() {
  int travel = Travel();
  bool canHold = travel < LoadWord(Settings.LongTappingMax) && !State.BrokerScrolling;
  bool canTap = travel < LoadWord(Settings.ShortTappingMax) &&
                PressedMs() < LoadWord(Settings.ShortPressTime) && !State.BrokerScrolling;
  if (canHold || canTap) return;
  DEBUGMSG(ZONE_VERBOSE,
           (TEXT("Stroke decision: a gesture: travel %d vs LongTappingMax %d, ")
                TEXT("travel %d vs ShortTappingMax %d, pressed %d ms vs ShortPressTime %d%s\r\n"),
            travel, LoadWord(Settings.LongTappingMax), travel, LoadWord(Settings.ShortTappingMax),
            PressedMs(), LoadWord(Settings.ShortPressTime),
            State.BrokerScrolling ? TEXT(", the broker scrolling") : TEXT("")));
  ReleaseHeld(false);
  State.Settled = true;
}

static bool Contains(const RECT& r, int x, int y) {
  return r.left <= x && x <= r.right && r.top <= y && y <= r.bottom;
}

static void UpdateBands() {
  if (!LoadWord(Settings.LayoutDirty)) return;
  // Cleared before the size is read: a reload that comes after the read marks the bands again.
  StoreWord(Settings.LayoutDirty, false);
  int width = LoadWord(Settings.ScreenWidth);
  int height = LoadWord(Settings.ScreenHeight);
  HDC dc = GetDC(nullptr);
  if (dc != nullptr) {
    int band = kBandHeight;
    if (GetDeviceCaps(dc, LOGPIXELSX) == kBandScaleDpi) {
      band = (width > height ? width : height) * kBandHeight / kBandScaleSide;
    }
    State.ExclusionRegions[TopBand] = {0, 0, width, band};
    State.ExclusionRegions[BottomBand] = {0, height - band, width, height};
    ReleaseDC(nullptr, dc);
  }
}

static void UpdateScrollStrips(HWND target) {
  if (target == nullptr) return;
  LONG style = GetWindowLongW(target, GWL_STYLE);
  RECT r;
  if ((style & WS_VSCROLL) && GetWindowRect(target, &r)) {
    State.ExclusionRegions[VScrollStrip] = {r.right - GetSystemMetrics(SM_CXVSCROLL), r.top,
                                            r.right, r.bottom};
  }
  if ((style & WS_HSCROLL) && GetWindowRect(target, &r)) {
    State.ExclusionRegions[HScrollStrip] = {r.left, r.bottom - GetSystemMetrics(SM_CYHSCROLL),
                                            r.right, r.bottom};
  }
}

// Only scrollable windows, browser views and gesture-aware windows are candidates for gestures,
// and only while a broker can carry them out (the caller has looked for one).
static bool IsCandidate(Gestures& engine, HWND target) {
  if (WindowClassIs(target, kBrowserViewClass)) return true;
  return LoadWord(engine.GestureAwareTarget) || engine.IsScrollableWnd(target);
}

static void ClearStrips() {
  State.ExclusionRegions[VScrollStrip] = {0, 0, 0, 0};
  State.ExclusionRegions[HScrollStrip] = {0, 0, 0, 0};
}

static void PenDown(Gestures& engine, HWND target, int x, int y) {
  if (State.StrokeOpen) {
    // A stroke whose pen-up never came: the window system has seen nothing of it, and now never
    // will, so its records go with it; its travel and strips end with it.
    ReleaseHeld(false);
    ClearStrips();
  }
  // Also drops a pan's travel written after the last pen-up.
  CountPoint(0, 0);
  State.StrokeOpen = true;
  State.Settled = false;
  State.StrokeNumber = PostedDowns + 1;
  State.PenDownTick = GetTickCount();
  // A stroke without moves lasts from its pen-down to its pen-up, not from an older move.
  State.LastMoveTick = State.PenDownTick;
  // The check also gives the engine the broker, so that its button-down ends a momentum.
  State.BrokerScrolling = BrokerIsScrolling();
  bool broker = FindBroker() != nullptr;
  // The broker carries out hand-overs only from the published engine: while this one is not
  // published (and cannot be again), no gesture of it could be carried out.
  bool handOver = broker && KeepHandOverSource(&engine);
  State.PassThrough = !handOver || !IsCandidate(engine, target);
  UpdateBands();
  UpdateScrollStrips(target);
  static const WCHAR* const kRegionNames[RegionCount] = {TEXT("top band"), TEXT("bottom band"),
                                                         TEXT("vertical scroll-bar strip"),
                                                         TEXT("horizontal scroll-bar strip")};
  const WCHAR* reason = !broker             ? TEXT("no broker")
                        : !handOver         ? TEXT("engine not published for hand-overs")
                        : State.PassThrough ? TEXT("window takes no gestures")
                                            : nullptr;
  for (int i = 0; i < RegionCount && reason == nullptr; ++i) {
    if (Contains(State.ExclusionRegions[i], x, y)) {
      State.PassThrough = true;
      reason = kRegionNames[i];
    }
  }
  if (reason != nullptr) ReportPassThrough(reason);
  CountPoint(x, y);
}

static void Move(Gestures& engine, int x, int y) {
  CountPoint(x, y);
  State.LastMoveTick = GetTickCount();
  int longPress =
      LoadWord(engine.GestureAwareTarget) ? kAwareLongPressTime : LoadWord(Settings.LongPressTime);
  State.PassThrough = Travel() < LoadWord(Settings.LongTappingMax) && PressedMs() > longPress &&
                      !State.BrokerScrolling;
  if (State.PassThrough) {
    DEBUGMSG(ZONE_VERBOSE, (TEXT("Stroke decision: press-and-hold: travel %d < LongTappingMax %d, ")
                                TEXT("pressed %d ms > %s %d ms\r\n"),
                            Travel(), LoadWord(Settings.LongTappingMax), PressedMs(),
                            LoadWord(engine.GestureAwareTarget) ? TEXT("the gesture-aware hold")
                                                                : TEXT("LongPressTime"),
                            longPress));
    DEBUGMSG(ZONE_VERBOSE,
             (TEXT("Stroke passes through: press-and-hold at %d ms\r\n"), PressedMs()));
    return;
  }
  if (PressedMs() > kMaxHoldingMs) {
    DEBUGMSG(ZONE_VERBOSE, (TEXT("Stroke passes through: press-and-hold, undecided for %d ms\r\n"),
                            kMaxHoldingMs));
    State.PassThrough = true;
    return;
  }
  SettleIfGesture();
}

static void PenUp() {
  if (!State.PassThrough && !State.Settled) {
    State.PassThrough = Travel() < LoadWord(Settings.ShortTappingMax) &&
                        PressedMs() < LoadWord(Settings.ShortPressTime) && !State.BrokerScrolling;
    DEBUGMSG(ZONE_VERBOSE, (TEXT("Stroke decision at the pen-up: travel %d vs ShortTappingMax %d, ")
                                TEXT("pressed %d ms vs ShortPressTime %d%s: %s\r\n"),
                            Travel(), LoadWord(Settings.ShortTappingMax), PressedMs(),
                            LoadWord(Settings.ShortPressTime),
                            State.BrokerScrolling ? TEXT(", the broker scrolling") : TEXT(""),
                            State.PassThrough ? TEXT("a tap") : TEXT("no tap")));
    if (State.PassThrough) ReportPassThrough(TEXT("tap at the pen-up"));
  }
  if (!State.PassThrough) ReportWithheld();
  CountPoint(0, 0);
  // The bands stay in force from stroke to stroke; the strips belong to the stroke's target.
  ClearStrips();
  State.StrokeOpen = false;
}

bool PassThroughDecision(Gestures& engine, const MSG& record, HWND target) {
  int x = LOWORD(record.lParam);
  int y = HIWORD(record.lParam);
  // An invalid sample keeps its place among the stroke's records but counts for neither travel
  // nor time; an invalid pen-up still ends the stroke.
  bool valid = (record.time & TouchSampleValidFlag) != 0;
  bool down = record.message == WM_LBUTTONDOWN && valid;
  bool up = record.message == WM_LBUTTONUP;

  if (down) {
    PenDown(engine, target, x, y);
    if (!State.PassThrough) SettleIfGesture();
  } else if (!State.StrokeOpen) {
    // Outside any stroke (its pen-down was never reported): nothing to hold it back for.
    ReplayRecord(record);
    return true;
  } else if (valid && record.message == WM_MOUSEMOVE && !State.PassThrough && !State.Settled) {
    Move(engine, x, y);
  }
  if (up) PenUp();

  if (!Hold(record)) {
    // No copy to hold: the stroke cannot be kept from the window system any longer.
    if (!State.PassThrough) ReportPassThrough(TEXT("no memory to hold it"));
    State.PassThrough = true;
    ReleaseHeld(true);
    ReplayRecord(record);
  } else if (State.PassThrough) {
    if (down) {
      HWND broker = LoadWord(Broker.BrokerWnd);
      if (broker != nullptr) PostMessageW(broker, kResetMsg, 0, 0);
    }
    ReleaseHeld(true);
  }
  if (up) ReleaseHeld(false);
  return State.PassThrough;
}
