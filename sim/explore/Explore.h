// Searches a scenario's thread interleavings for a break of the system's invariants: the scenario
// runs once without pre-emption, which counts its switch points, then once per seed on the
// pre-empting device, each run in a process of its own so that a crash or a sanitizer report is
// a finding too. The search stops at the first seed whose run breaks an invariant.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Runner.h"
#include "Scenario.h"

namespace sim {

// One schedule's run, checked.
struct ScheduleResult {
  uint64_t seed = 0;
  std::vector<std::string> broken;  // what it broke (Invariants.h); empty when nothing
  uint64_t switches = 0;
};

// The scenario's run without pre-emption: its switch points, and what it broke already.
struct Baseline {
  uint64_t points = 0;
  std::vector<std::string> broken;
};

Baseline run_baseline(const Scenario& scenario, const RunOptions& options);
// The schedule of `seed` over `steps` switch points, in this process.
ScheduleResult run_schedule(const Scenario& scenario, const RunOptions& options, uint64_t seed,
                            uint64_t steps);

struct ExploreArgs {
  std::string file;
  uint64_t schedules = 100;
  uint64_t first_seed = 1;
  unsigned jobs = 0;  // 0: one per core
};

struct ExploreReport {
  uint64_t points = 0;     // switch points of the run without pre-emption
  uint64_t schedules = 0;  // run to their end
  uint64_t switches = 0;   // made by all of them
  bool baseline_broke = false;
  ScheduleResult first_break;  // seed 0 when none broke
};

// Runs schedules first_seed, first_seed + 1, ... in `jobs` processes at a time; stops after the
// first that breaks (the one of lowest seed among those running then).
ExploreReport explore(const Scenario& scenario, const RunOptions& options, const ExploreArgs& args);

// `vexori-sim explore`: prints what was explored or what broke, with the command that replays it;
// the exit code is kExitOk or kExitExpectation.
int explore_command(const ExploreArgs& args, const RunOptions& options);

}  // namespace sim
