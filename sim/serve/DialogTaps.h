// Taps on the dialog in front. The device's window system takes no clicks from the panel, so a
// tap on a dialog's control or key reaches the dialog as the scenario's own verbs do it: the
// tap's samples, then `tick CONTROL` or `press KEY`, both kept in the scenario file.
#pragma once

#include <string>
#include <vector>

#include "device/device.hpp"

namespace sim::serve {

struct DialogTarget {
  RECT rect{};       // screen pixels of the orientation in force
  std::string line;  // the scenario line a tap there plays
};

// What can be tapped on the dialog in front of `view` (none when no dialog is in front): its
// visible buttons, its Done button at the task bar's right end, the soft keys of a menu bar.
std::vector<DialogTarget> dialog_targets(const dev::ScreenView& view);

// The line a tap at (x, y) plays; "" for none.
std::string dialog_line(const std::vector<DialogTarget>& targets, int x, int y);

}  // namespace sim::serve
