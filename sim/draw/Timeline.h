// A run against device time: a lane per window's vertical scroll position, the momentum counter,
// the sounds played and the strokes' pen-down spans, with a time axis and a legend.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "draw/Canvas.h"

namespace draw {

struct TimePoint {
  uint64_t t = 0;  // device time, ms since boot
  double value = 0;
};

struct TimeSeries {
  std::string name;
  std::vector<TimePoint> points;  // in time order
  // A value that holds until the next (a scroll position), or one known only at its points (a
  // counter read at timer ticks), drawn as dots joined where they come at most kJoinMs apart.
  bool holds = true;
};
const uint64_t kJoinMs = 200;

struct TimeSpan {
  uint64_t start = 0, end = 0;
  std::string label;  // sounds of one label share a colour and a legend entry
  Colour colour;      // a stroke's; sounds get theirs by label
};

struct TimelineData {
  std::vector<TimeSeries> scroll;  // one per window
  TimeSeries momentum;
  std::vector<TimeSpan> sounds;
  std::vector<TimeSpan> strokes;                           // coloured by what became of them
  std::vector<std::pair<std::string, Colour>> stroke_key;  // the strokes' colours, for the legend
  uint64_t end = 0;                                        // the time the axis runs to
};

const int kTimelineWidth = 1000;
// The picture's height for the lanes this data has: one per window, then momentum, sounds and
// strokes.
int timeline_height(const TimelineData& data);

void write_timeline(const TimelineData& data, const std::string& path, Format format);

}  // namespace draw
