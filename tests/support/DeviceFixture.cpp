#include "support/DeviceFixture.h"

#include <filesystem>
#include <fstream>

namespace vt {
namespace fs = std::filesystem;

WindowsFiles standard_files() {
  return {{"touch.dll", "touch.dll"},         {"touchalt.dll", "touchalt.dll"},
          {"touchbare.dll", "touchbare.dll"}, {"touchnoenable.dll", "touchnoenable.dll"},
          {"Pallux.dll", "Pallux.dll"},       {"Quenza.dll", "Quenza.dll"},
          {"Corvane.exe", "Corvane.exe"}};
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
  device->boot();
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

}  // namespace vt
