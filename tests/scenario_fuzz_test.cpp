// The fuzz harness's short run: every input of its corpus, and mutations of each, go through the
// whole path (check, boot, run) without a crash or a sanitizer report. `make fuzz` runs it long.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Runner.h"
#include "fuzz/ScenarioFuzz.h"

namespace {

bool Play(const std::string& text) {
  return fuzz::run_one(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(ScenarioFuzz, CorpusAndItsMutationsRunTheWholePath) {
  // Inputs named bad-* are refused; every other one runs to its end.
  std::vector<std::pair<std::string, bool>> corpus;
  for (const auto& e : std::filesystem::directory_iterator(VEXORI_FUZZ_CORPUS "/scenario")) {
    std::ostringstream text;
    text << std::ifstream(e.path(), std::ios::binary).rdbuf();
    corpus.emplace_back(text.str(), e.path().filename().string().rfind("bad-", 0) != 0);
  }
  ASSERT_GE(corpus.size(), 5u);
  std::mt19937 rng(2024);
  int mutants_ran = 0;
  for (const auto& [text, runs] : corpus) {
    EXPECT_EQ(Play(text), runs) << text;
    for (int i = 0; i < 30; ++i) mutants_ran += Play(fuzz::mutate(text, rng));
  }
  EXPECT_GT(mutants_ran, 0);
}

// The cap on device time ends a run of long waits where it says, and plays nothing after it.
TEST(ScenarioFuzz, DeviceTimeIsCapped) {
  sim::RunOptions options;
  options.keep_log = false;
  options.max_device_ms = fuzz::kMaxDeviceMs;
  auto r = sim::run_scenario(
      sim::parse_scenario("tap 10 10\nwait 86400000\ntap 20 20\n", "cap.scn", ""), options);
  EXPECT_GE(r.end_time, fuzz::kMaxDeviceMs);
  EXPECT_LT(r.end_time, fuzz::kMaxDeviceMs + 1000);
  EXPECT_EQ(r.panel_samples, 10u);
}

}  // namespace
