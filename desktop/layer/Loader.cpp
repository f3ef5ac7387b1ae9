// GetProcAddressW: desktop Win32 looks entry points up by narrow names only.
#include <windows.h>

extern "C" FARPROC WINAPI GetProcAddressW(HMODULE module, LPCWSTR name) {
  if (IS_INTRESOURCE(name)) return GetProcAddress(module, reinterpret_cast<LPCSTR>(name));
  char narrow[256];
  size_t i = 0;
  for (; name[i] != 0; ++i) {
    // Entry-point names are plain ASCII; anything else names no entry point.
    if (i + 1 == sizeof(narrow) || name[i] > 0x7F) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
    narrow[i] = static_cast<char>(name[i]);
  }
  narrow[i] = 0;
  return GetProcAddress(module, narrow);
}
