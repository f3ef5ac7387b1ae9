// The system's fuzz targets, briefly: every input of each target's corpus, and mutations of each,
// played on a fresh device without a crash, a sanitizer report, a stroke that reached the window
// system in part, a bad handle or a scrolling state left behind. `make fuzz` runs them long.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/SystemFuzz.h"

namespace {

std::vector<std::vector<uint8_t>> Corpus(const std::string& target) {
  std::vector<std::vector<uint8_t>> inputs;
  for (const auto& e :
       std::filesystem::directory_iterator(std::string(VEXORI_FUZZ_CORPUS "/") + target)) {
    std::ifstream in(e.path(), std::ios::binary);
    inputs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return inputs;
}

// Mutations of each corpus input, so that a target plays about this many inputs in all.
const int kInputsPerTarget = 1000;

class SystemFuzz : public ::testing::TestWithParam<fuzz::Target> {};

TEST_P(SystemFuzz, CorpusAndItsMutationsKeepEveryRule) {
  const fuzz::Target& target = GetParam();
  auto corpus = Corpus(target.name);
  ASSERT_GE(corpus.size(), 4u) << target.name;
  std::mt19937 rng(18);
  int ran = 0, played = 0;
  auto check = [&](const std::vector<uint8_t>& input) {
    fuzz::Verdict v = target.run(input.data(), input.size());
    ++played;
    ran += v.ran;
    EXPECT_EQ(v.fault, "") << "the scenario played:\n" << v.scenario;
    return v.fault.empty();
  };
  for (const auto& input : corpus) {
    if (!check(input)) continue;
    int mutants = kInputsPerTarget / static_cast<int>(corpus.size()) - 1;
    for (int i = 0; i < mutants; ++i)
      if (!check(fuzz::mutate_bytes(input, rng))) break;
  }
  // Most inputs run to their end: a target that wrote lines the device cannot carry out would
  // test little.
  EXPECT_GT(ran, played / 2) << ran << " of " << played;
}

INSTANTIATE_TEST_SUITE_P(Targets, SystemFuzz,
                         ::testing::ValuesIn(fuzz::kTargets, fuzz::kTargets + fuzz::kTargetCount),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
