// The pre-empting device: a seeded schedule that switches device threads at platform calls and,
// in a build with word points (VEXORI_PREEMPT_WORDS), at every shared-word access of the system.
//
// None of this is platform API; the simulator and the tests use it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dev {

class Device;

// A schedule drawn from a seed. `steps` is how many switch points the run is expected to pass
// (those of the same run without pre-emption): the change points are drawn from that range.
// With steps 0 the device only counts its switch points and schedules as it always does.
struct PreemptOptions {
  uint64_t seed = 0;
  uint64_t steps = 0;
};

// From now on the device switches as the schedule says. Call it before boot() to cover the boot.
void start_preempting(Device& device, const PreemptOptions& options);
// Switch points passed since start_preempting (0 when the device does not pre-empt).
uint64_t switch_points(Device& device);
// Switches the schedule made (0 when counting only).
uint64_t switches_made(Device& device);

// A device thread that waits, and on what: "message queue", "event VexoriSnd", "sleep",
// "touch panel", "registry notifications", "reply to a sent message", "thread 0x10c", ...
struct WaitingThread {
  std::string process;
  std::string thread;
  std::string waits_on;
  bool timed = false;  // the wait ends at a deadline too
};
// Every device thread that has started and not finished, the host aside.
std::vector<WaitingThread> waiting_threads(Device& device);

// The event data of a named event that exists now; false when there is none.
bool named_event_data(Device& device, const std::u16string& name, uint32_t* data);

}  // namespace dev
