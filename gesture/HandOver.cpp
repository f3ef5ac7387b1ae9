// The hand-over: a gesture captured by the proxy's engine crosses to the broker's engine, which
// copies it out of a source object with the proxy's members, and the code slots are taken out
// again for filtering. How the source reaches the broker's process is up to the means the build
// chooses: HandOverByAddress.cpp on the phone, HandOverBySection.cpp on desktop.
#include <string.h>
#include <wchar.h>

#include "gesture/Arithmetic.h"
#include "gesture/Browser.h"
#include "gesture/CodeText.h"
#include "gesture/DebugZones.h"
#include "gesture/Gestures.h"
#include "gesture/Momentum.h"
#include "gesture/Word.h"

const DWORD kAllProcesses = 0xFFFFFFFF;

// The eight direction letters. The source is another process's object that its owner may be
// rewriting while it is read, so anything else found in a used slot is not a code.
static bool IsDirectionCode(WCHAR code) {
  switch (code) {
    case TEXT('U'):
    case TEXT('D'):
    case TEXT('L'):
    case TEXT('R'):
    case TEXT('Q'):
    case TEXT('E'):
    case TEXT('Z'):
    case TEXT('C'):
      return true;
    default:
      return false;
  }
}

int Gestures::CopyGestureData(cGesture* records) {
  int total = 0;
  int i = 0;
  for (; i < kCodeSlots && CodeSlots[i].code != kFreeCode; ++i) {
    records[i] = CodeSlots[i];
    total = SaturatingAdd(total, CodeSlots[i].length);
  }
  for (; i < kCodeSlots; ++i) {
    records[i].code = kFreeCode;
    records[i].length = 0;
  }
  return total;
}

bool Gestures::CleanGestureData() {
  for (cGesture& slot : CodeSlots) {
    slot.code = kFreeCode;
    slot.length = 0;
  }
  CodeCount = 0;
  memset(GestureString, 0, sizeof(GestureString));
  return true;
}

bool Gestures::DuplicateGestureData(Gestures* source) {
  GestureReady = false;
  SetProcPermissions(kAllProcesses);
  RestartEndOfContent();

  // Each slot of the source is read once, code and length as whole words; a code that is not a
  // direction letter is skipped, so a slot caught half-reset never becomes a gesture.
  int copied = 0;
  for (int i = 0; source != nullptr && i < kCodeSlots; ++i) {
    WCHAR code = LoadWord(source->CodeSlots[i].code);
    if (code == kFreeCode) break;
    if (!IsDirectionCode(code)) continue;
    CodeSlots[copied].code = code;
    CodeSlots[copied].length = LoadWord(source->CodeSlots[i].length);
    ++copied;
  }
  CodeCount = copied;
  for (int i = copied; i < kCodeSlots; ++i) {
    CodeSlots[i].code = kFreeCode;
    CodeSlots[i].length = 0;
  }

  if (source != nullptr) {
    DownX = LoadWord(source->DownX);
    DownY = LoadWord(source->DownY);
    GestureAwareTarget = LoadWord(source->GestureAwareTarget);
    TargetWnd = LoadWord(source->TargetWnd);
    if (TargetWnd != nullptr) ReadTargetClass(TargetWnd);
  }
  if (ZONE_VERBOSE) {
    WCHAR codes[kCodeTextChars];
    FormatCodes(CodeSlots, codes);
    NKDbgPrintfW(TEXT("Gesture handed over: %d code(s): %s\r\n"), copied, codes);
  }

  GestureReady = true;
  return true;
}

int Gestures::IsInGestureScrolling() {
  return GestureScrolling ? 1 : 0;
}

void Gestures::ReadTargetClass(HWND target) {
  memset(TargetClass, 0, sizeof(TargetClass));
  GetClassNameW(target, TargetClass, kTargetClassChars);
  TargetIsPIEHTML = wcscmp(TargetClass, kBrowserViewClass) == 0;
}
