#include "schedule.hpp"

#include <algorithm>
#include <utility>

#include "kernel.hpp"

namespace dev {
namespace {

// Initial priorities lie above every priority a change point gives (1 to kMaxDepth - 1).
const uint64_t kInitialFloor = 1u << 16;

}  // namespace

Schedule::Schedule(uint64_t seed, uint64_t steps) : rng_(seed), steps_(steps) {
  if (counting()) return;
  depth_ = 1 + static_cast<int>(rng_() % kMaxDepth);
  // The i-th change point drawn gives priority i wherever it falls, so that the drops can come
  // in any order of their priorities: sorting the steps alone would always put the earliest
  // drop lowest, and leave the races that need it above a later one unreachable.
  std::vector<std::pair<uint64_t, uint64_t>> drawn;
  for (int i = 1; i < depth_; ++i) drawn.emplace_back(1 + rng_() % steps_, i);
  std::stable_sort(drawn.begin(), drawn.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [step, drop] : drawn) {
    changes_.push_back(step);
    drops_.push_back(drop);
  }
}

void Schedule::pass_point(const Thread* running) {
  ++points_;
  // Change points that fall on one step leave the last one's priority.
  while (next_change_ < changes_.size() && changes_[next_change_] <= points_) {
    priority(running);
    priorities_[running] = drops_[next_change_++];
  }
}

uint64_t Schedule::priority(const Thread* t) {
  if (t->is_host) return 0;  // the host runs only when the device waits, as ever
  auto it = priorities_.find(t);
  if (it != priorities_.end()) return it->second;
  uint64_t p = kInitialFloor + (rng_() >> 1);
  priorities_.emplace(t, p);
  return p;
}

Thread* Schedule::best(const std::deque<Thread*>& ready, Thread* running) {
  Thread* chosen = running;
  uint64_t top = running != nullptr ? priority(running) : 0;
  for (Thread* t : ready) {
    uint64_t p = priority(t);
    if (chosen == nullptr || p > top) {
      chosen = t;
      top = p;
    }
  }
  return chosen;
}

}  // namespace dev
