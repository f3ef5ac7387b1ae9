// The scene player of wsys.exe: the commands of the simulator's plan other than samples and
// registry writes, which the stock driver stand-in hands it one by one at their times
// (VexoriSceneLine, exported by the program): window commands go to the applications' thread,
// messages are posted or sent, programs of C:\windows are started, and what a user does to the
// dialog in front is done as the simulated device's user does it (a click posted to a check box,
// IDOK for Done, a menu item's command for a soft key, WM_CLOSE, WM_HELP). Each returns once the
// program it acted on is idle again, or after a few seconds; under Wine time is real, and the
// player moves the rest of the plan on by what a command took. Programs still running at the end
// are ended, each with a line.
#include "ScenePlayer.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "Apps.h"

namespace {

std::vector<PROCESS_INFORMATION> Started;

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i >= line.size() || line[i] == '#') break;
    std::string w;
    if (line[i] == '"') {
      for (++i; i < line.size() && line[i] != '"'; ++i) w += line[i];
      ++i;
    } else {
      while (i < line.size() && line[i] != ' ') w += line[i++];
    }
    words.push_back(w);
  }
  return words;
}

std::wstring Wide(const std::string& text) {
  WCHAR buffer[600];
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, buffer, 600);
  return buffer;
}

void Say(const char* format, const std::string& a, const std::string& b = "") {
  printf(format, a.c_str(), b.c_str());
  fflush(stdout);
}

BOOL CALLBACK FirstDialog(HWND window, LPARAM data) {
  WCHAR cls[16] = {0};
  GetClassNameW(window, cls, 16);
  if (IsWindowVisible(window) && lstrcmpW(cls, L"#32770") == 0) {
    *reinterpret_cast<HWND*>(data) = window;
    return FALSE;
  }
  return TRUE;
}

// The front-most visible dialog or message box, waited for up to 5 s.
HWND DialogInFront() {
  for (int i = 0; i < 500; ++i) {
    HWND found = nullptr;
    EnumWindows(FirstDialog, reinterpret_cast<LPARAM>(&found));
    if (found != nullptr) return found;
    Sleep(10);
  }
  return nullptr;
}

bool IsMessageBox(HWND dialog) {
  // A message box has its text in a static control 0xFFFF and no check boxes of its own.
  return GetDlgItem(dialog, 0xFFFF) != nullptr;
}

// Until the dialog's thread has taken what was posted and the front dialog stays as it is.
void Settle(HWND window) {
  DWORD pid = 0;
  if (window != nullptr) GetWindowThreadProcessId(window, &pid);
  HANDLE process =
      pid != 0 ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid) : nullptr;
  HWND before = reinterpret_cast<HWND>(-1);
  for (int i = 0; i < 40; ++i) {
    if (process != nullptr) WaitForInputIdle(process, 1000);
    DWORD_PTR ignored = 0;
    if (window != nullptr && IsWindow(window))
      SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored);
    Sleep(50);
    HWND now = nullptr;
    EnumWindows(FirstDialog, reinterpret_cast<LPARAM>(&now));
    if (now == before) break;
    before = now;
  }
  if (process != nullptr) CloseHandle(process);
}

struct ChildSearch {
  std::wstring text;
  HWND found;
};

BOOL CALLBACK ChildByText(HWND window, LPARAM data) {
  ChildSearch* search = reinterpret_cast<ChildSearch*>(data);
  WCHAR text[256] = {0};
  GetWindowTextW(window, text, 256);
  if (search->text == text && IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND Control(HWND dialog, const std::string& name) {
  char* end = nullptr;
  long id = strtol(name.c_str(), &end, 0);
  if (!name.empty() && *end == 0) return GetDlgItem(dialog, static_cast<int>(id));
  ChildSearch search = {Wide(name), nullptr};
  EnumChildWindows(dialog, ChildByText, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The command of the menu item named `key`, in the dialog's menu or its submenus; 0 for none.
UINT MenuCommand(HMENU menu, const std::wstring& key) {
  if (menu == nullptr) return 0;
  for (int i = 0, n = GetMenuItemCount(menu); i < n; ++i) {
    WCHAR text[128] = {0};
    GetMenuStringW(menu, i, text, 128, MF_BYPOSITION);
    std::wstring shown;
    for (WCHAR* c = text; *c != 0; ++c)
      if (*c != L'&') shown += *c;
    HMENU sub = GetSubMenu(menu, i);
    if (sub != nullptr) {
      UINT found = MenuCommand(sub, key);
      if (found != 0) return found;
    } else if (shown == key) {
      return GetMenuItemID(menu, i);
    }
  }
  return 0;
}

struct MenuSearch {
  std::wstring key;
  UINT found;
};

BOOL CALLBACK SearchMenu(HMODULE module, LPCWSTR, LPWSTR name, LONG_PTR data) {
  MenuSearch* search = reinterpret_cast<MenuSearch*>(data);
  HMENU menu = LoadMenuW(module, name);
  if (menu == nullptr) return TRUE;
  search->found = MenuCommand(menu, search->key);
  DestroyMenu(menu);
  return search->found == 0;
}

// A soft key's command: from the dialog's menu where this process can read it, else from the
// menus of the dialog's program file (Wine keeps a menu to the process that made it).
UINT SoftKey(HWND dialog, const std::wstring& key) {
  UINT command = MenuCommand(GetMenu(dialog), key);
  if (command != 0) return command;
  DWORD pid = 0;
  GetWindowThreadProcessId(dialog, &pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return 0;
  WCHAR path[MAX_PATH] = {0};
  DWORD size = MAX_PATH;
  BOOL named = QueryFullProcessImageNameW(process, 0, path, &size);
  CloseHandle(process);
  if (!named) return 0;
  HMODULE file = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (file == nullptr) return 0;
  MenuSearch search = {key, 0};
  EnumResourceNamesW(file, reinterpret_cast<LPCWSTR>(RT_MENU), SearchMenu,
                     reinterpret_cast<LONG_PTR>(&search));
  FreeLibrary(file);
  return search.found;
}

HWND Target(const std::string& name) {
  if (name.rfind("class:", 0) == 0) {
    std::string cls = name.substr(6);
    if (cls == "Dialog") return DialogInFront();
    return FindWindowW(Wide(cls).c_str(), nullptr);
  }
  return AppsWindow(name.c_str());
}

bool Start(const std::vector<std::string>& w) {
  std::wstring program = L"C:\\windows\\" + Wide(w[1]);
  std::wstring line = L"\"" + program + L"\"";
  if (w.size() > 2) line += L" " + Wide(w[2]);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION started = {};
  if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &started)) {
    Say("scene: start %s: no such program\n", w[1]);
    return true;
  }
  Started.push_back(started);
  WaitForInputIdle(started.hProcess, 5000);
  DWORD code = STILL_ACTIVE;
  for (int i = 0; i < 20 && GetExitCodeProcess(started.hProcess, &code) && code == STILL_ACTIVE;
       ++i) {
    HWND front = nullptr;
    EnumWindows(FirstDialog, reinterpret_cast<LPARAM>(&front));
    DWORD pid = 0;
    if (front != nullptr) GetWindowThreadProcessId(front, &pid);
    if (pid == started.dwProcessId) break;
    Sleep(50);
  }
  Settle(DialogInFront());
  GetExitCodeProcess(started.hProcess, &code);
  if (code == STILL_ACTIVE)
    Say("scene: started %s%s\n", w[1]);
  else
    printf("scene: started %s, ended with %lu\n", w[1].c_str(), static_cast<unsigned long>(code));
  fflush(stdout);
  return true;
}

// What a user does to the dialog in front; false when the screen does not show what it needs.
bool User(const std::vector<std::string>& w) {
  HWND dialog = DialogInFront();
  if (dialog == nullptr) {
    Say("scene: %s: no dialog is open\n", w[0]);
    return true;
  }
  const std::string& verb = w[0];
  bool box = IsMessageBox(dialog);
  if (verb == "answer") {
    if (!box) Say("scene: %s: no message box waits for an answer\n", verb);
    if (box) PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  } else if (box) {
    Say("scene: %s: a message box waits for an answer\n", verb);
    return true;
  } else if (verb == "tick" && w.size() > 1) {
    HWND control = Control(dialog, w[1]);
    if (control == nullptr) {
      Say("scene: tick %s: the dialog in front has no such control\n", w[1]);
      return true;
    }
    PostMessageW(control, BM_CLICK, 0, 0);
  } else if (verb == "press" && w.size() > 1) {
    UINT command = w[1] == "Done" ? IDOK : SoftKey(dialog, Wide(w[1]));
    if (command == 0) {
      Say("scene: press %s: the dialog in front has no such soft key\n", w[1]);
      return true;
    }
    PostMessageW(dialog, WM_COMMAND, command, 0);
  } else if (verb == "close") {
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  } else if (verb == "help") {
    PostMessageW(dialog, WM_HELP, 0, 0);
  } else {
    return false;
  }
  Say("scene: %s %s\n", verb, w.size() > 1 ? w[1] : "");
  Settle(dialog);
  return true;
}

bool Message(const std::vector<std::string>& w) {
  if (w.size() < 5) return false;
  HWND to = Target(w[1]);
  if (to == nullptr) {
    Say("scene: %s %s: no such window\n", w[0], w[1]);
    return true;
  }
  UINT message = static_cast<UINT>(strtoul(w[2].c_str(), nullptr, 0));
  WPARAM wParam = static_cast<DWORD>(strtoul(w[3].c_str(), nullptr, 0));
  LPARAM lParam = static_cast<LONG>(strtoul(w[4].c_str(), nullptr, 0));
  if (w[0] == "post") {
    PostMessageW(to, message, wParam, lParam);
  } else {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(to, message, wParam, lParam, SMTO_NORMAL, 5000, &result);
    printf("scene: send %s %u answered %llu\n", w[1].c_str(), message,
           static_cast<unsigned long long>(result));
    fflush(stdout);
  }
  return true;
}

}  // namespace

extern "C" __declspec(dllexport) BOOL VexoriSceneLine(const char* line) {
  std::vector<std::string> w = Words(line);
  if (w.empty()) return FALSE;
  const std::string& verb = w[0];
  if (verb == "window" || verb == "foreground" || verb == "show" || verb == "hide" ||
      verb == "destroy") {
    if (!AppsCommand(line)) Say("scene: %s: not carried out\n", line);
    return TRUE;
  }
  if (verb == "post" || verb == "send") return Message(w);
  if (verb == "start" && w.size() > 1) return Start(w);
  if (verb == "tick" || verb == "press" || verb == "answer" || verb == "close" || verb == "help")
    return User(w);
  return FALSE;
}

void EndScene() {
  for (const PROCESS_INFORMATION& p : Started) {
    DWORD code = 0;
    if (GetExitCodeProcess(p.hProcess, &code) && code == STILL_ACTIVE) {
      printf("scene: program %lu still running at the end, ended\n",
             static_cast<unsigned long>(p.dwProcessId));
      fflush(stdout);
      TerminateProcess(p.hProcess, 1);
    }
    CloseHandle(p.hThread);
    CloseHandle(p.hProcess);
  }
  Started.clear();
}
