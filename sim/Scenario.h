// Scenarios: what happens on the device, line by line, in a small text format.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Commands.h"
#include "device/device.hpp"

namespace sim {

// A pixel coordinate whose quarter-pixel form still fits a panel sample's 16 bits.
const int kMaxPanelCoord = 8191;

// When the device manager starts the broker.
enum class BrokerStart { kAtBoot, kLate, kOff };

struct Scenario {
  std::string file;  // for messages
  std::string dir;   // relative paths in the scenario are taken from here
  dev::Screen screen;
  uint32_t boot_tick = 0;
  bool install = true;  // boot with the gesture system installed
  // `preset`, `reg-delete-key`, `touch-driver` and `broker`, in order: applied once the registry
  // files are in, before any device process starts, so that the first settings loads see them.
  std::vector<Command> before_boot;
  BrokerStart broker = BrokerStart::kAtBoot;
  uint32_t broker_late_ms = 0;        // with BrokerStart::kLate, device time of its start
  std::vector<std::string> left_out;  // files of \Windows the device boots without
  std::vector<Command> commands;
  std::vector<std::string> warnings;  // "file:line: what", things that run but look unmeant
};

// A command that passed the checks but could not be carried out when its time came (a window
// that is gone, a class no window has): the run cannot go on as the scenario meant.
class CommandError : public std::runtime_error {
 public:
  CommandError(const std::string& file, int line, const std::string& reason);
};

// Reads a scenario line by line into checked commands. A command a program builds (the live
// device's) is checked as the same line of a file would be, in the place of the next line.
class ScenarioParser {
 public:
  ScenarioParser(std::string file, std::string dir);
  // Throws dev::InputError naming the file and line.
  void parse_line(std::string line);
  void parse_text(const std::string& text);
  // Takes `c` as the next line; a replay that carries its stroke is not read from its file.
  void add(Command c);
  // Counts a line that holds no command (a comment).
  void skip_line() { ++line_; }
  const Scenario& scenario() const { return s_; }
  int lines() const { return line_; }

 private:
  void take(int line, std::vector<std::string> words, const Command* built);
  Scenario s_;
  int line_ = 0;
  bool started_ = false;
  std::set<std::string> placed_;          // window labels placed so far
  std::map<std::string, int> destroyed_;  // and the line that destroyed each one that went
  std::set<std::string> given_;           // setup commands given at most once
};

// Parses and checks a scenario; throws dev::InputError naming file and line.
Scenario parse_scenario(const std::string& text, const std::string& file, const std::string& dir);
Scenario load_scenario(const std::string& path);

// A path named in a scenario: relative ones are taken from the scenario's folder.
std::string resolve_path(const std::string& dir, const std::string& path);

// Touch samples of generated strokes, in pixels; times in ms from the stroke's start.
struct StrokePoint {
  uint32_t t;
  int x;
  int y;
};

// A straight stroke from (x1, y1) to (x2, y2): pen-down, an optional rest in place, a move of
// `move_ms`, then pen-up, sampled at `rate_hz`.
std::vector<StrokePoint> straight_stroke(int x1, int y1, int x2, int y2, uint32_t move_ms,
                                         uint32_t rest_ms, uint32_t rate_hz);

// A stroke through several points (x1, y1, x2, y2, ...): straight segments between them, each
// with a sample at its ends, the move of `move_ms` shared out by the segments' lengths.
std::vector<StrokePoint> polyline_stroke(const std::vector<std::pair<int, int>>& points,
                                         uint32_t move_ms, uint32_t rest_ms, uint32_t rate_hz);

// Turns stroke points into panel samples (quarter pixels) starting at device time `start`; the
// first point is the pen-down and the pen-up follows the last point one sample period later.
// A finger landing `below` pixels under the stroke's start and settling on it within kLandingMs
// before the stroke itself: the landing's travel keeps a still rest that follows from being a
// press-and-hold, so the rest makes the engine pan.
const uint32_t kLandingMs = 20;
std::vector<StrokePoint> settled(const std::vector<StrokePoint>& stroke, int below);

std::vector<dev::PanelSample> to_panel(const std::vector<StrokePoint>& points, uint64_t start,
                                       uint32_t up_after_ms);

}  // namespace sim
