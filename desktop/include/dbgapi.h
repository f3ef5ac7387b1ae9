// Kernel debug print and debug zones, which desktop Win32 does not have.
#ifndef VEXORI_DESKTOP_DBGAPI_H
#define VEXORI_DESKTOP_DBGAPI_H

#include <windows.h>

typedef struct _DBGPARAM {
  WCHAR lpszName[32];
  WCHAR rglpszZones[16][32];
  ULONG ulZoneMask;
} DBGPARAM, *LPDBGPARAM;

// Each module defines its own table.
extern DBGPARAM dpCurSettings;

#define DEBUGZONE(n) (dpCurSettings.ulZoneMask & (0x00000001u << (n)))

#ifdef __cplusplus
extern "C" {
#endif
void NKDbgPrintfW(LPCWSTR lpszFmt, ...);
BOOL RegisterDbgZones(HMODULE hMod, LPDBGPARAM lpdbgparam);
#ifdef __cplusplus
}
#endif

#define RETAILMSG(cond, printf_exp) ((cond) ? (NKDbgPrintfW printf_exp), 1 : 0)
#define DEBUGMSG(cond, printf_exp) ((void)((cond) ? (NKDbgPrintfW printf_exp), 1 : 0))
#define DEBUGREGISTER(hMod) RegisterDbgZones(hMod, &dpCurSettings)

#endif  // VEXORI_DESKTOP_DBGAPI_H
