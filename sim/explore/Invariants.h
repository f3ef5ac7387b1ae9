// What every run of the system must keep to, however its threads were interleaved, read from a
// run's result and from the device as the run leaves it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Runner.h"

namespace sim {

// The device once the run has settled.
struct EndState {
  std::vector<std::string> stuck;  // "device.exe Quenza waits on event VexoriSndX"
  bool scrolling_event = false;    // "InGestureScrolling" exists
  uint32_t scrolling_data = 0;
};

EndState read_end_state(dev::Device& device);

// One line per invariant broken, empty when none is:
// - every sample the panel reported is accounted for: whatever reached the window system matched
//   a panel sample, and each stroke reached it whole and in order or not at all;
// - nothing was held past its pen-up (received after the next stroke had begun);
// - no device thread waits at the end on anything but its message queue or the sound thread's
//   event (the device's own threads wait for the panel and for registry notifications);
// - the event data of "InGestureScrolling" is 1, or was never set.
std::vector<std::string> broken_invariants(const RunResult& result, const EndState& end);

}  // namespace sim
