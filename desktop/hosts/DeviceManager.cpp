#include "DeviceManager.h"

#include "DebugZones.h"

#include <windows.h>

#include <stdio.h>

#include <string>

typedef DWORD (*InitEntry)(LPCWSTR, LPCVOID);

namespace {

std::wstring ReadString(HKEY key, LPCWSTR name) {
  WCHAR text[MAX_PATH] = {0};
  DWORD size = sizeof(text) - sizeof(WCHAR);
  DWORD type = REG_NONE;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::wstring();
  }
  return text;
}

}  // namespace

int StartBuiltInDrivers() {
  const WCHAR kBuiltIn[] = L"Drivers\\BuiltIn";
  HKEY builtIn = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBuiltIn, 0, KEY_READ, &builtIn) != ERROR_SUCCESS) return 0;
  int started = 0;
  WCHAR name[MAX_PATH];
  for (DWORD i = 0;; ++i) {
    DWORD chars = MAX_PATH;
    if (RegEnumKeyExW(builtIn, i, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    HKEY driver = nullptr;
    if (RegOpenKeyExW(builtIn, name, 0, KEY_READ, &driver) != ERROR_SUCCESS) continue;
    std::wstring dll = ReadString(driver, L"Dll");
    std::wstring prefix = ReadString(driver, L"Prefix");
    RegCloseKey(driver);
    if (dll.empty() || prefix.empty()) continue;
    HMODULE module = LoadLibraryW(dll.c_str());
    if (module != nullptr) ApplyDebugZones(module);
    std::string entry(prefix.begin(), prefix.end());
    entry += "_Init";
    InitEntry init = module != nullptr ? reinterpret_cast<InitEntry>(reinterpret_cast<void (*)()>(
                                             GetProcAddress(module, entry.c_str())))
                                       : nullptr;
    std::wstring active = std::wstring(kBuiltIn) + L"\\" + name;
    DWORD context = init != nullptr ? init(active.c_str(), nullptr) : 0;
    printf("device manager: %ls %s, %s -> %lu\n", dll.c_str(),
           module != nullptr ? "loaded" : "not loaded", entry.c_str(),
           static_cast<unsigned long>(context));
    fflush(stdout);
    if (context != 0) ++started;
  }
  RegCloseKey(builtIn);
  return started;
}
