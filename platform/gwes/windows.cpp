// Windows of the window system. The device has no windows yet: every window handle is invalid.
#include "../core/kernel.hpp"

using dev::impl;

extern "C" {

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT, TIMERPROC) {
  impl().bad_handle("SetTimer", reinterpret_cast<uintptr_t>(hwnd));
  (void)id;
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return 0;
}

BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR) {
  impl().bad_handle("KillTimer", reinterpret_cast<uintptr_t>(hwnd));
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

}  // extern "C"
