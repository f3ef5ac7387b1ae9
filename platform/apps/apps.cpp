// The stand-in applications: a list, the platform browser's frame and HTML view, the soft input
// panel, an Opera window, a gesture-aware application and a window without scroll bars. They run
// in "apps.exe" on one thread, which creates their windows when asked and dispatches their
// messages.
#include "device/apps.hpp"

#include <fmt/format.h>
#include <regext.h>

#include <map>

#include "../core/kernel.hpp"

namespace dev::apps {
namespace {

// Thread messages from the host to the applications' thread; lParam points at the request.
const UINT kPlace = WM_USER + 0x700;
const UINT kShow = WM_USER + 0x701;
const UINT kDestroy = WM_USER + 0x702;
const UINT kForeground = WM_USER + 0x703;

struct Request {
  WindowSpec spec;
  HWND window = nullptr;
  bool done = false;
};

DWORD g_thread_id = 0;

// Browser commands: a page back or forward in the history, and the zoom levels 4 down to 0.
const WORD kPageBack = 2200;
const WORD kPageForward = 2205;
const WORD kZoomLevel0 = 5677;
const int kZoomLevels = 5;
const int kFirstZoomLevel = 2;  // as the browser comes from the factory

// What an application keeps of its own, beyond its window; made afresh with each window, whose
// handle a later device may give again.
struct AppState {
  bool browser = false;
  bool refuses_close = false;
  int pages = 1;
  int page = 1;
  bool stores_zoom = true;
  int zoom = kFirstZoomLevel;
};
std::map<uintptr_t, AppState> g_state;

AppState& state_of(HWND w) {
  return g_state[reinterpret_cast<uintptr_t>(w)];
}

const char16_t* class_of(Kind k) {
  switch (k) {
    case Kind::List:
      return u"VexoriList";
    case Kind::Browser:
      return u"IExplore";
    case Kind::BrowserView:
      return u"PIEHTML";
    case Kind::InputPanel:
      return u"SipWndClass";
    case Kind::Opera:
      return u"OperaMobileMain";
    case Kind::GestureAware:
      return u"GST_Viewer";
    default:
      return u"VexoriPlain";
  }
}

int vertical_pos(HWND w) {
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_POS, 0, 0, 0, 0, 0};
  return GetScrollInfo(w, SB_VERT, &si) ? si.nPos : 0;
}

// Moves a bar by lines, pages or to a thumb position, within its range.
void scroll(HWND w, int bar, WPARAM wp) {
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
  if (!GetScrollInfo(w, bar, &si)) return;
  int pos = si.nPos;
  switch (LOWORD(wp)) {
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
      // The message carries only the low 16 bits: take the position with those bits that lies
      // nearest the current one, so that long pages do not snap back.
      int low = HIWORD(wp);
      pos = (si.nPos & ~0xFFFF) | low;
      if (pos - si.nPos > 0x8000) pos -= 0x10000;
      if (si.nPos - pos > 0x8000) pos += 0x10000;
      break;
    }
    default:
      return;
  }
  if (pos != si.nPos) SetScrollPos(w, bar, pos, TRUE);
}

// Every application answers WM_CLOSE the one way it was made to, and says so.
LRESULT answer_close(HWND w) {
  bool stays = state_of(w).refuses_close;
  log_event("app-close",
            dev::fields("window", window_name(window_of(w)), "did", stays ? "stays" : "closes"));
  if (!stays) DestroyWindow(w);
  return 0;
}

LRESULT CALLBACK scrolling_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_CLOSE) return answer_close(w);
  if (m == WM_VSCROLL || m == WM_HSCROLL) {
    scroll(w, m == WM_VSCROLL ? SB_VERT : SB_HORZ, wp);
    return 0;
  }
  return DefWindowProcW(w, m, wp, lp);
}

LRESULT CALLBACK recording_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m != WM_CREATE && m != WM_DESTROY && log_on()) {
    log_event("app-received", dev::fields("window", window_name(window_of(w)), "msg", m, "wParam",
                                          hex(wp), "lParam", hex(static_cast<uint64_t>(lp))));
  }
  if (m == WM_CLOSE) return answer_close(w);
  return DefWindowProcW(w, m, wp, lp);
}

void log_browser(HWND w, WORD command, const char* action, const std::string& did) {
  log_event("browser", dev::fields("window", window_name(window_of(w)), "command", command,
                                   "action", action, "did", did));
}

// The browser's frame carries out its page and zoom commands; a page at either end of the
// history stays where it is.
void browser_command(HWND w, WORD command) {
  AppState& s = state_of(w);
  if (command == kPageBack || command == kPageForward) {
    bool back = command == kPageBack;
    if (back && s.page > 1) --s.page;
    if (!back && s.page < s.pages) ++s.page;
    log_browser(w, command, back ? "back" : "forward",
                fmt::format("page {} of {}", s.page, s.pages));
  } else if (command <= kZoomLevel0 && command > kZoomLevel0 - kZoomLevels) {
    s.zoom = kZoomLevel0 - command;
    if (s.stores_zoom) {
      RegistrySetDWORD(HKEY_CURRENT_USER, u"Software\\Microsoft\\Internet Explorer\\Main",
                       u"ZoomSetting", static_cast<DWORD>(s.zoom));
    }
    log_browser(w, command, "zoom", fmt::format("zoom level {}", s.zoom));
  }
}

LRESULT CALLBACK plain_proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_CLOSE) return answer_close(w);
  if (m == WM_COMMAND) {
    log_event("app-command", dev::fields("window", window_name(window_of(w)), "id", LOWORD(wp)));
    if (state_of(w).browser) browser_command(w, LOWORD(wp));
    return 0;
  }
  return DefWindowProcW(w, m, wp, lp);
}

HWND create(const WindowSpec& s) {
  std::u16string cls = s.cls.empty() ? class_of(s.kind) : s.cls;
  WNDCLASSW wc{};
  wc.lpszClassName = cls.c_str();
  wc.lpfnWndProc = s.kind == Kind::GestureAware                            ? recording_proc
                   : (s.kind == Kind::List || s.kind == Kind::BrowserView) ? scrolling_proc
                                                                           : plain_proc;
  RegisterClassW(&wc);  // once per class; later registrations fail harmlessly
  DWORD style = (s.parent ? WS_CHILD : WS_POPUP) | (s.visible ? WS_VISIBLE : 0);
  if (s.kind == Kind::List) style |= WS_VSCROLL;
  if (s.kind == Kind::BrowserView) style |= WS_VSCROLL | WS_HSCROLL;
  DWORD ex = (s.ink ? WS_EX_INK : 0) | (s.kind == Kind::InputPanel ? WS_EX_TOPMOST : 0);
  HWND w = CreateWindowExW(ex, cls.c_str(), s.title.c_str(), style, s.x, s.y, s.width, s.height,
                           s.parent, nullptr, nullptr, nullptr);
  if (w == nullptr) return nullptr;
  AppState& state = state_of(w);
  state = AppState{};
  state.browser = s.kind == Kind::Browser;
  state.refuses_close = s.refuses_close;
  state.pages = std::max(1, s.history);
  state.page = s.history_at >= 1 && s.history_at <= state.pages ? s.history_at : state.pages;
  state.stores_zoom = s.stores_zoom;
  if (s.kind == Kind::List) {
    SCROLLINFO si{sizeof(SCROLLINFO),
                  SIF_RANGE | SIF_PAGE | SIF_POS,
                  0,
                  std::max(0, s.lines - 1),
                  static_cast<UINT>(std::max(0, s.page)),
                  0,
                  0};
    SetScrollInfo(w, SB_VERT, &si, FALSE);
  } else if (s.kind == Kind::BrowserView) {
    SCROLLINFO si{sizeof(SCROLLINFO),
                  SIF_RANGE | SIF_PAGE | SIF_POS,
                  0,
                  std::max(0, s.lines - 1),
                  static_cast<UINT>(s.height),
                  0,
                  0};
    SetScrollInfo(w, SB_VERT, &si, FALSE);
    SCROLLINFO h{sizeof(SCROLLINFO),
                 SIF_RANGE | SIF_PAGE | SIF_POS,
                 0,
                 s.width - 1,
                 static_cast<UINT>(s.width),
                 0,
                 0};
    SetScrollInfo(w, SB_HORZ, &h, FALSE);
  }
  return w;
}

DWORD apps_main() {
  set_thread_name("main");
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    if (msg.hwnd != nullptr) {
      DispatchMessageW(&msg);
      continue;
    }
    auto* r = reinterpret_cast<Request*>(msg.lParam);
    if (msg.message == kPlace) r->window = create(r->spec);
    if (msg.message == kShow) ShowWindow(r->window, r->spec.visible ? SW_SHOW : SW_HIDE);
    if (msg.message == kDestroy) DestroyWindow(r->window);
    if (msg.message == kForeground) SetForegroundWindow(r->window);
    r->done = true;
  }
  return 0;
}

// Asks the applications' thread to carry out a request and waits until it has.
void ask(Device& device, UINT what, Request& r) {
  auto& d = device.impl();
  if (g_thread_id == 0 || d.find_process("apps.exe") == nullptr) {
    Process* p = d.create_process("apps.exe");
    log_event("process-start", dev::fields("name", p->name, "id", hex(p->id)));
    g_thread_id = d.create_thread(p, apps_main, "main")->id;
  }
  PostThreadMessageW(g_thread_id, what, 0, reinterpret_cast<LPARAM>(&r));
  while (!r.done) device.settle();
}

}  // namespace

bool kind_from_name(const std::string& name, Kind* kind) {
  static const std::pair<const char*, Kind> kNames[] = {
      {"list", Kind::List},      {"browser", Kind::Browser}, {"view", Kind::BrowserView},
      {"sip", Kind::InputPanel}, {"opera", Kind::Opera},     {"aware", Kind::GestureAware},
      {"plain", Kind::Plain}};
  for (const auto& [n, k] : kNames) {
    if (name == n) {
      *kind = k;
      return true;
    }
  }
  return false;
}

HWND place(Device& device, const WindowSpec& spec) {
  Request r;
  r.spec = spec;
  ask(device, kPlace, r);
  return r.window;
}

void set_foreground(Device& device, HWND window) {
  Request r;
  r.window = window;
  ask(device, kForeground, r);
}

void show(Device& device, HWND window, bool visible) {
  Request r;
  r.window = window;
  r.spec.visible = visible;
  ask(device, kShow, r);
}

void destroy(Device& device, HWND window) {
  Request r;
  r.window = window;
  ask(device, kDestroy, r);
}

int scroll_pos(Device&, HWND window) {
  return vertical_pos(window);
}

}  // namespace dev::apps
