// The libFuzzer entry points of `make fuzz` (built with clang only): VEXORI_FUZZ_TARGET names the
// system's target this program runs; without it, the simulator's scenario target. With
// VEXORI_FUZZ_SHOW set, each input's scenario is printed (to read what a corpus file plays).
#include <cstdio>
#include <cstdlib>

#include "ScenarioFuzz.h"
#include "SystemFuzz.h"

extern "C" {
// The device libraries' edges (tests/fuzz/ModuleCoverage.cpp), read by libFuzzer as coverage.
__attribute__((visibility("default"), used, section("__libfuzzer_extra_counters")))
uint8_t vexori_fuzz_module_counters[1 << 16];
__attribute__((visibility("default"),
               used)) extern const uint32_t vexori_fuzz_module_counter_count = 1 << 16;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#ifdef VEXORI_FUZZ_TARGET
  static const fuzz::Target* target = fuzz::target_named(VEXORI_FUZZ_TARGET);
  fuzz::Verdict v = target->run(data, size);
  if (std::getenv("VEXORI_FUZZ_SHOW") != nullptr) std::fputs(v.scenario.c_str(), stdout);
  if (!v.fault.empty()) {
    std::fprintf(stderr, "%s\n--- the scenario played:\n%s", v.fault.c_str(), v.scenario.c_str());
    std::abort();
  }
#else
  fuzz::run_one(data, size);
#endif
  return 0;
}
