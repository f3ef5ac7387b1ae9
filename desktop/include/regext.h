// The shell's registry helpers and registry change notifications.
#ifndef VEXORI_DESKTOP_REGEXT_H
#define VEXORI_DESKTOP_REGEXT_H

#include <windows.h>

DECLARE_HANDLE(HREGNOTIFY);

typedef void (*REGISTRYNOTIFYCALLBACK)(HREGNOTIFY hNotify, DWORD dwUserData, const PBYTE pData,
                                       const UINT cbData);

typedef enum tagREG_COMPARISONTYPE {
  REG_CT_ANYCHANGE,
  REG_CT_EQUAL,
  REG_CT_NOT_EQUAL,
  REG_CT_GREATER,
  REG_CT_GREATER_OR_EQUAL,
  REG_CT_LESS,
  REG_CT_LESS_OR_EQUAL,
  REG_CT_CONTAINS,
  REG_CT_STARTS_WITH,
  REG_CT_ENDS_WITH
} REG_COMPARISONTYPE;

typedef struct tagNOTIFICATIONCONDITION {
  REG_COMPARISONTYPE ctComparisonType;
  DWORD dwMask;
  union {
    LPCTSTR psz;
    DWORD dw;
  } TargetValue;
} NOTIFICATIONCONDITION;

#ifdef __cplusplus
extern "C" {
#endif
HRESULT WINAPI RegistryGetDWORD(HKEY hKey, LPCTSTR pszSubKey, LPCTSTR pszValueName, DWORD* pdwData);
HRESULT WINAPI RegistryGetString(HKEY hKey, LPCTSTR pszSubKey, LPCTSTR pszValueName, LPTSTR pszData,
                                 UINT cchData);
HRESULT WINAPI RegistrySetDWORD(HKEY hKey, LPCTSTR pszSubKey, LPCTSTR pszValueName, DWORD dwData);
HRESULT WINAPI RegistrySetString(HKEY hKey, LPCTSTR pszSubKey, LPCTSTR pszValueName,
                                 LPCTSTR pszData);
HRESULT WINAPI RegistryNotifyCallback(HKEY hKey, LPCTSTR pszSubKey, LPCTSTR pszValueName,
                                      REGISTRYNOTIFYCALLBACK pfnRegistryNotifyCallback,
                                      DWORD dwUserData, NOTIFICATIONCONDITION* pCondition,
                                      HREGNOTIFY* phNotify);
HRESULT WINAPI RegistryCloseNotification(HREGNOTIFY hNotify);
#ifdef __cplusplus
}
#endif

#endif  // VEXORI_DESKTOP_REGEXT_H
