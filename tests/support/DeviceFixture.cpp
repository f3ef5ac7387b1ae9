#include "support/DeviceFixture.h"

#include <stdio.h>

#include <filesystem>
#include <fstream>

#include "gesture/Gestures.h"
#include "gesture/Sound.h"

namespace vt {
namespace fs = std::filesystem;

WindowsFiles standard_files() {
  return {{"touch.dll", "touch.dll"},         {"touchalt.dll", "touchalt.dll"},
          {"touchbare.dll", "touchbare.dll"}, {"touchnoenable.dll", "touchnoenable.dll"},
          {"Pallux.dll", "Pallux.dll"},       {"Quenza.dll", "Quenza.dll"},
          {"Corvane.exe", "Corvane.exe"}};
}

WindowsFiles layered_files() {
  WindowsFiles files = standard_files();
  for (auto& [name, built] : files) {
    if (name == "Pallux.dll") built = "palluxlayer.dll";
    if (name == "Quenza.dll") built = "quenzalayer.dll";
    if (name == "Corvane.exe") built = "corvanelayer.exe";
  }
  return files;
}

const char* RulesName(Rules rules) {
  switch (rules) {
    case Rules::kPhone:
      return "the phone's rules";
    case Rules::kDesktop:
      return "desktop rules without the layer";
    default:
      return "desktop rules with the layer";
  }
}

void ApplyRules(Rules rules, BootOptions* options) {
  bool desktop = rules != Rules::kPhone;
  options->desktop_registry_access = desktop;
  options->desktop_window_text = desktop;
  options->desktop_frames = desktop;
  options->files = rules == Rules::kDesktopLayer ? layered_files() : standard_files();
}

const char kGestureKey[] = "HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture";
const char kRotationKey[] = "HKEY_LOCAL_MACHINE\\System\\GDI\\Rotation";
const char kGesturesOn[] =
    "[HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture]\n\"Activate\"=dword:00000001\n";

bool Unchanged(const std::vector<dev::ReceivedSample>& got,
               const std::vector<dev::PanelSample>& sent) {
  if (got.size() != sent.size()) return false;
  for (size_t i = 0; i < got.size(); ++i) {
    if (got[i].flags != sent[i].flags || got[i].x != sent[i].x || got[i].y != sent[i].y)
      return false;
  }
  return true;
}

void DeviceTest::Shutdown() {
  device.reset();
  if (!device_dir.empty()) {
    std::error_code ec;
    fs::remove_all(device_dir, ec);
    device_dir.clear();
  }
}

void DeviceTest::Boot(const BootOptions& options) {
  Shutdown();
  static int count = 0;
  fs::path dir = fs::temp_directory_path() /
                 ("vexori-test-" + std::to_string(getpid()) + "-" + std::to_string(++count));
  fs::remove_all(dir);
  fs::create_directories(dir / "Windows");
  for (const auto& [name, built] : options.files) {
    fs::copy_file(fs::path(VEXORI_WINDOWS_DIR) / built, dir / "Windows" / name);
  }
  device_dir = dir.string();
  windows_dir = (dir / "Windows").string();

  dev::DeviceConfig config;
  config.screen = options.screen;
  config.boot_tick = options.boot_tick;
  config.windows_dir = windows_dir;
  config.start_window_system = options.window_system;
  config.desktop_thread_queues = options.desktop_thread_queues;
  config.desktop_timer_handles = options.desktop_timer_handles;
  config.desktop_registry_access = options.desktop_registry_access;
  config.desktop_window_text = options.desktop_window_text;
  config.desktop_frames = options.desktop_frames;
  config.desktop_address_spaces = options.desktop_address_spaces;
  config.reg_files.push_back(std::string(VEXORI_SOURCE_DIR) + "/platform/registry/device.reg");
  if (options.install) {
    config.reg_files.push_back(std::string(VEXORI_SOURCE_DIR) + "/install/vexori.reg");
  }
  if (!options.reg.empty()) {
    std::string path = (dir / "test.reg").string();
    std::ofstream(path) << options.reg;
    config.reg_files.push_back(path);
  }
  device = std::make_unique<dev::Device>(config);
  for (const FailingCall& f : options.failing) device->fail_call(f.call, f.nth, f.error, f.subject);
  device->boot();
}

void DeviceTest::BootForEngine(BootOptions options) {
  options.install = false;
  Boot(options);
  CurrentGestures = nullptr;
  Snd = SoundState{false, false, false, true, nullptr, nullptr, 0, 0, false};
}

std::vector<dev::LogEntry> DeviceTest::Log(const std::string& kind) const {
  return device->log().of_kind(kind);
}

std::vector<dev::LogEntry> DeviceTest::Log(const std::string& kind, const std::string& key,
                                           const std::string& value) const {
  std::vector<dev::LogEntry> out;
  for (const auto& e : device->log().entries()) {
    if (e.kind == kind && e.str(key) == value) out.push_back(e);
  }
  return out;
}

std::string DeviceTest::ScrollStates() const {
  std::string out;
  for (const auto& e : Log("event-data", "event", "InGestureScrolling"))
    out += std::to_string(e.num("data"));
  return out;
}

void DeviceTest::Play(const std::vector<dev::PanelSample>& samples) {
  device->queue_samples(samples);
  uint64_t last = device->now();
  for (const auto& s : samples) last = std::max(last, s.time);
  device->run_until(last);
  device->settle();
}

void DeviceTest::Stroke(int x1, int y1, int x2, int y2, uint32_t move_ms, uint32_t rest_ms) {
  Play(sim::to_panel(sim::straight_stroke(x1, y1, x2, y2, move_ms, rest_ms, 100), device->now(),
                     10));
}

std::vector<dev::ReceivedSample> DeviceTest::Received(
    const std::vector<dev::PanelSample>& samples) {
  size_t before = device->received_samples().size();
  Play(samples);
  const auto& all = device->received_samples();
  return {all.begin() + static_cast<long>(before), all.end()};
}

HWND DeviceTest::Place(dev::apps::Kind kind, int x, int y, int w, int h, HWND parent, int lines,
                       int page) {
  dev::apps::WindowSpec win;
  win.kind = kind;
  win.x = x, win.y = y, win.width = w, win.height = h;
  win.parent = parent, win.lines = lines, win.page = page;
  return dev::apps::place(*device, win);
}

HWND DeviceTest::Front(dev::apps::Kind kind, int x, int y, int w, int h, int lines, int page) {
  HWND window = Place(kind, x, y, w, h, nullptr, lines, page);
  dev::apps::set_foreground(*device, window);
  return window;
}

std::vector<dev::LogEntry> DeviceTest::PostsTo(HWND window, const std::string& msg) const {
  // The log names a window "class:handle".
  const std::string handle = ":" + dev::hex(reinterpret_cast<uintptr_t>(window));
  std::vector<dev::LogEntry> out;
  for (const auto& e : Log("post")) {
    const std::string name = e.str("window");
    if (name.size() >= handle.size() &&
        name.compare(name.size() - handle.size(), handle.size(), handle) == 0 &&
        (msg.empty() || e.str("msg") == msg))
      out.push_back(e);
  }
  return out;
}

std::vector<GestureTick> DeviceTest::GestureTicks() const {
  std::vector<GestureTick> out;
  for (const auto& e : Log("debug")) {
    GestureTick t{e.time, 0, 0};
    if (sscanf(e.str("text").c_str(), "Gesture tick: behaviour %u, momentum %d", &t.behaviour,
               &t.momentum) == 2)
      out.push_back(t);
  }
  return out;
}

}  // namespace vt
