// Host side: what a user does to the dialogs on the screen. Each acts on the dialog in front
// (the front-most visible dialog or message box) the way a tap would, posting to its thread,
// then lets the device settle; it returns "" when done, or why it could not be done.
#pragma once

#include <string>

#include "device/device.hpp"

namespace dev::user {

// Starts a program of \Windows (or the help viewer) in a process of its own.
std::string start(Device& device, const std::string& program, const std::string& command_line = "");
// Taps a check box or button of the dialog in front, named by its id ("1000") or its text.
std::string tick(Device& device, const std::string& control);
// Presses the Done button of the dialog in front ("Done") or a soft key of its menu bar.
std::string press(Device& device, const std::string& key);
// Presses OK on the message box in front.
std::string answer(Device& device);
// Closes the dialog in front (WM_CLOSE), or asks it for help (WM_HELP).
std::string close(Device& device);
std::string help(Device& device);

}  // namespace dev::user
