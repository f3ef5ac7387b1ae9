// What a scenario sets up on the device around its boot, and where its strokes land on the panel.
#pragma once

#include <string>
#include <vector>

#include "Scenario.h"

namespace sim {

// The setup commands that name files of the device's \Windows folder (`touch-driver`) name files
// that are there; throws dev::InputError with the command's line otherwise.
void check_setup(const Scenario& s, const std::string& windows_dir);

// Applies the setup commands to the device's registry: for DeviceConfig::before_start.
void apply_setup(const Scenario& s, dev::Device& device);

// Writes a registry value of a `reg` or `preset` command.
void write_value(dev::Device& device, const cmd::RegValue& v);

// Runs the device up to device time t; a broker that starts late starts on the way, when its
// time comes.
class DeviceClock {
 public:
  explicit DeviceClock(const Scenario& s);
  void run_until(dev::Device& device, uint64_t t);
  // From device time `from` on, the device stops at every `every_ms` on the way and `frame` sees
  // it there (a picture of the screen as it moves); nothing else about the run changes.
  void frames(uint64_t from, uint32_t every_ms, std::function<void(dev::Device&, uint64_t)> frame);

 private:
  void run_plain(dev::Device& device, uint64_t t);
  bool broker_due_;
  uint64_t broker_at_;
  uint64_t next_frame_ = 0;
  uint32_t frame_every_ = 0;
  std::function<void(dev::Device&, uint64_t)> frame_;
  std::string file_;
};

// The points of a stroke command, in screen pixels of the orientation in force now, as panel
// pixels: the inverse of the touch driver proxy's mapping for the "Angle" the device's registry
// holds. Throws CommandError when a point the command names is off the screen of the moment.
std::vector<StrokePoint> screen_to_panel(const Command& c, const std::string& file,
                                         dev::Device& device, std::vector<StrokePoint> points);

}  // namespace sim
