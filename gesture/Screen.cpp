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
  // Written first, and kept even if the display does not turn.
  SetRegistryValue(kRotationKey, kAngleValue, rotation->angleWritten);
  return ChangeDisplaySettingsEx(nullptr, &mode, nullptr, CDS_RESET, nullptr) ==
         DISP_CHANGE_SUCCESSFUL;
}

int Gestures::IsLandscape() {
  return GetSystemMetrics(SM_CXSCREEN) >= GetSystemMetrics(SM_CYSCREEN) ? 1 : 0;
}

bool Gestures::CloseWnd() {
  HWND front = GetForegroundWindow();
  if (front == nullptr) return false;
  // Waits while the window answers, for instance while it asks the user to save.
  SendMessageW(front, WM_CLOSE, 0, 0);
  // A window that closed itself is done with; its handle may already name another window.
  if (!IsWindow(front)) return true;
  return DestroyWindow(front) != FALSE;
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
