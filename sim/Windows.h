// Scenario commands that put stand-in applications on the screen and change them.
#pragma once

#include <map>
#include <set>
#include <string>

#include "Scenario.h"
#include "device/apps.hpp"

namespace sim {

// True for the verbs of this file.
bool is_window_verb(const std::string& verb);
// The labels of a scenario's windows as its lines are checked: those placed, and the line that
// destroyed each one that went.
struct WindowLabels {
  std::set<std::string> placed;
  std::map<std::string, int> destroyed;
};
// Checks a window command's arguments and that it names only windows placed before it.
void check_window_command(const Command& c, const std::string& file, WindowLabels& labels);
// Carries out a window command on the device; `windows` maps labels to windows.
// Returns an unmet expectation as text, or "".
std::string run_window_command(const Command& c, const std::string& file, dev::Device& device,
                               std::map<std::string, HWND>& windows);

}  // namespace sim
