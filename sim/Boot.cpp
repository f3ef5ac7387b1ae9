#include "Boot.h"

#include <fmt/format.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "Runner.h"
#include "device/file_stamp.hpp"

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

// The lower-case names of the regular files in `dir`. A replay checks the folder at every
// stroke, so the listing is kept with the folder's stamp, which changes whenever a name in it is
// added, removed or renamed, and listed again when the stamp is not the one kept.
std::set<std::string> folder_files(const std::string& dir) {
  static std::mutex lock;
  static std::map<std::string, std::pair<dev::FileStamp, std::set<std::string>>> kept;
  dev::FileStamp stamp;
  bool stamped = dev::file_stamp(dir, &stamp);
  std::lock_guard<std::mutex> hold(lock);
  auto it = kept.find(dir);
  if (stamped && it != kept.end() && it->second.first == stamp) return it->second.second;
  std::set<std::string> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    if (entry.is_regular_file(ec)) files.insert(lower(entry.path().filename().string()));
  }
  if (stamped) {
    kept[dir] = {stamp, files};
  } else {
    kept.erase(dir);
  }
  return files;
}

}  // namespace

void write_value(dev::Device& device, const cmd::RegValue& v) {
  if (v.dword) {
    device.reg_set_dword(v.key, v.name, v.number);
  } else {
    device.reg_set_string(v.key, v.name, v.text);
  }
}

void check_setup(const Scenario& s, const std::string& windows_dir) {
  // The device's loader ignores case, as the platform's file system does.
  const std::set<std::string> files = folder_files(windows_dir);
  auto missing = [&](const Command& c, const std::string& name) {
    throw dev::InputError(s.file, c.line,
                          "no file " + name + " in the \\Windows folder (" + windows_dir + ")");
  };
  auto need = [&](const Command& c, const std::string& name) {
    if (!files.count(lower(name))) missing(c, name);
  };
  for (const Command& c : s.before_boot) {
    if (auto k = std::get_if<cmd::TouchDriver>(&c.kind)) need(c, k->file);
    if (auto k = std::get_if<cmd::LeaveOut>(&c.kind)) need(c, k->file);
  }
  // The help viewer is the device's own; every other program is a file of the folder.
  for (const Command& c : s.commands) {
    auto k = std::get_if<cmd::Start>(&c.kind);
    if (k && lower(k->program) != "peghelp.exe") need(c, k->program);
  }
}

void apply_setup(const Scenario& s, dev::Device& device) {
  for (const Command& c : s.before_boot) {
    std::visit(cmd::overloaded{
                   [&](const cmd::Preset& k) { write_value(device, k.value); },
                   [&](const cmd::RegDeleteKey& k) { device.reg_delete_key(k.key); },
                   [&](const cmd::TouchDriver& k) {
                     device.reg_set_string(kTouchKey, s.install ? "DriverName.bk" : "DriverName",
                                           k.file);
                   },
                   [&](const cmd::Broker&) {
                     if (s.install) device.reg_delete_key(kBrokerKey);
                   },
                   [&](const cmd::Fail& k) { device.fail_call(k.call, k.nth, k.error, k.subject); },
                   [](const auto&) {},
               },
               c.kind);
  }
}

DeviceClock::DeviceClock(const Scenario& s)
    : broker_due_(s.install && s.broker == BrokerStart::kLate),
      broker_at_(s.broker_late_ms),
      file_(s.file) {}

void DeviceClock::frames(uint64_t from, uint32_t every_ms,
                         std::function<void(dev::Device&, uint64_t)> frame) {
  next_frame_ = from;
  frame_every_ = every_ms;
  frame_ = std::move(frame);
}

void DeviceClock::run_until(dev::Device& device, uint64_t t) {
  while (frame_ && frame_every_ > 0 && next_frame_ <= t) {
    if (next_frame_ >= device.now()) {
      run_plain(device, next_frame_);
      frame_(device, next_frame_);
    }
    next_frame_ += frame_every_;
  }
  run_plain(device, t);
}

void DeviceClock::run_plain(dev::Device& device, uint64_t t) {
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
  std::vector<cmd::Point> corners = stroke_corners(c);
  uint32_t angle = 0;
  if (!device.reg_get_dword(kRotationKey, "Angle", &angle)) angle = 0;
  const dev::Screen& panel = device.config().screen;
  bool turned = angle == 90 || angle == 270;
  // The proxy maps with the screen's size made to agree with the angle.
  int wide = std::max(panel.width, panel.height), narrow = std::min(panel.width, panel.height);
  int width = turned ? wide : panel.width, height = turned ? narrow : panel.height;
  for (const cmd::Point& corner : corners) {
    int x = corner.x, y = corner.y;
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
