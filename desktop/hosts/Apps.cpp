// The applications on screen under Wine, placed from the "window" and "foreground" lines of a
// scenario (the simulator's syntax: window LABEL KIND X Y W H [options]). Real windows stand for
// the scenario's: a LISTBOX with WS_VSCROLL for a list, "IExplore" and "PIEHTML" for the browser,
// "GST_Viewer" for a gesture-aware application, plain windows for the rest. A thread of their own
// serves them, answers for their scroll bars to other processes, and prints a line for each
// thing the checks look for, and at the end the scroll position of every window with a vertical
// scroll bar.
#include "Apps.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <sstream>
#include <fstream>
#include <string>
#include <vector>

// The desktop layer's: this thread answers for the scroll bars of the process's windows.
extern "C" BOOL WINAPI DesktopAnswerScrollQueries(void);

namespace {

struct Placed {
  std::string label;
  std::string kind;
  HWND window;
  WNDPROC own;  // the control's own procedure, for a subclassed LISTBOX
};

std::vector<Placed> Windows;
HANDLE SceneEnd = nullptr;

const Placed* Find(HWND window) {
  for (const Placed& p : Windows) {
    if (p.window == window) return &p;
  }
  return nullptr;
}

void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
  fflush(stdout);
}

void SayMouse(const Placed* p, UINT message, LPARAM lParam) {
  if (p == nullptr) return;
  if (message == WM_LBUTTONDOWN || message == WM_LBUTTONUP) {
    Say("apps: %s %s %d,%d\n", p->label.c_str(),
        message == WM_LBUTTONDOWN ? "button-down" : "button-up", static_cast<short>(LOWORD(lParam)),
        static_cast<short>(HIWORD(lParam)));
  }
}

LRESULT CALLBACK ListProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const Placed* p = Find(window);
  SayMouse(p, message, lParam);
  WNDPROC own = p != nullptr ? p->own : nullptr;
  return own != nullptr ? CallWindowProcW(own, window, message, wParam, lParam)
                        : DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK AppProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const Placed* p = Find(window);
  SayMouse(p, message, lParam);
  if (p != nullptr && message >= WM_USER) {
    Say("apps: %s message %u wParam 0x%08llx lParam 0x%08llx\n", p->label.c_str(), message,
        static_cast<unsigned long long>(wParam), static_cast<unsigned long long>(lParam));
  }
  if (p != nullptr && message == WM_COMMAND) {
    Say("apps: %s command %u\n", p->label.c_str(), static_cast<unsigned>(LOWORD(wParam)));
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

const char* ClassOf(const std::string& kind) {
  if (kind == "browser") return "IExplore";
  if (kind == "view") return "PIEHTML";
  if (kind == "aware") return "GST_Viewer";
  if (kind == "sip") return "SipWndClass";
  if (kind == "opera") return "OperaMobileMain";
  return "VexoriPlain";
}

void RegisterClasses() {
  for (const char* kind : {"browser", "view", "aware", "sip", "opera", "plain"}) {
    WCHAR name[64];
    MultiByteToWideChar(CP_UTF8, 0, ClassOf(kind), -1, name, 64);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = AppProcedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = name;
    RegisterClassW(&wc);
  }
}

HWND LabelWindow(const std::string& label) {
  for (const Placed& p : Windows) {
    if (p.label == label) return p.window;
  }
  return nullptr;
}

// window LABEL KIND X Y W H [parent P] [lines N] [page N] [class NAME] [title TEXT] [hidden 1]
bool Place(std::istringstream& words) {
  Placed p;
  int x, y, w, h;
  if (!(words >> p.label >> p.kind >> x >> y >> w >> h)) return false;
  std::map<std::string, std::string> options;
  std::string key, value;
  while (words >> key >> value) {
    if (key[0] == '#') break;
    options[key] = value;
  }
  HWND parent = options.count("parent") ? LabelWindow(options["parent"]) : nullptr;
  DWORD style = (parent != nullptr ? WS_CHILD : WS_POPUP) | WS_CLIPSIBLINGS;
  if (!options.count("hidden")) style |= WS_VISIBLE;
  int lines = options.count("lines") ? atoi(options["lines"].c_str()) : 0;
  std::string cls = options.count("class") ? options["class"] : ClassOf(p.kind);
  if (p.kind == "list") cls = "LISTBOX";
  WCHAR wideClass[64], title[128] = L"";
  MultiByteToWideChar(CP_UTF8, 0, cls.c_str(), -1, wideClass, 64);
  if (options.count("title"))
    MultiByteToWideChar(CP_UTF8, 0, options["title"].c_str(), -1, title, 128);
  if (p.kind == "list") style |= WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
  if (p.kind == "view" && lines > h) style |= WS_VSCROLL;
  p.window = CreateWindowExW(0, wideClass, title, style, x, y, w, h, parent, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  if (p.window == nullptr) return false;
  if (p.kind == "list") {
    int page = options.count("page") ? atoi(options["page"].c_str()) : 12;
    SendMessageW(p.window, LB_SETITEMHEIGHT, 0, h / (page > 0 ? page : 12));
    for (int i = 0; i < lines; ++i) {
      WCHAR item[32];
      swprintf(item, 32, L"line %d", i + 1);
      SendMessageW(p.window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    p.own = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(p.window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListProcedure)));
  } else {
    p.own = nullptr;
  }
  Windows.push_back(p);
  return true;
}

bool ReadScene(const char* path) {
  std::ifstream file(path);
  if (!file) return false;
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    ++number;
    std::istringstream words(line);
    std::string command;
    if (!(words >> command)) continue;
    if (command == "window") {
      if (!Place(words)) {
        Say("apps: %s:%d: window not placed\n", path, number);
        return false;
      }
    } else if (command == "foreground") {
      std::string label;
      words >> label;
      HWND window = LabelWindow(label);
      if (window != nullptr) SetForegroundWindow(GetAncestor(window, GA_ROOT));
    }
  }
  return true;
}

void SayScrollPositions() {
  for (const Placed& p : Windows) {
    if (!(GetWindowLongW(p.window, GWL_STYLE) & WS_VSCROLL)) continue;
    SCROLLINFO info = {};
    info.cbSize = sizeof(info);
    info.fMask = SIF_ALL;
    GetScrollInfo(p.window, SB_VERT, &info);
    Say("apps: %s vscroll nPos %d nMin %d nMax %d nPage %u\n", p.label.c_str(), info.nPos,
        info.nMin, info.nMax, info.nPage);
  }
}

}  // namespace

namespace {

struct AppsRun {
  std::string scene;
  DWORD timeout;
  HANDLE ready;
  bool placed;
};

HANDLE AppsThread = nullptr;

DWORD WINAPI AppsThreadRoutine(LPVOID data) {
  AppsRun* run = static_cast<AppsRun*>(data);
  // The broker reads and sets their scroll bars from its own process.
  DesktopAnswerScrollQueries();
  RegisterClasses();
  run->placed = ReadScene(run->scene.c_str());
  HWND front = GetForegroundWindow();
  const Placed* p = Find(front);
  if (run->placed) Say("apps: ready, foreground %s\n", p != nullptr ? p->label.c_str() : "none");
  SetEvent(run->ready);
  if (!run->placed) return 1;
  DWORD start = GetTickCount();
  for (;;) {
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= run->timeout) break;
    DWORD woke =
        MsgWaitForMultipleObjects(1, &SceneEnd, FALSE, run->timeout - elapsed, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) break;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  // What is still queued arrived before the end.
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  SayScrollPositions();
  return 0;
}

}  // namespace

bool StartApps(const char* scene, DWORD timeout) {
  SceneEnd = CreateEventW(nullptr, TRUE, FALSE, L"VexoriSceneEnd");
  ResetEvent(SceneEnd);
  static AppsRun run;
  run = {scene, timeout, CreateEventW(nullptr, TRUE, FALSE, nullptr), false};
  AppsThread = CreateThread(nullptr, 0, AppsThreadRoutine, &run, 0, nullptr);
  if (AppsThread == nullptr) return false;
  WaitForSingleObject(run.ready, INFINITE);
  return run.placed;
}

void EndApps() {
  if (AppsThread == nullptr) return;
  SetEvent(SceneEnd);
  WaitForSingleObject(AppsThread, INFINITE);
}
