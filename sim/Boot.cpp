#include "Boot.h"

#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "Runner.h"

namespace sim {
namespace {

// The broker's entry in the device manager's boot drivers, as the installation writes it.
const char kBrokerKey[] = "HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Gesture";
const char kBrokerDll[] = "Quenza.dll";
const char kBrokerPrefix[] = "GES";
// The stock touch driver's name: the window system loads "DriverName"; installed, that is the
// proxy, which loads the one in "DriverName.bk".
const char kTouchKey[] = "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH";
const char kRotationKey[] = "HKEY_LOCAL_MACHINE\\System\\GDI\\Rotation";

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  return s;
}

}  // namespace

void check_setup(const Scenario& s, const std::string& windows_dir) {
  // The device's loader ignores case, as the platform's file system does.
  std::set<std::string> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(windows_dir, ec)) {
    if (entry.is_regular_file(ec)) files.insert(lower(entry.path().filename().string()));
  }
  auto missing = [&](const Command& c, const std::string& name) {
    throw dev::InputError(s.file, c.line,
                          "no file " + name + " in the \\Windows folder (" + windows_dir + ")");
  };
  for (const Command& c : s.before_boot) {
    if ((c.verb == "touch-driver" || c.verb == "leave-out") && !files.count(lower(c.args[0])))
      missing(c, c.args[0]);
  }
  // The help viewer is the device's own; every other program is a file of the folder.
  for (const Command& c : s.commands) {
    if (c.verb == "start" && lower(c.args[0]) != "peghelp.exe" && !files.count(lower(c.args[0])))
      missing(c, c.args[0]);
  }
}

void apply_setup(const Scenario& s, dev::Device& device) {
  for (const Command& c : s.before_boot) {
    const auto& a = c.args;
    if (c.verb == "preset" && a[2] == "dword") {
      device.reg_set_dword(
          a[0], a[1], static_cast<uint32_t>(number(c, 3, -2147483648LL, 0xFFFFFFFFLL, s.file)));
    } else if (c.verb == "preset") {
      device.reg_set_string(a[0], a[1], a[3]);
    } else if (c.verb == "reg-delete-key") {
      device.reg_delete_key(a[0]);
    } else if (c.verb == "touch-driver") {
      device.reg_set_string(kTouchKey, s.install ? "DriverName.bk" : "DriverName", a[0]);
    } else if (c.verb == "broker" && s.install) {
      device.reg_delete_key(kBrokerKey);
    } else if (c.verb == "fail") {
      Fault f = fault_of(c, s.file);
      device.fail_call(f.call, f.nth, f.error, f.subject);
    }
  }
}

DeviceClock::DeviceClock(const Scenario& s)
    : broker_due_(s.install && s.broker == BrokerStart::kLate),
      broker_at_(s.broker_late_ms),
      file_(s.file) {}

void DeviceClock::run_until(dev::Device& device, uint64_t t) {
  if (broker_due_ && broker_at_ <= t) {
    broker_due_ = false;
    device.run_until(broker_at_);
    if (!device.load_driver("Gesture", kBrokerDll, kBrokerPrefix)) {
      throw DeviceDownError(file_ + ": the broker did not start late as asked");
    }
  }
  device.run_until(t);
}

std::vector<StrokePoint> screen_to_panel(const Command& c, const std::string& file,
                                         dev::Device& device, std::vector<StrokePoint> points) {
  uint32_t angle = 0;
  if (!device.reg_get_dword(kRotationKey, "Angle", &angle)) angle = 0;
  const dev::Screen& panel = device.config().screen;
  bool turned = angle == 90 || angle == 270;
  // The proxy maps with the screen's size made to agree with the angle.
  int wide = std::max(panel.width, panel.height), narrow = std::min(panel.width, panel.height);
  int width = turned ? wide : panel.width, height = turned ? narrow : panel.height;
  for (size_t p = 0; p < stroke_points(c); ++p) {
    long long x = number(c, 2 * p, -kMaxPanelCoord, kMaxPanelCoord, file);
    long long y = number(c, 2 * p + 1, -kMaxPanelCoord, kMaxPanelCoord, file);
    if (x < 0 || y < 0 || x >= width || y >= height) {
      throw CommandError(file, c.line,
                         fmt::format("the point ({}, {}) is off the {}x{} screen of \"Angle\" {}",
                                     x, y, width, height, angle));
    }
  }
  for (StrokePoint& p : points) {
    int sx = p.x, sy = p.y;
    if (angle == 90) {  // screen (W - py, px)
      p.x = sy;
      p.y = width - sx;
    } else if (angle == 270) {  // screen (py, H - px)
      p.x = height - sy;
      p.y = sx;
    }
  }
  return points;
}

}  // namespace sim
