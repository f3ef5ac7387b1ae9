// The kernel debug print: to the debugger as on desktop, and to the standard error stream when
// VEXORI_DEBUG_PRINT is set, so that the hosts under Wine can show what the engines print. The
// zone mask of a module comes from HKEY_LOCAL_MACHINE\DebugZones, under the module's name.
#include <dbgapi.h>
#include <stdarg.h>
#include <stdio.h>

extern "C" void NKDbgPrintfW(LPCWSTR format, ...) {
  WCHAR text[1024];
  va_list args;
  va_start(args, format);
  int written = _vsnwprintf(text, sizeof(text) / sizeof(WCHAR) - 1, format, args);
  va_end(args);
  text[written < 0 ? sizeof(text) / sizeof(WCHAR) - 1 : written] = 0;
  OutputDebugStringW(text);
  if (GetEnvironmentVariableW(L"VEXORI_DEBUG_PRINT", nullptr, 0) != 0) {
    fprintf(stderr, "%ls", text);
    fflush(stderr);
  }
}

extern "C" BOOL RegisterDbgZones(HMODULE, LPDBGPARAM param) {
  if (param == nullptr) return FALSE;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"DebugZones", 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return TRUE;
  }
  DWORD mask = 0;
  DWORD type = REG_NONE;
  DWORD size = sizeof(mask);
  if (RegQueryValueExW(key, param->lpszName, nullptr, &type, reinterpret_cast<BYTE*>(&mask),
                       &size) == ERROR_SUCCESS &&
      type == REG_DWORD) {
    param->ulZoneMask = mask;
  }
  RegCloseKey(key);
  return TRUE;
}
