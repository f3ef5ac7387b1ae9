// The device CPU: one device thread runs at a time; the clock moves only when every thread waits.
//
// Each device thread is a fiber that runs only while it holds the CPU (`running`): all of them take
// turns on the host thread that made the device. A thread gives the CPU up only by blocking; the
// scheduler then wakes, in the order they blocked, the threads whose wait is satisfied, and when
// none is, jumps the clock to the next deadline. The host (simulator, test or benchmark) is a
// device thread too: while it runs, the device stands still, and its run_for() is simply a Sleep.
#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/hardware.hpp"
#include "kernel.hpp"
#include "schedule.hpp"

namespace dev {
namespace {

Device* g_device = nullptr;
Device::Impl* g_impl = nullptr;
thread_local Thread* tls_thread = nullptr;

struct ThreadExit {
  DWORD code;
};

}  // namespace

Device::Impl& impl() {
  if (g_impl == nullptr) {
    std::fprintf(stderr, "vexori device: platform call with no device running\n");
    std::abort();
  }
  return *g_impl;
}

bool have_device() {
  return g_impl != nullptr;
}

Device* current_device() {
  return g_device;
}

Thread* Device::Impl::current() const {
  if (tls_thread == nullptr) {
    std::fprintf(stderr, "vexori device: platform call from a thread outside the device\n");
    std::abort();
  }
  return tls_thread;
}

void Device::preempt_at(const std::string& call, const std::string& process,
                        const std::string& thread, int nth, std::function<void()> action) {
  impl_->preemptions.push_back({call, process, thread, nth, std::move(action)});
}

void Device::Impl::preemption_point(const char* call) {
  Thread* self = current();
  if (self->is_host) return;
  for (auto it = preemptions.begin(); it != preemptions.end(); ++it) {
    if (it->call != call || it->thread != self->name || it->process != self->process->name)
      continue;
    if (--it->remaining > 0) return;
    std::function<void()> action = std::move(it->action);
    preemptions.erase(it);
    log_event("preempted", dev::fields("call", call));
    if (action) action();
    block(nullptr, clock);  // like Sleep(0): everything else that can run runs first
    return;
  }
}

void Device::fail_call(const std::string& call, int nth, uint32_t error,
                       const std::string& subject) {
  impl_->faults.push_back({call, nth, error, fault_subject(call, subject)});
}

bool Device::can_fail(const std::string& call) {
  return call == "CreateThread" || call == "RegCreateKeyExW" || call == "RegQueryValueExW" ||
         call == "SHCreateMenuBar" || call == "ChangeDisplaySettingsExW" || call == "CreateEventW";
}

bool Device::Impl::injected_failure(const char* call, const std::string& subject) {
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    if (it->call != call || (!it->subject.empty() && it->subject != subject)) continue;
    if (--it->remaining > 0) return false;
    current()->last_error = it->error;
    Fields fields = {{"call", call}, {"error", it->error}};
    if (!subject.empty()) fields["subject"] = subject;
    log_event("call-failed", fields);
    faults.erase(it);
    return true;
  }
  return false;
}

void set_thread_name(const std::string& name) {
  impl().current()->name = name;
}

Device::Impl::Impl(DeviceConfig c) : config(std::move(c)) {}

Thread* Device::Impl::create_thread(Process* p, std::function<DWORD()> body,
                                    const std::string& name) {
  auto owned = std::make_unique<Thread>();
  Thread* t = owned.get();
  t->id = next_thread_id;
  next_thread_id += 4;
  t->process = p;
  t->name = name.empty() ? fmt::format("{:#x}", t->id) : name;
  t->body = std::move(body);
  t->object = std::make_shared<ThreadObj>();
  t->object->thread = t;
  threads.push_back(std::move(owned));
  ready.push_back(t);
  t->fiber.prepare([](void* thread) { dev::impl().thread_main(static_cast<Thread*>(thread)); }, t);
  return t;
}

void Device::Impl::thread_main(Thread* t) {
  tls_thread = t;
  t->started = true;
  DWORD code = 0;
  if (!halting) {
    try {
      code = t->body();
    } catch (const ThreadExit& e) {
      code = e.code;
    } catch (const DeviceHalt&) {
      code = 0;
    }
  }
  t->exit_code = code;
  t->finished = true;
  if (!halting) log_event("thread-exit", dev::fields("id", hex(t->id), "code", code));
  tls_thread = nullptr;
  Thread* next = pick_next();
  running = next;
  Fiber::finish(t->fiber, next->fiber);
}

bool Device::Impl::block(std::function<bool()> pred, uint64_t deadline, std::string what) {
  Thread* self = current();
  if (pred && pred()) return true;
  self->waits_on = std::move(what);
  self->wait_pred = std::move(pred);
  self->deadline = deadline;
  self->timed_out = false;
  blocked.push_back(self);
  switch_away(self);
  self->wait_pred = nullptr;
  self->deadline = kNever;
  self->wake_when_idle = false;
  if (halting && !self->is_host) throw DeviceHalt{};
  return !self->timed_out;
}

void Device::Impl::host_wait(uint64_t deadline, bool until_idle) {
  Thread* self = current();
  if (!self->is_host) {
    std::fprintf(stderr, "vexori device: only the host may run the device\n");
    std::abort();
  }
  self->wake_when_idle = until_idle;
  block(nullptr, deadline);
}

void Device::Impl::switch_away(Thread* self) {
  Thread* next = pick_next();
  if (next == self) return;
  running = next;
  Fiber::switch_to(self->fiber, next->fiber);
  // The host thread's thread-local state belongs to whichever fiber runs on it.
  tls_thread = self;
}

void Device::Impl::wake_satisfied() {
  for (size_t i = 0; i < blocked.size();) {
    Thread* t = blocked[i];
    bool halt_it = halting && !t->is_host;
    if (halt_it || (t->wait_pred && t->wait_pred())) {
      t->timed_out = halt_it;
      blocked.erase(blocked.begin() + static_cast<long>(i));
      ready.push_back(t);
    } else {
      ++i;
    }
  }
}

Thread* Device::Impl::take_ready() {
  Thread* t = ready.front();
  if (schedule && !schedule->counting()) t = schedule->best(ready, nullptr);
  ready.erase(std::find(ready.begin(), ready.end(), t));
  return t;
}

Thread* Device::Impl::pick_next() {
  auto take = [&](Thread* t, bool timed_out) {
    t->timed_out = timed_out;
    blocked.erase(std::find(blocked.begin(), blocked.end(), t));
  };
  for (;;) {
    // Waits that are satisfied, in the order the threads blocked.
    wake_satisfied();
    // Deadlines that are due now (Sleep(0) and the like), the host's last.
    if (ready.empty()) {
      for (size_t i = 0; i < blocked.size();) {
        Thread* t = blocked[i];
        if (!t->is_host && t->deadline <= clock) {
          take(t, true);
          ready.push_back(t);
        } else {
          ++i;
        }
      }
    }
    if (!ready.empty()) return take_ready();
    bool host_blocked = std::find(blocked.begin(), blocked.end(), host) != blocked.end();
    if (host_blocked && (host->wake_when_idle || host->deadline <= clock)) {
      take(host, !host->wake_when_idle);
      return host;
    }
    uint64_t next = kNever;
    for (Thread* t : blocked) next = std::min(next, t->deadline);
    for (auto& source : hw_deadlines) {
      uint64_t due = source();
      if (due > clock) next = std::min(next, due);
    }
    if (next == kNever) {
      // Nothing can ever run again: give the CPU back to the host.
      if (host_blocked) {
        take(host, true);
        return host;
      }
      std::fprintf(stderr, "vexori device: every thread waits forever\n");
      std::abort();
    }
    if (next > clock) {
      if (config.realtime) {
        std::this_thread::sleep_until(wall_start + std::chrono::milliseconds(next));
      }
      clock = next;
    }
  }
}

void Device::Impl::switch_point() {
  Thread* self = tls_thread;
  if (!schedule || self == nullptr || self->is_host || halting) return;
  schedule->pass_point(self);
  if (schedule->counting()) return;
  wake_satisfied();
  Thread* next = schedule->best(ready, self);
  if (next == self) return;
  ready.erase(std::find(ready.begin(), ready.end(), next));
  ready.push_back(self);  // still ready: it runs again when its priority is the highest
  schedule->count_switch();
  running = next;
  Fiber::switch_to(self->fiber, next->fiber);
  tls_thread = self;
}

void Device::Impl::halt_all() {
  halting = true;
  block(
      [this] {
        return std::all_of(threads.begin(), threads.end(), [](const std::unique_ptr<Thread>& t) {
          return t->is_host || t->finished;
        });
      },
      kNever);
}

// ---- Device ---------------------------------------------------------------------------------

namespace {

// Host folders of the devices alive now, for a program that ends on a signal: the device's
// destructor never runs then, and the folder would outlive the run. Each folder holds a lock
// file, locked for the device's life, so that a later run can tell a folder a killed run left
// behind (nobody holds its lock) from one a live run uses.
std::mutex g_folders_lock;
std::map<std::string, int> g_folders;  // folder -> its lock's descriptor
const char kLockFile[] = ".lock";
// A folder too new to hold its lock yet (made a moment ago, locked the next) is left alone.
const auto kYoungFolder = std::chrono::seconds(60);

// "vexori-PID-XXXXXX", as make_module_dir names them, and nothing else.
bool is_device_folder_name(const std::string& name) {
  const std::string prefix = "vexori-";
  if (name.rfind(prefix, 0) != 0) return false;
  size_t dash = name.find('-', prefix.size());
  if (dash == std::string::npos || dash == prefix.size() || name.size() != dash + 7) return false;
  return std::all_of(name.begin() + static_cast<long>(prefix.size()),
                     name.begin() + static_cast<long>(dash),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// Removes the device folders of this user that killed runs left in `dir`: those whose lock can
// be taken, and old ones without a lock file.
void sweep_left_folders(const std::filesystem::path& dir) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (!is_device_folder_name(name)) continue;
    struct stat st {};
    if (lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
      continue;
    int fd = open((it->path() / kLockFile).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    bool left;
    if (fd >= 0) {
      left = flock(fd, LOCK_EX | LOCK_NB) == 0;
    } else {
      auto age =
          std::chrono::system_clock::now() - std::chrono::system_clock::from_time_t(st.st_mtime);
      left = errno == ENOENT && age > kYoungFolder;
    }
    if (left) std::filesystem::remove_all(it->path(), ec);
    if (fd >= 0) close(fd);
    ec.clear();
  }
}

// What killed runs left is swept once per process, at its first device, whether or not this
// one makes folders of its own.
void sweep_once(const std::filesystem::path& tmp) {
  static std::once_flag swept;
  std::call_once(swept, [&] { sweep_left_folders(tmp); });
}

// A folder that nothing else can have made: a name chosen at random and created in one step, so
// what an earlier run left behind (a killed run of a process with the same id) is never reused.
std::string make_module_dir() {
  std::error_code ec;
  std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
  const char* env = std::getenv("TMPDIR");
  std::string named = env != nullptr && *env != 0 ? fmt::format(" (TMPDIR is {})", env) : "";
  if (ec) throw std::runtime_error("no folder for temporary files" + named + ": " + ec.message());
  sweep_once(tmp);
  std::string path = (tmp / fmt::format("vexori-{}-XXXXXX", getpid())).string();
  if (mkdtemp(path.data()) == nullptr) {
    throw std::runtime_error(
        fmt::format("cannot make the device's folder {}{}: {}", path, named, std::strerror(errno)));
  }
  // The lock is taken under another name and only then named: a sweep that finds the lock file
  // can never take its lock in the moment between its creation and its locking.
  std::string unnamed = path + "/" + kLockFile + "-new";
  int fd = open(unnamed.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 || flock(fd, LOCK_EX) != 0 ||
      rename(unnamed.c_str(), (path + "/" + kLockFile).c_str()) != 0) {
    int err = errno;
    if (fd >= 0) close(fd);
    std::filesystem::remove_all(path, ec);
    throw std::runtime_error(
        fmt::format("cannot lock the device's folder {}: {}", path, std::strerror(err)));
  }
  std::lock_guard<std::mutex> lk(g_folders_lock);
  g_folders.emplace(path, fd);
  return path;
}

void remove_module_dir(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  std::lock_guard<std::mutex> lk(g_folders_lock);
  auto it = g_folders.find(path);
  if (it == g_folders.end()) return;
  close(it->second);
  g_folders.erase(it);
}

// A library of \Windows may carry only the name of its debug information, kept in
// \Windows\.debug; a debugger looks for it in a .debug folder beside the copy it finds mapped.
void link_debug_folder(const std::string& windows_dir, const std::string& module_dir) {
  std::error_code ec;
  std::filesystem::path debug = std::filesystem::absolute(windows_dir, ec) / ".debug";
  if (ec || !std::filesystem::is_directory(debug, ec)) return;
  std::filesystem::create_directory_symlink(debug, module_dir + "/.debug", ec);
}

}  // namespace

void remove_device_folders() {
  std::lock_guard<std::mutex> lk(g_folders_lock);
  for (const auto& [path, fd] : g_folders) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
    close(fd);
  }
  g_folders.clear();
}

InputError::InputError(const std::string& f, int l, const std::string& r)
    : std::runtime_error(l > 0 ? fmt::format("{}:{}: {}", f, l, r) : fmt::format("{}: {}", f, r)),
      file(f),
      line(l),
      reason(r) {}

Device::Device(DeviceConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {
  if (g_impl != nullptr) throw std::logic_error("only one simulated device runs at a time");
  g_impl = impl_.get();
  g_device = this;
  Impl& d = *impl_;
  d.wall_start = std::chrono::steady_clock::now();
  d.host_process = d.create_process("host");
  auto host = std::make_unique<Thread>();
  host->id = d.next_thread_id;
  d.next_thread_id += 4;
  host->process = d.host_process;
  host->name = "host";
  host->is_host = true;
  host->started = true;
  host->object = std::make_shared<ThreadObj>();
  host->object->thread = host.get();
  d.host = host.get();
  d.running = host.get();
  d.threads.push_back(std::move(host));
  tls_thread = d.host;
  try {
    if (!module_copies_in_memory()) {
      d.module_dir = make_module_dir();
      link_debug_folder(d.config.windows_dir, d.module_dir);
    } else {
      std::error_code ec;
      std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
      if (!ec) sweep_once(tmp);
    }
  } catch (...) {
    tls_thread = nullptr;
    g_impl = nullptr;
    g_device = nullptr;
    throw;
  }
}

Device::~Device() {
  Impl& d = *impl_;
  d.host->process = d.host_process;
  d.halt_all();
  d.unload_all();
  d.unmap_all();
  if (!d.module_dir.empty()) remove_module_dir(d.module_dir);
  tls_thread = nullptr;
  g_impl = nullptr;
  g_device = nullptr;
}

void Device::run_for(uint32_t ms) {
  impl_->host_wait(impl_->clock + ms, false);
}

void Device::run_until(uint64_t t) {
  if (t > impl_->clock) impl_->host_wait(t, false);
}

void Device::settle() {
  impl_->host_wait(kNever, true);
}

uint64_t Device::now() const {
  return impl_->clock;
}

uint32_t Device::tick() const {
  return static_cast<uint32_t>(impl_->config.boot_tick + impl_->clock);
}

const DeviceConfig& Device::config() const {
  return impl_->config;
}

EventLog& Device::log() {
  return impl_->log;
}

void Device::as_process(const std::string& process, const std::function<void()>& fn) {
  Process* p = impl_->find_process(process);
  if (p == nullptr) throw std::invalid_argument("no device process named " + process);
  Process* saved = impl_->host->process;
  impl_->host->process = p;
  try {
    fn();
  } catch (...) {
    impl_->host->process = saved;
    throw;
  }
  impl_->host->process = saved;
}

Process* Device::Impl::create_process(const std::string& name) {
  auto p = std::make_unique<Process>();
  p->id = next_process_id++;
  p->name = name;
  processes.push_back(std::move(p));
  return processes.back().get();
}

Process* Device::Impl::find_process(const std::string& name) {
  for (auto& p : processes) {
    if (p->name == name) return p.get();
  }
  return nullptr;
}

}  // namespace dev

// ---- Platform calls: threads and time ---------------------------------------------------------

using dev::impl;

extern "C" {

DWORD WINAPI GetTickCount(void) {
  DEVICE_CALL_POINT("GetTickCount");
  return static_cast<DWORD>(impl().config.boot_tick + impl().clock);
}

void WINAPI Sleep(DWORD ms) {
  DEVICE_CALL_POINT("Sleep");
  auto& d = impl();
  uint64_t deadline = ms == INFINITE ? dev::kNever : d.clock + ms;
  d.block(nullptr, deadline);
}

DWORD WINAPI GetLastError(void) {
  return impl().current()->last_error;
}

void WINAPI SetLastError(DWORD e) {
  impl().current()->last_error = e;
}

DWORD WINAPI GetCurrentThreadId(void) {
  return impl().current()->id;
}

HANDLE WINAPI GetCurrentThread(void) {
  DEVICE_CALL_POINT("GetCurrentThread");
  return reinterpret_cast<HANDLE>(0x41);
}

HANDLE WINAPI GetCurrentProcess(void) {
  DEVICE_CALL_POINT("GetCurrentProcess");
  return reinterpret_cast<HANDLE>(0x42);
}

DWORD WINAPI GetCurrentProcessId(void) {
  return impl().current()->process->id;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, DWORD, LPTHREAD_START_ROUTINE start, LPVOID param,
                           DWORD flags, LPDWORD id_out) {
  DEVICE_CALL_POINT("CreateThread");
  auto& d = impl();
  if (start == nullptr || flags != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (d.injected_failure("CreateThread")) return nullptr;
  dev::Process* p = d.current()->process;
  // The log names a library's thread after the library that started it ("Quenza").
  std::string name = dev::hw::module_of_address(reinterpret_cast<const void*>(start));
  auto dot = name.rfind('.');
  name = dot == std::string::npos ? "" : name.substr(0, dot);
  dev::Thread* t = d.create_thread(
      p, [start, param] { return start(param); }, name);
  // Only threads the system starts itself lack a queue at first; the device's own have one.
  t->made_message_call = false;
  dev::log_event("thread-start", dev::fields("id", dev::hex(t->id), "in", p->name));
  if (id_out != nullptr) *id_out = t->id;
  return d.add_handle(t->object);
}

void WINAPI ExitThread(DWORD code) {
  if (impl().current()->is_host) std::abort();
  throw dev::ThreadExit{code};
}

BOOL WINAPI GetExitCodeThread(HANDLE h, LPDWORD code) {
  auto obj = impl().lookup(h, "GetExitCodeThread");
  if (obj && obj->type != dev::ObjType::Thread) {
    impl().bad_handle("GetExitCodeThread", reinterpret_cast<uintptr_t>(h));
  }
  if (!obj || obj->type != dev::ObjType::Thread || code == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *code = static_cast<dev::ThreadObj*>(obj.get())->thread->exit_code;
  return TRUE;
}

}  // extern "C"

namespace {

dev::Thread* thread_of(HANDLE h, const char* call) {
  if (h == GetCurrentThread()) return impl().current();
  auto obj = impl().lookup(h, call);
  if (obj && obj->type != dev::ObjType::Thread)
    impl().bad_handle(call, reinterpret_cast<uintptr_t>(h));
  if (!obj || obj->type != dev::ObjType::Thread) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return static_cast<dev::ThreadObj*>(obj.get())->thread;
}

}  // namespace

extern "C" {

BOOL WINAPI SetThreadPriority(HANDLE h, int priority) {
  DEVICE_CALL_POINT("SetThreadPriority");
  dev::Thread* t = thread_of(h, "SetThreadPriority");
  if (t == nullptr) return FALSE;
  if (priority < THREAD_PRIORITY_TIME_CRITICAL || priority > THREAD_PRIORITY_IDLE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  t->priority = priority;
  return TRUE;
}

int WINAPI GetThreadPriority(HANDLE h) {
  dev::Thread* t = thread_of(h, "GetThreadPriority");
  return t == nullptr ? THREAD_PRIORITY_ERROR_RETURN : t->priority;
}

}  // extern "C"
