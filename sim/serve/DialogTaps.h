// Taps on the dialog in front. The device's window system takes no clicks from the panel, so a
// tap on a dialog's control or key reaches the dialog as the scenario's own verbs do it: the
// tap's samples, then a tick of the control or a press of the key, both kept in the scenario file.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "device/device.hpp"

namespace sim::serve {

struct DialogTarget {
  RECT rect{};      // screen pixels of the orientation in force
  Command command;  // what a tap there plays
};

// What can be tapped on the dialog in front of `view` (none when no dialog is in front): its
// visible buttons, its Done button at the task bar's right end, the soft keys of a menu bar.
std::vector<DialogTarget> dialog_targets(const dev::ScreenView& view);

// What a tap at (x, y) plays; none for a tap on no target.
std::optional<Command> dialog_command(const std::vector<DialogTarget>& targets, int x, int y);

}  // namespace sim::serve
