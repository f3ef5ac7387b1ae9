// A tab's worker: its live device, answering the server's requests one by one.
#pragma once

#include <string>

#include "Runner.h"
#include "Zygote.h"

namespace sim::serve {

// What every tab's session starts from.
struct SessionSetup {
  std::string base;  // the scenario's text; "" for the page's own start
  std::string file = "live.scn";
  std::string dir = ".";
  RunOptions options;
};

// Answers each request frame from `fd` until the socket ends: the frame's word names the
// operation (stroke, setting, window, program, reset, state, screen, kept, log), its body is the
// HTTP request's; the answer's word is the HTTP status, its body JSON (a PNG for the screen, the
// text of the kept scenario or log).
void serve_tab(int fd, const std::string& folder, const SessionSetup& setup);
// serve_tab with `setup`, whatever the kind asked for.
WorkerMain tab_worker(const SessionSetup& setup);

}  // namespace sim::serve
