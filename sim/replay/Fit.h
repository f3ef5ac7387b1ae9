// Recommended settings: a search over the ranges given for the values under which the most strokes
// do what was meant, fitted on some people's strokes and checked on the others'.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "replay/Intent.h"
#include "replay/Tune.h"

namespace sim {

// Who drew a stroke: the folder of its path named like "s02", else its file's subject, else "".
std::string subject_of(const NamedStroke& s);

// The strokes fitted on and those held out to check the fit. With subjects, `held_out` names those
// held out; when it is empty every third subject is (the second, the fifth, ...), and at least
// one. A set without subjects holds out every fifth stroke. Throws dev::InputError for a
// held-out subject no stroke has, or a split that leaves nothing to fit on.
struct Split {
  std::vector<NamedStroke> fit, check;
  std::vector<std::string> fit_subjects, check_subjects;  // empty for a set without subjects
};
Split split_strokes(const std::vector<NamedStroke>& strokes,
                    const std::vector<std::string>& held_out);

// A range cut down to the setting's documented safe range, and what was left out ("GRIDSIZE: 40
// and 50 left out, outside its safe range 6 to 30"; "" when nothing was). Throws dev::InputError
// for a range that is not a setting's, or that has no value left.
SettingRange within_safe_range(const SettingRange& r, std::string* left_out);

struct FitResult {
  std::vector<Setting> best;  // a value for each range, in range order
  double share = 0;           // of the fitted strokes with an intent, the share done as meant
  double stock_share = 0;     // the same at the stock values (or those of --set)
  size_t evaluations = 0;     // replays of the fitted set the search took
  size_t grid = 0;            // the points of the full grid
  bool full_grid = false;     // searched every point, or coordinate by coordinate
};

// How well a set of values does: the share of the strokes with an intent done as meant.
using Score = std::function<double(const std::vector<Setting>& values)>;

// Searches the ranges for the best score. A grid of up to kMaxGridPoints is searched whole; a
// larger one coordinate by coordinate from `start` (each range in turn over all its values with
// the others held, until a round changes nothing), which costs the sum of the ranges' sizes per
// round instead of their product. Ties go to the value nearest `start`.
const size_t kMaxGridPoints = 30;
FitResult fit_search(const std::vector<SettingRange>& ranges, const std::vector<Setting>& start,
                     const Score& score);

// The recommended values as a .reg fragment for the gesture key, each with its stock value in a
// comment line above it.
std::string reg_fragment(const std::vector<Setting>& values);

}  // namespace sim
