#include "ServeCommand.h"

#include <filesystem>
#include <iostream>

#include "InputFiles.h"
#include "Scenario.h"

namespace sim::serve {

void add_serve_options(CLI::App* cmd, ServeArgs& a) {
  cmd->add_option("scenario", a.scenario,
                  "the scenario each tab's device starts from (default: a long list in front, "
                  "the gesture function on)")
      ->type_name("SCENARIO");
  cmd->add_option("--port", a.options.port,
                  "the port to listen on; 0 for any free one (default 8642)")
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw)
      ->check(CLI::Range(0, 65535));
  cmd->add_option("--bind", a.options.bind,
                  "the address to listen on (default 127.0.0.1: only this machine)")
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  cmd->add_option("--tabs", a.options.max_tabs, "how many tabs get a device at once (default 4)")
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw)
      ->check(CLI::Range(1, 64));
  cmd->add_option("--idle", a.idle_seconds,
                  "seconds after which a tab nobody uses is ended with its device (default 600)")
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw)
      ->check(CLI::Range(1, 86400));
}

int serve_command(ServeArgs a, const RunOptions& options) {
  SessionSetup& setup = a.options.setup;
  setup.options = options;
  if (!a.scenario.empty()) {
    // Checked whole before anything listens, as `run` checks it.
    setup.base = read_input_file(a.scenario, "scenario");
    setup.file = a.scenario;
    setup.dir = std::filesystem::path(a.scenario).parent_path().string();
    parse_scenario(setup.base, setup.file, setup.dir);
  }
  a.options.idle = std::chrono::seconds(a.idle_seconds);
  std::string why;
  bool ok = serve(
      a.options,
      [&](int port) {
        std::string host = a.options.bind.find(':') != std::string::npos
                               ? "[" + a.options.bind + "]"
                               : a.options.bind;
        std::cout << "vexori-sim: serving on http://" << host << ":" << port << "/" << std::endl;
      },
      &why);
  if (!ok) {
    std::cerr << "vexori-sim: " << why << '\n';
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace sim::serve
