// Recognition and dispatch on the broker's timer: at the first tick after a hand-over the short,
// noisy codes are dropped and the rest are read as a gesture string; every tick carries out the
// behaviour that string stands for. Scroll behaviours go on tick after tick with a momentum that
// falls by one each time; all others run once.
#include <string.h>
#include <wchar.h>

#include "gesture/Arithmetic.h"
#include "gesture/CodeText.h"
#include "gesture/DebugZones.h"
#include "gesture/Gestures.h"
#include "gesture/Momentum.h"
#include "gesture/Word.h"

// Behaviour codes.
enum : UINT {
  kScrollForward = 100,  // scroll by a third of the momentum
  kScrollBack = 101,     // the same, the other way
  kNavLeftward = 102,
  kNavRightward = 103,
  kNothing = 104,
  kZoomLower = 105,
  kZoomRaise = 106,
  kReloadSettings = 107,
  kRotate270 = 108,  // between 270 and 0 degrees
  kRotate90 = 110,   // between 0 and 90 degrees
  kCloseWindow = 111,
};

int MomentumDirection = 0;

// A momentum step is a third of what is left.
const int kMomentumDivisor = 3;
const float kPercent = 100.0f;

static const WCHAR kRotationKey[] = TEXT("System\\GDI\\ROTATION");
static const WCHAR kAngleValue[] = TEXT("Angle");

// The codes of the gesture being filtered, taken out of the slots, and the total of their lengths.
static cGesture FilterBuffer[kCodeSlots];
static int FilterTotal = 0;

struct Pattern {
  const WCHAR* text;  // matches a gesture string that begins with it; X requires the end there
  UINT behaviour;
  bool oneShot;
  bool mergeSecond;  // the second code's length joins the first's momentum
};

// In order: the first match wins.
static const Pattern kPatterns[] = {
    {TEXT("DR"), kRotate270, true, false},      {TEXT("DQR"), kRotate270, true, false},
    {TEXT("DQZ"), kRotate270, true, false},     {TEXT("DL"), kRotate90, true, false},
    {TEXT("DEL"), kRotate90, true, false},      {TEXT("DEC"), kRotate90, true, false},
    {TEXT("ZUX"), kScrollForward, false, true}, {TEXT("UZX"), kScrollForward, false, true},
    {TEXT("CUX"), kScrollForward, false, true}, {TEXT("UCX"), kScrollForward, false, true},
    {TEXT("EDX"), kScrollBack, false, true},    {TEXT("DEX"), kScrollBack, false, true},
    {TEXT("QDX"), kScrollBack, false, true},    {TEXT("DQX"), kScrollBack, false, true},
};

struct SingleCode {
  WCHAR code;
  UINT behaviour;
  bool oneShot;
};

// Without a pattern, the first code alone decides.
static const SingleCode kSingleCodes[] = {
    {TEXT('C'), kReloadSettings, true}, {TEXT('D'), kScrollBack, false},
    {TEXT('E'), kZoomLower, true},      {TEXT('L'), kNavLeftward, true},
    {TEXT('Q'), kNothing, true},        {TEXT('R'), kNavRightward, true},
    {TEXT('U'), kScrollForward, false}, {TEXT('Z'), kZoomRaise, true},
};

// Drops the codes whose share of the whole and whose own length are both small; the codes that
// stay are added again, so neighbours in one direction merge.
static void FilterCodes(Gestures& g) {
  FilterTotal = g.CopyGestureData(FilterBuffer);
  g.CleanGestureData();
  for (const cGesture& record : FilterBuffer) {
    if (record.code == kFreeCode) break;
    float share = FilterTotal > 0 ? static_cast<float>(record.length) /
                                        static_cast<float>(FilterTotal) * kPercent
                                  : 0.0f;
    bool byShare = share > static_cast<float>(LoadWord(g.FilterValue));
    bool byLength = record.length > LoadWord(g.FilterDistance);
    if (byShare || byLength) g.AddGesture(record.code, record.length);
    // The share in tenths of a percent, rounded down, as the comparison saw it.
    int tenths = static_cast<int>(share * 10.0f);
    DEBUGMSG(ZONE_VERBOSE,
             (TEXT("Gesture filter: %c%d %s: share %d.%d%% %s FilterValue %d, ")
                  TEXT("length %d %s FilterDistance %d\r\n"),
              record.code, record.length, byShare || byLength ? TEXT("kept") : TEXT("dropped"),
              tenths / 10, tenths % 10, byShare ? TEXT(">") : TEXT("<="), LoadWord(g.FilterValue),
              record.length, byLength ? TEXT(">") : TEXT("<="), LoadWord(g.FilterDistance)));
  }
  for (int i = 0; i < kCodeSlots; ++i) g.GestureString[i] = g.CodeSlots[i].code;
}

static bool StringBeginsWith(const WCHAR* gesture, const WCHAR* pattern) {
  size_t n = wcslen(pattern);
  for (size_t i = 0; i < n; ++i) {
    if (i >= static_cast<size_t>(kCodeSlots) || gesture[i] != pattern[i]) return false;
  }
  return true;
}

// The behaviour the gesture string stands for; false when it stands for none. `matched` is the
// pattern that chose it, or the single code as text.
static bool ChooseBehaviour(Gestures& g, UINT* behaviour, bool* oneShot, const WCHAR** matched) {
  for (const Pattern& p : kPatterns) {
    if (!StringBeginsWith(g.GestureString, p.text)) continue;
    *matched = p.text;
    if (p.mergeSecond && g.CodeSlots[1].length != 0) {
      g.CodeSlots[0].length = SaturatingAdd(g.CodeSlots[0].length, g.CodeSlots[1].length);
      g.CodeSlots[1].length = 0;
    }
    *behaviour = p.behaviour;
    *oneShot = p.oneShot;
    return true;
  }
  for (const SingleCode& s : kSingleCodes) {
    if (g.CodeSlots[0].code != s.code) continue;
    *matched = nullptr;
    *behaviour = s.behaviour;
    *oneShot = s.oneShot;
    return true;
  }
  return false;
}

// What the filter left and what it stands for, once per gesture.
static void ReportRecognition(Gestures& g, bool chosen, UINT behaviour, const WCHAR* matched) {
  if (!ZONE_VERBOSE) return;
  WCHAR text[kCodeSlots + 1] = {0};
  for (int i = 0; i < kCodeSlots && g.GestureString[i] != kFreeCode; ++i) {
    text[i] = g.GestureString[i];
  }
  WCHAR codes[kCodeTextChars];
  FormatCodes(g.CodeSlots, codes);
  NKDbgPrintfW(TEXT("Gesture filtered: \"%s\" (%s)\r\n"), text, codes);
  if (chosen && matched != nullptr) {
    NKDbgPrintfW(TEXT("Gesture pattern: \"%s\" begins the string\r\n"), matched);
  } else if (chosen) {
    NKDbgPrintfW(TEXT("Gesture pattern: none begins the string; its first code %c alone\r\n"),
                 g.CodeSlots[0].code);
  }
  if (chosen) {
    NKDbgPrintfW(TEXT("Gesture behaviour %u: %s\r\n"), behaviour, BehaviourName(behaviour));
  } else {
    NKDbgPrintfW(TEXT("Gesture \"%s\" stands for no behaviour\r\n"), text);
  }
}

bool Gestures::ProcessTimer(HWND window, UINT, UINT, LONG) {
  if (!GestureReady) return true;
  if (CodeCount <= 0) {
    ResetData();
    return true;
  }
  // The string is empty only at the first tick after a hand-over.
  bool first = GestureString[0] == 0;
  if (first) FilterCodes(*this);

  UINT behaviour = 0;
  bool oneShot = true;
  const WCHAR* matched = nullptr;
  bool chosen = ChooseBehaviour(*this, &behaviour, &oneShot, &matched);
  if (first) ReportRecognition(*this, chosen, behaviour, matched);
  if (!chosen) return true;
  DEBUGMSG(ZONE_VERBOSE,
           (TEXT("Gesture tick: behaviour %u, momentum %d\r\n"), behaviour, CodeSlots[0].length));
  if (!ProcessGesture(window, behaviour, oneShot)) ResetData();
  return true;
}

// Rotation back and forth between two angles: from either one to the other, from any other angle
// nowhere.
static void RotateBetween(Gestures& g, DWORD from, DWORD other) {
  if (!LoadWord(g.Rotation)) return;
  DWORD angle = 0;
  if (FAILED(RegistryGetDWORD(HKEY_LOCAL_MACHINE, kRotationKey, kAngleValue, &angle))) return;
  if (angle == from) {
    g.RotateScreen(static_cast<int>(other));
  } else if (angle == other) {
    g.RotateScreen(static_cast<int>(from));
  }
}

bool Gestures::ProcessGesture(HWND window, UINT behaviour, bool oneShot) {
  int momentum = CodeSlots[0].length;
  if (momentum <= 0) return false;
  if (!GestureScrolling) SetScrollState(kScrollStateRunning);
  GestureScrolling = TRUE;

  if (GestureAwareTarget) {
    // The application gets the gesture as a message instead of having it carried out.
    WPARAM wParam = (behaviour & 0xFFFF) | ((static_cast<UINT>(momentum) & 0xFFFF) << 16);
    LPARAM lParam = static_cast<LPARAM>(static_cast<LONG>(
        (static_cast<UINT>(DownX) & 0xFFFF) | ((static_cast<UINT>(DownY) & 0xFFFF) << 16)));
    PostMessageW(window, kGestureNotifyMsg, wParam, lParam);
    return false;
  }

  bool stop = oneShot;
  switch (behaviour) {
    case kScrollForward:
      MomentumDirection = 1;
      if (!ScrollContent(window, SB_VERT, momentum / kMomentumDivisor)) stop = true;
      break;
    case kScrollBack:
      MomentumDirection = -1;
      if (!ScrollContent(window, SB_VERT, momentum / -kMomentumDivisor)) stop = true;
      break;
    case kNavLeftward:
    case kNavRightward:
      NavPage(window, behaviour == kNavLeftward);
      stop = true;
      break;
    case kZoomLower:
    case kZoomRaise:
      ZoomContent(window, behaviour == kZoomLower);
      stop = true;
      break;
    case kReloadSettings:
      LoadSettings();
      break;
    case kRotate270:
      RotateBetween(*this, 270, 0);
      break;
    case kRotate90:
      RotateBetween(*this, 0, 90);
      break;
    case kCloseWindow:
      CloseWnd();
      break;
    default:
      break;
  }
  if (stop) return false;
  // ScrollContent may have capped the momentum; the next step goes on from what is left.
  CodeSlots[0].length = SaturatingAdd(CodeSlots[0].length, -1);
  return true;
}
