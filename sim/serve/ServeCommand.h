// The `serve` subcommand of vexori-sim.
#pragma once

#include <CLI/CLI.hpp>

#include "Runner.h"
#include "Server.h"

namespace sim::serve {

struct ServeArgs {
  std::string scenario;  // "" for the page's own start
  ServeOptions options;
  int idle_seconds = 600;
};

// Adds the subcommand's arguments and options to `cmd`.
void add_serve_options(CLI::App* cmd, ServeArgs& args);

// Checks the scenario, then serves until a signal ends the program; an exit code.
int serve_command(ServeArgs args, const RunOptions& options);

}  // namespace sim::serve
