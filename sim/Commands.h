// The commands of a scenario, each with its values read and checked: what the parser makes of a
// line, what the runner plays, and what the live device and the replays build. A command is
// written back as its scenario line by scenario_line(), which the parser reads to the same command.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "device/apps.hpp"

namespace sim {

struct RecordedStroke;

namespace cmd {

struct Point {
  int x = 0, y = 0;
  auto tie() const { return std::tie(x, y); }
};

// Where a stroke's finger rests, how fast the panel samples it, and how it lands.
struct StrokeOptions {
  std::optional<uint32_t> rest, rate, settle;
  auto tie() const { return std::tie(rest, rate, settle); }
};

// Setup: the screen, the tick count at boot, and whether the gesture system is installed. They
// set the scenario's own fields and are no commands of its run.
struct Screen {
  static constexpr const char* kVerb = "screen";
  int width = 0, height = 0;
  std::optional<int> dpi;
  auto tie() const { return std::tie(width, height, dpi); }
};
struct BootTick {
  static constexpr const char* kVerb = "boot-tick";
  uint32_t tick = 0;
  auto tie() const { return std::tie(tick); }
};
struct Install {
  static constexpr const char* kVerb = "install";
  bool on = true;
  auto tie() const { return std::tie(on); }
};

// A registry value: a DWORD or a string.
struct RegValue {
  std::string key, name;
  bool dword = true;
  uint32_t number = 0;
  std::string text;
  auto tie() const { return std::tie(key, name, dword, number, text); }
};
// `preset`: written before any device process starts.
struct Preset {
  static constexpr const char* kVerb = "preset";
  RegValue value;
  auto tie() const { return std::tie(value); }
};
struct RegDeleteKey {
  static constexpr const char* kVerb = "reg-delete-key";
  std::string key;
  auto tie() const { return std::tie(key); }
};
struct TouchDriver {
  static constexpr const char* kVerb = "touch-driver";
  std::string file;  // a file of \Windows
  auto tie() const { return std::tie(file); }
};
struct Broker {
  static constexpr const char* kVerb = "broker";
  bool off = false;      // not started at all
  uint32_t late_ms = 0;  // otherwise started this late
  auto tie() const { return std::tie(off, late_ms); }
};
// A platform call made to fail: the nth call naming `subject` (any, when empty).
struct Fail {
  static constexpr const char* kVerb = "fail";
  std::string call;
  int nth = 1;
  std::string subject;
  uint32_t error = 0;
  auto tie() const { return std::tie(call, nth, subject, error); }
};
struct LeaveOut {
  static constexpr const char* kVerb = "leave-out";
  std::string file;  // a file of \Windows the device boots without
  auto tie() const { return std::tie(file); }
};

// The run: registry changes, power, time and samples.
struct Boot {
  static constexpr const char* kVerb = "boot";
  auto tie() const { return std::tie(); }
};
struct RegFile {
  static constexpr const char* kVerb = "regfile";
  std::string file;  // as written
  std::string path;  // taken from the scenario's folder
  auto tie() const { return std::tie(file, path); }
};
struct Reg {
  static constexpr const char* kVerb = "reg";
  RegValue value;
  auto tie() const { return std::tie(value); }
};
struct RegDelete {
  static constexpr const char* kVerb = "reg-delete";
  std::string key, name;
  auto tie() const { return std::tie(key, name); }
};
struct Power {
  static constexpr const char* kVerb = "power";
  std::string device;
  uint32_t state = 0;
  std::optional<uint32_t> fail;
  auto tie() const { return std::tie(device, state, fail); }
};
struct Wait {
  static constexpr const char* kVerb = "wait";
  uint64_t ms = 0;
  auto tie() const { return std::tie(ms); }
};
// A raw panel sample: its flags and quarter-pixel position, as the panel's words carry them.
struct Sample {
  static constexpr const char* kVerb = "sample";
  uint32_t flags = 0;
  int32_t x = 0, y = 0;
  auto tie() const { return std::tie(flags, x, y); }
};
struct Note {
  static constexpr const char* kVerb = "note";
  std::string text;  // the words, one space between them
  auto tie() const { return std::tie(text); }
};
struct Expect {
  static constexpr const char* kVerb = "expect";
  std::string kind;  // of log entry
  uint32_t count = 0;
  auto tie() const { return std::tie(kind, count); }
};

// Strokes, in screen pixels of the orientation in force as each starts.
struct Tap {
  static constexpr const char* kVerb = "tap";
  Point at;
  std::optional<uint32_t> hold, rate;
  auto tie() const { return std::tie(at, hold, rate); }
};
struct Drag {
  static constexpr const char* kVerb = "drag";
  Point from, to;
  uint32_t ms = 0;
  StrokeOptions options;
  auto tie() const { return std::tie(from, to, ms, options); }
};
struct Flick {
  static constexpr const char* kVerb = "flick";
  Point from, to;
  uint32_t ms = 0;
  std::optional<uint32_t> rate;
  auto tie() const { return std::tie(from, to, ms, rate); }
};
struct Stroke {
  static constexpr const char* kVerb = "stroke";
  std::vector<Point> points;
  uint32_t ms = 0;
  StrokeOptions options;
  auto tie() const { return std::tie(points, ms, options); }
};
// A recorded stroke, read when the scenario is checked; in panel pixels.
struct Replay {
  static constexpr const char* kVerb = "replay";
  std::string file;  // as written
  std::shared_ptr<const RecordedStroke> stroke;
  std::optional<uint32_t> rate, native;
  auto tie() const { return std::tie(file, rate, native); }
};

// Pictures of the device at a moment of the run.
struct Screenshot {
  static constexpr const char* kVerb = "screenshot";
  std::string file;
  auto tie() const { return std::tie(file); }
};
struct Timeline {
  static constexpr const char* kVerb = "timeline";
  std::string file;
  auto tie() const { return std::tie(file); }
};
struct Picture {
  static constexpr const char* kVerb = "picture";
  std::string file;
  auto tie() const { return std::tie(file); }
};

// Stand-in applications' windows, each placed under a label.
struct Window {
  static constexpr const char* kVerb = "window";
  std::string label;
  std::string kind_name;  // as written
  dev::apps::Kind kind = dev::apps::Kind::Plain;
  int x = 0, y = 0, width = 0, height = 0;
  std::optional<std::string> parent, cls, title;
  std::optional<int> lines, page, pages, at;
  std::optional<bool> hidden, ink, no_zoom_store, refuses_close;
  auto tie() const {
    return std::tie(label, kind_name, kind, x, y, width, height, parent, cls, title, lines, page,
                    pages, at, hidden, ink, no_zoom_store, refuses_close);
  }
};
struct Foreground {
  static constexpr const char* kVerb = "foreground";
  std::string label;
  auto tie() const { return std::tie(label); }
};
struct Show {
  static constexpr const char* kVerb = "show";
  std::string label;
  auto tie() const { return std::tie(label); }
};
struct Hide {
  static constexpr const char* kVerb = "hide";
  std::string label;
  auto tie() const { return std::tie(label); }
};
struct Destroy {
  static constexpr const char* kVerb = "destroy";
  std::string label;
  auto tie() const { return std::tie(label); }
};
struct ExpectScroll {
  static constexpr const char* kVerb = "expect-scroll";
  std::string label;
  int pos = 0;
  auto tie() const { return std::tie(label, pos); }
};
// A window message: `window` is a label or class:NAME.
struct Message {
  std::string window;
  uint32_t msg = 0, wparam = 0, lparam = 0;
  auto tie() const { return std::tie(window, msg, wparam, lparam); }
};
struct Post : Message {
  static constexpr const char* kVerb = "post";
};
struct Send : Message {
  static constexpr const char* kVerb = "send";
};

// Programs and what a user does to their dialogs.
struct Start {
  static constexpr const char* kVerb = "start";
  std::string program;
  std::optional<std::string> command_line;
  auto tie() const { return std::tie(program, command_line); }
};
struct Tick {
  static constexpr const char* kVerb = "tick";
  std::string control;
  auto tie() const { return std::tie(control); }
};
struct Press {
  static constexpr const char* kVerb = "press";
  std::string key;
  auto tie() const { return std::tie(key); }
};
struct Answer {
  static constexpr const char* kVerb = "answer";
  auto tie() const { return std::tie(); }
};
struct Close {
  static constexpr const char* kVerb = "close";
  auto tie() const { return std::tie(); }
};
struct Help {
  static constexpr const char* kVerb = "help";
  auto tie() const { return std::tie(); }
};

template <typename T, typename = decltype(std::declval<const T&>().tie())>
bool operator==(const T& a, const T& b) {
  return a.tie() == b.tie();
}
template <typename T, typename = decltype(std::declval<const T&>().tie())>
bool operator!=(const T& a, const T& b) {
  return !(a == b);
}

using Kind = std::variant<Screen, BootTick, Install, Preset, RegDeleteKey, TouchDriver, Broker,
                          Fail, LeaveOut, Boot, RegFile, Reg, RegDelete, Power, Wait, Sample, Note,
                          Expect, Tap, Drag, Flick, Stroke, Replay, Screenshot, Timeline, Picture,
                          Window, Foreground, Show, Hide, Destroy, ExpectScroll, Post, Send, Start,
                          Tick, Press, Answer, Close, Help>;

// std::visit with one lambda per kind.
template <typename... F>
struct overloaded : F... {
  using F::operator()...;
};
template <typename... F>
overloaded(F...) -> overloaded<F...>;

}  // namespace cmd

struct Command {
  int line = 0;  // of the scenario
  cmd::Kind kind;
  bool operator==(const Command& o) const { return line == o.line && kind == o.kind; }
};

// The command's word: "tap", "reg".
std::string verb_of(const Command& c);

// The command's words as the parser reads them, its verb first, unquoted.
std::vector<std::string> command_words(const Command& c);

// The command as a line of a scenario file (without its newline), which parse_scenario reads to
// the same command: "tap 120 150 hold 300", "note \"two words\"".
std::string scenario_line(const Command& c);

// The points of a stroke command (tap, drag, flick, stroke) in screen pixels; none for others.
std::vector<cmd::Point> stroke_corners(const Command& c);

// What a stroke command draws, in words: "flick 120,200 to 120,140 in 150 ms",
// "tap 120,150 held 300 ms", "replay arrow01.xml".
std::string describe_stroke(const Command& c);

}  // namespace sim
