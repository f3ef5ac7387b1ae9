// The pre-empting schedule: priorities with a few change points, drawn from a seed.
//
// Every device thread gets a random priority when the schedule first sees it; at each switch
// point the ready thread of highest priority runs. At d - 1 change points, drawn at random from
// the steps the run is expected to pass, the running thread's priority drops below every initial
// one. A race that needs d ordering constraints between threads (its depth) is then found with a
// probability of at least 1 / (n * k^(d-1)) for n threads and k steps, whatever the race, where
// random switching at each point finds deep races only with odds that fall exponentially with
// the length of the run. The depth itself is drawn from the seed, from 1 to kMaxDepth, so that one
// series of seeds tries every depth.
#pragma once

#include <cstdint>
#include <deque>
#include <random>
#include <unordered_map>
#include <vector>

namespace dev {

struct Thread;

class Schedule {
 public:
  static const int kMaxDepth = 3;

  // steps 0: count the switch points only, and leave every choice to the device's own order.
  Schedule(uint64_t seed, uint64_t steps);

  bool counting() const { return steps_ == 0; }
  uint64_t points() const { return points_; }
  uint64_t switches() const { return switches_; }
  int depth() const { return depth_; }
  const std::vector<uint64_t>& changes() const { return changes_; }

  // `running` passes a switch point; at a change point its priority drops.
  void pass_point(const Thread* running);
  // The ready thread of highest priority, or `running` when it has a higher one still (null:
  // none is running).
  Thread* best(const std::deque<Thread*>& ready, Thread* running);
  void count_switch() { ++switches_; }

 private:
  uint64_t priority(const Thread* t);

  std::mt19937_64 rng_;
  uint64_t steps_;
  int depth_ = 1;
  std::vector<uint64_t> changes_;  // the steps at which the running thread's priority drops
  std::vector<uint64_t> drops_;    // the priority it drops to at each of them
  size_t next_change_ = 0;
  uint64_t points_ = 0, switches_ = 0;
  std::unordered_map<const Thread*, uint64_t> priorities_;
};

}  // namespace dev
