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
  std::string subject, speed;       // who drew it and how fast, where the file says; "" otherwise
};

// What a stroke file may hold: the device's panel takes strokes of up to a minute, and a stroke
// of a minute at 1000 Hz has this many samples.
const long long kMaxStrokeMs = 60000;
const size_t kMaxStrokePoints = 60001;

// Reads a stroke file whole; throws dev::InputError naming the line when it cannot be read, is
// not valid UTF-8 or XML, has no points, or a point whose X or Y lies outside the panel's range,
// whose T is not a 32-bit tick, comes before the point ahead of it or past kMaxStrokeMs.
RecordedStroke load_recorded_stroke(const std::string& path);
// The same of a stroke file's text; `path` names it in messages.
RecordedStroke parse_recorded_stroke(const std::string& text, const std::string& path);

// Resamples a recorded stroke at a fixed rate, interpolating between recorded points but holding
// the position across gaps longer than `max_gap_ms` (real pauses).
std::vector<StrokePoint> resample(const RecordedStroke& stroke, uint32_t rate_hz,
                                  uint32_t max_gap_ms = 100);

}  // namespace sim
