// Coverage of a device library for the fuzzing programs (built into every library of a fuzz build
// only). A device loads fresh copies of its libraries for every input, and libFuzzer keeps the
// counters of every library it was ever told of, so the libraries do not tell it: each counts its
// edges into one table of the fuzzing program that libFuzzer reads as extra counters. An edge has
// the same number in every copy of a library, so each input's coverage compares with the last.
#include <cstdint>

extern "C" {

// In the fuzzing program; absent (null) in any other.
extern uint8_t vexori_fuzz_module_counters[] __attribute__((weak));
extern const uint32_t vexori_fuzz_module_counter_count __attribute__((weak));

__attribute__((no_sanitize("coverage"))) void __sanitizer_cov_trace_pc_guard_init(uint32_t* start,
                                                                                  uint32_t* stop) {
  if (start == stop || *start != 0) return;
  for (uint32_t* g = start; g < stop; ++g) *g = static_cast<uint32_t>(g - start) + 1;
}

__attribute__((no_sanitize("coverage"))) void __sanitizer_cov_trace_pc_guard(uint32_t* guard) {
  if (vexori_fuzz_module_counters == nullptr || &vexori_fuzz_module_counter_count == nullptr)
    return;
  uint32_t slot = (*guard + VEXORI_COVERAGE_SALT) % vexori_fuzz_module_counter_count;
  uint8_t& c = vexori_fuzz_module_counters[slot];
  if (c != 0xFF) ++c;
}

}  // extern "C"
