// `vexori-sim compare-wine`: plays scenarios under Wine with the system built for desktop Win32
// and sets each stroke's outcome beside the simulator's. The simulator writes what the hosts play
// (run --wine-plan); desktop/wine/compare_wine.py of the source tree drives the Wine prefix, the
// hosts and the comparison. What it needs is checked first, each missing piece named.
#pragma once

#include <string>
#include <vector>

namespace sim {

struct WineCompareArgs {
  std::vector<std::string> files;
  bool tour = false;
  std::string windows;  // the desktop build's programs
  std::string wine;     // the Wine loader
  std::string markdown;
  bool keep_going = false;
};

// What compare-wine needs and did not find on this machine.
const int kExitUnavailable = 69;

int compare_wine_command(const WineCompareArgs& args);

}  // namespace sim
