// reginstall.exe: writes a REGEDIT4 file into the registry, as the phone's image builder would.
// Keys under HKEY_LOCAL_MACHINE\HARDWARE are created volatile: desktop keeps that branch for the
// running system only and refuses a lasting key under it (the phone does not), so Wine's own
// "reg import" cannot write the touch driver's key. Values: "name"="text", "name"=dword:hex, and
// "name"=- to delete one.
//   reginstall.exe FILE...
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <string>

namespace {

std::wstring Wide(const std::string& s) {
  std::wstring w(s.size(), L'\0');
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0],
                              static_cast<int>(w.size()));
  w.resize(n > 0 ? n : 0);
  return w;
}

HKEY Open(const std::string& path, bool* ok) {
  size_t slash = path.find('\\');
  std::string root = path.substr(0, slash);
  std::string rest = slash == std::string::npos ? "" : path.substr(slash + 1);
  HKEY base = root == "HKEY_CURRENT_USER" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  bool hardware = base == HKEY_LOCAL_MACHINE && _strnicmp(rest.c_str(), "HARDWARE\\", 9) == 0;
  HKEY key = nullptr;
  *ok = RegCreateKeyExW(base, Wide(rest).c_str(), 0, nullptr,
                        hardware ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) == ERROR_SUCCESS;
  return key;
}

bool Install(const char* path) {
  std::ifstream file(path);
  if (!file) return false;
  std::string line;
  HKEY key = nullptr;
  bool ok = true;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      if (key != nullptr) RegCloseKey(key);
      bool opened = false;
      key = Open(line.substr(1, line.find(']') - 1), &opened);
      if (!opened) {
        fprintf(stderr, "reginstall: %s: cannot create %s\n", path, line.c_str());
        ok = false;
        key = nullptr;
      }
      continue;
    }
    size_t eq = line.find("\"=");
    if (line[0] != '"' || eq == std::string::npos || key == nullptr) continue;
    std::wstring name = Wide(line.substr(1, eq - 1));
    std::string data = line.substr(eq + 2);
    LONG written = ERROR_SUCCESS;
    if (data == "-") {
      RegDeleteValueW(key, name.c_str());
    } else if (data.rfind("dword:", 0) == 0) {
      DWORD value = strtoul(data.c_str() + 6, nullptr, 16);
      written = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&value),
                               sizeof(value));
    } else if (data.size() >= 2 && data[0] == '"') {
      std::wstring text = Wide(data.substr(1, data.rfind('"') - 1));
      written =
          RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
    }
    if (written != ERROR_SUCCESS) ok = false;
  }
  if (key != nullptr) RegCloseKey(key);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  bool ok = argc > 1;
  for (int i = 1; i < argc; ++i) ok = Install(argv[i]) && ok;
  return ok ? 0 : 1;
}
