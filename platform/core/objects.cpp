// Kernel objects: handles, events, waits, thread message queues, process memory calls.
#include <fmt/format.h>

#include "kernel.hpp"

namespace dev {

HANDLE Device::Impl::add_handle(std::shared_ptr<KObject> obj) {
  uintptr_t h = next_handle;
  next_handle += 4;
  handles.emplace(h, std::move(obj));
  return reinterpret_cast<HANDLE>(h);
}

void Device::Impl::bad_handle(const char* call, uintptr_t h) {
  log_event("bad-handle", dev::fields("call", call, "handle", hex(h)));
}

std::shared_ptr<KObject> Device::Impl::lookup(HANDLE h, const char* call) {
  auto it = handles.find(reinterpret_cast<uintptr_t>(h));
  if (it == handles.end()) {
    bad_handle(call, reinterpret_cast<uintptr_t>(h));
    current()->last_error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  return it->second;
}

size_t Device::open_handles() const {
  return impl_->handles.size() + impl_->open_keys.size() + impl_->notifications.size();
}

std::string hex(uint64_t v) {
  return fmt::format("{:#x}", v);
}

MSG queued_message(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG m{};
  m.hwnd = hwnd;
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = GetTickCount();
  return m;
}

namespace {

std::shared_ptr<EventObj> event_of(HANDLE h, const char* call) {
  auto obj = impl().lookup(h, call);
  if (!obj) return nullptr;
  if (obj->type != ObjType::Event) {
    impl().bad_handle(call, reinterpret_cast<uintptr_t>(h));
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return std::static_pointer_cast<EventObj>(obj);
}

bool msg_matches(const MSG& msg, HWND hwnd, UINT lo, UINT hi) {
  if (hwnd == reinterpret_cast<HWND>(-1)) {
    if (msg.hwnd != nullptr) return false;
  } else if (hwnd != nullptr && msg.hwnd != hwnd) {
    return false;
  }
  if (lo == 0 && hi == 0) return true;
  return msg.message >= lo && msg.message <= hi;
}

// Index of the first queued message that passes the filter, or -1.
int find_msg(const Thread* t, HWND hwnd, UINT lo, UINT hi) {
  for (size_t i = 0; i < t->queue.size(); ++i) {
    if (msg_matches(t->queue[i], hwnd, lo, hi)) return static_cast<int>(i);
  }
  return -1;
}

Thread* thread_by_id(DWORD id) {
  for (auto& t : impl().threads) {
    if (t->id == id && !t->finished) return t.get();
  }
  return nullptr;
}

}  // namespace
}  // namespace dev

using dev::impl;

extern "C" {

BOOL WINAPI CloseHandle(HANDLE h) {
  DEVICE_CALL_POINT("CloseHandle");
  auto& d = impl();
  auto it = d.handles.find(reinterpret_cast<uintptr_t>(h));
  if (it == d.handles.end()) {
    d.bad_handle("CloseHandle", reinterpret_cast<uintptr_t>(h));
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  d.handles.erase(it);
  return TRUE;
}

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manual, BOOL initial, LPCWSTR name) {
  DEVICE_CALL_POINT("CreateEventW");
  auto& d = impl();
  SetLastError(ERROR_SUCCESS);
  // An event can be refused for want of memory; a failure asked for by name hits only that name.
  bool named = name != nullptr && name[0] != 0;
  if (d.injected_failure("CreateEventW", named ? dev::to_utf8(dev::fold(name)) : ""))
    return nullptr;
  if (name != nullptr && name[0] != 0) {
    std::u16string key(name);
    auto it = d.named_events.find(key);
    if (it != d.named_events.end()) {
      if (auto existing = it->second.lock()) {
        HANDLE h = d.add_handle(existing);
        SetLastError(ERROR_ALREADY_EXISTS);
        return h;
      }
    }
  }
  auto ev = std::make_shared<dev::EventObj>();
  ev->manual = manual != FALSE;
  ev->signalled = initial != FALSE;
  if (name != nullptr && name[0] != 0) {
    ev->name = name;
    d.named_events[ev->name] = ev;
  }
  return d.add_handle(ev);
}

BOOL WINAPI SetEvent(HANDLE h) {
  DEVICE_CALL_POINT("SetEvent");
  auto ev = dev::event_of(h, "SetEvent");
  if (!ev) return FALSE;
  ev->signalled = true;
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE h) {
  auto ev = dev::event_of(h, "ResetEvent");
  if (!ev) return FALSE;
  ev->signalled = false;
  return TRUE;
}

BOOL WINAPI SetEventData(HANDLE h, DWORD data) {
  DEVICE_CALL_POINT("SetEventData");
  auto ev = dev::event_of(h, "SetEventData");
  if (!ev) return FALSE;
  if (ev->data != data && !ev->name.empty() && dev::log_on()) {
    dev::log_event("event-data", dev::fields("event", dev::to_utf8(ev->name), "data", data));
  }
  ev->data = data;
  return TRUE;
}

DWORD WINAPI GetEventData(HANDLE h) {
  DEVICE_CALL_POINT("GetEventData");
  auto ev = dev::event_of(h, "GetEventData");
  if (!ev) return 0;
  SetLastError(ERROR_SUCCESS);
  return ev->data;
}

DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms) {
  DEVICE_CALL_POINT("WaitForSingleObject");
  auto& d = impl();
  auto obj = d.lookup(h, "WaitForSingleObject");
  if (!obj) return WAIT_FAILED;
  uint64_t deadline = ms == INFINITE ? dev::kNever : d.clock + ms;
  if (obj->type == dev::ObjType::Thread) {
    dev::Thread* t = static_cast<dev::ThreadObj*>(obj.get())->thread;
    return d.block([t] { return t->finished; }, deadline, "thread " + dev::hex(t->id))
               ? WAIT_OBJECT_0
               : WAIT_TIMEOUT;
  }
  if (obj->type == dev::ObjType::Process) {
    dev::Process* p = static_cast<dev::ProcessObj*>(obj.get())->process;
    return d.block([p] { return p->ended; }, deadline, "process " + p->name) ? WAIT_OBJECT_0
                                                                             : WAIT_TIMEOUT;
  }
  if (obj->type != dev::ObjType::Event) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  auto ev = std::static_pointer_cast<dev::EventObj>(obj);
  for (;;) {
    if (ev->signalled) {
      // Another waiter woken by the same signal may have taken an auto-reset event first.
      if (!ev->manual) ev->signalled = false;
      return WAIT_OBJECT_0;
    }
    std::string what =
        "event " + (ev->name.empty() ? std::string("(unnamed)") : dev::to_utf8(ev->name));
    if (!d.block([ev] { return ev->signalled; }, deadline, what)) return WAIT_TIMEOUT;
  }
}

LPVOID WINAPI MapPtrToProcess(LPVOID p, HANDLE proc) {
  DEVICE_CALL_POINT("MapPtrToProcess");
  // One address space: a pointer is valid in every process once mapped.
  auto& d = impl();
  if (proc != GetCurrentProcess() && d.handles.count(reinterpret_cast<uintptr_t>(proc)) == 0) {
    d.bad_handle("MapPtrToProcess", reinterpret_cast<uintptr_t>(proc));
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Under desktop address spaces, another process finds nothing mapped there. The device cannot
  // tell at a read which process reads, so the pointer it gives leads nowhere for the caller too.
  if (d.config.desktop_address_spaces && p != nullptr) return d.unmapped.foreign(p);
  return p;
}

DWORD WINAPI SetProcPermissions(DWORD perms) {
  DEVICE_CALL_POINT("SetProcPermissions");
  dev::log_event("kernel", dev::fields("call", "SetProcPermissions", "perms", dev::hex(perms)));
  return 1;
}

DWORD WINAPI GetCurrentPermissions(void) {
  return 0xFFFFFFFFu;
}

BOOL WINAPI SetKMode(BOOL mode) {
  DEVICE_CALL_POINT("SetKMode");
  dev::log_event("kernel", dev::fields("call", "SetKMode", "mode", mode));
  return FALSE;
}

BOOL WINAPI PostThreadMessageW(DWORD id, UINT msg, WPARAM w, LPARAM l) {
  DEVICE_CALL_POINT("PostThreadMessageW");
  dev::Thread* t = dev::thread_by_id(id);
  bool no_queue = t != nullptr && impl().config.desktop_thread_queues && !t->made_message_call;
  if (t == nullptr || no_queue) {
    if (no_queue)
      dev::log_event("post-refused",
                     dev::fields("to_thread", dev::hex(id), "reason", "no message queue"));
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  MSG m = dev::queued_message(nullptr, msg, w, l);
  t->queue.push_back(m);
  return TRUE;
}

BOOL WINAPI GetMessageW(LPMSG out, HWND hwnd, UINT lo, UINT hi) {
  DEVICE_CALL_POINT("GetMessageW");
  auto& d = impl();
  dev::Thread* self = d.current();
  self->made_message_call = true;
  MSG m;
  for (;;) {
    dev::handle_sent_messages(self);
    int i = dev::find_msg(self, hwnd, lo, hi);
    if (i >= 0) {
      m = self->queue[i];
      self->queue.erase(static_cast<size_t>(i));
      break;
    }
    // Paint and timers come only when nothing else is queued.
    if (dev::take_paint(self, hwnd, lo, hi, &m, true)) break;
    if (dev::take_due_timer(self, hwnd, lo, hi, &m, true)) break;
    d.block(
        [self, hwnd, lo, hi] {
          return !self->sent_in.empty() || dev::find_msg(self, hwnd, lo, hi) >= 0 ||
                 dev::take_paint(self, hwnd, lo, hi, nullptr, false) ||
                 dev::has_due_timer(self, hwnd, lo, hi);
        },
        dev::kNever, "message queue");
  }
  if (out != nullptr) *out = m;
  return m.message != WM_QUIT;
}

BOOL WINAPI PeekMessageW(LPMSG out, HWND hwnd, UINT lo, UINT hi, UINT remove) {
  DEVICE_CALL_POINT("PeekMessageW");
  dev::Thread* self = impl().current();
  self->made_message_call = true;
  dev::handle_sent_messages(self);
  int i = dev::find_msg(self, hwnd, lo, hi);
  MSG m;
  if (i >= 0) {
    m = self->queue[i];
    if (remove & PM_REMOVE) self->queue.erase(static_cast<size_t>(i));
  } else if (!dev::take_paint(self, hwnd, lo, hi, &m, (remove & PM_REMOVE) != 0) &&
             !dev::take_due_timer(self, hwnd, lo, hi, &m, (remove & PM_REMOVE) != 0)) {
    return FALSE;
  }
  if (out != nullptr) *out = m;
  return TRUE;
}

void WINAPI PostQuitMessage(int code) {
  DEVICE_CALL_POINT("PostQuitMessage");
  MSG m{};
  m.message = WM_QUIT;
  m.wParam = static_cast<WPARAM>(code);
  impl().current()->queue.push_back(m);
}

}  // extern "C"
