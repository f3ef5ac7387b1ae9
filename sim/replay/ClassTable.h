// What became of a stroke set, counted by gesture class: the table a tuner reads at a glance.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "replay/StrokeReplay.h"

namespace sim {

struct ClassCounts {
  std::string gesture;  // "all" for the total row
  size_t strokes = 0;
  size_t passed = 0;  // reached the window system, for whatever reason
  size_t panned = 0;  // scrolled the window under the finger
  size_t handed = 0;  // handed over to the broker as direction codes
  size_t other = 0;   // withheld with nothing to show, undecided, or not replayed
  std::map<std::string, size_t> reasons;   // of those passed, by reason ("press-and-hold")
  std::map<int, size_t> behaviours;        // of those handed over; 0 when none was chosen
  std::map<int, std::string> meanings;     // of each behaviour number seen
  std::map<std::string, size_t> filtered;  // of those handed over, by the string after the filter
  size_t codes = 0;                        // direction codes of those handed over, summed
};

// A passing reason without its moment: "press-and-hold at 100 ms" counts as "press-and-hold".
std::string reason_kind(const std::string& reason);

// A row per gesture class in the order the classes first come, then the row "all".
std::vector<ClassCounts> count_by_class(const std::vector<StrokeResult>& results);

// The table as text: a row per class with its counts and its behaviours by number, then what
// the passing strokes passed for and what each behaviour number means, and the commonest strings
// after the filter by class.
std::string class_table(const std::vector<ClassCounts>& rows);

// "106 x110, 103 x25": counts, the commonest first (ties in key order), at most `most` of them
// (all when 0), the rest summed up as "K more".
std::string counts_cell(const std::map<int, size_t>& counts, size_t most = 0);
std::string counts_cell(const std::map<std::string, size_t>& counts, size_t most = 0);

// "12 (8%)"; "0" for none.
std::string share(size_t n, size_t of);

}  // namespace sim
