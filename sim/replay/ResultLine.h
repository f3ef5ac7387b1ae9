// How a worker hands a replayed stroke's result to the process that started it: one line of
// tab-separated fields in a fixed order, text escaped so that it holds no tab and no line end.
// Only a process and its own forks read it (reports write JSON), so it carries no names: the
// JSON object a result used to travel as cost its worker and the parent about a tenth of a
// replay's time, building the tree, writing it and parsing it back.
#pragma once

#include <string>

#include "replay/StrokeResult.h"

namespace sim {

std::string result_line(const StrokeResult& r);
// The result a line of result_line() holds; throws std::runtime_error for anything else.
StrokeResult result_from_line(const std::string& line);

}  // namespace sim
