// What the timeline needs of the log, taken as its entries pass: each window's vertical scroll
// position, the broker's momentum at each tick of a scroll and the sounds played.
#pragma once

#include <map>
#include <string>

#include "WindowNames.h"
#include "device/log.hpp"
#include "draw/Timeline.h"

namespace sim {

class TimelineLog {
 public:
  // The scenario's names of its windows, which name their lanes; none when null.
  const WindowNames* names = nullptr;

  void add(const dev::LogEntry& e);
  // The series so far, windows in the order they were made; strokes and the axis's end are the
  // caller's to add.
  draw::TimelineData data() const;

 private:
  std::map<std::string, uint64_t> created_;  // window -> when it was made
  std::map<std::string, size_t> index_;      // window -> its series
  std::vector<draw::TimeSeries> scroll_;
  draw::TimeSeries momentum_;
  std::vector<draw::TimeSpan> sounds_;
};

}  // namespace sim
