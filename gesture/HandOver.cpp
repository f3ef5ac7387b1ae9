// The hand-over: a gesture captured by the proxy's engine crosses to the broker's engine, which
// reads it in place through the address the proxy posted, and the code slots are taken out again
// for filtering.
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

// Where the touch driver proxy publishes the one address that hand-overs may carry: the broker
// window can be found by its class, so any program can post it a hand-over, and the address is
// compared with this before anything is read through it.
static const WCHAR kHandOverKey[] = TEXT("Software\\Quob\\Gesture\\HandOver");
static const WCHAR kSourceValue[] = TEXT("Source");

// The engine's address as other processes see it, which is what the broker compares.
static const void* SharedAddress(Gestures* engine) {
  return MapPtrToProcess(engine, GetCurrentProcess());
}

bool CreateHandOverKey() {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kHandOverKey, 0, nullptr, 0, 0, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

bool PublishHandOverSource(Gestures* engine) {
  const void* mapped = SharedAddress(engine);
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kHandOverKey, 0, nullptr, 0, 0, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  LONG written = RegSetValueExW(key, kSourceValue, 0, REG_BINARY,
                                reinterpret_cast<const BYTE*>(&mapped), sizeof(mapped));
  RegCloseKey(key);
  return written == ERROR_SUCCESS;
}

bool KeepHandOverSource(Gestures* engine) {
  return IsHandOverSource(SharedAddress(engine)) || PublishHandOverSource(engine);
}

void WithdrawHandOverSource(Gestures* engine) {
  // Another engine's value is left for its owner: withdrawing it would silence that engine.
  if (!IsHandOverSource(SharedAddress(engine))) return;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHandOverKey, 0, 0, &key) != ERROR_SUCCESS) return;
  RegDeleteValueW(key, kSourceValue);
  RegCloseKey(key);
}

bool IsHandOverSource(const void* address) {
  if (address == nullptr) return false;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHandOverKey, 0, 0, &key) != ERROR_SUCCESS) return false;
  const void* published = nullptr;
  DWORD type = REG_NONE;
  DWORD size = sizeof(published);
  LONG read = RegQueryValueExW(key, kSourceValue, nullptr, &type,
                               reinterpret_cast<BYTE*>(&published), &size);
  RegCloseKey(key);
  return read == ERROR_SUCCESS && type == REG_BINARY && size == sizeof(published) &&
         published == address;
}

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
