// Booting a device for a test, and reading its log.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Scenario.h"
#include "device/device.hpp"

namespace vt {

// File name on the device -> file name in the build's \Windows folder.
using WindowsFiles = std::vector<std::pair<std::string, std::string>>;

// The usual \Windows folder: the stock driver, its variants, and the two system libraries.
WindowsFiles standard_files();

struct BootOptions {
  WindowsFiles files = standard_files();
  bool install = true;  // the system's registry entries
  std::string reg;      // more .reg text, loaded after the others
  uint32_t boot_tick = 0;
  bool window_system = true;  // boot gwes.exe, which loads the touch driver
  bool desktop_thread_queues = false;
  dev::Screen screen;
};

class DeviceTest : public ::testing::Test {
 protected:
  void TearDown() override { Shutdown(); }
  // Shuts the device down and removes its folder.
  void Shutdown();

  // Boots a fresh device; the previous one, if any, is shut down first.
  void Boot(const BootOptions& options = {});

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

  std::unique_ptr<dev::Device> device;
  std::string windows_dir;
  std::string device_dir;  // the host folder that holds the device's \Windows folder
};

}  // namespace vt
