// Scenario commands that put stand-in applications on the screen and change them.
#pragma once

#include <map>
#include <string>

#include "Scenario.h"
#include "device/apps.hpp"

namespace sim {

// True for the commands of this file: window, foreground, show, hide, destroy, expect-scroll,
// post and send.
bool is_window_command(const Command& c);
// Carries out a window command on the device; `windows` maps labels to windows.
// Returns an unmet expectation as text, or "".
std::string run_window_command(const Command& c, const std::string& file, dev::Device& device,
                               std::map<std::string, HWND>& windows);

}  // namespace sim
