// Scenario parsing and stroke generation.
//
// A scenario is a text file, one command a line, '#' starts a comment. Setup commands come
// before anything happens on the device; the rest run in order against a time cursor that starts
// at boot and moves with `wait` and with each stroke. See docs/scenarios.md.
#include "Scenario.h"

#include <fmt/format.h>

#include <set>

#include "InputFiles.h"
#include "OutputFile.h"
#include "Programs.h"
#include "Pictures.h"
#include "Replay.h"
#include "Windows.h"

#include <tchddi.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace sim {
namespace {

struct Shape {
  size_t min_args;
  size_t max_args;
  bool setup;  // only before the device does anything
};

const std::map<std::string, Shape> kVerbs = {
    {"screen", {2, 4, true}},         {"boot-tick", {1, 1, true}},    {"install", {1, 1, true}},
    {"boot", {0, 0, false}},          {"regfile", {1, 1, false}},     {"reg", {4, 4, false}},
    {"reg-delete", {2, 2, false}},    {"power", {2, 4, false}},       {"wait", {1, 1, false}},
    {"sample", {3, 3, false}},        {"tap", {2, 6, false}},         {"drag", {5, 11, false}},
    {"flick", {5, 7, false}},         {"replay", {1, 5, false}},      {"expect", {2, 2, false}},
    {"note", {1, 64, false}},         {"stroke", {5, 269, false}},    {"preset", {4, 4, true}},
    {"reg-delete-key", {1, 1, true}}, {"touch-driver", {1, 1, true}}, {"broker", {1, 2, true}},
    {"fail", {2, 5, true}},           {"leave-out", {1, 1, true}},    {"screenshot", {1, 1, false}},
    {"timeline", {1, 1, false}},      {"picture", {1, 1, false}},
};

const std::vector<std::string> kDragOptions = {"rest", "rate", "settle"};
const size_t kMaxStrokeCorners = 131;

// The numbers of a stroke command before its options: X1 Y1 ... Xn Yn MS.
size_t stroke_numbers(const Command& c) {
  size_t n = 0;
  while (n < c.args.size() &&
         std::find(kDragOptions.begin(), kDragOptions.end(), c.args[n]) == kDragOptions.end())
    ++n;
  return n;
}

std::vector<std::string> tokens(const std::string& line, const std::string& file, int n) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      size_t end = line.find('"', i + 1);
      if (end == std::string::npos) throw dev::InputError(file, n, "unterminated quoted text");
      out.push_back(line.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      size_t end = line.find_first_of(" \t\r#", i);
      if (end == std::string::npos) end = line.size();
      out.push_back(line.substr(i, end - i));
      i = end;
    }
  }
  return out;
}

}  // namespace

CommandError::CommandError(const std::string& file, int line, const std::string& reason)
    : std::runtime_error(file + ":" + std::to_string(line) + ": " + reason) {}

long long number(const Command& c, size_t i, long long lo, long long hi, const std::string& file) {
  const std::string& s = c.args.at(i);
  size_t used = 0;
  long long v = 0;
  // Decimal, or hexadecimal with 0x; a leading zero does not make a number octal.
  size_t sign = !s.empty() && (s[0] == '-' || s[0] == '+') ? 1 : 0;
  bool hex = s.compare(sign, 2, "0x") == 0 || s.compare(sign, 2, "0X") == 0;
  try {
    v = std::stoll(s, &used, hex ? 16 : 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != s.size() || s.empty()) {
    throw dev::InputError(
        file, c.line,
        "'" + s + "' is not a number (argument " + std::to_string(i + 1) + " of " + c.verb + ")");
  }
  if (v < lo || v > hi) {
    throw dev::InputError(file, c.line,
                          "'" + s + "' is out of range for " + c.verb + " (" + std::to_string(lo) +
                              " to " + std::to_string(hi) + ")");
  }
  return v;
}

// Options after the fixed arguments: "rest 600 rate 100".
std::map<std::string, long long> options(const Command& c, size_t from,
                                         const std::vector<std::string>& allowed,
                                         const std::string& file) {
  std::map<std::string, long long> out;
  for (size_t i = from; i < c.args.size(); i += 2) {
    const std::string& key = c.args[i];
    if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
      throw dev::InputError(file, c.line, "unknown option '" + key + "' for " + c.verb);
    }
    if (i + 1 >= c.args.size())
      throw dev::InputError(file, c.line, "option '" + key + "' needs a value");
    if (out.count(key)) throw dev::InputError(file, c.line, "option '" + key + "' is given twice");
    // A sample period is whole milliseconds: 1000 Hz is as fast as the panel goes.
    bool rate = key == "rate";
    out[key] = number(c, i + 1, rate ? 1 : 0, rate ? 1000 : 1000000, file);
  }
  return out;
}

// The KEY argument of reg and reg-delete must start with a root the device knows.
void check_root(const Command& c, const std::string& file) {
  std::string root = c.args[0].substr(0, c.args[0].find('\\'));
  std::transform(root.begin(), root.end(), root.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
  for (const char* known : {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
                            "HKEY_USERS", "HKLM", "HKCU", "HKCR", "HKU"}) {
    if (root == known) return;
  }
  throw dev::InputError(file, c.line, "unknown registry root: " + root);
}

Fault fault_of(const Command& c, const std::string& file) {
  Fault f;
  f.call = c.args[0];
  f.nth = static_cast<int>(number(c, 1, 1, 1000000, file));
  size_t i = 2;
  if (i < c.args.size() && c.args[i] != "error") f.subject = c.args[i++];
  auto o = options(c, i, {"error"}, file);
  // Errors the platform gives for each: a key or value it may not touch, memory it cannot get.
  f.error = f.call == "RegCreateKeyExW" || f.call == "RegQueryValueExW" ? 5 : 8;
  if (o.count("error")) f.error = static_cast<uint32_t>(o["error"]);
  if (f.error == 0)
    throw dev::InputError(file, c.line, "a failing call needs an error other than 0");
  return f;
}

void check_command(const Command& c, const std::string& file) {
  const auto& a = c.args;
  auto coords = [&](size_t first, size_t count) {
    for (size_t i = first; i < first + count; ++i)
      number(c, i, -kMaxPanelCoord, kMaxPanelCoord, file);
  };
  if (c.verb == "screen") {
    number(c, 0, 16, 4096, file);
    number(c, 1, 16, 4096, file);
    options(c, 2, {"dpi"}, file);
  } else if (c.verb == "boot-tick") {
    number(c, 0, 0, 0xFFFFFFFFLL, file);
  } else if (c.verb == "install") {
    if (a[0] != "on" && a[0] != "off")
      throw dev::InputError(file, c.line, "install takes on or off");
  } else if (c.verb == "reg-delete") {
    check_root(c, file);
  } else if (c.verb == "reg-delete-key") {
    check_root(c, file);
    auto sep = a[0].find('\\');
    if (sep == std::string::npos || a[0].find_first_not_of('\\', sep) == std::string::npos)
      throw dev::InputError(file, c.line, "reg-delete-key cannot delete a registry root");
  } else if (c.verb == "reg" || c.verb == "preset") {
    check_root(c, file);
    if (a[2] == "dword") {
      number(c, 3, -2147483648LL, 0xFFFFFFFFLL, file);
    } else if (a[2] != "string") {
      throw dev::InputError(file, c.line,
                            c.verb + " takes KEY NAME dword N or KEY NAME string TEXT");
    }
  } else if (c.verb == "touch-driver") {
    if (a[0].empty() || a[0].find_first_of("/\\") != std::string::npos || a[0] == "." ||
        a[0] == "..")
      throw dev::InputError(file, c.line, "touch-driver takes the name of a file in \\Windows");
  } else if (c.verb == "fail") {
    if (!dev::Device::can_fail(a[0]))
      throw dev::InputError(file, c.line,
                            "fail takes CreateThread, CreateEventW, RegCreateKeyExW, "
                            "RegQueryValueExW, SHCreateMenuBar or ChangeDisplaySettingsExW, not '" +
                                a[0] + "'");
    number(c, 1, 1, 1000000, file);
    Fault f = fault_of(c, file);
    if (a[0] == "RegCreateKeyExW" && !f.subject.empty()) {
      Command key = c;
      key.args = {f.subject};
      check_root(key, file);
    }
  } else if (c.verb == "leave-out") {
    if (a[0].empty() || a[0].find_first_of("/\\") != std::string::npos || a[0] == "." ||
        a[0] == "..")
      throw dev::InputError(file, c.line, "leave-out takes the name of a file in \\Windows");
  } else if (c.verb == "broker") {
    if (!(a.size() == 1 && a[0] == "off") && !(a.size() == 2 && a[0] == "late"))
      throw dev::InputError(file, c.line, "broker takes late MS or off");
    if (a.size() == 2) number(c, 1, 0, 86400000, file);
  } else if (c.verb == "stroke") {
    size_t n = stroke_numbers(c);
    if (n < 5 || n % 2 == 0)
      throw dev::InputError(file, c.line, "stroke takes X1 Y1 X2 Y2 [X3 Y3 ...] MS [options]");
    if ((n - 1) / 2 > kMaxStrokeCorners)
      throw dev::InputError(
          file, c.line, "a stroke has at most " + std::to_string(kMaxStrokeCorners) + " points");
    coords(0, n - 1);
    number(c, n - 1, 1, 600000, file);
    options(c, n, kDragOptions, file);
  } else if (c.verb == "power") {
    number(c, 1, 0, 0xFFFFFFFFLL, file);
    options(c, 2, {"fail"}, file);
  } else if (c.verb == "wait") {
    number(c, 0, 0, 86400000, file);
  } else if (c.verb == "sample") {
    number(c, 0, 0, 0xFFFFFFFFLL, file);
    coords(1, 2);
  } else if (c.verb == "tap") {
    coords(0, 2);
    options(c, 2, {"hold", "rate"}, file);
  } else if (c.verb == "drag" || c.verb == "flick") {
    coords(0, 4);
    number(c, 4, 1, 600000, file);
    options(c, 5, c.verb == "drag" ? kDragOptions : std::vector<std::string>{"rate"}, file);
  } else if (c.verb == "replay") {
    if (a.size() != 1 && a.size() != 3 && a.size() != 5) {
      throw dev::InputError(file, c.line, "replay takes FILE [rate HZ] [native 1]");
    }
    options(c, 1, {"rate", "native"}, file);
  } else if (is_picture_verb(c.verb)) {
    check_picture_command(c, file);
  } else if (c.verb == "expect") {
    if (!dev::is_log_kind(a[0])) {
      throw dev::InputError(file, c.line, "the log has no entries of kind '" + a[0] + "'");
    }
    number(c, 1, 0, 100000000, file);
  }
}

namespace {

// A file a command names is checked with the scenario; its error also names the command's line.
template <typename Read>
auto named_by(const Command& c, const std::string& file, Read read) {
  try {
    return read();
  } catch (const dev::InputError& e) {
    throw dev::InputError(e.file, e.line,
                          e.reason + " (named by " + file + ":" + std::to_string(c.line) + ")");
  }
}

// The gesture settings are all DWORD values: one written as a string is never read, and the
// setting keeps its default as if the line were not there.
std::string setting_warning(const Command& c, const std::string& file) {
  if ((c.verb != "reg" && c.verb != "preset") || c.args[2] != "string") return "";
  std::string key = c.args[0];
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
  while (!key.empty() && key.back() == '\\') key.pop_back();
  if (key.rfind("HKLM\\", 0) == 0) key = "HKEY_LOCAL_MACHINE" + key.substr(4);
  if (key != "HKEY_LOCAL_MACHINE\\SOFTWARE\\QUOB\\GESTURE") return "";
  return file + ":" + std::to_string(c.line) +
         ": warning: the gesture settings are DWORD values; " + c.args[1] +
         " written as a string is not read";
}

// A stroke is drawn on the screen: a point beside it is a mistake in the scenario (raw `sample`
// lines, which take anything the panel's words carry, are how to send one on purpose). Which
// orientation is in force shows only when the stroke starts; here a point must lie on the screen
// in one of them.
void check_on_screen(const Command& c, const dev::Screen& screen, const std::string& file) {
  size_t points = stroke_points(c);
  for (size_t p = 0; p < points; ++p) {
    long long x = number(c, 2 * p, -kMaxPanelCoord, kMaxPanelCoord, file);
    long long y = number(c, 2 * p + 1, -kMaxPanelCoord, kMaxPanelCoord, file);
    bool portrait = x < screen.width && y < screen.height;
    bool turned = x < screen.height && y < screen.width;
    if (x < 0 || y < 0 || (!portrait && !turned)) {
      throw dev::InputError(
          file, c.line,
          fmt::format("the point ({}, {}) is off the {}x{} screen in either orientation", x, y,
                      screen.width, screen.height));
    }
  }
}

// Reads the files a command names, so that a run never stops half-way on one of them.
void read_named_files(Command& c, const std::string& file, const std::string& dir) {
  if (c.verb == "replay") {
    std::string path = resolve_path(dir, c.args[0]);
    c.stroke = named_by(c, file, [&] {
      return std::make_shared<const RecordedStroke>(load_recorded_stroke(path));
    });
  } else if (c.verb == "regfile") {
    std::string path = resolve_path(dir, c.args[0]);
    named_by(c, file, [&] { dev::check_reg_file(path); });
    note_input(path);
  }
}

}  // namespace

size_t stroke_points(const Command& c) {
  if (c.verb == "tap") return 1;
  if (c.verb == "drag" || c.verb == "flick") return 2;
  if (c.verb == "stroke") return (stroke_numbers(c) - 1) / 2;
  return 0;
}

std::string describe_stroke(const Command& c) {
  const auto& a = c.args;
  if (c.verb == "replay") return "replay " + std::filesystem::path(a[0]).filename().string();
  size_t n = stroke_points(c);
  std::string out = c.verb;
  for (size_t p = 0; p < n; ++p) out += (p == 0 ? " " : " to ") + a[2 * p] + "," + a[2 * p + 1];
  size_t after = 2 * n;
  if (c.verb != "tap") out += " in " + a[after++] + " ms";
  // The options that change what a person would see the finger do.
  for (size_t i = after; i + 1 < a.size(); i += 2) {
    if (a[i] == "hold") out += " held " + a[i + 1] + " ms";
    if (a[i] == "rest") out += " after a " + a[i + 1] + " ms rest";
    if (a[i] == "settle") out += " settled from " + a[i + 1] + " px below";
  }
  return out;
}

std::string resolve_path(const std::string& dir, const std::string& path) {
  std::filesystem::path p(path);
  if (p.is_relative() && !dir.empty()) p = std::filesystem::path(dir) / p;
  return p.string();
}

Scenario parse_scenario(const std::string& text, const std::string& file, const std::string& dir) {
  Scenario s;
  s.file = file;
  s.dir = dir;
  std::istringstream in(text);
  std::string line;
  int n = 0;
  bool started = false;
  WindowLabels labels;          // windows placed so far
  std::set<std::string> given;  // setup commands given at most once
  while (std::getline(in, line)) {
    ++n;
    // A byte-order mark some editors put first is no part of the text.
    if (n == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    // The log carries notes and names as UTF-8; a stray byte would make it unreadable.
    if (first_bad_utf8(line) != std::string::npos)
      throw dev::InputError(file, n, "not valid UTF-8");
    auto words = tokens(line, file, n);
    if (words.empty()) continue;
    Command c;
    c.line = n;
    c.verb = words[0];
    c.args.assign(words.begin() + 1, words.end());
    if (is_window_verb(c.verb)) {
      check_window_command(c, file, labels);
      started = true;
      s.commands.push_back(c);
      continue;
    }
    if (is_program_verb(c.verb)) {
      check_program_command(c, file);
      started = true;
      s.commands.push_back(c);
      continue;
    }
    auto shape = kVerbs.find(c.verb);
    if (shape == kVerbs.end()) throw dev::InputError(file, n, "unknown command '" + c.verb + "'");
    if (c.args.size() < shape->second.min_args || c.args.size() > shape->second.max_args) {
      throw dev::InputError(file, n, "wrong number of arguments for " + c.verb);
    }
    if (shape->second.setup && started) {
      throw dev::InputError(file, n, c.verb + " must come before the device starts");
    }
    check_command(c, file);
    check_on_screen(c, s.screen, file);
    read_named_files(c, file, dir);
    std::string warning = setting_warning(c, file);
    if (!warning.empty()) s.warnings.push_back(warning);
    if (c.verb == "screen") {
      s.screen.width = static_cast<int>(number(c, 0, 16, 4096, file));
      s.screen.height = static_cast<int>(number(c, 1, 16, 4096, file));
      auto opt = options(c, 2, {"dpi"}, file);
      // Sizes in the engine are inches times dots per inch: 0 would make every distance 0.
      if (opt.count("dpi")) s.screen.dpi = static_cast<int>(number(c, 3, 1, 2400, file));
    } else if (c.verb == "boot-tick") {
      s.boot_tick = static_cast<uint32_t>(number(c, 0, 0, 0xFFFFFFFFLL, file));
    } else if (c.verb == "install") {
      s.install = c.args[0] == "on";
    } else if (!shape->second.setup) {
      started = true;
      s.commands.push_back(c);
    } else {
      if ((c.verb == "touch-driver" || c.verb == "broker") && !given.insert(c.verb).second)
        throw dev::InputError(file, n, c.verb + " is given twice");
      s.before_boot.push_back(c);
      if (c.verb == "leave-out") s.left_out.push_back(c.args[0]);
      if (c.verb != "broker") continue;
      if (c.args[0] == "off") {
        s.broker = BrokerStart::kOff;
      } else {
        s.broker = BrokerStart::kLate;
        s.broker_late_ms = static_cast<uint32_t>(number(c, 1, 0, 86400000, file));
      }
    }
  }
  return s;
}

Scenario load_scenario(const std::string& path) {
  // One from standard input names its files from the current folder.
  return parse_scenario(read_input_file(path, "scenario"), input_name(path),
                        std::filesystem::path(path).parent_path().string());
}

std::vector<StrokePoint> straight_stroke(int x1, int y1, int x2, int y2, uint32_t move_ms,
                                         uint32_t rest_ms, uint32_t rate_hz) {
  uint32_t period = std::max<uint32_t>(1, 1000 / std::max<uint32_t>(1, rate_hz));
  std::vector<StrokePoint> pts;
  uint32_t t = 0;
  for (; t < rest_ms; t += period) pts.push_back({t, x1, y1});
  uint32_t steps = std::max<uint32_t>(1, move_ms / period);
  for (uint32_t k = 0; k <= steps; ++k) {
    double f = static_cast<double>(k) / steps;
    // 64-bit: k * move_ms passes 2^32 in a move of a little over a minute at 1000 Hz.
    auto at = static_cast<uint32_t>(uint64_t{k} * move_ms / steps);
    pts.push_back({rest_ms + at, x1 + static_cast<int>(std::lround((x2 - x1) * f)),
                   y1 + static_cast<int>(std::lround((y2 - y1) * f))});
  }
  return pts;
}

std::vector<StrokePoint> polyline_stroke(const std::vector<std::pair<int, int>>& points,
                                         uint32_t move_ms, uint32_t rest_ms, uint32_t rate_hz) {
  std::vector<double> lengths;
  double total = 0;
  for (size_t i = 1; i < points.size(); ++i) {
    lengths.push_back(
        std::hypot(points[i].first - points[i - 1].first, points[i].second - points[i - 1].second));
    total += lengths.back();
  }
  std::vector<StrokePoint> pts;
  double done = 0;
  uint32_t start = rest_ms;
  for (size_t i = 1; i < points.size(); ++i) {
    // Cumulative, so that the segments' times add up to the whole move.
    done += total > 0 ? lengths[i - 1] : 1;
    auto end = rest_ms + static_cast<uint32_t>(
                             std::lround(move_ms * done / (total > 0 ? total : lengths.size())));
    auto& [x1, y1] = points[i - 1];
    auto& [x2, y2] = points[i];
    auto segment = straight_stroke(x1, y1, x2, y2, end - start, i == 1 ? rest_ms : 0, rate_hz);
    for (size_t k = i == 1 ? 0 : 1; k < segment.size(); ++k) {
      StrokePoint p = segment[k];
      if (i > 1) p.t += start;
      pts.push_back(p);
    }
    start = end;
  }
  return pts;
}

std::vector<StrokePoint> settled(const std::vector<StrokePoint>& stroke, int below) {
  if (stroke.empty()) return stroke;
  const StrokePoint& start = stroke.front();
  std::vector<StrokePoint> out = {{0, start.x, start.y + below},
                                  {kLandingMs / 2, start.x, start.y + below / 2}};
  for (const StrokePoint& p : stroke) out.push_back({p.t + kLandingMs, p.x, p.y});
  return out;
}

std::vector<dev::PanelSample> to_panel(const std::vector<StrokePoint>& points, uint64_t start,
                                       uint32_t up_after_ms) {
  std::vector<dev::PanelSample> out;
  for (size_t i = 0; i < points.size(); ++i) {
    uint32_t flags = TouchSampleValidFlag | TouchSampleDownFlag;
    if (i > 0) flags |= TouchSamplePreviousDownFlag;
    out.push_back({start + points[i].t, flags, points[i].x * 4, points[i].y * 4});
  }
  if (!points.empty()) {
    const StrokePoint& last = points.back();
    out.push_back({start + last.t + up_after_ms, TouchSampleValidFlag | TouchSamplePreviousDownFlag,
                   last.x * 4, last.y * 4});
  }
  return out;
}

}  // namespace sim
