// Recorded strokes from outside the project: one gesture per XML file, a point per sample with
// its time stamp.
#pragma once

#include <string>
#include <vector>

#include "Scenario.h"

namespace sim {

struct RecordedStroke {
  std::string name;
  std::vector<StrokePoint> points;  // times from the first point
};

// Reads a stroke file; throws dev::InputError when it cannot be read or has no points.
RecordedStroke load_recorded_stroke(const std::string& path);

// Resamples a recorded stroke at a fixed rate, interpolating between recorded points but holding
// the position across gaps longer than `max_gap_ms` (real pauses).
std::vector<StrokePoint> resample(const RecordedStroke& stroke, uint32_t rate_hz,
                                  uint32_t max_gap_ms = 100);

}  // namespace sim
