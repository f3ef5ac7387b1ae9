// `vexori-sim serve`: the page and its HTTP API over the tabs' live devices.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "TabWorker.h"
#include "Zygote.h"

namespace sim::serve {

struct ServeOptions {
  std::string bind = "127.0.0.1";  // loopback unless told otherwise
  int port = 8642;                 // 0: any free port
  size_t max_tabs = 4;
  std::chrono::milliseconds idle{std::chrono::minutes(10)};
  SessionSetup setup;
  // Where the tabs' workers are forked from, and their kind: when none is given, serve() starts
  // one of serve_tab workers with `setup` before any thread of its own.
  Zygote* zygote = nullptr;
  std::string worker_kind = "tab";
};

// The largest request body taken: a stroke of the most points with room to spare; a dropped
// stroke file may be as long as kMaxStrokeFileBytes.
const size_t kMaxRequestBytes = 256 * 1024;

// Serves until stop_serving() or a signal ends the program; `listening` is told the port once it
// listens. Returns false, with why, when it cannot listen.
bool serve(const ServeOptions& options, const std::function<void(int port)>& listening,
           std::string* why);
// Makes a running serve() return (from another thread).
void stop_serving();

// The page, as compiled in.
const char* page_html();

}  // namespace sim::serve
