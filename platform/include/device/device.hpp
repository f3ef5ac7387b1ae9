// Host side of the simulated device: boot it, move its clock, feed its touch panel, read its log.
//
// None of this is platform API; the system never includes it. The simulator, the tests, the
// benchmarks and the device's own stand-in drivers use it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "device/log.hpp"

namespace dev {

// A screen profile: the panel's native size in pixels (portrait) and its dots per inch.
struct Screen {
  int width = 240;
  int height = 320;
  int dpi = 96;
};

class Device;

// ---- What the screen shows, for pictures ------------------------------------------------------

// One thing a window's procedure drew between BeginPaint and EndPaint, in screen coordinates.
struct PaintedItem {
  enum Kind { kFill, kText, kLine };
  Kind kind = kFill;
  RECT rect{};                // kFill: the rectangle; kText: the text's origin in left and top
  uint32_t colour = 0;        // COLORREF of the brush (kFill), the text colour, the pen (kLine)
  std::string text;           // kText, UTF-8
  std::vector<POINT> points;  // kLine: the polyline
};

// A visible window as the screen shows it, with its visible children.
struct WindowView {
  uintptr_t handle = 0;
  std::string process;
  std::string cls;    // UTF-8
  std::string title;  // the window text (a control's label, a dialog's caption)
  uint32_t style = 0;
  uint32_t ex_style = 0;
  int id = 0;                          // a control's id
  RECT rect{};                         // screen coordinates
  SCROLLINFO hbar{}, vbar{};           // meaningful where the style has WS_HSCROLL / WS_VSCROLL
  int check = 0;                       // BST_UNCHECKED / BST_CHECKED of a check box
  bool done_button = false;            // a dialog the shell gave a Done button in its title bar
  std::vector<std::string> soft_keys;  // a menu bar's soft keys, left to right
  std::vector<uint8_t> bitmap;         // a bitmap control's packed DIB (from BITMAPINFOHEADER on)
  std::vector<PaintedItem> painted;    // what its last paint drew
  std::vector<WindowView> children;    // front first
};

struct ScreenView {
  int width = 0;  // in the current orientation
  int height = 0;
  int angle = 0;                    // degrees counterclockwise
  int dpi = 96;                     // the panel's dots per inch: what text and bars scale with
  RECT work_area{};                 // the screen less the task bar and the menu bar
  uintptr_t foreground = 0;         // handle of the foreground window, 0 if none
  std::vector<WindowView> windows;  // visible top-level windows, front first
};

struct DeviceConfig {
  Screen screen;
  uint32_t boot_tick = 0;              // GetTickCount at boot; may sit just below the wrap
  bool realtime = false;               // clock follows the wall clock instead of jumping
  std::string windows_dir;             // host folder that plays the device's \Windows folder
  std::vector<std::string> reg_files;  // .reg files loaded at boot, in order
  bool start_device_manager = true;    // boot device.exe, which loads the stream drivers
  bool start_window_system = true;     // boot gwes.exe, which loads the touch driver
  // PostThreadMessageW fails with ERROR_INVALID_THREAD_ID until the thread has made a message
  // call, as desktop Win32 documents; the phone's documentation names only an invalid thread id.
  bool desktop_thread_queues = false;
  // A timer message's lParam is a handle of the window system's for its procedure, not the
  // procedure's address (as Wine gives it), and DispatchMessageW calls only a procedure that a
  // SetTimer named (as desktop Win32 checks). The phone's documentation says lParam is the
  // procedure and is called as it stands.
  bool desktop_timer_handles = false;
  // A registry key keeps the access it was opened or created with: reading its values needs
  // KEY_QUERY_VALUE, writing or deleting them KEY_SET_VALUE, or the call fails with
  // ERROR_ACCESS_DENIED, as desktop Win32 checks. The phone's documentation says the access mask
  // is not supported and must be 0.
  bool desktop_registry_access = false;
  // A window gets the name it was created with only when WM_NCCREATE reaches DefWindowProcW;
  // SetWindowTextW sends WM_SETTEXT, and GetWindowTextW sends WM_GETTEXT to a window of the
  // caller's own process, as on desktop Win32 (FindWindowW compares the name kept). On the phone
  // the name is the window's whatever its procedure does.
  bool desktop_window_text = false;
  // A window with a frame is sent WM_NCPAINT when it is shown, and its frame is drawn only when
  // that reaches the default procedure (logged `frame-painted`), as on desktop Win32. On the
  // phone the shell draws a dialog's frame and caption itself.
  bool desktop_frames = false;
  // Each process has an address space of its own, as on desktop: a pointer that MapPtrToProcess
  // makes valid for other processes leads, in them, to memory that is not mapped, and reading
  // through it faults. The phone's processes share one address space, where it leads to the
  // memory itself.
  bool desktop_address_spaces = false;
  // Files of the Windows folder the device behaves as if they were not there (case ignored).
  std::vector<std::string> left_out;
  // Runs in boot() once the registry files are in and before any device process starts: what the
  // first settings loads are to see.
  std::function<void(Device&)> before_start;
};

// A raw touch sample as the panel reports it: flags, x and y in quarter pixels.
struct PanelSample {
  uint64_t time = 0;  // device time in ms since boot
  uint32_t flags = 0;
  int32_t x = 0;
  int32_t y = 0;
};

// A sample as the window system received it from its touch driver.
struct ReceivedSample {
  uint64_t time = 0;
  uint32_t flags = 0;
  int32_t x = 0;
  int32_t y = 0;
};

// Thrown by blocking calls on device threads while the device halts; the thread start routine
// catches it. Never seen by the host.
struct DeviceHalt {};

// A registry, .reg or scenario error: file, line and reason.
class InputError : public std::runtime_error {
 public:
  InputError(const std::string& file, int line, const std::string& reason);
  std::string file;
  int line;
  std::string reason;
};

class Device {
 public:
  explicit Device(DeviceConfig config);
  ~Device();  // halts every device thread, detaches and unloads every module
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Loads the registry files and starts the device's processes; runs until the device settles.
  void boot();

  // Runs the device for a span of device time (the host's own Sleep).
  void run_for(uint32_t ms);
  // Runs until device time reaches t (ms since boot); no-op if already past.
  void run_until(uint64_t t);
  // Runs until no device thread can make progress without the clock moving.
  void settle();

  uint64_t now() const;   // ms since boot
  uint32_t tick() const;  // GetTickCount
  const DeviceConfig& config() const;
  EventLog& log();

  // Touch panel: queue samples; the stock driver's sample thread plays them at their times.
  void queue_samples(const std::vector<PanelSample>& samples);
  size_t pending_samples() const;
  // What the window system has received from its touch driver so far.
  const std::vector<ReceivedSample>& received_samples() const;

  // Power manager state reported by GetSystemPowerState; error != 0 makes the call fail.
  void set_power_state(const std::u16string& name, uint32_t flags, uint32_t error = 0);

  // Registry access from outside the device (notifications fire as for any writer).
  void reg_set_dword(const std::string& key, const std::string& value, uint32_t data);
  void reg_set_string(const std::string& key, const std::string& value, const std::string& data);
  void reg_delete_value(const std::string& key, const std::string& value);
  // Deletes a key with its values and subkeys; false when there is no such key or it is a root.
  bool reg_delete_key(const std::string& key);
  bool reg_get_dword(const std::string& key, const std::string& value, uint32_t* data) const;
  void load_reg_file(const std::string& path);

  // Calls <prefix>_Deinit of the earliest loaded stream driver with that prefix (case ignored;
  // "" for entry points without one) with its device context, in device.exe, forgets the driver
  // and frees its load of the library (unloaded once no other driver or load keeps it), whatever
  // Deinit answered. False when no such driver is loaded, it has no Deinit, or Deinit returned
  // FALSE.
  bool deinit_driver(const std::string& prefix);
  // Has the device manager load a stream driver now as it loads those of its registry at boot
  // (`key` names it in the log as a key of Drivers\BuiltIn would): the library, then
  // <prefix>_Init in device.exe. False, with `driver-failed` logged, when that failed.
  bool load_driver(const std::string& key, const std::string& dll, const std::string& prefix);

  // Records everything sndPlaySoundW plays from now on into a WAV file (16-bit stereo at
  // 44100 Hz), each sound mixed in at the device time it started, written out as the device runs
  // so that nothing played is kept; false when the file cannot be made.
  bool record_audio(const std::string& path);
  // Ends the recording as long as the device has run and completes the file's header where the
  // file can seek; false when it could not be written whole or ran past what a WAV file holds.
  bool finish_audio();
  // What a WAV file's 32-bit sizes hold, in device time: about 6.7 hours.
  static const uint64_t kMaxAudioMs;

  // What the screen shows now: every visible window, front first.
  ScreenView screen() const;

  // Number of live kernel handles (events, threads, registry keys, notifications).
  size_t open_handles() const;

  // Pre-empts the device thread of `process` named `thread` as it makes its nth call (counting
  // from now) of the platform function `call`: `action` runs on that thread, which then lets
  // every other device thread run until all of them wait, before the call goes on. Any platform
  // call the system makes can be pre-empted so.
  void preempt_at(const std::string& call, const std::string& process, const std::string& thread,
                  int nth, std::function<void()> action = {});

  // Makes the nth call (counting from now, from any device thread) of the platform function
  // `call` fail as the platform fails it, with `error` as its last error (or its result, for the
  // registry calls). With a subject, only calls that name it count: a key path for
  // RegCreateKeyExW ("HKLM\Software\Quob\Gesture"), a value name for RegQueryValueExW. The calls
  // that can be made to fail so: CreateThread, RegCreateKeyExW, RegQueryValueExW,
  // SHCreateMenuBar, ChangeDisplaySettingsExW (which then returns DISP_CHANGE_FAILED) and
  // CreateEventW (a subject names the event).
  void fail_call(const std::string& call, int nth, uint32_t error, const std::string& subject = "");
  // The calls fail_call takes.
  static bool can_fail(const std::string& call);

  // Runs fn on the host thread as if it ran in the named device process (for tests that call
  // a module's exports the way that process would).
  void as_process(const std::string& process, const std::function<void()>& fn);

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// Reads and checks a .reg file whole without applying it; throws InputError as load_reg_file.
void check_reg_file(const std::string& path);

// A value line of a .reg file, with the key it comes under as the file spells it.
struct RegFileValue {
  int line = 0;
  std::string key, name;
  bool remove = false;  // "name"=-
  bool is_dword = false;
  uint32_t dword = 0;
  std::string text;  // a string value's
};
// The value lines of a .reg file in order, read and checked as load_reg_file does.
std::vector<RegFileValue> read_reg_file_values(const std::string& path);

// Removes the host folders of every device alive now, where the loader keeps their copies of
// libraries: for a program about to end on a signal, whose devices are never destroyed.
void remove_device_folders();

// Whether the loader's copies of libraries are made in memory (a memfd each, mapped through
// /proc/PID/fd/N): so where the host allows it, outside the sanitizers (whose reports name the
// mapped file) and unless VEXORI_DEVICE_FILES is set in the environment (a debugger then finds
// each copy's debug information through the device folder's .debug link).
bool module_copies_in_memory();

// The device that the calling thread belongs to; null when none is running.
Device* current_device();

// Names the calling device thread in the log.
void set_thread_name(const std::string& name);

// UTF-16 <-> UTF-8 helpers used across the device.
std::string to_utf8(const std::u16string& s);
std::string to_utf8(const WCHAR* s);
// Appends the UTF-8 of `s` to `out`; a surrogate without its pair becomes three bytes.
void append_utf8(std::string& out, std::u16string_view s);
std::u16string to_utf16(const std::string& s);
// The offset of the first byte that is not part of well-formed UTF-8, or std::string::npos.
size_t first_bad_utf8(const std::string& text);

}  // namespace dev
