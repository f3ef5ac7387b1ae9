// The phone's rules where desktop Win32's differ, which the desktop layer keeps for the code built
// against it: registry opens get the access desktop checks (RegistryAccess.cpp), windows their
// names and dialogs their frames through the default procedures (WindowRules.cpp). Included after
// the Win32 declarations: by the layer's windows.h, and by desktop/device/windows.h, which builds
// the same adaptations into the simulated device's libraries for its desktop rules.
#ifndef VEXORI_DESKTOP_PHONE_RULES_H
#define VEXORI_DESKTOP_PHONE_RULES_H

#ifdef __cplusplus
extern "C" {
#endif

LONG WINAPI DesktopRegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                 PHKEY phkResult);
LONG WINAPI DesktopRegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                                   DWORD dwOptions, REGSAM samDesired,
                                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                   LPDWORD lpdwDisposition);
ATOM WINAPI DesktopRegisterClassW(const WNDCLASSW* lpWndClass);
INT_PTR WINAPI DesktopDialogBoxIndirectParamW(HINSTANCE hInstance, LPCDLGTEMPLATEW hDialogTemplate,
                                              HWND hWndParent, DLGPROC lpDialogFunc,
                                              LPARAM dwInitParam);

#ifdef __cplusplus
}
#endif

#ifndef VEXORI_DESKTOP_LAYER
#undef RegOpenKeyEx
#undef RegCreateKeyEx
#undef RegisterClass
#undef DialogBoxIndirectParam
#define RegOpenKeyExW DesktopRegOpenKeyExW
#define RegCreateKeyExW DesktopRegCreateKeyExW
#define RegisterClassW DesktopRegisterClassW
#define DialogBoxIndirectParamW DesktopDialogBoxIndirectParamW
#define RegOpenKeyEx DesktopRegOpenKeyExW
#define RegCreateKeyEx DesktopRegCreateKeyExW
#define RegisterClass DesktopRegisterClassW
#define DialogBoxIndirectParam DesktopDialogBoxIndirectParamW
#endif

#endif  // VEXORI_DESKTOP_PHONE_RULES_H
