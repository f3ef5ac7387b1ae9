// The proxy settings: tap and press thresholds, the gesture switch, the screen orientation and
// size. Read at load and again whenever one of them changes in the registry.
#pragma once

#include <windows.h>
#include <regext.h>

struct ProxySettings {
  int LongPressTime;    // ms
  int ShortPressTime;   // ms
  int ShortTappingMax;  // pixels of travel
  int LongTappingMax;   // pixels of travel
  bool Activate;
  int Angle;  // degrees; 360 until first read
  int ScreenWidth;
  int ScreenHeight;
  bool LayoutDirty;
};

extern ProxySettings Settings;

// User data of the one load made at process attach, which also registers for changes.
const DWORD kInitialSettingsLoad = 18;

// Has the shape of a registry change callback; only the user data is looked at.
void LoadProxySettings(HREGNOTIFY notify, DWORD userData, const PBYTE data, const UINT size);
// Closes the change registrations (used only when the module is unloaded early).
void CloseProxySettingsWatch();
