// The two switches under HKEY_LOCAL_MACHINE "Software\Quob\Gesture": read when the dialog
// opens, creating what is missing, and written back when the user confirms.
#include "settings/Corvane.h"

#include <regext.h>

#include "settings/Resources.h"

namespace {

const WCHAR kSwitchesKey[] = TEXT("Software\\Quob\\Gesture");
const DWORD kActivateUnreadable = 0xFFFFFFFF;

LONG OpenSwitchesKey(HKEY* key) {
  WCHAR no_class[] = TEXT("");
  DWORD disposition = 0;
  return RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSwitchesKey, 0, no_class, 0, 0, NULL, key,
                         &disposition);
}

// A value that does not exist yet is created with its default (0, or the empty string for a
// string read into at most 260 bytes), so that what the dialog shows is also what the proxy and
// the engines read from now on. A value of another type or size is read as it is stored; one too
// large for the buffer counts as read, as no value of this type: what the buffer then holds is
// undefined.
bool ReadOrCreateValue(HKEY key, LPCWSTR name, DWORD type, BYTE* data, DWORD size,
                       DWORD* stored_type) {
  DWORD got = size;
  LONG result = RegQueryValueExW(key, name, NULL, stored_type, data, &got);
  if (result == ERROR_MORE_DATA) {
    *stored_type = REG_NONE;
    return true;
  }
  if (result == ERROR_SUCCESS) {
    if (got != size) *stored_type = REG_NONE;  // not whole: not a value of this size
    return true;
  }
  if (result != ERROR_FILE_NOT_FOUND) return false;
  if (type == REG_DWORD) {
    RegistrySetDWORD(key, NULL, name, 0);
  } else {
    RegistrySetString(key, NULL, name, TEXT(""));
  }
  got = size;
  RegQueryValueExW(key, name, NULL, stored_type, data, &got);
  return true;
}

// A switch shows as on only where the system reads it as on: a DWORD other than 0, and for
// "Activate" other than 0xFFFFFFFF, which the proxy takes for a value it could not read. Anything
// else shows as off, and Done replaces it with a proper DWORD.
void LoadSwitch(HWND dialog, HKEY key, LPCWSTR name, int control) {
  DWORD value = 0;
  DWORD type = REG_NONE;
  if (!ReadOrCreateValue(key, name, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof(value),
                         &type)) {
    MessageBoxW(NULL, TEXT("cannot open reg value"), TEXT("error"), MB_OK);
    return;
  }
  bool on = type == REG_DWORD && value != 0 &&
            !(control == IDC_GESTURE_SWITCH && value == kActivateUnreadable);
  SendMessageW(GetDlgItem(dialog, control), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

DWORD SwitchValue(HWND dialog, int control) {
  return SendMessageW(GetDlgItem(dialog, control), BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

}  // namespace

void LoadSwitches(HWND dialog) {
  HKEY key = NULL;
  if (OpenSwitchesKey(&key) != ERROR_SUCCESS) {
    MessageBoxW(NULL, TEXT("cannot open reg key"), TEXT("error"), MB_OK);
    return;
  }
  LoadSwitch(dialog, key, TEXT("Activate"), IDC_GESTURE_SWITCH);
  LoadSwitch(dialog, key, TEXT("Sound"), IDC_SOUND_SWITCH);
  RegCloseKey(key);
}

void SaveSwitches(HWND dialog) {
  HKEY key = NULL;
  if (OpenSwitchesKey(&key) != ERROR_SUCCESS) {
    MessageBoxW(Corvane.SettingsDialog, TEXT("cannot open reg key"), TEXT("error"), MB_OK);
    return;
  }
  // "Default" follows "Activate"; each write only after the one before it went through.
  DWORD activate = SwitchValue(dialog, IDC_GESTURE_SWITCH);
  if (SUCCEEDED(RegistrySetDWORD(key, NULL, TEXT("Activate"), activate)) &&
      SUCCEEDED(RegistrySetDWORD(key, NULL, TEXT("Default"), activate))) {
    RegistrySetDWORD(key, NULL, TEXT("Sound"), SwitchValue(dialog, IDC_SOUND_SWITCH));
  }
  RegFlushKey(key);
  RegCloseKey(key);
}
