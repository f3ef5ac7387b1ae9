// Proxy settings load and change registration.
#include "proxy/ProxySettings.h"

#include "gesture/Word.h"

ProxySettings Settings = {250, 250, 20, 20, false, 360, 0, 0, false};

static const WCHAR kRotationKey[] = TEXT("System\\GDI\\Rotation\\");
static const WCHAR kGestureKey[] = TEXT("Software\\Quob\\Gesture\\");
static const WCHAR kAngleValue[] = TEXT("Angle");
static const DWORD kActivateUnread = 0xFFFFFFFF;

static const WCHAR* const kWatchedRotationValues[] = {kAngleValue};
static const WCHAR* const kWatchedGestureValues[] = {
    TEXT("LongPressTime"),   TEXT("LongTappingMax"), TEXT("ShortPressTime"),
    TEXT("ShortTappingMax"), TEXT("Activate"),
};

// One handle per registration, so that an early unload can close them all.
static HREGNOTIFY SettingsNotify[6];

static void ReadInt(HKEY root, const WCHAR* key, const WCHAR* value, int& setting) {
  DWORD data = 0;
  if (SUCCEEDED(RegistryGetDWORD(root, key, value, &data)))
    StoreWord(setting, static_cast<int>(data));
}

// Width and height as the current orientation has them: portrait for 0, landscape for 90, 270.
static void FitScreenToAngle() {
  int width = LoadWord(Settings.ScreenWidth);
  int height = LoadWord(Settings.ScreenHeight);
  int angle = LoadWord(Settings.Angle);
  bool swap = false;
  if (angle == 0) swap = width > height;
  if (angle == 90 || angle == 270) swap = width < height;
  if (swap) {
    StoreWord(Settings.ScreenWidth, height);
    StoreWord(Settings.ScreenHeight, width);
  }
}

static void Register(const WCHAR* keyPath, const WCHAR* const* values, int count, int& next) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, 0, &key) != ERROR_SUCCESS) return;
  for (int i = 0; i < count; ++i) {
    RegistryNotifyCallback(key, nullptr, values[i], LoadProxySettings, 0, nullptr,
                           &SettingsNotify[next++]);
  }
  RegCloseKey(key);
}

void LoadProxySettings(HREGNOTIFY, DWORD userData, const PBYTE, const UINT) {
  StoreWord(Settings.LayoutDirty, true);
  ReadInt(HKEY_LOCAL_MACHINE, kRotationKey, kAngleValue, Settings.Angle);

  if (LoadWord(Settings.ScreenWidth) != 0 && LoadWord(Settings.ScreenHeight) != 0) {
    FitScreenToAngle();
  } else {
    StoreWord(Settings.ScreenWidth, GetSystemMetrics(SM_CXSCREEN));
    StoreWord(Settings.ScreenHeight, GetSystemMetrics(SM_CYSCREEN));
  }
  // Again, now that the size agrees with the angle: bands recomputed in between from the old size
  // are recomputed once more.
  StoreWord(Settings.LayoutDirty, true);

  ReadInt(HKEY_LOCAL_MACHINE, kGestureKey, TEXT("LongPressTime"), Settings.LongPressTime);
  ReadInt(HKEY_LOCAL_MACHINE, kGestureKey, TEXT("LongTappingMax"), Settings.LongTappingMax);
  ReadInt(HKEY_LOCAL_MACHINE, kGestureKey, TEXT("ShortPressTime"), Settings.ShortPressTime);
  ReadInt(HKEY_LOCAL_MACHINE, kGestureKey, TEXT("ShortTappingMax"), Settings.ShortTappingMax);

  DWORD activate = kActivateUnread;
  RegistryGetDWORD(HKEY_LOCAL_MACHINE, kGestureKey, TEXT("Activate"), &activate);
  if (activate != kActivateUnread) StoreWord(Settings.Activate, activate != 0);

  if (userData == kInitialSettingsLoad) {
    int next = 0;
    Register(kRotationKey, kWatchedRotationValues, 1, next);
    Register(kGestureKey, kWatchedGestureValues, 5, next);
  }
}

void CloseProxySettingsWatch() {
  for (HREGNOTIFY& notify : SettingsNotify) {
    if (notify != nullptr) RegistryCloseNotification(notify);
    notify = nullptr;
  }
}
