// The hand-over by address, the phone's: its processes share one address space, so the proxy
// posts its engine's address made valid for other processes, and the broker reads the engine in
// place through it.
#include "gesture/Gestures.h"
#include "gesture/Word.h"

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

WPARAM HandOverWord() {
  // Worked out at the first hand-over, then reused.
  static Gestures* mappedSelf = nullptr;
  static bool mappedSelfKnown = false;
  if (!mappedSelfKnown) {
    mappedSelf =
        static_cast<Gestures*>(MapPtrToProcess(LoadWord(CurrentGestures), GetCurrentProcess()));
    mappedSelfKnown = true;
  }
  return reinterpret_cast<WPARAM>(mappedSelf);
}

Gestures* HandedOverSource(WPARAM wParam) {
  const void* address = reinterpret_cast<const void*>(wParam);
  return IsHandOverSource(address) ? reinterpret_cast<Gestures*>(wParam) : nullptr;
}
