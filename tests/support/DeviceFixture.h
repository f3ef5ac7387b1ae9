// Booting a device for a test, and reading its log.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Scenario.h"
#include "device/apps.hpp"
#include "device/device.hpp"

namespace vt {

// File name on the device -> file name in the build's \Windows folder.
using WindowsFiles = std::vector<std::pair<std::string, std::string>>;

// The usual \Windows folder: the stock driver, its variants, and the two system libraries.
WindowsFiles standard_files();
// The same, with the system's libraries and program built with the desktop layer's adaptations
// (the access its registry opens ask for, its windows' names, its dialogs' frames).
WindowsFiles layered_files();

extern const char kGestureKey[];   // HKEY_LOCAL_MACHINE\Software\Quob\Gesture
extern const char kRotationKey[];  // HKEY_LOCAL_MACHINE\System\GDI\Rotation
extern const char kGesturesOn[];   // .reg text that switches the gesture function on

// Samples as the window system received them, unchanged against those sent (times aside).
bool Unchanged(const std::vector<dev::ReceivedSample>& got,
               const std::vector<dev::PanelSample>& sent);

// One tick of the broker's timer as its engine reports it in the Verbose zone.
struct GestureTick {
  uint64_t time;
  unsigned behaviour;
  int momentum;
};

// A platform call made to fail from boot on, as Device::fail_call takes it.
struct FailingCall {
  std::string call;
  int nth;
  uint32_t error;
  std::string subject;
};

struct BootOptions;
// How a run treats what desktop Win32 and the phone do differently.
enum class Rules {
  kPhone,         // the device's own rules, the phone's
  kDesktop,       // the desktop rules of registry access, window text and frames, no layer
  kDesktopLayer,  // the same rules, with the system built with the desktop layer's adaptations
};
const char* RulesName(Rules rules);
// Sets the rules and the files they need into options.
void ApplyRules(Rules rules, BootOptions* options);

struct BootOptions {
  WindowsFiles files = standard_files();
  bool install = true;  // the system's registry entries
  std::string reg;      // more .reg text, loaded after the others
  uint32_t boot_tick = 0;
  bool window_system = true;  // boot gwes.exe, which loads the touch driver
  bool desktop_thread_queues = false;
  bool desktop_timer_handles = false;
  bool desktop_registry_access = false;
  bool desktop_window_text = false;
  bool desktop_frames = false;
  bool desktop_address_spaces = false;
  dev::Screen screen;
  std::vector<FailingCall> failing;
};

class DeviceTest : public ::testing::Test {
 protected:
  void TearDown() override { Shutdown(); }
  // Shuts the device down and removes its folder.
  void Shutdown();

  // Boots a fresh device; the previous one, if any, is shut down first.
  void Boot(const BootOptions& options = {});
  // Boots without the system's registry entries for an engine of the test program, forgetting the
  // engine and sound thread the last device's engine left behind.
  void BootForEngine(BootOptions options = {});

  std::vector<dev::LogEntry> Log(const std::string& kind) const;
  // Entries of a kind whose field `key` has the text `value`.
  std::vector<dev::LogEntry> Log(const std::string& kind, const std::string& key,
                                 const std::string& value) const;
  // The scrolling states the broker's event carried, "21" for running then ended.
  std::string ScrollStates() const;
  // Drops everything logged so far.
  void ClearLog() { device->log().clear(); }

  // Plays panel samples from now on and runs until they are all delivered.
  void Play(const std::vector<dev::PanelSample>& samples);
  // A straight stroke from now on, in pixels, sampled at 100 Hz.
  void Stroke(int x1, int y1, int x2, int y2, uint32_t move_ms, uint32_t rest_ms = 0);
  // Plays panel samples; what the window system received meanwhile.
  std::vector<dev::ReceivedSample> Received(const std::vector<dev::PanelSample>& samples);

  // A window of `kind` at (x, y) in its parent's client area, or on the screen.
  HWND Place(dev::apps::Kind kind, int x, int y, int w, int h, HWND parent = nullptr,
             int lines = 100, int page = 10);
  // The same, made the foreground window.
  HWND Front(dev::apps::Kind kind, int x, int y, int w, int h, int lines = 100, int page = 10);
  // Messages posted to a window (all when `msg` is empty).
  std::vector<dev::LogEntry> PostsTo(HWND window, const std::string& msg = "") const;
  std::vector<GestureTick> GestureTicks() const;

  std::unique_ptr<dev::Device> device;
  std::string windows_dir;
  std::string device_dir;  // the host folder that holds the device's \Windows folder
};

}  // namespace vt
