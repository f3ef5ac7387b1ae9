// What the desktop hosts play under Wine for a scenario the simulator runs: the simulator reads
// the scenario as always, and the plan holds what came of it, each line at its device time: the
// panel samples the touch panel reported, the windows and what is done to them, the registry
// writes, and the program commands. Commands that need what only the simulated device has are
// named instead, with the reason.
//
// A line: a time in ms after the first timed line, or "setup" for what comes before anything
// moves (the scenario's lines up to its first wait or stroke: windows, registry values), then a
// scenario command as the parser reads it ("window list list 0 26 240 268 lines 400 page 12",
// "reg HKLM\Software\Quob\Gesture Activate dword 1", "start Corvane.exe"), or "sample FLAGS X Y"
// for a panel sample in quarter pixels (flags in hex), or "end" when the simulator's run ended.
// Lines starting "#" are comments: "# cannot play FILE:LINE: COMMAND: WHY".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Scenario.h"
#include "device/log.hpp"

namespace sim {

class WinePlan {
 public:
  explicit WinePlan(const Scenario& s);
  // Each command as the runner plays it (RunOptions::on_command).
  void command(const Command& c, uint64_t time);
  // Each log entry (RunOptions::live): the panel's samples.
  void entry(const dev::LogEntry& e);
  void finish(uint64_t end_time);
  std::string text() const;
  // "FILE:LINE: COMMAND: WHY" for each command the hosts cannot play.
  const std::vector<std::string>& unplayable() const { return unplayable_; }

 private:
  struct Line {
    bool setup = false;
    uint64_t time = 0;
    std::string text;
  };
  void cannot(const Command& c, const std::string& why);
  std::string file_;
  std::vector<Line> lines_;
  std::vector<std::string> unplayable_;
  bool timed_ = false;  // a sample or a later command has come: what follows is timed
  uint64_t first_ = 0;  // device time of the first command
  bool any_ = false;
  uint64_t end_ = 0;
};

}  // namespace sim
