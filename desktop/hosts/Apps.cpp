// The applications on screen under Wine, placed from the "window" and "foreground" lines of a
// scenario (the simulator's syntax: window LABEL KIND X Y W H [options]), or of the plan the
// simulator wrote for it, whose setup lines start "setup" and whose timed ones come later through
// AppsCommand. Real windows stand for the scenario's: a LISTBOX with WS_VSCROLL for a list,
// "IExplore" and "PIEHTML" for the browser (the frame carries out page and zoom commands and
// keeps "ZoomSetting" as the simulator's browser does; the view moves by its scroll messages),
// "GST_Viewer" for a gesture-aware application, plain windows for the rest. A thread of their own
// serves them, answers for their scroll bars to other processes, and prints a line for each
// thing the checks look for (each move of a scroll bar, the browser's pages and zoom, a close),
// and at the end the scroll position of every window with a vertical scroll bar.
#include "Apps.h"

#include <windows.h>

#include <ctype.h>
#include <stdarg.h>
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

// Browser commands: a page back or forward in the history, and the zoom levels 4 down to 0.
const WORD kPageBack = 2200;
const WORD kPageForward = 2205;
const WORD kZoomLevel0 = 5677;
const int kZoomLevels = 5;
const UINT kCommandLine = WM_APP + 0x40;  // lParam: a window command's line, carried out at once

struct Placed {
  std::string label;
  std::string kind;
  HWND window;
  WNDPROC own;     // the control's own procedure, for a subclassed LISTBOX
  int vpos, hpos;  // the scroll positions last said
  bool refusesClose;
  int pages, page;  // a browser's history and the page shown
  bool storesZoom;
};

std::vector<Placed> Windows;
HANDLE SceneEnd = nullptr;
HWND Commands = nullptr;  // the applications' thread's message window

Placed* Find(HWND window) {
  for (Placed& p : Windows) {
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

int Position(HWND window, int bar) {
  SCROLLINFO info = {};
  info.cbSize = sizeof(info);
  info.fMask = SIF_POS;
  return GetScrollInfo(window, bar, &info) ? info.nPos : 0;
}

// A line for each move of a scroll bar, as the simulator logs each position.
void SayScroll(Placed* p) {
  if (p == nullptr) return;
  int v = Position(p->window, SB_VERT), h = Position(p->window, SB_HORZ);
  if (v != p->vpos) Say("apps: %s vscroll %d\n", p->label.c_str(), v);
  if (h != p->hpos) Say("apps: %s hscroll %d\n", p->label.c_str(), h);
  p->vpos = v;
  p->hpos = h;
}

// A view moves by lines, pages or to a thumb position within its range, as the simulator's does.
void ScrollView(HWND window, int bar, WPARAM wParam) {
  SCROLLINFO si = {};
  si.cbSize = sizeof(si);
  si.fMask = SIF_ALL;
  if (!GetScrollInfo(window, bar, &si)) return;
  int pos = si.nPos;
  switch (LOWORD(wParam)) {
    case SB_LINEDOWN:
      ++pos;
      break;
    case SB_LINEUP:
      --pos;
      break;
    case SB_PAGEDOWN:
      pos += static_cast<int>(si.nPage);
      break;
    case SB_PAGEUP:
      pos -= static_cast<int>(si.nPage);
      break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: {
      int low = HIWORD(wParam);
      pos = (si.nPos & ~0xFFFF) | low;
      if (pos - si.nPos > 0x8000) pos -= 0x10000;
      if (si.nPos - pos > 0x8000) pos += 0x10000;
      break;
    }
    default:
      return;
  }
  if (pos != si.nPos) SetScrollPos(window, bar, pos, TRUE);
}

void BrowserCommand(Placed* p, WORD command) {
  if (command == kPageBack || command == kPageForward) {
    bool back = command == kPageBack;
    if (back && p->page > 1) --p->page;
    if (!back && p->page < p->pages) ++p->page;
    Say("apps: %s browser %s page %d of %d\n", p->label.c_str(), back ? "back" : "forward", p->page,
        p->pages);
  } else if (command <= kZoomLevel0 && command > kZoomLevel0 - kZoomLevels) {
    DWORD zoom = kZoomLevel0 - command;
    if (p->storesZoom) {
      RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Main",
                      L"ZoomSetting", REG_DWORD, &zoom, sizeof(zoom));
    }
    Say("apps: %s browser zoom level %lu\n", p->label.c_str(), static_cast<unsigned long>(zoom));
  }
}

bool AnswerClose(Placed* p) {
  if (p == nullptr) return false;
  Say("apps: %s %s\n", p->label.c_str(), p->refusesClose ? "stays" : "closes");
  if (!p->refusesClose) DestroyWindow(p->window);
  return true;
}

LRESULT CALLBACK ListProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Placed* p = Find(window);
  SayMouse(p, message, lParam);
  if (message == WM_CLOSE && AnswerClose(p)) return 0;
  WNDPROC own = p != nullptr ? p->own : nullptr;
  LRESULT result = own != nullptr ? CallWindowProcW(own, window, message, wParam, lParam)
                                  : DefWindowProcW(window, message, wParam, lParam);
  if (message != WM_NCDESTROY && IsWindow(window)) SayScroll(Find(window));
  return result;
}

LRESULT CALLBACK AppProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Placed* p = Find(window);
  SayMouse(p, message, lParam);
  if (message == WM_CLOSE && AnswerClose(p)) return 0;
  if (p != nullptr && p->kind == "view" && (message == WM_VSCROLL || message == WM_HSCROLL)) {
    ScrollView(window, message == WM_VSCROLL ? SB_VERT : SB_HORZ, wParam);
    SayScroll(p);
    return 0;
  }
  if (p != nullptr && p->kind == "browser" && message == WM_COMMAND) {
    Say("apps: %s command %u\n", p->label.c_str(), static_cast<unsigned>(LOWORD(wParam)));
    BrowserCommand(p, LOWORD(wParam));
    return 0;
  }
  if (p != nullptr && message >= WM_USER) {
    Say("apps: %s message %u wParam 0x%08llx lParam 0x%08llx\n", p->label.c_str(), message,
        static_cast<unsigned long long>(wParam), static_cast<unsigned long long>(lParam));
  }
  if (p != nullptr && message == WM_COMMAND) {
    Say("apps: %s command %u\n", p->label.c_str(), static_cast<unsigned>(LOWORD(wParam)));
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool WindowCommand(const std::string& line);

LRESULT CALLBACK CommandProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kCommandLine) {
    return WindowCommand(reinterpret_cast<const char*>(lParam)) ? 1 : 0;
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
  WNDCLASSW commands = {};
  commands.lpfnWndProc = CommandProcedure;
  commands.hInstance = GetModuleHandleW(nullptr);
  commands.lpszClassName = L"VexoriAppsCommands";
  RegisterClassW(&commands);
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
  while (words >> key) {
    if (key[0] == '#') break;
    if (!(words >> std::ws)) break;
    if (words.peek() == '"') {
      words.get();
      std::getline(words, value, '"');
    } else if (!(words >> value)) {
      break;
    }
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
  if (p.kind == "view") style |= WS_VSCROLL | WS_HSCROLL;
  p.window = CreateWindowExW(0, wideClass, title, style, x, y, w, h, parent, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
  if (p.window == nullptr) return false;
  p.refusesClose = options.count("refuses-close") && options["refuses-close"] != "0";
  p.pages = options.count("pages") ? atoi(options["pages"].c_str()) : 1;
  if (p.pages < 1) p.pages = 1;
  int at = options.count("at") ? atoi(options["at"].c_str()) : 0;
  p.page = at >= 1 && at <= p.pages ? at : p.pages;
  p.storesZoom = !(options.count("no-zoom-store") && options["no-zoom-store"] != "0");
  if (p.kind == "view") {
    // As the simulator's view: a page of its height over its lines, and its width across.
    SCROLLINFO v = {sizeof(SCROLLINFO),
                    SIF_RANGE | SIF_PAGE | SIF_POS,
                    0,
                    lines > 0 ? lines - 1 : 0,
                    static_cast<UINT>(h),
                    0,
                    0};
    SetScrollInfo(p.window, SB_VERT, &v, FALSE);
    SCROLLINFO across = {
        sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE | SIF_POS, 0, w - 1, static_cast<UINT>(w), 0, 0};
    SetScrollInfo(p.window, SB_HORZ, &across, FALSE);
  }
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
  p.vpos = Position(p.window, SB_VERT);
  p.hpos = Position(p.window, SB_HORZ);
  Windows.push_back(p);
  return true;
}

Placed* Labelled(const std::string& label) {
  for (Placed& p : Windows) {
    if (p.label == label && IsWindow(p.window)) return &p;
  }
  return nullptr;
}

// window, foreground, show, hide, destroy: on the applications' thread.
bool WindowCommand(const std::string& line) {
  std::istringstream words(line);
  std::string command, label;
  words >> command;
  if (command == "window") return Place(words);
  words >> label;
  Placed* p = Labelled(label);
  if (p == nullptr) return false;
  if (command == "foreground") {
    SetForegroundWindow(GetAncestor(p->window, GA_ROOT));
  } else if (command == "show" || command == "hide") {
    ShowWindow(p->window, command == "show" ? SW_SHOW : SW_HIDE);
  } else if (command == "destroy") {
    DestroyWindow(p->window);
  } else {
    return false;
  }
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
    // A plan's setup lines; its timed ones come through AppsCommand.
    if (command == "setup" && !(words >> command)) continue;
    if (isdigit(static_cast<unsigned char>(command[0]))) continue;
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
    if (!IsWindow(p.window) || !(GetWindowLongW(p.window, GWL_STYLE) & WS_VSCROLL)) continue;
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
  Commands = CreateWindowExW(0, L"VexoriAppsCommands", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
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

bool AppsCommand(const char* line) {
  DWORD_PTR done = 0;
  return Commands != nullptr &&
         SendMessageTimeoutW(Commands, kCommandLine, 0, reinterpret_cast<LPARAM>(line), SMTO_NORMAL,
                             10000, &done) != 0 &&
         done != 0;
}

HWND AppsWindow(const char* label) {
  Placed* p = Labelled(label);
  return p != nullptr ? p->window : nullptr;
}

void EndApps() {
  if (AppsThread == nullptr) return;
  SetEvent(SceneEnd);
  WaitForSingleObject(AppsThread, INFINITE);
}
