// What changed between two values of a tuning: the strokes whose outcome differs, grouped by class,
// and every stroke's outcome at every value, for a spreadsheet.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "replay/Tune.h"

namespace sim {

// A stroke's outcome in short, as compared between values: what it did (as did_of names it) and,
// for a stroke handed over, the string after the filter where there is one: `106 "ZQ"`,
// `nothing`, `tap`.
std::string outcome_key(const StrokeResult& r);

struct TuneDiff {
  size_t from = 0, to = 0;      // the points compared
  std::vector<size_t> changed;  // the strokes whose outcome_key differs, in stroke order
};

// The points of the one range's values named `a` and `b` (as SettingRange::text_of gives them, so
// "13", "browser", "mine.reg"). Throws dev::InputError when the tuning varies more than one range,
// or a name is not one of its values (the message lists them).
TuneDiff tune_diff(const std::vector<TunePoint>& points, const std::vector<SettingRange>& ranges,
                   const std::string& a, const std::string& b);

// The changes by class ("caret  12 of 300 changed: 106 "ZQ" -> 100 "U" x5, ..."), then with
// `each` a line per stroke that changed, its file shown from `folder`.
std::string diff_report(const std::vector<TunePoint>& points, const TuneDiff& diff,
                        const std::string& folder, bool each);

// A row per stroke: the stroke as a line names it and its class, then a column per point named as
// the point is, each cell the stroke's outcome_key there.
std::string strokes_csv(const std::vector<TunePoint>& points, const std::string& folder);

}  // namespace sim
