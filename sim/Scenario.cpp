// Scenario parsing and stroke generation.
//
// A scenario is a text file, one command a line, '#' starts a comment. Setup commands come
// before anything happens on the device; the rest run in order against a time cursor that starts
// at boot and moves with `wait` and with each stroke. See docs/scenarios.md.
#include "Scenario.h"

#include <fmt/format.h>

#include <set>

#include "InputFiles.h"
#include "LineWords.h"
#include "OutputFile.h"
#include "Replay.h"
#include "WindowLines.h"
#include "draw/Canvas.h"

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

using namespace cmd;

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

// Commands that start programs and do what a user does to their dialogs: verb -> number of
// arguments, least and most.
const std::map<std::string, std::pair<size_t, size_t>> kProgramVerbs = {
    {"start", {1, 2}},  {"tick", {1, 1}},  {"press", {1, 1}},
    {"answer", {0, 0}}, {"close", {0, 0}}, {"help", {0, 0}}};

const std::vector<std::string> kDragOptions = {"rest", "rate", "settle"};
const size_t kMaxStrokeCorners = 131;

// The numbers of a stroke command before its options: X1 Y1 ... Xn Yn MS.
size_t stroke_numbers(const Line& c) {
  size_t n = 0;
  while (n < c.args.size() &&
         std::find(kDragOptions.begin(), kDragOptions.end(), c.args[n]) == kDragOptions.end())
    ++n;
  return n;
}

// The KEY argument of reg and reg-delete must start with a root the device knows.
void check_root(const Line& c, const std::string& file) {
  std::string root = c.args[0].substr(0, c.args[0].find('\\'));
  std::transform(root.begin(), root.end(), root.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
  for (const char* known : {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
                            "HKEY_USERS", "HKLM", "HKCU", "HKCR", "HKU"}) {
    if (root == known) return;
  }
  throw dev::InputError(file, c.line, "unknown registry root: " + root);
}

bool file_of_windows(const std::string& name) {
  return !name.empty() && name.find_first_of("/\\") == std::string::npos && name != "." &&
         name != "..";
}

Point point(const Line& c, size_t i, const std::string& file) {
  return {static_cast<int>(number(c, i, -kMaxPanelCoord, kMaxPanelCoord, file)),
          static_cast<int>(number(c, i + 1, -kMaxPanelCoord, kMaxPanelCoord, file))};
}

StrokeOptions stroke_options(const Line& c, size_t from, const std::string& file) {
  auto o = options(c, from, kDragOptions, file);
  return {option(o, "rest"), option(o, "rate"), option(o, "settle")};
}

RegValue reg_value(const Line& c, const std::string& file) {
  const auto& a = c.args;
  check_root(c, file);
  RegValue v;
  v.key = a[0];
  v.name = a[1];
  if (a[2] == "dword") {
    v.number = static_cast<uint32_t>(number(c, 3, -2147483648LL, 0xFFFFFFFFLL, file));
  } else if (a[2] == "string") {
    v.dword = false;
    v.text = a[3];
  } else {
    throw dev::InputError(file, c.line, c.verb + " takes KEY NAME dword N or KEY NAME string TEXT");
  }
  return v;
}

Fail fail_of(const Line& c, const std::string& file) {
  const auto& a = c.args;
  if (!dev::Device::can_fail(a[0]))
    throw dev::InputError(file, c.line,
                          "fail takes CreateThread, CreateEventW, RegCreateKeyExW, "
                          "RegQueryValueExW, SHCreateMenuBar or ChangeDisplaySettingsExW, not '" +
                              a[0] + "'");
  Fail f;
  f.call = a[0];
  f.nth = static_cast<int>(number(c, 1, 1, 1000000, file));
  size_t i = 2;
  if (i < a.size() && a[i] != "error") f.subject = a[i++];
  auto o = options(c, i, {"error"}, file);
  // Errors the platform gives for each: a key or value it may not touch, memory it cannot get.
  f.error = f.call == "RegCreateKeyExW" || f.call == "RegQueryValueExW" ? 5 : 8;
  if (o.count("error")) f.error = static_cast<uint32_t>(o["error"]);
  if (f.error == 0)
    throw dev::InputError(file, c.line, "a failing call needs an error other than 0");
  if (f.call == "RegCreateKeyExW" && !f.subject.empty())
    check_root({c.line, c.verb, {f.subject}}, file);
  return f;
}

// The commands of the table above, once their number of arguments is right.
Kind parse_command(const Line& c, const std::string& file) {
  const auto& a = c.args;
  const std::string& v = c.verb;
  if (v == "screen") {
    Screen k;
    k.width = static_cast<int>(number(c, 0, 16, 4096, file));
    k.height = static_cast<int>(number(c, 1, 16, 4096, file));
    // Sizes in the engine are inches times dots per inch: 0 would make every distance 0.
    if (options(c, 2, {"dpi"}, file).count("dpi"))
      k.dpi = static_cast<int>(number(c, 3, 1, 2400, file));
    return k;
  }
  if (v == "boot-tick") return BootTick{static_cast<uint32_t>(number(c, 0, 0, 0xFFFFFFFFLL, file))};
  if (v == "install") {
    if (a[0] != "on" && a[0] != "off")
      throw dev::InputError(file, c.line, "install takes on or off");
    return Install{a[0] == "on"};
  }
  if (v == "boot") return Boot{};
  if (v == "regfile") return RegFile{a[0], ""};
  if (v == "reg-delete") {
    check_root(c, file);
    return RegDelete{a[0], a[1]};
  }
  if (v == "reg-delete-key") {
    check_root(c, file);
    auto sep = a[0].find('\\');
    if (sep == std::string::npos || a[0].find_first_not_of('\\', sep) == std::string::npos)
      throw dev::InputError(file, c.line, "reg-delete-key cannot delete a registry root");
    return RegDeleteKey{a[0]};
  }
  if (v == "reg") return Reg{reg_value(c, file)};
  if (v == "preset") return Preset{reg_value(c, file)};
  if (v == "touch-driver") {
    if (!file_of_windows(a[0]))
      throw dev::InputError(file, c.line, "touch-driver takes the name of a file in \\Windows");
    return TouchDriver{a[0]};
  }
  if (v == "fail") return fail_of(c, file);
  if (v == "leave-out") {
    if (!file_of_windows(a[0]))
      throw dev::InputError(file, c.line, "leave-out takes the name of a file in \\Windows");
    return LeaveOut{a[0]};
  }
  if (v == "broker") {
    if (!(a.size() == 1 && a[0] == "off") && !(a.size() == 2 && a[0] == "late"))
      throw dev::InputError(file, c.line, "broker takes late MS or off");
    if (a.size() == 1) return Broker{true, 0};
    return Broker{false, static_cast<uint32_t>(number(c, 1, 0, 86400000, file))};
  }
  if (v == "stroke") {
    size_t n = stroke_numbers(c);
    if (n < 5 || n % 2 == 0)
      throw dev::InputError(file, c.line, "stroke takes X1 Y1 X2 Y2 [X3 Y3 ...] MS [options]");
    if ((n - 1) / 2 > kMaxStrokeCorners)
      throw dev::InputError(
          file, c.line, "a stroke has at most " + std::to_string(kMaxStrokeCorners) + " points");
    Stroke k;
    for (size_t i = 0; i + 1 < n; i += 2) k.points.push_back(point(c, i, file));
    k.ms = static_cast<uint32_t>(number(c, n - 1, 1, 600000, file));
    k.options = stroke_options(c, n, file);
    return k;
  }
  if (v == "power") {
    Power k;
    k.device = a[0];
    k.state = static_cast<uint32_t>(number(c, 1, 0, 0xFFFFFFFFLL, file));
    k.fail = option(options(c, 2, {"fail"}, file), "fail");
    return k;
  }
  if (v == "wait") return Wait{static_cast<uint64_t>(number(c, 0, 0, 86400000, file))};
  if (v == "sample") {
    Sample k;
    k.flags = static_cast<uint32_t>(number(c, 0, 0, 0xFFFFFFFFLL, file));
    Point p = point(c, 1, file);
    k.x = p.x;
    k.y = p.y;
    return k;
  }
  if (v == "tap") {
    Tap k;
    k.at = point(c, 0, file);
    auto o = options(c, 2, {"hold", "rate"}, file);
    k.hold = option(o, "hold");
    k.rate = option(o, "rate");
    return k;
  }
  if (v == "drag" || v == "flick") {
    Point from = point(c, 0, file), to = point(c, 2, file);
    auto ms = static_cast<uint32_t>(number(c, 4, 1, 600000, file));
    if (v == "drag") return Drag{from, to, ms, stroke_options(c, 5, file)};
    return Flick{from, to, ms, option(options(c, 5, {"rate"}, file), "rate")};
  }
  if (v == "replay") {
    if (a.size() != 1 && a.size() != 3 && a.size() != 5) {
      throw dev::InputError(file, c.line, "replay takes FILE [rate HZ] [native 1]");
    }
    auto o = options(c, 1, {"rate", "native"}, file);
    return Replay{a[0], nullptr, option(o, "rate"), option(o, "native")};
  }
  if (v == "screenshot" || v == "timeline" || v == "picture") {
    draw::Format format;
    if (!draw::format_of(a[0], &format))
      throw dev::InputError(file, c.line, c.verb + " takes FILE, a .png or .svg file");
    if (v == "screenshot") return Screenshot{a[0]};
    if (v == "timeline") return Timeline{a[0]};
    return Picture{a[0]};
  }
  if (v == "expect") {
    if (!dev::is_log_kind(a[0])) {
      throw dev::InputError(file, c.line, "the log has no entries of kind '" + a[0] + "'");
    }
    return Expect{a[0], static_cast<uint32_t>(number(c, 1, 0, 100000000, file))};
  }
  // note
  std::string text;
  for (const auto& w : a) text += (text.empty() ? "" : " ") + w;
  return Note{text};
}

// start PROGRAM [COMMAND_LINE] | tick CONTROL | press KEY | answer | close | help
Kind parse_program(const Line& c, const std::string& file) {
  const auto& [least, most] = kProgramVerbs.at(c.verb);
  const auto& a = c.args;
  if (a.size() < least || a.size() > most) {
    throw dev::InputError(file, c.line, "wrong number of arguments for " + c.verb);
  }
  if (c.verb == "start" && (a[0].empty() || a[0].find_first_of("/\\") != std::string::npos)) {
    throw dev::InputError(file, c.line, "start takes the name of a program in \\Windows");
  }
  if (!a.empty() && a[0].empty()) {
    throw dev::InputError(file, c.line, c.verb + " needs a name");
  }
  if (c.verb == "start") {
    Start k{a[0], std::nullopt};
    if (a.size() > 1) k.command_line = a[1];
    return k;
  }
  if (c.verb == "tick") return Tick{a[0]};
  if (c.verb == "press") return Press{a[0]};
  if (c.verb == "answer") return Answer{};
  if (c.verb == "close") return Close{};
  return Help{};
}

// A file a command names is checked with the scenario; its error also names the command's line.
template <typename Read>
auto named_by(int line, const std::string& file, Read read) {
  try {
    return read();
  } catch (const dev::InputError& e) {
    throw dev::InputError(e.file, e.line,
                          e.reason + " (named by " + file + ":" + std::to_string(line) + ")");
  }
}

// The gesture settings are all DWORD values: one written as a string is never read, and the
// setting keeps its default as if the line were not there.
std::string setting_warning(const Command& c, const std::string& file) {
  const RegValue* v = nullptr;
  if (auto r = std::get_if<Reg>(&c.kind)) v = &r->value;
  if (auto p = std::get_if<Preset>(&c.kind)) v = &p->value;
  if (v == nullptr || v->dword) return "";
  std::string key = v->key;
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
  while (!key.empty() && key.back() == '\\') key.pop_back();
  if (key.rfind("HKLM\\", 0) == 0) key = "HKEY_LOCAL_MACHINE" + key.substr(4);
  if (key != "HKEY_LOCAL_MACHINE\\SOFTWARE\\QUOB\\GESTURE") return "";
  return file + ":" + std::to_string(c.line) +
         ": warning: the gesture settings are DWORD values; " + v->name +
         " written as a string is not read";
}

// A stroke is drawn on the screen: a point beside it is a mistake in the scenario (raw `sample`
// lines, which take anything the panel's words carry, are how to send one on purpose). Which
// orientation is in force shows only when the stroke starts; here a point must lie on the screen
// in one of them.
void check_on_screen(const Command& c, const dev::Screen& screen, const std::string& file) {
  for (const Point& p : stroke_corners(c)) {
    bool portrait = p.x < screen.width && p.y < screen.height;
    bool turned = p.x < screen.height && p.y < screen.width;
    if (p.x < 0 || p.y < 0 || (!portrait && !turned)) {
      throw dev::InputError(
          file, c.line,
          fmt::format("the point ({}, {}) is off the {}x{} screen in either orientation", p.x, p.y,
                      screen.width, screen.height));
    }
  }
}

// Reads the files a command names, so that a run never stops half-way on one of them. A replay
// built with its stroke (`built`) has it already.
void read_named_files(Command& c, const Command* built, const std::string& file,
                      const std::string& dir) {
  if (auto r = std::get_if<Replay>(&c.kind)) {
    auto given = built ? std::get_if<Replay>(&built->kind) : nullptr;
    if (given && given->stroke) {
      r->stroke = given->stroke;
      return;
    }
    std::string path = resolve_path(dir, r->file);
    r->stroke = named_by(c.line, file, [&] {
      return std::make_shared<const RecordedStroke>(load_recorded_stroke(path));
    });
  } else if (auto f = std::get_if<RegFile>(&c.kind)) {
    f->path = resolve_path(dir, f->file);
    named_by(c.line, file, [&] { dev::check_reg_file(f->path); });
    note_input(f->path);
  }
}

}  // namespace

CommandError::CommandError(const std::string& file, int line, const std::string& reason)
    : std::runtime_error(file + ":" + std::to_string(line) + ": " + reason) {}

std::string resolve_path(const std::string& dir, const std::string& path) {
  std::filesystem::path p(path);
  if (p.is_relative() && !dir.empty()) p = std::filesystem::path(dir) / p;
  return p.string();
}

ScenarioParser::ScenarioParser(std::string file, std::string dir) {
  s_.file = std::move(file);
  s_.dir = std::move(dir);
}

void ScenarioParser::parse_line(std::string line) {
  int n = ++line_;
  // A byte-order mark some editors put first is no part of the text.
  if (n == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
  // The log carries notes and names as UTF-8; a stray byte would make it unreadable.
  if (first_bad_utf8(line) != std::string::npos)
    throw dev::InputError(s_.file, n, "not valid UTF-8");
  auto words = tokens(line, s_.file, n);
  if (!words.empty()) take(n, std::move(words), nullptr);
}

void ScenarioParser::add(Command c) {
  int n = ++line_;
  take(n, command_words(c), &c);
}

void ScenarioParser::take(int n, std::vector<std::string> words, const Command* built) {
  const std::string& file = s_.file;
  Line c{n, words[0], std::vector<std::string>(words.begin() + 1, words.end())};
  if (is_window_verb(c.verb)) {
    Kind k = parse_window_line(c, file, placed_, destroyed_);
    started_ = true;
    s_.commands.push_back({n, std::move(k)});
    return;
  }
  if (kProgramVerbs.count(c.verb)) {
    Kind k = parse_program(c, file);
    started_ = true;
    s_.commands.push_back({n, std::move(k)});
    return;
  }
  auto shape = kVerbs.find(c.verb);
  if (shape == kVerbs.end()) throw dev::InputError(file, n, "unknown command '" + c.verb + "'");
  if (c.args.size() < shape->second.min_args || c.args.size() > shape->second.max_args) {
    throw dev::InputError(file, n, "wrong number of arguments for " + c.verb);
  }
  if (shape->second.setup && started_) {
    throw dev::InputError(file, n, c.verb + " must come before the device starts");
  }
  Command command{n, parse_command(c, file)};
  check_on_screen(command, s_.screen, file);
  read_named_files(command, built, file, s_.dir);
  std::string warning = setting_warning(command, file);
  if (!warning.empty()) s_.warnings.push_back(warning);
  if (auto screen = std::get_if<Screen>(&command.kind)) {
    s_.screen.width = screen->width;
    s_.screen.height = screen->height;
    if (screen->dpi) s_.screen.dpi = *screen->dpi;
  } else if (auto tick = std::get_if<BootTick>(&command.kind)) {
    s_.boot_tick = tick->tick;
  } else if (auto install = std::get_if<Install>(&command.kind)) {
    s_.install = install->on;
  } else if (!shape->second.setup) {
    started_ = true;
    s_.commands.push_back(std::move(command));
  } else {
    bool once = std::holds_alternative<TouchDriver>(command.kind) ||
                std::holds_alternative<Broker>(command.kind);
    if (once && !given_.insert(c.verb).second)
      throw dev::InputError(file, n, c.verb + " is given twice");
    if (auto left = std::get_if<LeaveOut>(&command.kind)) s_.left_out.push_back(left->file);
    if (auto broker = std::get_if<Broker>(&command.kind)) {
      s_.broker = broker->off ? BrokerStart::kOff : BrokerStart::kLate;
      s_.broker_late_ms = broker->late_ms;
    }
    s_.before_boot.push_back(std::move(command));
  }
}

void ScenarioParser::parse_text(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) parse_line(std::move(line));
}

Scenario parse_scenario(const std::string& text, const std::string& file, const std::string& dir) {
  ScenarioParser parser(file, dir);
  parser.parse_text(text);
  return parser.scenario();
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
