// Behaviours that act on the device rather than on content: turning the screen between portrait
// and landscape, closing the window in front, and the registry write behind the rotation.
#include <string.h>

#include "gesture/Gestures.h"

static const WCHAR kRotationKey[] = TEXT("System\\GDI\\ROTATION");
static const WCHAR kAngleValue[] = TEXT("Angle");

struct RotationRow {
  int argument;
  DWORD orientation;
  DWORD angleWritten;  // the orientation asked for, in degrees, as the touch proxy reads it
};

static const RotationRow kRotations[] = {
    {0, DMDO_0, 0},
    {90, DMDO_270, 270},
    {270, DMDO_90, 90},
};

// Where no angle was stored before a turn that failed, none is stored after it.
static void RemoveAngle() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRotationKey, 0, 0, &key) != ERROR_SUCCESS) return;
  RegDeleteValueW(key, kAngleValue);
  RegFlushKey(HKEY_LOCAL_MACHINE);
  RegCloseKey(key);
}

bool Gestures::RotateScreen(int angle) {
  int width = GetSystemMetrics(SM_CXSCREEN);
  int height = GetSystemMetrics(SM_CYSCREEN);
  if (width == height) return false;

  // Any other angle is refused whole: turning upright instead would report success for an angle
  // not asked for, and leave "Angle" telling the touch proxy the screen is still turned.
  const RotationRow* rotation = nullptr;
  for (const RotationRow& r : kRotations) {
    if (r.argument == angle) rotation = &r;
  }
  if (rotation == nullptr) return false;

  DEVMODEW mode;
  memset(&mode, 0, sizeof(mode));
  mode.dmSize = sizeof(DEVMODEW);
  mode.dmFields = DM_DISPLAYORIENTATION;
  mode.dmDisplayOrientation = rotation->orientation;
  // Written first, as the display's own turn reads it; a display that refuses to turn gets the
  // angle back, or the touch proxy would map every stroke for a screen that is not there.
  DWORD before = 0;
  bool known = SUCCEEDED(RegistryGetDWORD(HKEY_LOCAL_MACHINE, kRotationKey, kAngleValue, &before));
  SetRegistryValue(kRotationKey, kAngleValue, rotation->angleWritten);
  if (ChangeDisplaySettingsEx(nullptr, &mode, nullptr, CDS_RESET, nullptr) ==
      DISP_CHANGE_SUCCESSFUL) {
    return true;
  }
  if (known) {
    SetRegistryValue(kRotationKey, kAngleValue, before);
  } else {
    RemoveAngle();
  }
  return false;
}

int Gestures::IsLandscape() {
  return GetSystemMetrics(SM_CXSCREEN) >= GetSystemMetrics(SM_CYSCREEN) ? 1 : 0;
}

bool Gestures::CloseWnd() {
  HWND front = GetForegroundWindow();
  if (front == nullptr) return false;
  // Waits while the window answers, for instance while it asks the user to save. A window that
  // is still there declined to close (its user answered Cancel) and is left alone with its data;
  // one that closed itself is done with, and its handle may already name another window.
  SendMessageW(front, WM_CLOSE, 0, 0);
  return !IsWindow(front);
}

bool Gestures::Quit(HWND window) {
  KillTimer(window, kGestureTimer);
  return true;
}

bool Gestures::Quit() {
  return true;
}

DWORD Gestures::SetRegistryValue(const WCHAR* subkey, const WCHAR* valueName, DWORD value) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, 0, 0, nullptr, &key, &disposition) !=
      ERROR_SUCCESS) {
    return 0;
  }
  if (RegSetValueExW(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof(value)) == ERROR_SUCCESS) {
    RegFlushKey(HKEY_LOCAL_MACHINE);
  }
  RegCloseKey(key);
  return 0;
}
