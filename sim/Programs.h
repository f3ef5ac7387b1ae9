// Scenario commands that start programs and do what a user does to their dialogs.
#pragma once

#include <string>

#include "Scenario.h"

namespace sim {

// True for the commands of this file: start, tick, press, answer, close and help.
bool is_program_command(const Command& c);
// Carries out a program command on the device; throws CommandError when the screen does not
// show what it needs (no dialog open, no such control).
void run_program_command(const Command& c, const std::string& file, dev::Device& device);

}  // namespace sim
