// vexori-sim: boots the simulated device with the gesture system installed and plays scenarios.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cstdio>
#include <fstream>
#include <iostream>

#include "Runner.h"

namespace {

struct Output {
  bool json = false;
  std::string jsonl_file;
};

int play(const sim::Scenario& scenario, sim::RunOptions options, const Output& out) {
  options.live = [&out](const dev::LogEntry& e) {
    std::cout << (out.json ? e.json() : e.text()) << '\n';
  };
  sim::RunResult result = sim::run_scenario(scenario, options);
  if (!out.jsonl_file.empty()) {
    std::ofstream file(out.jsonl_file);
    file << result.jsonl();
    if (!file) throw dev::InputError(out.jsonl_file, 0, "cannot write the log");
  }
  if (!out.json) std::cout << '\n' << result.summary();
  std::cout.flush();
  return result.failures.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"vexori-sim: the gesture system on a simulated touch-screen phone"};
  app.require_subcommand(1);
  sim::RunOptions options;
  Output out;
  auto common = [&](CLI::App* cmd) {
    cmd->add_flag("--json", out.json, "print the event log as JSON Lines");
    cmd->add_option("--jsonl", out.jsonl_file, "also write the event log as JSON Lines to FILE");
    cmd->add_option("--windows", options.windows_dir, "folder of the device's \\Windows libraries")
        ->check(CLI::ExistingDirectory);
    cmd->add_flag("--realtime", options.realtime, "let the device clock follow the wall clock");
    cmd->add_option("--audio", options.audio_file,
                    "mix every sound played into FILE (WAV, 16-bit stereo, 44100 Hz)");
  };
  CLI::App* demo = app.add_subcommand("demo", "boot the device and play the built-in tour");
  common(demo);
  std::string file;
  CLI::App* run = app.add_subcommand("run", "play a scenario file");
  run->add_option("file", file, "the scenario")->required();
  common(run);
  CLI11_PARSE(app, argc, argv);

  try {
    if (*demo) return play(sim::tour_scenario(options.source_dir), options, out);
    return play(sim::load_scenario(file), options, out);
  } catch (const dev::InputError& e) {
    std::cerr << "vexori-sim: " << e.what() << '\n';
    return 2;
  } catch (const sim::CommandError& e) {
    std::cerr << "vexori-sim: " << e.what() << '\n';
    return 4;
  }
}
