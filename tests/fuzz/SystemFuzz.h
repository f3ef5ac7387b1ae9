// Fuzz targets for what the system takes from outside: touch samples through the proxy's
// callback, messages to the broker's window, and settings of any type and value. Each input is a
// byte string that a target turns into a scenario (and, for settings, registry values written
// before the device starts) and plays on a fresh device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "device/device.hpp"

namespace fuzz {

// What one input did. `fault` is empty unless the system broke a rule every input must keep:
// a stroke that reached the window system in part, a closed or wrong handle used, the broker's
// scrolling state left at 2 once the device settled. A crash, a sanitizer report or a hang is
// left to the fuzzer (or the test) to see.
struct Verdict {
  bool ran = false;  // the scenario went to its end
  std::string fault;
  std::string scenario;  // the text played, to replay with `vexori-sim run`
};

// Plays scenario text on a fresh device, with at most kMaxDeviceMs of device time.
Verdict play(const std::string& scenario,
             const std::function<void(dev::Device&)>& before_start = {});

// The device time each input may take.
const uint64_t kSystemMaxDeviceMs = 60000;

struct Target {
  const char* name;  // also the corpus folder, tests/fuzz/corpus/NAME
  Verdict (*run)(const uint8_t* data, size_t size);
};

// Streams of raw samples, strokes, registry and power changes, window changes.
Verdict run_samples(const uint8_t* data, size_t size);
// Any message with any parameters to the broker's window, between strokes.
Verdict run_broker(const uint8_t* data, size_t size);
// Every setting with any value of any type before boot, changes while it runs, any string
// where the system reads one.
Verdict run_settings(const uint8_t* data, size_t size);

extern const Target kTargets[];
extern const size_t kTargetCount;
const Target* target_named(const std::string& name);

// Drops, inserts, duplicates and overwrites a few bytes.
std::vector<uint8_t> mutate_bytes(const std::vector<uint8_t>& input, std::mt19937& rng);

}  // namespace fuzz
