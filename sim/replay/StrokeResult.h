// What one replayed stroke did, as a worker hands it back and the reports read it.
#pragma once

#include <cstddef>
#include <string>

#include "Outcome.h"

namespace sim {

struct StrokeResult {
  std::string file, gesture, name;
  StrokeOutcome outcome;
  // What became of its samples: reported by the panel, received by the window system unchanged
  // or rebuilt on whole pixels, taken by the engine, dropped; `partial` when the window system
  // got only some of them.
  size_t panel = 0, unchanged = 0, rebuilt = 0, engine = 0, dropped = 0;
  bool partial = false;
  std::string error;  // why the stroke could not be replayed; "" when it was
};

}  // namespace sim
