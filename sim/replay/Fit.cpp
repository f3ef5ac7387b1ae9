#include "Fit.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>

#include "replay/GestureSettings.h"

namespace sim {
namespace {

bool is_subject_folder(const std::string& name) {
  return name.size() >= 2 && name[0] == 's' &&
         std::all_of(name.begin() + 1, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// How far a point lies from the start, for ties: the sum of each value's distance as a share of
// its range's width.
double distance(const std::vector<Setting>& a, const std::vector<Setting>& b) {
  double d = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    d += std::fabs(static_cast<double>(a[i].value) - static_cast<double>(b[i].value)) /
         std::max(1.0, static_cast<double>(b[i].value));
  return d;
}

}  // namespace

std::string subject_of(const NamedStroke& s) {
  for (const auto& part : std::filesystem::path(s.file).parent_path())
    if (is_subject_folder(part.string())) return part.string();
  return s.stroke.subject;
}

Split split_strokes(const std::vector<NamedStroke>& strokes,
                    const std::vector<std::string>& held_out) {
  Split out;
  std::vector<std::string> subjects;
  for (const auto& s : strokes) {
    std::string who = subject_of(s);
    if (!who.empty() && std::find(subjects.begin(), subjects.end(), who) == subjects.end())
      subjects.push_back(who);
  }
  std::sort(subjects.begin(), subjects.end());
  bool by_subject =
      subjects.size() >= 2 &&
      std::all_of(strokes.begin(), strokes.end(), [](auto& s) { return !subject_of(s).empty(); });
  if (!by_subject) {
    if (!held_out.empty())
      throw dev::InputError("--hold-out", 0, "these strokes name no subjects to hold out");
    for (size_t i = 0; i < strokes.size(); ++i)
      (i % 5 == 4 ? out.check : out.fit).push_back(strokes[i]);
  } else {
    std::set<std::string> check;
    for (const auto& h : held_out) {
      if (std::find(subjects.begin(), subjects.end(), h) == subjects.end()) {
        std::string there;
        for (const auto& s : subjects) there += (there.empty() ? "" : ", ") + s;
        throw dev::InputError("--hold-out", 0,
                              "no stroke of subject " + h + "; the subjects are " + there);
      }
      check.insert(h);
    }
    if (check.empty())
      for (size_t i = 1; i < subjects.size(); i += 3) check.insert(subjects[i]);
    for (const auto& s : subjects)
      (check.count(s) ? out.check_subjects : out.fit_subjects).push_back(s);
    for (const auto& s : strokes) (check.count(subject_of(s)) ? out.check : out.fit).push_back(s);
  }
  if (out.fit.empty())
    throw dev::InputError("--hold-out", 0, "holds out every stroke: none is left to fit on");
  if (out.check.empty())
    throw dev::InputError("--hold-out", 0, "holds out no stroke to check the fit on");
  return out;
}

SettingRange within_safe_range(const SettingRange& r, std::string* left_out) {
  const GestureSetting* s = find_gesture_setting(r.name);
  if (r.is_window() || r.is_sets() || s == nullptr)
    throw dev::InputError("--vary", 0, "fit varies settings, not " + r.name);
  SettingRange kept = r;
  kept.values.clear();
  std::vector<uint32_t> dropped;
  for (uint32_t v : r.values)
    (v >= s->safe_low && v <= s->safe_high ? kept.values : dropped).push_back(v);
  left_out->clear();
  if (!dropped.empty()) {
    std::string values;
    for (size_t i = 0; i < dropped.size(); ++i)
      values += (i == 0                    ? ""
                 : i + 1 == dropped.size() ? " and "
                                           : ", ") +
                std::to_string(dropped[i]);
    *left_out = fmt::format("{}: {} left out, outside its safe range {} to {}", r.name, values,
                            s->safe_low, s->safe_high);
  }
  if (kept.values.empty())
    throw dev::InputError("--vary", 0,
                          fmt::format("{} has no value in its safe range {} to {}", r.name,
                                      s->safe_low, s->safe_high));
  return kept;
}

FitResult fit_search(const std::vector<SettingRange>& ranges, const std::vector<Setting>& start,
                     const Score& score) {
  FitResult out;
  std::map<std::vector<uint32_t>, double> seen;
  auto eval = [&](const std::vector<Setting>& values) {
    std::vector<uint32_t> key;
    for (const auto& v : values) key.push_back(v.value);
    auto it = seen.find(key);
    if (it != seen.end()) return it->second;
    ++out.evaluations;
    return seen[key] = score(values);
  };
  // Better: a higher score, or as high and nearer the start.
  auto better = [&](const std::vector<Setting>& a, double sa, const std::vector<Setting>& b,
                    double sb) {
    if (sa != sb) return sa > sb;
    return distance(a, start) < distance(b, start);
  };
  out.grid = 1;
  for (const auto& r : ranges) out.grid *= r.values.size();
  out.stock_share = eval(start);
  out.full_grid = out.grid <= kMaxGridPoints;
  std::vector<Setting> best = start;
  double best_share = -1;
  if (out.full_grid) {
    std::vector<size_t> at(ranges.size(), 0);
    while (true) {
      std::vector<Setting> here;
      for (size_t k = 0; k < ranges.size(); ++k)
        here.push_back({ranges[k].name, ranges[k].values[at[k]]});
      double s = eval(here);
      if (best_share < 0 || better(here, s, best, best_share)) {
        best = here;
        best_share = s;
      }
      size_t k = ranges.size();
      while (k > 0 && ++at[k - 1] == ranges[k - 1].values.size()) at[--k] = 0;
      if (k == 0) break;
    }
  } else {
    best_share = out.stock_share;
    for (int round = 0; round < 10; ++round) {
      bool moved = false;
      for (size_t k = 0; k < ranges.size(); ++k) {
        for (uint32_t v : ranges[k].values) {
          std::vector<Setting> here = best;
          here[k].value = v;
          double s = eval(here);
          if (better(here, s, best, best_share)) {
            best = here;
            best_share = s;
            moved = true;
          }
        }
      }
      if (!moved) break;
    }
  }
  out.best = best;
  out.share = best_share;
  return out;
}

std::string reg_fragment(const std::vector<Setting>& values) {
  std::string out = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture]\n";
  for (const auto& v : values) {
    const GestureSetting* s = find_gesture_setting(v.name);
    if (s) out += fmt::format("; {}: stock {}, {}\n", v.name, s->stock, s->unit);
    out += fmt::format("\"{}\"=dword:{:08x}\n", v.name, v.value);
  }
  return out;
}

}  // namespace sim
