// Internals of the simulated device: scheduler, processes, threads, kernel objects, registry,
// loader. Only the core library's own sources include this.
#pragma once

#include <windows.h>
#include <regext.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "device/device.hpp"
#include "fiber.hpp"
#include "msg_queue.hpp"

namespace dev {

constexpr uint64_t kNever = UINT64_MAX;

struct Process;
struct Thread;

// ---- Kernel objects and handles ---------------------------------------------------------------

enum class ObjType { Event, Thread, Process, Section };

struct KObject {
  explicit KObject(ObjType t) : type(t) {}
  virtual ~KObject() = default;
  ObjType type;
};

struct EventObj : KObject {
  EventObj() : KObject(ObjType::Event) {}
  std::u16string name;
  bool manual = false;
  bool signalled = false;
  DWORD data = 0;
};

// Memory that processes share by name; it lasts while a handle or a view holds it.
struct SectionObj : KObject {
  SectionObj() : KObject(ObjType::Section) {}
  ~SectionObj() override;
  std::u16string name;
  size_t size = 0;
  void* memory = nullptr;  // zeroed pages, `size` rounded up to whole pages
  DWORD protect = 0;       // PAGE_READONLY or PAGE_READWRITE
};

// A mapped view of a section: its process and the section it keeps alive.
struct SectionView {
  std::shared_ptr<SectionObj> section;
  Process* process = nullptr;
  size_t offset = 0;
};

// Address space reserved with no access, made at the first use; given back with the device.
struct UnmappedRange {
  static constexpr size_t kSize = 1 << 20;
  void* base = nullptr;
  ~UnmappedRange();
  // Where `p` leads in a process that has not mapped it: inside the range, with room after it
  // for the members of any object of the system.
  void* foreign(const void* p);
};

struct ThreadObj : KObject {
  ThreadObj() : KObject(ObjType::Thread) {}
  Thread* thread = nullptr;  // owned by the scheduler; valid for the device's life
};

struct Process;

struct ProcessObj : KObject {
  ProcessObj() : KObject(ObjType::Process) {}
  Process* process = nullptr;  // owned by the device; valid for the device's life
};

// ---- Threads and processes ----------------------------------------------------------------

struct Window;

// A message sent to a window of another thread; the sender waits until it is handled.
struct SentMessage {
  Window* window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  LRESULT result = 0;
  bool done = false;
};

struct Thread {
  DWORD id = 0;
  Process* process = nullptr;
  std::string name;
  bool is_host = false;
  bool started = false;
  bool finished = false;
  DWORD exit_code = STILL_ACTIVE;
  DWORD last_error = 0;
  int priority = THREAD_PRIORITY_NORMAL;  // kept and reported; the scheduler is first-come

  // Waiting.
  std::function<bool()> wait_pred;
  std::string waits_on;  // what it waits for, as the pre-empting device's checks name it
  uint64_t deadline = kNever;
  bool timed_out = false;
  bool wake_when_idle = false;

  RingQueue<MSG> queue;              // the thread's message queue
  bool made_message_call = true;     // desktop Win32 gives a thread its queue at its first
  std::deque<SentMessage*> sent_in;  // sent to its windows by other threads, not yet handled
  std::shared_ptr<ThreadObj> object;
  std::function<DWORD()> body;
  Fiber fiber;  // the host's own stack for the host, one of its own for every other thread
};

struct PendingNotification {
  uint32_t notify_id;
  std::vector<BYTE> data;
  bool deleted = false;
};

struct Module;

struct Process {
  DWORD id = 0;
  std::string name;
  std::vector<Module*> modules;  // in load order
  Thread* notify_thread = nullptr;
  std::deque<PendingNotification> notifications;
  // A program started with CreateProcessW: it ends when its WinMain returns.
  std::shared_ptr<ProcessObj> object;
  bool ended = false;
  DWORD exit_code = STILL_ACTIVE;
  uintptr_t previous_foreground = 0;  // the top-level window in front when it started
};

struct Module {
  std::u16string name;    // as found in \Windows
  std::string host_path;  // its copy: a file of the device's folder, or /proc/PID/fd/N
  int memory = -1;        // the in-memory copy's descriptor, or -1 for a file
  void* dl = nullptr;
  int refs = 0;
  Process* process = nullptr;
  bool thread_calls = true;
  bool detached = false;  // its DllMain has seen the process detach
  uintptr_t handle = 0;
};

// ---- Windows -------------------------------------------------------------------------------

struct WindowClass {
  std::u16string name;
  WNDPROC proc = nullptr;
  Process* process = nullptr;
};

struct Window;

// What a dialog window holds beyond a window: its procedure and how it ended.
struct DialogState {
  DLGPROC proc = nullptr;
  bool ended = false;
  INT_PTR result = 0;
  bool message_box = false;
};

struct Window {
  uintptr_t handle = 0;
  std::u16string cls;
  std::u16string title;
  DWORD style = 0;
  DWORD ex_style = 0;
  LONG user_data = 0;
  LONG id = 0;
  WNDPROC proc = nullptr;
  Window* parent = nullptr;
  Window* owner = nullptr;        // a top-level window's owner (dialogs, menu bars)
  std::vector<Window*> children;  // front first
  RECT rect{};                    // screen coordinates
  Thread* thread = nullptr;       // the thread that created it and handles its messages
  SCROLLINFO bars[2]{};           // horizontal, vertical
  // What the screen shows of it beyond the above (see WindowView).
  int check = BST_UNCHECKED;
  bool done_button = false;
  std::vector<std::u16string> soft_keys;
  std::vector<BYTE> bitmap;
  std::vector<PaintedItem> painted;        // the paint in progress replaces it at EndPaint
  std::unique_ptr<DialogState> dialog;     // a dialog's, or null
  std::vector<UINT> soft_key_commands;     // a menu bar's, with its soft keys
  bool needs_paint = false;                // WM_PAINT is due when its thread's queue is empty
  std::map<std::u16string, HANDLE> props;  // SetPropW's, by name
};

// A timer of a window: WM_TIMER comes to the window's thread when it is due and its queue has
// nothing else to give.
struct Timer {
  Window* window = nullptr;
  UINT_PTR id = 0;
  UINT period = 0;
  uint64_t due = 0;
  TIMERPROC proc = nullptr;
};

// ---- Registry -------------------------------------------------------------------------------

struct RegValue {
  std::u16string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// The registry's names compare without regard to the case of A to Z.
inline char16_t fold_char(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// Orders names as their folded spellings order: the maps hold folded names, and any spelling of
// one finds it without a folded copy being made.
struct FoldedLess {
  using is_transparent = void;
  static char16_t fold(char16_t c) { return fold_char(c); }
  bool operator()(std::u16string_view a, std::u16string_view b) const {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
      if (fold(a[i]) != fold(b[i])) return fold(a[i]) < fold(b[i]);
    }
    return a.size() < b.size();
  }
};

struct RegKey {
  std::u16string name;
  std::string path;  // canonical, folded: "hklm\software\quob"
  RegKey* parent = nullptr;
  std::map<std::u16string, RegValue, FoldedLess> values;                  // by folded name
  std::map<std::u16string, std::unique_ptr<RegKey>, FoldedLess> subkeys;  // by folded name
};

// The open keys by handle, with what each was opened for. Few are open at once: a sorted array
// that keeps its room when keys close, so that opening and closing a key takes nothing from the
// heap.
struct OpenKey {
  uintptr_t handle;
  RegKey* key;
  REGSAM access;
};

class OpenKeys {
 public:
  size_t size() const { return keys_.size(); }
  const OpenKey* begin() const { return keys_.data(); }
  const OpenKey* end() const { return keys_.data() + keys_.size(); }

  void add(uintptr_t handle, RegKey* key, REGSAM access) {
    keys_.insert(lower(handle), OpenKey{handle, key, access});
  }
  const OpenKey* find(uintptr_t handle) const {
    auto it = const_cast<OpenKeys*>(this)->lower(handle);
    return it != keys_.end() && it->handle == handle ? &*it : nullptr;
  }
  bool erase(uintptr_t handle) {
    auto it = lower(handle);
    if (it == keys_.end() || it->handle != handle) return false;
    keys_.erase(it);
    return true;
  }
  void clear() { keys_.clear(); }

 private:
  std::vector<OpenKey>::iterator lower(uintptr_t handle) {
    return std::lower_bound(keys_.begin(), keys_.end(), handle,
                            [](const OpenKey& k, uintptr_t h) { return k.handle < h; });
  }

  std::vector<OpenKey> keys_;
};

struct Notification {
  uint32_t id = 0;
  Process* process = nullptr;
  std::string key_path;  // canonical, folded
  std::u16string value;  // folded
  REGISTRYNOTIFYCALLBACK callback = nullptr;
  DWORD user_data = 0;
  bool open = true;
};

// ---- Device manager --------------------------------------------------------------------------

using DriverDeinitFn = BOOL (*)(DWORD);

// A stream driver the device manager loaded and whose Init gave it a device context.
struct Driver {
  std::u16string key;     // its subkey of Drivers\BuiltIn
  std::u16string prefix;  // "" when its entry points carry none
  DWORD context = 0;
  DriverDeinitFn deinit = nullptr;  // null when the library has no Deinit
  HMODULE module = nullptr;         // the driver's own load of its library
};

// ---- Sound -----------------------------------------------------------------------------------

class AudioRecorder;

// ---- The device ---------------------------------------------------------------------------

// A pre-emption a test asked for: see Device::preempt_at.
struct Preemption {
  std::string call, process, thread;
  int remaining = 0;
  std::function<void()> action;
};

// A failure a test asked for: see Device::fail_call.
struct InjectedFault {
  std::string call;
  int remaining = 0;
  DWORD error = 0;
  std::string subject;  // folded: the registry key or value the calls must name; "" for any
};

class Schedule;

struct Device::Impl {
  explicit Impl(DeviceConfig c);

  std::vector<InjectedFault> faults;
  // True when this call of `call` (naming `subject`, folded, where the fault names one) is to
  // fail; the last error is then set.
  bool injected_failure(const char* call, const std::string& subject = "");

  std::vector<Preemption> preemptions;
  // Called at the start of each platform call that can be pre-empted.
  void preemption_point(const char* call);
  // The pre-empting schedule, while there is one (see device/preempt.hpp).
  std::shared_ptr<Schedule> schedule;
  // A point where the schedule may switch to another ready thread: a platform call from outside
  // the core, or a shared-word access of an instrumented build.
  void switch_point();

  DeviceConfig config;
  EventLog log;

  // Scheduler. Every device thread is a fiber on the host thread that made the device, so device
  // state is touched by one thread at a time: the one that holds the CPU (`running`).
  Thread* running = nullptr;
  std::deque<Thread*> ready;
  std::vector<Thread*> blocked;  // in the order they blocked
  std::vector<std::unique_ptr<Thread>> threads;
  uint64_t clock = 0;
  bool halting = false;
  bool booted = false;  // the boot registry has been laid down
  std::chrono::steady_clock::time_point wall_start;
  Thread* host = nullptr;
  // Hardware that raises interrupts at known times (the touch panel, timers): each reports the
  // time of its next event, so the clock can jump there.
  std::vector<std::function<uint64_t()>> hw_deadlines;

  std::vector<std::unique_ptr<Process>> processes;
  Process* host_process = nullptr;
  DWORD next_thread_id = 0x100;
  DWORD next_process_id = 0x10;

  // Handles: never reused, so a closed handle is always recognised.
  std::unordered_map<uintptr_t, std::shared_ptr<KObject>> handles;
  uintptr_t next_handle = 0x1000;
  std::map<std::u16string, std::weak_ptr<EventObj>> named_events;
  std::map<std::u16string, std::weak_ptr<SectionObj>> named_sections;
  std::multimap<uintptr_t, SectionView> views;  // by the address MapViewOfFile gave
  // Under the desktop address-space rule: where another process finds nothing (see
  // DeviceConfig::desktop_address_spaces).
  UnmappedRange unmapped;

  // Registry.
  std::map<std::string, std::unique_ptr<RegKey>> roots;  // "hklm", "hkcu", ...
  OpenKeys open_keys;
  std::map<uint32_t, Notification> notifications;
  uint32_t next_notify = 1;

  // Loader.
  std::vector<std::unique_ptr<Module>> modules;
  // Host folder for this device's copies of loaded modules, when they are files (else empty).
  std::string module_dir;
  int module_copies = 0;

  // Power, panel, window system.
  std::u16string power_name = u"on";
  DWORD power_flags = 0x00010000u;
  DWORD power_error = 0;
  std::deque<PanelSample> panel;
  std::vector<ReceivedSample> received;
  int display_angle = 0;  // degrees counterclockwise, as the last display change left it

  // Window system.
  std::map<uintptr_t, std::unique_ptr<Window>> windows;
  std::vector<Window*> top_levels;  // front first
  std::vector<WindowClass> classes;
  Window* foreground = nullptr;
  uintptr_t next_window = 0x20000;
  std::vector<Timer> timers;
  // Under the desktop timer rules: the procedures that timer messages name by their index.
  std::vector<TIMERPROC> timer_procs;

  // Sound: everything played, for the host's recording.
  std::shared_ptr<AudioRecorder> recorder;  // while the host records what is played

  // Device manager.
  std::vector<Driver> drivers;  // in load order
  int active_drivers = 0;       // Init calls so far: the number of the next Drivers\Active key
  bool devmgr_started = false;  // its boot drivers are loaded

  // -- scheduler --
  Thread* current() const;
  Thread* create_thread(Process* p, std::function<DWORD()> body, const std::string& name);
  // Gives up the CPU until pred() holds or the deadline passes; true if pred held. `what` names
  // the wait for the pre-empting device's checks.
  bool block(std::function<bool()> pred, uint64_t deadline, std::string what = "sleep");
  void host_wait(uint64_t deadline, bool until_idle);
  void switch_away(Thread* self);
  Thread* pick_next();
  // Moves every blocked thread whose wait is satisfied (every one while halting) to `ready`.
  void wake_satisfied();
  // Takes the next thread of `ready`: the first, or the schedule's choice.
  Thread* take_ready();
  void thread_main(Thread* t);
  void halt_all();

  // -- handles --
  HANDLE add_handle(std::shared_ptr<KObject> obj);
  std::shared_ptr<KObject> lookup(HANDLE h, const char* call);
  void bad_handle(const char* call, uintptr_t h);

  // -- processes --
  Process* create_process(const std::string& name);
  // Ends a program's process on its own main thread: its windows are destroyed, its classes
  // unregistered, and the window that was in front when it started comes back.
  void end_process(Process* p, DWORD code);
  Process* find_process(const std::string& name);

  // -- registry --
  RegKey* reg_root(HKEY h);
  RegKey* reg_resolve(HKEY h, LPCWSTR subkey, bool create, const char* call);
  // Under the desktop rules, whether a call through an open key lacks the access it needs (the
  // refusal is logged); a root key has every access.
  bool reg_access_refused(HKEY h, REGSAM needed, const char* call);
  RegKey* reg_walk(RegKey* base, std::u16string_view path, bool create);
  void reg_write(RegKey* key, const std::u16string& value, DWORD type, std::vector<BYTE> data,
                 bool quiet = false);
  bool reg_delete(RegKey* key, const std::u16string& value);
  void reg_notify(RegKey* key, const std::u16string& value, const RegValue* now);
  RegKey* reg_host_key(const std::string& path, bool create) const;

  // -- loader --
  void unload_all();
  // Once nothing of the device runs: every library is unmapped, newest first.
  void unmap_all();
  void detach(Module* mod, bool process_exit);
};

// Little-endian words of a file image (resources, sounds), read without alignment.
inline DWORD read32(const BYTE* p) {
  DWORD v;
  std::memcpy(&v, p, 4);
  return v;
}
inline WORD read16(const BYTE* p) {
  WORD v;
  std::memcpy(&v, p, 2);
  return v;
}

Device::Impl& impl();  // the current device; aborts if none

// The start of a platform call: `caller` is its return address. A pre-emption a test asked for
// may happen here, and the pre-empting schedule may switch threads unless the core itself made
// the call (its own state may be half changed then).
void call_point(const char* call, const void* caller);
#define DEVICE_CALL_POINT(call) ::dev::call_point(call, __builtin_return_address(0))
// A resource of a resource image (a compiled resource file's records): its data and size.
bool find_in_image(const BYTE* begin, const BYTE* end, LPCWSTR name, LPCWSTR type,
                   const BYTE** data, DWORD* size);
// The resource of a loaded module whose data hold an address: its data and size, and when `name`
// is given, "Module.dll:NAME" ("#n" for an ordinal), the name as the resource script spells it.
bool resource_holding(const void* address, const BYTE** data, DWORD* size,
                      std::string* name = nullptr);
bool have_device();
std::u16string fold(const std::u16string& s);
std::u16string fold(const WCHAR* s);
// A fault's subject as the faulty calls compare it: folded, and for RegCreateKeyExW a key path
// with its root spelled out.
std::string fault_subject(const std::string& call, const std::string& subject);

// A queued message stamped with the current tick count.
MSG queued_message(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The window of a handle, or null (with a bad-handle entry naming the call when `call` is set).
Window* window_of(HWND h, const char* call = nullptr);
// Handles messages sent to the calling thread's windows by other threads.
void handle_sent_messages(Thread* self);
// A due timer of the calling thread's windows that passes the filter, as a WM_TIMER message;
// `consume` starts the timer's next period.
bool take_due_timer(Thread* self, HWND hwnd, UINT lo, UINT hi, MSG* out, bool consume);
bool has_due_timer(const Thread* self, HWND hwnd, UINT lo, UINT hi);
// The time the next timer is due, for the clock.
uint64_t next_timer_due();

// A window as the log names it: its class and handle.
std::string window_name(const Window* w);

// The screen less the task bar at its top and the menu bar at its bottom, in the current
// orientation.
RECT work_area();

// The host file of a file in the device's \Windows folder (case ignored), or "" when there is
// none or the device was booted with it left out.
std::string windows_file(const std::u16string& name);

// ---- Window system internals shared by its files ----

// Registers the window system's own classes ("Dialog", "BUTTON", "STATIC", "menu_worker").
void register_system_classes();
// Logs what changed on a control of a dialog: `what` is "check", "text", "font" or "visible".
void log_control_change(const Window* control, const char* what, const Fields& value);
// What the default window procedure does with the window text messages (WM_NCCREATE,
// WM_SETTEXT, WM_GETTEXT, WM_GETTEXTLENGTH); *handled says whether `m` was one of them.
LRESULT default_text(Window* w, UINT m, WPARAM wp, LPARAM lp, bool* handled);
// True for a child window of a dialog.
bool is_dialog_control(const Window* w);
// Shifts a window and its children by (dx, dy) and gives it a new size.
void place_window(Window* w, const RECT& rect);
// The front-most visible top-level window owned (directly or not) by w, or w itself.
Window* last_active_popup(Window* w);
// A paint message for a window of the thread that needs one and passes the filter.
bool take_paint(Thread* self, HWND hwnd, UINT lo, UINT hi, MSG* out, bool consume);
// The stock object a handle names (WHITE_BRUSH...), or -1.
int stock_index(HGDIOBJ object);
// Height of the task bar and of the menu bar, and the caption height, in pixels.
int bar_height();
// Runs the calling thread's messages until the dialog has ended or is gone, or WM_QUIT comes
// (which is put back for the loop around it).
void modal_loop(HWND dialog);
// The window system's own class of dialogs and message boxes.
extern const char16_t kDialogClass[];
extern const char16_t kMenuBarClass[];
// Makes a dialog window from the window system's "Dialog" class, hidden; null on failure.
Window* create_dialog_window(DWORD ex_style, DWORD style, const std::u16string& caption,
                             const RECT& rect, HWND owner);
// Ends a dialog window made by create_dialog_window: it is destroyed, its end logged, and the
// window that was in front before it comes back.
void finish_dialog(HWND dialog, INT_PTR result, uintptr_t foreground_before);

// The window system's boot routine (gwes.exe main thread).
DWORD gwes_main();
// The device manager's boot routine (device.exe main thread).
DWORD devmgr_main();
// A debug-zone table's name.
std::u16string zones_name(const DBGPARAM* zones);
// Sets a debug-zone table's mask from HKEY_LOCAL_MACHINE\DebugZones, value named as the table;
// false (table unchanged) when there is no such DWORD.
bool zones_from_registry(DBGPARAM* zones);
// Gives a loaded library's exported zone table the mask the registry holds for it.
void set_zones(Module* mod);
// Delivers pending registry notifications of the calling thread's process.
DWORD notify_thread_main(Process* p);

}  // namespace dev
