// A replay's results as a person reads them (a line per stroke) and as a spreadsheet takes them.
#pragma once

#include <string>
#include <vector>

#include "replay/StrokeReplay.h"

namespace sim {

// A field quoted as spreadsheets read it, when it needs to be.
std::string csv_field(const std::string& s);

// The folder every file lies in ("" when they share none), so lines can name files from there:
// "s02/fast/caret01.xml".
std::string common_folder(const std::vector<std::string>& files);

// A stroke as a line names it: its file from `folder` ("s02/fast/caret01.xml"), and the stroke's
// name after it for a file of several ("taps.csv 12").
std::string stroke_label(const StrokeResult& r, const std::string& folder);

// "s02/fast/caret01.xml  handed over: 106 zoom level up; codes Z106 Q40 D46 Q72 filtered "ZQ"",
// or what kept the stroke from being replayed.
// With `colour`, the decision in colour for a terminal.
std::string result_line(const StrokeResult& r, const std::string& folder, bool colour = false);

// A header and a row per stroke: file, gesture, name, decision, reason, codes, filtered,
// behaviour, meaning, the pen-down, the samples and their fates, error.
std::string results_csv(const std::vector<StrokeResult>& results);

}  // namespace sim
