#include "TuneDiff.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>

#include "replay/ReplayReport.h"

namespace sim {
namespace {

// "a -> b x5, c -> d x2": the commonest first, at most `most` and the rest summed up.
std::string moves_cell(const std::map<std::string, size_t>& moves, size_t most) {
  std::vector<std::pair<std::string, size_t>> sorted(moves.begin(), moves.end());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& x, const auto& y) { return x.second > y.second; });
  std::string out;
  size_t rest = 0;
  for (size_t i = 0; i < sorted.size(); ++i) {
    if (i >= most) {
      rest += sorted[i].second;
      continue;
    }
    out += fmt::format("{}{} x{}", out.empty() ? "" : ", ", sorted[i].first, sorted[i].second);
  }
  if (rest > 0) out += fmt::format(", {} more", rest);
  return out;
}

}  // namespace

std::string outcome_key(const StrokeResult& r) {
  std::string did = did_of(r);
  if (r.error.empty() && r.outcome.decision == "handed over" && !r.outcome.filtered.empty())
    did += " \"" + r.outcome.filtered + "\"";
  return did;
}

TuneDiff tune_diff(const std::vector<TunePoint>& points, const std::vector<SettingRange>& ranges,
                   const std::string& a, const std::string& b) {
  if (ranges.size() != 1)
    throw dev::InputError("--diff", 0, "compares two values of one range: give --vary once");
  const SettingRange& r = ranges[0];
  auto index_of = [&](const std::string& name) {
    for (size_t i = 0; i < r.values.size(); ++i)
      if (r.text_of(i) == name) return i;
    std::string values;
    for (size_t i = 0; i < r.values.size(); ++i) values += (i ? ", " : "") + r.text_of(i);
    throw dev::InputError(
        "--diff", 0,
        fmt::format("{} is not a value of {}; its values are {}", name, r.name, values));
  };
  TuneDiff d;
  d.from = index_of(a);
  d.to = index_of(b);
  if (d.from == d.to) throw dev::InputError("--diff", 0, "compares two different values");
  if (points.size() != r.values.size()) return d;  // cut short: nothing to compare
  const auto& x = points[d.from].results;
  const auto& y = points[d.to].results;
  for (size_t i = 0; i < x.size() && i < y.size(); ++i)
    if (outcome_key(x[i]) != outcome_key(y[i])) d.changed.push_back(i);
  return d;
}

std::string diff_report(const std::vector<TunePoint>& points, const TuneDiff& diff,
                        const std::string& folder, bool each) {
  const TunePoint& from = points[diff.from];
  const TunePoint& to = points[diff.to];
  std::string out = fmt::format("{} of {} strokes changed from {} to {}\n", diff.changed.size(),
                                from.results.size(), point_name(from), point_name(to));
  // By class, in the order the classes first come.
  std::vector<std::string> classes;
  std::map<std::string, size_t> strokes, changed;
  std::map<std::string, std::map<std::string, size_t>> moves;
  for (const auto& r : from.results) {
    if (!strokes.count(r.gesture)) classes.push_back(r.gesture);
    ++strokes[r.gesture];
  }
  for (size_t i : diff.changed) {
    const StrokeResult& r = from.results[i];
    ++changed[r.gesture];
    ++moves[r.gesture][outcome_key(r) + " -> " + outcome_key(to.results[i])];
  }
  size_t width = 5;
  for (const auto& c : classes) width = std::max(width, c.size());
  for (const auto& c : classes) {
    out += fmt::format("{:<{}}  {:>4} of {}", c, width, changed[c], strokes[c]);
    if (changed[c] > 0)
      out +=
          fmt::format("{:<{}}  {}", "", 4 - std::min<size_t>(4, std::to_string(strokes[c]).size()),
                      moves_cell(moves[c], 4));
    out += "\n";
  }
  if (!each || diff.changed.empty()) return out;
  out += "\n";
  for (size_t i : diff.changed)
    out += fmt::format("{}  {} -> {}\n", stroke_label(from.results[i], folder),
                       outcome_key(from.results[i]), outcome_key(to.results[i]));
  return out;
}

std::string strokes_csv(const std::vector<TunePoint>& points, const std::string& folder) {
  std::string out = "stroke,gesture";
  for (const auto& p : points) out += "," + csv_field(point_name(p, false));
  out += "\n";
  if (points.empty()) return out;
  for (size_t i = 0; i < points.front().results.size(); ++i) {
    const StrokeResult& r = points.front().results[i];
    out += csv_field(stroke_label(r, folder)) + "," + csv_field(r.gesture);
    for (const auto& p : points)
      out += "," + (i < p.results.size() ? csv_field(outcome_key(p.results[i])) : "");
    out += "\n";
  }
  return out;
}

}  // namespace sim
