// The explorer over the shipped examples and the soak: no schedule breaks an invariant, and a
// seed replays its schedule exactly. VEXORI_EXPLORE_SCHEDULES=N runs N schedules of each.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Runner.h"
#include "explore/Explore.h"

namespace {
namespace fs = std::filesystem;

uint64_t Schedules(uint64_t fallback) {
  const char* env = std::getenv("VEXORI_EXPLORE_SCHEDULES");
  return env != nullptr ? std::strtoull(env, nullptr, 10) : fallback;
}

std::vector<std::string> Scenarios() {
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(VEXORI_SOURCE_DIR "/scenarios")) {
    if (e.path().extension() == ".scn") files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

void ExpectNoBreak(const std::string& file, uint64_t schedules) {
  SCOPED_TRACE(file);
  sim::ExploreArgs args;
  args.schedules = schedules;
  args.jobs = 2;
  sim::ExploreReport report = sim::explore(sim::load_scenario(file), {}, args);
  std::string broken;
  for (const auto& b : report.first_break.broken) broken += "\n  " + b;
  EXPECT_TRUE(report.first_break.broken.empty())
      << (report.baseline_broke ? "without pre-emption" : "schedule ") << report.first_break.seed
      << ":" << broken;
  EXPECT_EQ(report.schedules, schedules);
  EXPECT_GT(report.switches, 0u) << "no schedule switched threads";
}

TEST(Explore, EveryExampleKeepsTheInvariantsUnderEverySchedule) {
  for (const auto& file : Scenarios()) ExpectNoBreak(file, Schedules(40));
}

TEST(Explore, TheSoakKeepsTheInvariantsUnderEverySchedule) {
  ExpectNoBreak(VEXORI_SOURCE_DIR "/tests/explore/soak.scn", Schedules(60));
}

// A seed is a schedule: the same seed twice gives the same log byte for byte; the schedule's
// steps are counted in a run without pre-emption first.
TEST(Explore, ASeedReplaysItsScheduleAndItsLog) {
  sim::Scenario s = sim::load_scenario(VEXORI_SOURCE_DIR "/scenarios/pan-browser.scn");
  sim::RunOptions options;
  options.preempt = true;
  std::string first;
  for (int i = 0; i < 2; ++i) {
    options.preempt_seed = 7;
    sim::RunResult r = sim::run_scenario(s, options);
    ASSERT_FALSE(r.log.empty());
    EXPECT_GT(r.switch_points, 0u);
    if (first.empty()) {
      first = r.text();
      EXPECT_NE(first.find("schedule"), std::string::npos) << "the log names the schedule";
    } else {
      EXPECT_EQ(r.text(), first);
    }
  }
}

// The command the explorer prints for a broken schedule (`run FILE --preempt SEED`) counts the
// switch points itself: it must come to the same schedule as the explorer's run of that seed.
TEST(Explore, TheReplayCommandPlaysTheScheduleTheExplorerRan) {
  sim::Scenario s = sim::load_scenario(VEXORI_SOURCE_DIR "/scenarios/flick-sound.scn");
  sim::Baseline base = sim::run_baseline(s, {});
  for (uint64_t seed : {3u, 11u, 40u}) {
    SCOPED_TRACE(seed);
    sim::ScheduleResult explored = sim::run_schedule(s, {}, seed, base.points);
    sim::RunOptions replay;
    replay.preempt = true;
    replay.preempt_seed = seed;
    sim::RunResult r = sim::run_scenario(s, replay);
    EXPECT_EQ(r.switches, explored.switches);
    sim::RunOptions counted = replay;
    counted.preempt_steps = base.points;
    EXPECT_EQ(sim::run_scenario(s, counted).text(), r.text())
        << "the same schedule, entry by entry";
  }
}

}  // namespace
