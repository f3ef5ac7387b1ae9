#include "explore/Invariants.h"

#include <fmt/format.h>

#include <set>

#include "device/preempt.hpp"

namespace sim {
namespace {

// Waits a thread may be left in when nothing more is to come.
const std::set<std::string> kIdleWaits = {
    "message queue",           // a thread with windows or a worker's queue
    "event VexoriSnd",         // the sound thread between sounds
    "touch panel",             // the stock driver's sample thread
    "registry notifications",  // a process's notification thread
};

}  // namespace

EndState read_end_state(dev::Device& device) {
  EndState end;
  for (const auto& t : dev::waiting_threads(device)) {
    if (kIdleWaits.count(t.waits_on) && !t.timed) continue;
    end.stuck.push_back(fmt::format("{} {} waits on {}{}", t.process, t.thread, t.waits_on,
                                    t.timed ? " (timed)" : ""));
  }
  end.scrolling_event = dev::named_event_data(device, u"InGestureScrolling", &end.scrolling_data);
  return end;
}

std::vector<std::string> broken_invariants(const RunResult& r, const EndState& end) {
  std::vector<std::string> broken;
  size_t matched = r.unchanged_samples + r.rebuilt_samples;
  if (r.received_samples > matched) {
    broken.push_back(
        fmt::format("{} samples reached the window system that the panel never "
                    "reported, or out of order",
                    r.received_samples - matched));
  }
  for (const auto& p : r.partial_strokes) broken.push_back(p + " reached the window system");
  if (r.late_samples > 0) {
    broken.push_back(fmt::format("{} samples were held past their pen-up, until the next stroke",
                                 r.late_samples));
  }
  for (const auto& s : end.stuck) broken.push_back("at the end " + s);
  if (end.scrolling_event && end.scrolling_data != 0 && end.scrolling_data != 1) {
    broken.push_back(fmt::format("at the end the event data of InGestureScrolling is {}, not 1",
                                 end.scrolling_data));
  }
  return broken;
}

}  // namespace sim
