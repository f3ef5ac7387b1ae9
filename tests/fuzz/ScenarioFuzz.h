// One fuzz input through the simulator's whole path: the scenario and the files it names are
// checked, the device boots and the scenario runs, under whatever sanitizers the build has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

namespace fuzz {

// The device time each input may take: a run ends there however long its waits are.
const uint64_t kMaxDeviceMs = 60000;

// Plays one input. Its text is a scenario, up to a line "--- NAME": from there on to the next such
// line, or the end, it is the text of a file NAME (letters, digits, '.', '-', '_') in the scratch
// folder, where the scenario finds it by that name (`replay stroke.xml`, `regfile extra.reg`).
// The run writes no file of its own: no log, no audio. A scenario or file refused with an input
// error, a device that did not come up as the scenario asked, a command that could not be carried
// out: each is an answer. Anything else is left to crash the fuzzer. True when the run went to
// its end.
bool run_one(const uint8_t* data, size_t size);

// Drops, inserts, splices and overwrites a few characters of `text`.
std::string mutate(const std::string& text, std::mt19937& rng);

}  // namespace fuzz
