// A stroke set replayed under a range of values of one or two settings, to see how the outcomes
// move with them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "replay/ClassTable.h"
#include "replay/Intent.h"
#include "replay/StrokeReplay.h"

namespace sim {

// A setting's values, the window kinds the strokes are drawn on (the range "window", its values
// ReplayWindow's), or whole sets of settings (the range "settings": "stock" or a .reg file).
struct SettingRange {
  std::string name;                 // as the registry spells it, kWindowRange or kSettingsRange
  std::vector<uint32_t> values;     // in the order given; for sets, their index in `sets`
  std::vector<std::string> labels;  // sets: "stock" or the file as given
  std::vector<std::vector<Setting>> sets;  // sets: each one's settings
  bool is_window() const;
  bool is_sets() const;
  // Value i as a person reads it ("13", "browser", "mine.reg"), and whether it is the stock
  // value (a window kind never is).
  std::string text_of(size_t i) const;
  bool stock_at(size_t i) const;
};
const char kWindowRange[] = "window";
const char kSettingsRange[] = "settings";

// The settings of a .reg file: DWORD values of the settings under
// HKEY_LOCAL_MACHINE\Software\Quob\Gesture. Throws dev::InputError naming file and line for
// anything else in it, which a replay would not write.
std::vector<Setting> settings_of_reg_file(const std::string& path);

// The most values one range may take: each is a replay of the whole set.
const size_t kMaxRangeValues = 200;

// "GRIDSIZE=8..20" (step 1), "FilterValue=20..60:10", "LongPressTime=250,400,800",
// "window=list,browser", "settings=stock,mine.reg"; throws dev::InputError for an unknown
// setting or window kind, a malformed range or .reg file, one that runs backwards or has more
// than kMaxRangeValues values.
SettingRange parse_range(const std::string& text);

// A range's value at a point.
struct TuneValue {
  std::string name;  // the range's
  uint32_t value = 0;
  std::string text;  // as SettingRange::text_of gives it
  bool stock = false;
};

struct TunePoint {
  std::vector<TuneValue> values;      // the ranges' values here, in range order
  std::vector<ClassCounts> counts;    // by class, with the row "all" last
  std::vector<DidRow> did;            // what the strokes did, in the same rows
  std::vector<StrokeResult> results;  // every stroke's, in the order of the strokes
  size_t failed = 0;                  // strokes that could not be replayed
};

// `setup` with each of `values` in place of what it says of the same setting.
ReplaySetup with_settings(const ReplaySetup& setup, const std::vector<Setting>& values);

// What a point replays with: `setup` with the point's values of the ranges in place.
ReplaySetup point_setup(const ReplaySetup& setup, const std::vector<SettingRange>& ranges,
                        const TunePoint& p);

// Replays the strokes once per combination of the ranges' values (the first range outermost),
// with setup.settings too (a varied setting wins over the same one there). `done` sees each point
// as it is complete, `stroke_done` is called as each stroke of each point is.
std::vector<TunePoint> tune(const std::vector<NamedStroke>& strokes, const ReplaySetup& setup,
                            const std::vector<SettingRange>& ranges, const RunOptions& base,
                            const std::function<void(const TunePoint&)>& done = {},
                            const std::function<void()>& stroke_done = {});

// The behaviours chosen most over all the points (of all strokes), the commonest first, at most
// `most` of them, each with its meaning ("" for 0, no behaviour).
std::vector<std::pair<int, std::string>> commonest_behaviours(const std::vector<TunePoint>& points,
                                                              size_t most);

// "GRIDSIZE=8 FilterValue=20", a stock value marked "GRIDSIZE=13*"; with `marks` false, unmarked.
std::string point_name(const TunePoint& p, bool marks = true);

// A row per point: the shares of passed, press-and-hold, panned and handed over, and of the
// commonest behaviours; with an intent (not null), the share of the strokes with one that did
// what was meant. The stock values are marked.
std::string tune_table(const std::vector<TunePoint>& points, const Intent* intent = nullptr);

// A row per point and a column per class (up to kMaxClassColumns classes): the class's commonest
// string after the filter and its share of the class's strokes.
const size_t kMaxClassColumns = 6;
std::string tune_strings_table(const std::vector<TunePoint>& points);

// A row per point and class for spreadsheets, one value per cell: the counts, a column per
// behaviour chosen anywhere (behaviour_N, behaviour_none) and the commonest string after the filter
// with its count; the last column, at_stock, is 1 on the rows where every varied setting has its
// stock value. With an intent, two columns more before it: intended (strokes whose class has an
// intent) and as_meant (those of them that did what was meant).
std::string tune_csv(const std::vector<TunePoint>& points, const Intent* intent = nullptr);

// A point as JSON objects of kind "tune", one per class (the row "all" last): the settings'
// values under "settings" (the window kind under "window"), their stock values under "stock",
// the counts, every behaviour and string after the filter with its count, and what the strokes did
// (as did_of names it) under "did"; with an intent, "intended" and "as_meant" too.
std::vector<dev::Fields> tune_json(const TunePoint& p, const Intent* intent = nullptr);

// A point's accuracy over every class with an intent.
Accuracy point_accuracy(const TunePoint& p, const Intent& intent);

}  // namespace sim
