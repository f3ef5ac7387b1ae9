// Stroke outcomes as a person reads them in the text output and as JSON Lines objects.
#pragma once

#include <string>

#include "Outcome.h"

namespace sim {

// One line, stamped with the stroke's start like a log entry: "[    6410 ms] outcome  ...";
// with `colour`, its decision in colour for a terminal.
std::string outcome_text(const StrokeOutcome& o, bool colour = false);
// One object, kind "outcome", with every field of the outcome.
dev::Fields outcome_json(const StrokeOutcome& o);
// The outcome such an object holds; fields it lacks keep their defaults.
StrokeOutcome outcome_from_json(const dev::Fields& j);

}  // namespace sim
