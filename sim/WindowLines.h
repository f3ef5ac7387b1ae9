// Reading the scenario commands that put stand-in applications' windows on the screen and
// change them: window, foreground, show, hide, destroy, expect-scroll, post and send.
#pragma once

#include <map>
#include <set>
#include <string>

#include "Commands.h"
#include "LineWords.h"

namespace sim {

bool is_window_verb(const std::string& verb);

// The checked command of a window line, which names only windows placed before it: `placed` are
// the labels placed so far, and `destroyed` the line that destroyed each one that went.
cmd::Kind parse_window_line(const Line& c, const std::string& file, std::set<std::string>& placed,
                            std::map<std::string, int>& destroyed);

}  // namespace sim
