// The power manager: a desktop is always on, and activity reports change nothing.
#include <pm.h>

extern "C" DWORD WINAPI GetSystemPowerState(LPWSTR name, DWORD chars, PDWORD flags) {
  static const WCHAR kOn[] = L"on";
  if (name != nullptr) {
    if (chars < sizeof(kOn) / sizeof(WCHAR)) return ERROR_INSUFFICIENT_BUFFER;
    wcscpy(name, kOn);
  }
  if (flags != nullptr) *flags = POWER_STATE_ON;
  return ERROR_SUCCESS;
}

extern "C" BOOL WINAPI PowerPolicyNotify(DWORD, DWORD) {
  return TRUE;
}
