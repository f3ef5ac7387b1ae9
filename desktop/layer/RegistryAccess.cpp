// Registry opens with the access desktop needs. The phone does not support an access mask and asks
// for 0; desktop refuses reads and writes through a handle opened with no access, so an open that
// asks for nothing gets reading, writing and notification.
#include <windows.h>

namespace {
const REGSAM kPhoneAccess = KEY_READ | KEY_WRITE;

REGSAM DesktopAccess(REGSAM asked) {
  return asked == 0 ? kPhoneAccess : asked;
}
}  // namespace

extern "C" LONG WINAPI DesktopRegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access,
                                            PHKEY result) {
  return RegOpenKeyExW(key, subKey, options, DesktopAccess(access), result);
}

extern "C" LONG WINAPI DesktopRegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved,
                                              LPWSTR keyClass, DWORD options, REGSAM access,
                                              LPSECURITY_ATTRIBUTES security, PHKEY result,
                                              LPDWORD disposition) {
  return RegCreateKeyExW(key, subKey, reserved, keyClass, options, DesktopAccess(access), security,
                         result, disposition);
}
