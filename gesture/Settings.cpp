// The engine settings: read from the registry into the process's current engine, and read again
// whenever one of the watched values changes.
#include <regext.h>

#include "gesture/Gestures.h"
#include "gesture/Word.h"

static const WCHAR kSettingsKey[] = TEXT("Software\\Quob\\Gesture");

struct SettingValue {
  const WCHAR* name;
  int Gestures::*member;
  bool onOff;  // stored as 1 for any non-zero value, else 0
};

// Read order.
static const SettingValue kSettings[] = {
    {TEXT("GRIDSIZE"), &Gestures::GRIDSIZE, false},
    {TEXT("PGRIDSIZE"), &Gestures::PGRIDSIZE, false},
    {TEXT("NOISESIZE"), &Gestures::NOISESIZE, false},
    {TEXT("Sound"), &Gestures::Sound, true},
    {TEXT("Bound1"), &Gestures::Bound1, false},
    {TEXT("Bound2"), &Gestures::Bound2, false},
    {TEXT("FilterValue"), &Gestures::FilterValue, false},
    {TEXT("FilterDistance"), &Gestures::FilterDistance, false},
    {TEXT("Amp"), &Gestures::Amp, false},
    {TEXT("PanTime"), &Gestures::PanTime, false},
    {TEXT("LenThres"), &Gestures::LenThres, false},
    {TEXT("IgnoreCount"), &Gestures::IgnoreCount, false},
    {TEXT("LastUpCount"), &Gestures::LastUpCount, false},
    {TEXT("Rotation"), &Gestures::Rotation, true},
    {TEXT("ScrollLimit"), &Gestures::ScrollLimit, false},
};

// Registration order.
static const WCHAR* const kWatched[] = {
    TEXT("Sound"),       TEXT("GRIDSIZE"), TEXT("PGRIDSIZE"),   TEXT("NOISESIZE"),
    TEXT("Bound1"),      TEXT("Bound2"),   TEXT("FilterValue"), TEXT("FilterDistance"),
    TEXT("Amp"),         TEXT("PanTime"),  TEXT("LenThres"),    TEXT("IgnoreCount"),
    TEXT("LastUpCount"), TEXT("Rotation"), TEXT("ScrollLimit"),
};

const int kWatchedCount = sizeof(kWatched) / sizeof(kWatched[0]);

// The tangents of 67.5 and 22.5 degrees in thousandths: eight sectors of 45 degrees each.
const int kSteepBound = 2414;
const int kFlatBound = 414;

static HREGNOTIFY SettingsNotify[kWatchedCount];

bool LoadSettings() {
  Gestures* engine = LoadWord(CurrentGestures);
  if (engine == nullptr) return true;

  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, 0, &key) == ERROR_SUCCESS) {
    for (const SettingValue& setting : kSettings) {
      DWORD value = 0;
      if (SUCCEEDED(RegistryGetDWORD(key, nullptr, setting.name, &value))) {
        int stored = setting.onOff ? (value != 0 ? 1 : 0) : static_cast<int>(value);
        StoreWord(engine->*setting.member, stored);
      }
    }
    RegCloseKey(key);
  }

  if (LoadWord(engine->Bound1) == 0) StoreWord(engine->Bound1, kSteepBound);
  if (LoadWord(engine->Bound2) == 0) StoreWord(engine->Bound2, kFlatBound);
  return true;
}

void OnSettingsChanged(HREGNOTIFY, DWORD, const PBYTE, const UINT) {
  LoadSettings();
}

bool WatchSettings() {
  for (int i = 0; i < kWatchedCount; ++i) {
    HRESULT hr = RegistryNotifyCallback(HKEY_LOCAL_MACHINE, kSettingsKey, kWatched[i],
                                        OnSettingsChanged, 0, nullptr, &SettingsNotify[i]);
    if (FAILED(hr)) {
      SettingsNotify[i] = nullptr;
      return false;
    }
  }
  return true;
}

void CloseSettingsWatch() {
  for (HREGNOTIFY& notify : SettingsNotify) {
    if (notify != nullptr) RegistryCloseNotification(notify);
    notify = nullptr;
  }
}
