// The libFuzzer entry point of `make fuzz` (built with clang only).
#include "ScenarioFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::run_one(data, size);
  return 0;
}
