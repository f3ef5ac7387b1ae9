// Windows of the window system: classes, the window tree, messages posted and sent, scroll bars,
// device contexts and timers.
//
// Every window belongs to the thread that created it; posted messages go to that thread's queue,
// and a message sent from another thread waits in the receiving thread until it next looks at
// its queue, while the sender waits. Window handles are never reused.
#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "../core/kernel.hpp"

namespace dev {

namespace {
const uintptr_t kStockBase = 0x0F000000;
}  // namespace

Window* window_of(HWND h, const char* call) {
  auto& d = impl();
  auto it = d.windows.find(reinterpret_cast<uintptr_t>(h));
  if (it == d.windows.end()) {
    if (call != nullptr) d.bad_handle(call, reinterpret_cast<uintptr_t>(h));
    if (have_device()) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return it->second.get();
}

int stock_index(HGDIOBJ object) {
  auto raw = reinterpret_cast<uintptr_t>(object);
  if (raw < kStockBase || (raw - kStockBase) % 4 != 0 || raw > kStockBase + SYSTEM_FONT * 4)
    return -1;
  return static_cast<int>((raw - kStockBase) / 4);
}

std::string window_name(const Window* w) {
  return w == nullptr ? "none" : fmt::format("{}:{:#x}", to_utf8(w->cls), w->handle);
}

namespace {

const char* message_name(UINT m) {
  switch (m) {
    case WM_CREATE:
      return "WM_CREATE";
    case WM_DESTROY:
      return "WM_DESTROY";
    case WM_CLOSE:
      return "WM_CLOSE";
    case WM_SIZE:
      return "WM_SIZE";
    case WM_TIMER:
      return "WM_TIMER";
    case WM_COMMAND:
      return "WM_COMMAND";
    case WM_HSCROLL:
      return "WM_HSCROLL";
    case WM_VSCROLL:
      return "WM_VSCROLL";
    case WM_INITDIALOG:
      return "WM_INITDIALOG";
    case WM_SETFONT:
      return "WM_SETFONT";
    case WM_HELP:
      return "WM_HELP";
    case BM_GETCHECK:
      return "BM_GETCHECK";
    case BM_SETCHECK:
      return "BM_SETCHECK";
    case BM_CLICK:
      return "BM_CLICK";
    default:
      return nullptr;
  }
}

Fields message_fields(const Window* w, UINT m, WPARAM wp, LPARAM lp) {
  const char* name = message_name(m);
  return {{"window", window_name(w)},
          {"msg", name ? Fields(name) : Fields(m)},
          {"wParam", hex(wp)},
          {"lParam", hex(static_cast<uint64_t>(lp))}};
}

bool contains(const RECT& r, POINT p) {
  return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom;
}

bool visible(const Window* w) {
  for (; w != nullptr; w = w->parent) {
    if (!(w->style & WS_VISIBLE)) return false;
  }
  return true;
}

std::vector<Window*>& siblings(Window* w) {
  return w->parent ? w->parent->children : impl().top_levels;
}

// Calls a window's procedure on the calling thread.
LRESULT call_proc(Window* w, UINT m, WPARAM wp, LPARAM lp) {
  if (w->proc == nullptr) return DefWindowProcW(reinterpret_cast<HWND>(w->handle), m, wp, lp);
  return w->proc(reinterpret_cast<HWND>(w->handle), m, wp, lp);
}

// The deepest visible window under a screen point, searching from the front.
Window* deepest_at(std::vector<Window*>& list, POINT p) {
  for (Window* w : list) {
    if (visible(w) && contains(w->rect, p)) {
      Window* inner = deepest_at(w->children, p);
      return inner ? inner : w;
    }
  }
  return nullptr;
}

void destroy(Window* w) {
  auto& d = impl();
  // Windows it owns go first, as on the platform: a dialog's menu bar, a dialog's message box.
  for (;;) {
    auto owned = std::find_if(d.top_levels.begin(), d.top_levels.end(),
                              [w](const Window* o) { return o->owner == w; });
    if (owned == d.top_levels.end()) break;
    destroy(*owned);
  }
  SendMessageW(reinterpret_cast<HWND>(w->handle), WM_DESTROY, 0, 0);
  while (!w->children.empty()) destroy(w->children.front());
  auto& list = siblings(w);
  list.erase(std::remove(list.begin(), list.end(), w), list.end());
  if (d.foreground == w) d.foreground = nullptr;
  d.timers.erase(std::remove_if(d.timers.begin(), d.timers.end(),
                                [w](const Timer& t) { return t.window == w; }),
                 d.timers.end());
  log_event("window-destroyed", dev::fields("window", window_name(w)));
  d.windows.erase(w->handle);
}

// The highest position the bar can take: the range less the page.
int clamp_pos(const SCROLLINFO& s, int pos) {
  long long top = static_cast<long long>(s.nMax) - (s.nPage > 0 ? s.nPage - 1 : 0);
  if (top < s.nMin) top = s.nMin;
  if (pos < s.nMin) return s.nMin;
  if (pos > top) return static_cast<int>(top);
  return pos;
}

bool has_bar(const Window* w, int bar) {
  return (bar == SB_VERT && (w->style & WS_VSCROLL)) || (bar == SB_HORZ && (w->style & WS_HSCROLL));
}

}  // namespace

void place_window(Window* w, const RECT& r) {
  LONG dx = r.left - w->rect.left, dy = r.top - w->rect.top;
  w->rect = r;
  std::function<void(Window*)> shift = [&](Window* parent) {
    for (Window* c : parent->children) {
      c->rect = {c->rect.left + dx, c->rect.top + dy, c->rect.right + dx, c->rect.bottom + dy};
      shift(c);
    }
  };
  shift(w);
}

Window* last_active_popup(Window* w) {
  for (Window* top : impl().top_levels) {
    if (!visible(top)) continue;
    for (Window* o = top->owner; o != nullptr; o = o->owner) {
      if (o == w) return top;
    }
  }
  return w;
}

namespace {

// The first due timer of the thread's windows that passes the filter.
Timer* due_timer(const Thread* self, HWND hwnd, UINT lo, UINT hi) {
  auto& d = impl();
  if (!(lo == 0 && hi == 0) && !(WM_TIMER >= lo && WM_TIMER <= hi)) return nullptr;
  for (auto& t : d.timers) {
    if (t.window->thread != self || t.due > d.clock) continue;
    if (hwnd != nullptr && reinterpret_cast<HWND>(t.window->handle) != hwnd) continue;
    return &t;
  }
  return nullptr;
}

}  // namespace

bool has_due_timer(const Thread* self, HWND hwnd, UINT lo, UINT hi) {
  return due_timer(self, hwnd, lo, hi) != nullptr;
}

namespace {

const LPARAM kFirstTimerHandle = 0xFFFF0000;

// What a timer message carries for its procedure.
LPARAM timer_lparam(TIMERPROC proc) {
  auto& d = impl();
  if (proc == nullptr || !d.config.desktop_timer_handles) return reinterpret_cast<LPARAM>(proc);
  auto& procs = d.timer_procs;
  size_t i = std::find(procs.begin(), procs.end(), proc) - procs.begin();
  if (i == procs.size()) procs.push_back(proc);
  return kFirstTimerHandle + static_cast<LPARAM>(i);
}

// The procedure a timer message's lParam names; null when it names none a timer was set with.
TIMERPROC timer_proc_of(LPARAM lParam) {
  auto& d = impl();
  if (!d.config.desktop_timer_handles) return reinterpret_cast<TIMERPROC>(lParam);
  if (lParam < kFirstTimerHandle) return nullptr;
  size_t i = static_cast<size_t>(lParam - kFirstTimerHandle);
  return i < d.timer_procs.size() ? d.timer_procs[i] : nullptr;
}

}  // namespace

bool take_due_timer(Thread* self, HWND hwnd, UINT lo, UINT hi, MSG* out, bool consume) {
  Timer* t = due_timer(self, hwnd, lo, hi);
  if (t == nullptr) return false;
  *out = queued_message(reinterpret_cast<HWND>(t->window->handle), WM_TIMER, t->id,
                        timer_lparam(t->proc));
  if (consume) t->due = impl().clock + t->period;
  return true;
}

uint64_t next_timer_due() {
  uint64_t next = kNever;
  for (const auto& t : impl().timers) {
    if (!t.window->thread->finished) next = std::min(next, t.due);
  }
  return next;
}

void handle_sent_messages(Thread* self) {
  while (!self->sent_in.empty()) {
    SentMessage* s = self->sent_in.front();
    self->sent_in.pop_front();
    s->result = call_proc(s->window, s->message, s->wParam, s->lParam);
    s->done = true;
  }
}

}  // namespace dev

using dev::impl;
using dev::Window;

extern "C" {

ATOM WINAPI RegisterClassW(const WNDCLASSW* wc) {
  DEVICE_CALL_POINT("RegisterClassW");
  auto& d = impl();
  if (wc == nullptr || wc->lpszClassName == nullptr || wc->lpszClassName[0] == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  dev::Process* p = d.current()->process;
  for (const auto& c : d.classes) {
    if (c.process == p && c.name == wc->lpszClassName) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return 0;
    }
  }
  d.classes.push_back({wc->lpszClassName, wc->lpfnWndProc, p});
  return static_cast<ATOM>(0xC000 + d.classes.size());
}

BOOL WINAPI UnregisterClassW(LPCWSTR name, HINSTANCE) {
  DEVICE_CALL_POINT("UnregisterClassW");
  auto& d = impl();
  if (name == nullptr) return FALSE;
  dev::Process* p = d.current()->process;
  for (const auto& [h, w] : d.windows) {
    if (w->cls == name && w->thread->process == p) return FALSE;  // still in use
  }
  auto it = std::find_if(d.classes.begin(), d.classes.end(), [&](const dev::WindowClass& c) {
    return c.process == p && c.name == name;
  });
  if (it == d.classes.end()) return FALSE;
  d.classes.erase(it);
  return TRUE;
}

HWND WINAPI CreateWindowExW(DWORD ex_style, LPCWSTR cls, LPCWSTR title, DWORD style, int x, int y,
                            int w, int h, HWND parent_handle, HMENU menu, HINSTANCE, LPVOID param) {
  DEVICE_CALL_POINT("CreateWindowExW");
  auto& d = impl();
  if (cls == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // A process's own classes come first, then those of every other process (the system's).
  dev::Thread* self = d.current();
  const dev::WindowClass* wc = nullptr;
  for (const auto& c : d.classes) {
    if (c.name == cls && (wc == nullptr || c.process == self->process)) wc = &c;
  }
  Window* parent = nullptr;
  if (parent_handle != nullptr) {
    parent = dev::window_of(parent_handle, "CreateWindowExW");
    if (parent == nullptr) return nullptr;
  }
  if (wc == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  auto win = std::make_unique<Window>();
  Window* win_ptr = win.get();
  win->handle = d.next_window;
  d.next_window += 4;
  win->cls = cls;
  // Under the desktop rules the name comes with WM_NCCREATE, through the default procedure.
  win->title = title && !d.config.desktop_window_text ? title : u"";
  win->style = style;
  win->ex_style = ex_style;
  win->proc = wc->proc;
  win->parent = parent;
  win->thread = self;
  win->id = static_cast<LONG>(reinterpret_cast<uintptr_t>(menu));
  if (x == CW_USEDEFAULT) x = y = 0;
  if (w == CW_USEDEFAULT) {
    w = GetSystemMetrics(SM_CXSCREEN);
    h = GetSystemMetrics(SM_CYSCREEN);
  }
  LONG ox = parent ? parent->rect.left : 0;
  LONG oy = parent ? parent->rect.top : 0;
  win->rect = {ox + x, oy + y, ox + x + w, oy + y + h};
  for (auto& bar : win->bars) {
    bar.cbSize = sizeof(SCROLLINFO);
    bar.nMax = 100;
  }
  d.windows.emplace(win->handle, std::move(win));
  auto& list = parent ? parent->children : d.top_levels;
  list.insert(list.begin(), win_ptr);
  dev::log_event("window-created",
                 {{"window", dev::window_name(win_ptr)},
                  {"parent", dev::window_name(parent)},
                  {"rect", fmt::format("{},{},{},{}", win_ptr->rect.left, win_ptr->rect.top,
                                       win_ptr->rect.right, win_ptr->rect.bottom)}});
  CREATESTRUCTW create{param, nullptr, menu,    parent_handle, h, w, y, x, static_cast<LONG>(style),
                       title, cls,     ex_style};
  HWND handle = reinterpret_cast<HWND>(win_ptr->handle);
  if (d.config.desktop_window_text &&
      dev::call_proc(win_ptr, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create)) == 0) {
    dev::destroy(win_ptr);
    return nullptr;
  }
  if (dev::call_proc(win_ptr, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    dev::destroy(win_ptr);
    return nullptr;
  }
  return handle;
}

BOOL WINAPI DestroyWindow(HWND h) {
  DEVICE_CALL_POINT("DestroyWindow");
  auto& d = impl();
  Window* w = dev::window_of(h, "DestroyWindow");
  if (w == nullptr) return FALSE;
  // The phone's documentation forbids it and desktop Win32 refuses it: only a window's own thread
  // destroys it. A thread that has ended cannot, so its windows are anybody's.
  dev::Thread* self = d.current();
  if (w->thread != self && !self->is_host && !w->thread->finished) {
    dev::log_event("call-refused",
                   dev::fields("call", "DestroyWindow", "window", dev::window_name(w)));
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  dev::destroy(w);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND h) {
  DEVICE_CALL_POINT("IsWindow");
  return dev::window_of(h) != nullptr;
}

BOOL WINAPI IsWindowVisible(HWND h) {
  DEVICE_CALL_POINT("IsWindowVisible");
  Window* w = dev::window_of(h);
  return w != nullptr && dev::visible(w);
}

BOOL WINAPI ShowWindow(HWND h, int cmd) {
  DEVICE_CALL_POINT("ShowWindow");
  Window* w = dev::window_of(h, "ShowWindow");
  if (w == nullptr) return FALSE;
  BOOL was = (w->style & WS_VISIBLE) != 0;
  if (cmd == SW_HIDE) {
    w->style &= ~static_cast<DWORD>(WS_VISIBLE);
  } else {
    w->style |= WS_VISIBLE;
  }
  if (was != ((w->style & WS_VISIBLE) != 0)) {
    dev::log_event("window-shown",
                   dev::fields("window", dev::window_name(w), "visible", cmd != SW_HIDE));
    if (dev::is_dialog_control(w)) dev::log_control_change(w, "visible", cmd != SW_HIDE);
    if (cmd != SW_HIDE) w->needs_paint = true;
    if (cmd != SW_HIDE && impl().config.desktop_frames && (w->style & WS_CAPTION) != 0) {
      SendMessageW(h, WM_NCPAINT, 1, 0);
    }
  }
  return was;
}

HWND WINAPI FindWindowW(LPCWSTR cls, LPCWSTR title) {
  DEVICE_CALL_POINT("FindWindowW");
  for (Window* w : impl().top_levels) {
    if ((cls == nullptr || w->cls == cls) && (title == nullptr || w->title == title)) {
      return reinterpret_cast<HWND>(w->handle);
    }
  }
  return nullptr;
}

int WINAPI GetClassNameW(HWND h, LPWSTR out, int max) {
  DEVICE_CALL_POINT("GetClassNameW");
  Window* w = dev::window_of(h);
  if (w == nullptr || out == nullptr || max <= 0) return 0;
  size_t n = std::min<size_t>(w->cls.size(), static_cast<size_t>(max) - 1);
  std::copy(w->cls.begin(), w->cls.begin() + static_cast<long>(n), out);
  out[n] = 0;
  return static_cast<int>(n);
}

HWND WINAPI GetParent(HWND h) {
  DEVICE_CALL_POINT("GetParent");
  Window* w = dev::window_of(h);
  if (w == nullptr) return nullptr;
  // A pop-up's parent is its owner, as on the platform.
  Window* up = w->parent ? w->parent : (w->style & WS_POPUP) ? w->owner : nullptr;
  return up ? reinterpret_cast<HWND>(up->handle) : nullptr;
}

HWND WINAPI GetWindow(HWND h, UINT cmd) {
  DEVICE_CALL_POINT("GetWindow");
  Window* w = dev::window_of(h);
  if (w == nullptr) return nullptr;
  Window* found = nullptr;
  if (cmd == GW_CHILD) {
    found = w->children.empty() ? nullptr : w->children.front();
  } else if (cmd == GW_OWNER) {
    found = w->owner;
  } else if (cmd == GW_HWNDNEXT || cmd == GW_HWNDPREV || cmd == GW_HWNDFIRST ||
             cmd == GW_HWNDLAST) {
    auto& list = dev::siblings(w);
    auto it = std::find(list.begin(), list.end(), w);
    if (cmd == GW_HWNDNEXT && it + 1 < list.end()) found = *(it + 1);
    if (cmd == GW_HWNDPREV && it != list.begin()) found = *(it - 1);
    if (cmd == GW_HWNDFIRST) found = list.front();
    if (cmd == GW_HWNDLAST) found = list.back();
  }
  return found ? reinterpret_cast<HWND>(found->handle) : nullptr;
}

HWND WINAPI GetForegroundWindow(void) {
  DEVICE_CALL_POINT("GetForegroundWindow");
  Window* w = impl().foreground;
  return w ? reinterpret_cast<HWND>(w->handle) : nullptr;
}

BOOL WINAPI SetForegroundWindow(HWND h) {
  DEVICE_CALL_POINT("SetForegroundWindow");
  auto& d = impl();
  // The handle with its lowest bit set asks for the window's last active pop-up.
  auto raw = reinterpret_cast<uintptr_t>(h);
  bool popup = (raw & 1) != 0;
  Window* w = dev::window_of(reinterpret_cast<HWND>(raw & ~uintptr_t{1}), "SetForegroundWindow");
  if (w == nullptr) return FALSE;
  while (w->parent != nullptr) w = w->parent;
  if (popup) w = dev::last_active_popup(w);
  d.foreground = w;
  auto& list = d.top_levels;
  list.erase(std::remove(list.begin(), list.end(), w), list.end());
  list.insert(list.begin(), w);
  dev::log_event("foreground", dev::fields("window", dev::window_name(w)));
  return TRUE;
}

HWND WINAPI WindowFromPoint(POINT p) {
  DEVICE_CALL_POINT("WindowFromPoint");
  Window* w = dev::deepest_at(impl().top_levels, p);
  return w ? reinterpret_cast<HWND>(w->handle) : nullptr;
}

// The point must lie in the parent's client area, which its scroll bars are not part of: a point
// on a scroll bar is answered null, as the platform answers it.
HWND WINAPI ChildWindowFromPoint(HWND parent, POINT p) {
  DEVICE_CALL_POINT("ChildWindowFromPoint");
  Window* w = dev::window_of(parent);
  if (w == nullptr) return nullptr;
  POINT screen{p.x + w->rect.left, p.y + w->rect.top};
  RECT client = w->rect;
  if (w->style & WS_VSCROLL) client.right -= GetSystemMetrics(SM_CXVSCROLL);
  if (w->style & WS_HSCROLL) client.bottom -= GetSystemMetrics(SM_CYHSCROLL);
  if (!dev::contains(client, screen)) return nullptr;
  for (Window* c : w->children) {
    if (dev::contains(c->rect, screen)) return reinterpret_cast<HWND>(c->handle);
  }
  return parent;
}

BOOL WINAPI ScreenToClient(HWND h, LPPOINT p) {
  DEVICE_CALL_POINT("ScreenToClient");
  Window* w = dev::window_of(h);
  if (w == nullptr || p == nullptr) return FALSE;
  p->x -= w->rect.left;
  p->y -= w->rect.top;
  return TRUE;
}

BOOL WINAPI ClientToScreen(HWND h, LPPOINT p) {
  Window* w = dev::window_of(h);
  if (w == nullptr || p == nullptr) return FALSE;
  p->x += w->rect.left;
  p->y += w->rect.top;
  return TRUE;
}

BOOL WINAPI GetWindowRect(HWND h, LPRECT r) {
  DEVICE_CALL_POINT("GetWindowRect");
  Window* w = dev::window_of(h);
  if (w == nullptr || r == nullptr) return FALSE;
  *r = w->rect;
  return TRUE;
}

BOOL WINAPI GetClientRect(HWND h, LPRECT r) {
  DEVICE_CALL_POINT("GetClientRect");
  Window* w = dev::window_of(h);
  if (w == nullptr || r == nullptr) return FALSE;
  *r = {0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  return TRUE;
}

LONG WINAPI GetWindowLongW(HWND h, int index) {
  DEVICE_CALL_POINT("GetWindowLongW");
  Window* w = dev::window_of(h);
  if (w == nullptr) return 0;
  switch (index) {
    case GWL_STYLE:
      return static_cast<LONG>(w->style);
    case GWL_EXSTYLE:
      return static_cast<LONG>(w->ex_style);
    case GWL_USERDATA:
      return w->user_data;
    case GWL_ID:
      return w->id;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
  }
}

LONG WINAPI SetWindowLongW(HWND h, int index, LONG value) {
  Window* w = dev::window_of(h, "SetWindowLongW");
  if (w == nullptr) return 0;
  LONG old = GetWindowLongW(h, index);
  switch (index) {
    case GWL_STYLE:
      w->style = static_cast<DWORD>(value);
      break;
    case GWL_EXSTYLE:
      w->ex_style = static_cast<DWORD>(value);
      break;
    case GWL_USERDATA:
      w->user_data = value;
      break;
    case GWL_ID:
      w->id = value;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
  }
  return old;
}

DWORD WINAPI GetWindowThreadProcessId(HWND h, LPDWORD process) {
  Window* w = dev::window_of(h);
  if (w == nullptr) return 0;
  if (process != nullptr) *process = w->thread->process->id;
  return w->thread->id;
}

BOOL WINAPI PostMessageW(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  DEVICE_CALL_POINT("PostMessageW");
  if (h == nullptr) return PostThreadMessageW(GetCurrentThreadId(), m, wp, lp);
  Window* w = dev::window_of(h, nullptr);
  if (w == nullptr || w->thread->finished) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  MSG msg = dev::queued_message(h, m, wp, lp);
  w->thread->queue.push_back(msg);
  if (dev::log_on()) dev::log_event("post", dev::message_fields(w, m, wp, lp));
  return TRUE;
}

LRESULT WINAPI SendMessageW(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  DEVICE_CALL_POINT("SendMessageW");
  auto& d = impl();
  Window* w = dev::window_of(h, "SendMessageW");
  if (w == nullptr) return 0;
  dev::Thread* self = d.current();
  if (m != WM_DESTROY && dev::log_on()) dev::log_event("send", dev::message_fields(w, m, wp, lp));
  if (w->thread == self) return dev::call_proc(w, m, wp, lp);
  if (w->thread->finished) return 0;
  dev::SentMessage sent{w, m, wp, lp};
  w->thread->sent_in.push_back(&sent);
  // While it waits, the sender still answers what is sent to its own windows.
  while (!sent.done) {
    d.block([&sent, self] { return sent.done || !self->sent_in.empty(); }, dev::kNever,
            "reply to a sent message");
    dev::handle_sent_messages(self);
  }
  return sent.result;
}

LRESULT WINAPI DispatchMessageW(const MSG* msg) {
  DEVICE_CALL_POINT("DispatchMessageW");
  if (msg == nullptr || msg->hwnd == nullptr) return 0;
  Window* w = dev::window_of(msg->hwnd);
  if (w == nullptr) return 0;
  if (msg->message == WM_TIMER && msg->lParam != 0) {
    TIMERPROC proc = dev::timer_proc_of(msg->lParam);
    if (proc != nullptr) proc(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
    return 0;
  }
  return dev::call_proc(w, msg->message, msg->wParam, msg->lParam);
}

BOOL WINAPI TranslateMessage(const MSG*) {
  DEVICE_CALL_POINT("TranslateMessage");
  return FALSE;
}

LRESULT WINAPI DefWindowProcW(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  DEVICE_CALL_POINT("DefWindowProcW");
  if (Window* w = dev::window_of(h)) {
    bool text = false;
    LRESULT result = dev::default_text(w, m, wp, lp, &text);
    if (text) return result;
    if (m == WM_NCPAINT)
      dev::log_event("frame-painted", dev::fields("window", dev::window_name(w)));
  }
  if (m == WM_CLOSE) DestroyWindow(h);
  return 0;
}

LRESULT WINAPI CallWindowProcW(WNDPROC proc, HWND h, UINT m, WPARAM wp, LPARAM lp) {
  DEVICE_CALL_POINT("CallWindowProcW");
  return proc != nullptr ? proc(h, m, wp, lp) : 0;
}

BOOL WINAPI SetPropW(HWND h, LPCWSTR name, HANDLE data) {
  DEVICE_CALL_POINT("SetPropW");
  Window* w = dev::window_of(h, "SetPropW");
  if (w == nullptr || name == nullptr || IS_INTRESOURCE(name)) return FALSE;
  w->props[name] = data;
  return TRUE;
}

HANDLE WINAPI GetPropW(HWND h, LPCWSTR name) {
  DEVICE_CALL_POINT("GetPropW");
  Window* w = dev::window_of(h);
  if (w == nullptr || name == nullptr || IS_INTRESOURCE(name)) return nullptr;
  auto it = w->props.find(name);
  return it == w->props.end() ? nullptr : it->second;
}

HANDLE WINAPI RemovePropW(HWND h, LPCWSTR name) {
  DEVICE_CALL_POINT("RemovePropW");
  Window* w = dev::window_of(h);
  if (w == nullptr || name == nullptr || IS_INTRESOURCE(name)) return nullptr;
  auto it = w->props.find(name);
  if (it == w->props.end()) return nullptr;
  HANDLE data = it->second;
  w->props.erase(it);
  return data;
}

int WINAPI GetScrollInfo(HWND h, int bar, LPSCROLLINFO si) {
  DEVICE_CALL_POINT("GetScrollInfo");
  Window* w = dev::window_of(h);
  if (w == nullptr || si == nullptr || si->cbSize != sizeof(SCROLLINFO)) return FALSE;
  if ((bar == SB_VERT && !(w->style & WS_VSCROLL)) ||
      (bar == SB_HORZ && !(w->style & WS_HSCROLL)) || (bar != SB_VERT && bar != SB_HORZ)) {
    return FALSE;
  }
  const SCROLLINFO& s = w->bars[bar];
  if (si->fMask & SIF_RANGE) {
    si->nMin = s.nMin;
    si->nMax = s.nMax;
  }
  if (si->fMask & SIF_PAGE) si->nPage = s.nPage;
  if (si->fMask & SIF_POS) si->nPos = s.nPos;
  if (si->fMask & SIF_TRACKPOS) si->nTrackPos = s.nPos;
  return TRUE;
}

int WINAPI SetScrollInfo(HWND h, int bar, LPCSCROLLINFO si, BOOL) {
  Window* w = dev::window_of(h, "SetScrollInfo");
  if (w == nullptr || si == nullptr || (bar != SB_VERT && bar != SB_HORZ)) return 0;
  SCROLLINFO& s = w->bars[bar];
  if (si->fMask & SIF_RANGE) {
    s.nMin = si->nMin;
    s.nMax = std::max(si->nMin, si->nMax);
  }
  if (si->fMask & SIF_PAGE) s.nPage = si->nPage;
  if (si->fMask & SIF_POS) s.nPos = si->nPos;
  s.nPos = dev::clamp_pos(s, s.nPos);
  return s.nPos;
}

int WINAPI SetScrollPos(HWND h, int bar, int pos, BOOL) {
  DEVICE_CALL_POINT("SetScrollPos");
  Window* w = dev::window_of(h, "SetScrollPos");
  if (w == nullptr || !dev::has_bar(w, bar)) return 0;
  SCROLLINFO& s = w->bars[bar];
  int old = s.nPos;
  s.nPos = dev::clamp_pos(s, pos);
  if (dev::log_on()) {
    dev::log_event("scroll-pos", dev::fields("window", dev::window_name(w), "bar",
                                             bar == SB_VERT ? "vert" : "horz", "pos", s.nPos));
  }
  return old;
}

HDC WINAPI GetDC(HWND h) {
  DEVICE_CALL_POINT("GetDC");
  if (h != nullptr && dev::window_of(h, "GetDC") == nullptr) return nullptr;
  return reinterpret_cast<HDC>(0x5D0);
}

int WINAPI ReleaseDC(HWND, HDC dc) {
  DEVICE_CALL_POINT("ReleaseDC");
  return dc == reinterpret_cast<HDC>(0x5D0) ? 1 : 0;
}

int WINAPI GetDeviceCaps(HDC dc, int index) {
  DEVICE_CALL_POINT("GetDeviceCaps");
  if (dc != reinterpret_cast<HDC>(0x5D0)) return 0;
  if (index == LOGPIXELSX || index == LOGPIXELSY) return impl().config.screen.dpi;
  return 0;
}

HGDIOBJ WINAPI GetStockObject(int index) {
  DEVICE_CALL_POINT("GetStockObject");
  // Every stock object has a fixed handle of its own; indexes with no object give none.
  bool valid = (index >= WHITE_BRUSH && index <= NULL_PEN) || index == SYSTEM_FONT;
  return valid ? reinterpret_cast<HGDIOBJ>(dev::kStockBase + static_cast<uintptr_t>(index) * 4)
               : nullptr;
}

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
  DEVICE_CALL_POINT("SetTimer");
  auto& d = impl();
  Window* w = dev::window_of(hwnd, "SetTimer");
  if (w == nullptr) return 0;
  // As on the platform, a period below the timer resolution is taken as the resolution.
  const UINT kMinimumPeriod = 10;
  UINT period = std::max(elapse, kMinimumPeriod);
  auto it = std::find_if(d.timers.begin(), d.timers.end(),
                         [&](const dev::Timer& t) { return t.window == w && t.id == id; });
  bool restart = it != d.timers.end();
  if (restart) {
    *it = {w, id, period, d.clock + period, proc};
  } else {
    d.timers.push_back({w, id, period, d.clock + period, proc});
  }
  if (dev::log_on()) {
    dev::log_event("timer-set", dev::fields("window", dev::window_name(w), "id", id, "period",
                                            period, "restart", restart));
  }
  return id;
}

BOOL WINAPI KillTimer(HWND hwnd, UINT_PTR id) {
  DEVICE_CALL_POINT("KillTimer");
  auto& d = impl();
  Window* w = dev::window_of(hwnd, "KillTimer");
  if (w == nullptr) return FALSE;
  // The platform documents nothing here; desktop Win32 refuses a timer of another thread's window.
  // The host, which drives engines directly in tests, stands in for the window's own thread.
  if (w->thread != d.current() && !d.current()->is_host) {
    dev::log_event("call-refused", dev::fields("call", "KillTimer", "window", dev::window_name(w)));
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  auto it = std::find_if(d.timers.begin(), d.timers.end(),
                         [&](const dev::Timer& t) { return t.window == w && t.id == id; });
  if (it == d.timers.end()) return FALSE;
  d.timers.erase(it);
  if (dev::log_on())
    dev::log_event("timer-killed", dev::fields("window", dev::window_name(w), "id", id));
  return TRUE;
}

}  // extern "C"
