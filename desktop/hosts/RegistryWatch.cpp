// The registry writes the comparison looks for, seen as they happen: a thread watches the keys
// the system and the applications write while they run (the gesture settings, the screen's
// angle, the browser's zoom) and prints each value that changed, appeared or went away.
#include "RegistryWatch.h"

#include <windows.h>

#include <stdio.h>

#include <map>
#include <string>

namespace {

struct Watched {
  HKEY root;
  const WCHAR* path;
  const char* shown;
  HKEY key;
  HANDLE changed;
  std::map<std::wstring, DWORD> values;
};

Watched Keys[] = {
    {HKEY_LOCAL_MACHINE,
     L"Software\\Quob\\Gesture",
     "HKLM\\Software\\Quob\\Gesture",
     nullptr,
     nullptr,
     {}},
    {HKEY_LOCAL_MACHINE,
     L"System\\GDI\\Rotation",
     "HKLM\\System\\GDI\\Rotation",
     nullptr,
     nullptr,
     {}},
    {HKEY_CURRENT_USER,
     L"Software\\Microsoft\\Internet Explorer\\Main",
     "HKCU\\Software\\Microsoft\\Internet Explorer\\Main",
     nullptr,
     nullptr,
     {}},
};
const int kKeys = sizeof(Keys) / sizeof(Keys[0]);
HANDLE Stop = nullptr;
HANDLE Thread = nullptr;

std::map<std::wstring, DWORD> Values(HKEY key) {
  std::map<std::wstring, DWORD> values;
  for (DWORD i = 0;; ++i) {
    WCHAR name[128];
    DWORD chars = 128, type = 0, data = 0, size = sizeof(data);
    LONG read =
        RegEnumValueW(key, i, name, &chars, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (read == ERROR_NO_MORE_ITEMS) break;
    if (read == ERROR_SUCCESS && type == REG_DWORD) values[name] = data;
  }
  return values;
}

void Arm(Watched& w) {
  RegNotifyChangeKeyValue(w.key, FALSE, REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME,
                          w.changed, TRUE);
}

void Compare(Watched& w) {
  std::map<std::wstring, DWORD> now = Values(w.key);
  for (const auto& [name, data] : now) {
    auto was = w.values.find(name);
    if (was == w.values.end() || was->second != data)
      printf("reg: %s %ls %lu\n", w.shown, name.c_str(), static_cast<unsigned long>(data));
  }
  for (const auto& [name, data] : w.values)
    if (!now.count(name)) printf("reg: %s %ls deleted\n", w.shown, name.c_str());
  fflush(stdout);
  w.values = now;
}

DWORD WINAPI Watch(LPVOID) {
  HANDLE events[kKeys + 1];
  for (int i = 0; i < kKeys; ++i) events[i] = Keys[i].changed;
  events[kKeys] = Stop;
  for (;;) {
    DWORD woke = WaitForMultipleObjects(kKeys + 1, events, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0 + kKeys || woke >= WAIT_OBJECT_0 + kKeys + 1) break;
    Watched& w = Keys[woke - WAIT_OBJECT_0];
    Arm(w);
    Compare(w);
  }
  return 0;
}

}  // namespace

void StartRegistryWatch() {
  Stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  for (Watched& w : Keys) {
    RegCreateKeyExW(w.root, w.path, 0, nullptr, 0, KEY_READ | KEY_NOTIFY, nullptr, &w.key, nullptr);
    w.changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    w.values = Values(w.key);
    Arm(w);
  }
  Thread = CreateThread(nullptr, 0, Watch, nullptr, 0, nullptr);
}

void EndRegistryWatch() {
  if (Thread == nullptr) return;
  SetEvent(Stop);
  WaitForSingleObject(Thread, 5000);
  // What changed last is still said.
  for (Watched& w : Keys) Compare(w);
}
