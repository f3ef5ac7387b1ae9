#include "Tune.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <set>
#include <strings.h>

#include "replay/GestureSettings.h"
#include "replay/ReplayReport.h"

namespace sim {
namespace {

// The engine reads its settings as signed 32-bit numbers: past 2147483647 a value turns negative.
uint32_t whole(const std::string& s, const std::string& text) {
  uint64_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v > kMaxSettingValue) {
    throw dev::InputError(text, 0, "\"" + s + "\" is not a whole number from 0 to 2147483647");
  }
  return static_cast<uint32_t>(v);
}

const char kRangeForm[] =
    "a range is NAME=FROM..TO, NAME=FROM..TO:STEP, NAME=A,B,C, window=KIND,KIND,... or "
    "settings=stock,FILE.reg,...";

// The pieces of "A,B,C".
std::vector<std::string> listed(const std::string& text) {
  std::vector<std::string> out;
  size_t from = 0;
  while (true) {
    size_t comma = text.find(',', from);
    out.push_back(text.substr(from, comma - from));
    if (comma == std::string::npos) return out;
    from = comma + 1;
  }
}

// "settings=stock,mine.reg": the stock settings and those of .reg files, each once.
SettingRange sets_range(const std::string& text, const std::string& sets) {
  SettingRange r;
  r.name = kSettingsRange;
  for (const auto& label : listed(sets)) {
    if (label.empty()) throw dev::InputError(text, 0, "an empty name among the sets");
    if (std::find(r.labels.begin(), r.labels.end(), label) != r.labels.end())
      throw dev::InputError(text, 0, label + " is given twice");
    r.values.push_back(static_cast<uint32_t>(r.sets.size()));
    r.labels.push_back(label);
    r.sets.push_back(label == "stock" ? std::vector<Setting>{} : settings_of_reg_file(label));
  }
  return r;
}

// "window=list,browser": the kinds in the order given, each once.
SettingRange window_range(const std::string& text, const std::string& kinds) {
  SettingRange r;
  r.name = kWindowRange;
  for (const auto& kind : listed(kinds)) {
    ReplayWindow w;
    try {
      w = replay_window(kind);
    } catch (const dev::InputError& e) {
      throw dev::InputError(text, 0, e.reason);
    }
    auto v = static_cast<uint32_t>(w);
    if (std::find(r.values.begin(), r.values.end(), v) != r.values.end())
      throw dev::InputError(text, 0, std::string(replay_window_name(w)) + " is given twice");
    r.values.push_back(v);
  }
  return r;
}

// Every varied setting at its stock value; the window kind has none and does not count.
bool all_stock(const TunePoint& p) {
  bool any = false;
  for (const auto& v : p.values) {
    if (v.name == kWindowRange) continue;
    if (!v.stock) return false;
    any = true;
  }
  return any;
}

bool any_stock(const std::vector<TunePoint>& points) {
  return std::any_of(points.begin(), points.end(), [](const TunePoint& p) {
    return std::any_of(p.values.begin(), p.values.end(),
                       [](const TuneValue& v) { return v.stock; });
  });
}

const ClassCounts& all_row(const TunePoint& p) {
  return p.counts.back();
}

std::string percent(size_t n, size_t of) {
  return of == 0 ? "-"
                 : fmt::format("{:.0f}%", 100.0 * static_cast<double>(n) / static_cast<double>(of));
}

// The commonest string after the filter and how many strokes gave it ("" and 0 for none).
std::pair<std::string, size_t> commonest_string(const ClassCounts& c) {
  auto best = std::max_element(c.filtered.begin(), c.filtered.end(),
                               [](const auto& a, const auto& b) { return a.second < b.second; });
  if (best == c.filtered.end()) return {"", 0};
  return *best;
}

size_t count_of(const std::map<std::string, size_t>& m, const std::string& key) {
  auto it = m.find(key);
  return it == m.end() ? 0 : it->second;
}

// The strings after the filter are counted as the text shows them, in quotes; a cell holds the
// letters alone.
std::string letters(const std::string& shown) {
  if (shown.size() >= 2 && shown.front() == '"' && shown.back() == '"')
    return shown.substr(1, shown.size() - 2);
  return shown;
}

// A class's accuracy at a point, or over every class with an intent for the row "all".
Accuracy accuracy_in(const TunePoint& p, const std::string& gesture, const Intent& intent) {
  if (gesture == "all") return overall_accuracy(p.did, intent);
  for (const auto& row : p.did)
    if (row.gesture == gesture) return accuracy_of(row, intent);
  return {};
}

}  // namespace

bool SettingRange::is_window() const {
  return name == kWindowRange;
}

bool SettingRange::is_sets() const {
  return name == kSettingsRange;
}

std::string SettingRange::text_of(size_t i) const {
  if (is_window()) return replay_window_name(static_cast<ReplayWindow>(values[i]));
  if (is_sets()) return labels[values[i]];
  return std::to_string(values[i]);
}

bool SettingRange::stock_at(size_t i) const {
  if (is_sets()) return labels[values[i]] == "stock";
  const GestureSetting* s = find_gesture_setting(name);
  return s != nullptr && s->stock == values[i];
}

std::vector<Setting> settings_of_reg_file(const std::string& path) {
  static const std::string kKeys[] = {"HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture",
                                      "HKLM\\Software\\Quob\\Gesture"};
  std::vector<Setting> out;
  for (const auto& v : dev::read_reg_file_values(path)) {
    std::string key = v.key;
    while (!key.empty() && key.back() == '\\') key.pop_back();
    bool ours = std::any_of(std::begin(kKeys), std::end(kKeys), [&](const std::string& k) {
      return strcasecmp(k.c_str(), key.c_str()) == 0;
    });
    if (!ours)
      throw dev::InputError(path, v.line,
                            "only the settings under HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture "
                            "are read, not [" +
                                v.key + "]");
    std::string name = setting_name(v.name);
    if (name.empty())
      throw dev::InputError(path, v.line, "\"" + v.name + "\" is not a gesture setting");
    if (v.remove || !v.is_dword)
      throw dev::InputError(path, v.line, "\"" + name + "\" needs a value dword:XXXXXXXX");
    if (v.dword > kMaxSettingValue)
      throw dev::InputError(
          path, v.line, "\"" + name + "\" is past 2147483647, which the engine reads as negative");
    out.erase(
        std::remove_if(out.begin(), out.end(), [&](const Setting& s) { return s.name == name; }),
        out.end());
    out.push_back({name, v.dword});
  }
  return out;
}

SettingRange parse_range(const std::string& text) {
  size_t eq = text.find('=');
  if (eq == std::string::npos) throw dev::InputError(text, 0, kRangeForm);
  if (text.substr(0, eq) == kWindowRange) return window_range(text, text.substr(eq + 1));
  if (text.substr(0, eq) == kSettingsRange) return sets_range(text, text.substr(eq + 1));
  SettingRange r;
  r.name = setting_name(text.substr(0, eq));
  if (r.name.empty()) {
    try {
      parse_setting(text.substr(0, eq) + "=0");
    } catch (const dev::InputError& e) {
      throw dev::InputError(text, 0, e.reason);  // it says which names there are
    }
  }
  std::string spec = text.substr(eq + 1);
  size_t dots = spec.find("..");
  if (dots == std::string::npos) {
    size_t from = 0;
    while (true) {
      size_t comma = spec.find(',', from);
      r.values.push_back(whole(spec.substr(from, comma - from), text));
      if (comma == std::string::npos) break;
      from = comma + 1;
      if (r.values.size() > kMaxRangeValues) break;
    }
  } else {
    size_t colon = spec.find(':', dots);
    uint32_t lo = whole(spec.substr(0, dots), text);
    uint32_t hi =
        whole(spec.substr(dots + 2, colon == std::string::npos ? colon : colon - dots - 2), text);
    uint32_t step = colon == std::string::npos ? 1 : whole(spec.substr(colon + 1), text);
    if (step == 0) throw dev::InputError(text, 0, "the step must be at least 1");
    if (hi < lo) throw dev::InputError(text, 0, "the range runs backwards");
    if ((hi - lo) / step + 1 > kMaxRangeValues) {
      throw dev::InputError(text, 0, fmt::format("more than {} values", kMaxRangeValues));
    }
    for (uint64_t v = lo; v <= hi; v += step) r.values.push_back(static_cast<uint32_t>(v));
  }
  if (r.values.size() > kMaxRangeValues) {
    throw dev::InputError(text, 0, fmt::format("more than {} values", kMaxRangeValues));
  }
  return r;
}

ReplaySetup with_settings(const ReplaySetup& setup, const std::vector<Setting>& values) {
  ReplaySetup here = setup;
  for (const Setting& v : values) {
    auto& s = here.settings;
    s.erase(std::remove_if(s.begin(), s.end(), [&](const Setting& x) { return x.name == v.name; }),
            s.end());
    s.push_back(v);
  }
  return here;
}

ReplaySetup point_setup(const ReplaySetup& setup, const std::vector<SettingRange>& ranges,
                        const TunePoint& p) {
  ReplaySetup here = setup;
  // Each range's value replaces what `setup` says of the same setting or window.
  auto put = [&](const Setting& v) { here = with_settings(here, {v}); };
  for (size_t k = 0; k < ranges.size() && k < p.values.size(); ++k) {
    const SettingRange& r = ranges[k];
    uint32_t v = p.values[k].value;
    if (r.is_window()) {
      here.window = static_cast<ReplayWindow>(v);
    } else if (r.is_sets()) {
      for (const Setting& s : r.sets[v]) put(s);
    } else {
      put({r.name, v});
    }
  }
  return here;
}

std::vector<TunePoint> tune(const std::vector<NamedStroke>& strokes, const ReplaySetup& setup,
                            const std::vector<SettingRange>& ranges, const RunOptions& base,
                            const std::function<void(const TunePoint&)>& done,
                            const std::function<void()>& stroke_done) {
  std::vector<TunePoint> points;
  std::vector<size_t> at(ranges.size(), 0);  // the value of each range at this point
  while (true) {
    TunePoint p;
    for (size_t k = 0; k < ranges.size(); ++k) {
      const SettingRange& r = ranges[k];
      p.values.push_back({r.name, r.values[at[k]], r.text_of(at[k]), r.stock_at(at[k])});
    }
    ReplaySetup here = point_setup(setup, ranges, p);
    auto results = replay_strokes(strokes, here, base, [&](size_t, const StrokeResult&) {
      if (stroke_done) stroke_done();
    });
    for (const auto& r : results) p.failed += r.error.empty() ? 0 : 1;
    p.counts = count_by_class(results);
    p.did = did_by_class(results);
    p.results = std::move(results);
    if (done) done(p);
    points.push_back(std::move(p));
    // The last range turns fastest.
    size_t k = ranges.size();
    while (k > 0 && ++at[k - 1] == ranges[k - 1].values.size()) at[--k] = 0;
    if (k == 0) break;
  }
  return points;
}

std::vector<std::pair<int, std::string>> commonest_behaviours(const std::vector<TunePoint>& points,
                                                              size_t most) {
  std::map<int, size_t> overall;
  std::map<int, std::string> meanings;
  for (const auto& p : points) {
    for (const auto& [b, n] : all_row(p).behaviours) overall[b] += n;
    for (const auto& [b, m] : all_row(p).meanings) meanings[b] = m;
  }
  std::vector<std::pair<int, size_t>> sorted(overall.begin(), overall.end());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  std::vector<std::pair<int, std::string>> out;
  for (size_t i = 0; i < sorted.size() && i < most; ++i)
    out.emplace_back(sorted[i].first, meanings[sorted[i].first]);
  return out;
}

std::string point_name(const TunePoint& p, bool marks) {
  std::string out;
  for (const auto& v : p.values)
    out += fmt::format("{}{}={}{}", out.empty() ? "" : " ", v.name, v.text,
                       marks && v.stock ? "*" : "");
  return out;
}

Accuracy point_accuracy(const TunePoint& p, const Intent& intent) {
  return overall_accuracy(p.did, intent);
}

std::string tune_table(const std::vector<TunePoint>& points, const Intent* intent) {
  if (points.empty()) return "";
  // The behaviours that matter most over the whole tuning get a column each.
  auto top = commonest_behaviours(points, 6);
  size_t name_width = 5;
  for (const auto& p : points) name_width = std::max(name_width, point_name(p).size());
  std::string out = fmt::format("{:<{}}  {:>7}  {:>7}  {:>7}  {:>7}  {:>5}", "", name_width,
                                "passed", "p&hold", "panned", "handed", "codes");
  if (intent) out += fmt::format("  {:>8}", "as meant");
  for (const auto& [b, meaning] : top)
    out += fmt::format("  {:>5}", b == 0 ? std::string("none") : std::to_string(b));
  out += "\n";
  for (const auto& p : points) {
    const ClassCounts& a = all_row(p);
    auto hold = a.reasons.find("press-and-hold");
    out += fmt::format("{:<{}}  {:>7}  {:>7}  {:>7}  {:>7}  {:>5}", point_name(p), name_width,
                       percent(a.passed, a.strokes),
                       percent(hold == a.reasons.end() ? 0 : hold->second, a.strokes),
                       percent(a.panned, a.strokes), percent(a.handed, a.strokes),
                       a.handed == 0 ? std::string("-")
                                     : fmt::format("{:.1f}", static_cast<double>(a.codes) /
                                                                 static_cast<double>(a.handed)));
    if (intent) {
      Accuracy meant = point_accuracy(p, *intent);
      out += fmt::format("  {:>8}", percent(meant.as_meant, meant.intended));
    }
    for (const auto& [b, meaning] : top) {
      auto it = a.behaviours.find(b);
      out += fmt::format("  {:>5}", percent(it == a.behaviours.end() ? 0 : it->second, a.strokes));
    }
    if (p.failed > 0) out += fmt::format("  ({} not replayed)", p.failed);
    out += "\n";
  }
  out +=
      "shares of all strokes; p&hold: passed through as press-and-hold; codes: direction codes "
      "per stroke handed over, before the filter";
  if (intent) out += "; as meant: of the strokes with an intent, those that did what was meant";
  if (any_stock(points)) out += "; *: the stock value";
  for (const auto& [b, meaning] : top)
    if (b != 0) out += fmt::format("; {} {}", b, meaning);
  return out + "\n";
}

std::string tune_strings_table(const std::vector<TunePoint>& points) {
  if (points.empty()) return "";
  size_t classes = points.front().counts.size() - 1;
  if (classes == 0 || classes > kMaxClassColumns) return "";
  size_t name_width = 5;
  for (const auto& p : points) name_width = std::max(name_width, point_name(p).size());
  std::string out = fmt::format("{:<{}}", "", name_width);
  for (size_t c = 0; c < classes; ++c)
    out += fmt::format("  {:<18}", points.front().counts[c].gesture);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  out += "\n";
  for (const auto& p : points) {
    out += fmt::format("{:<{}}", point_name(p), name_width);
    for (size_t c = 0; c < classes; ++c) {
      const ClassCounts& k = p.counts[c];
      auto [string, n] = commonest_string(k);
      out +=
          fmt::format("  {:<18}", n == 0 ? std::string("-") : string + " " + percent(n, k.strokes));
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    out += "\n";
  }
  return out + "the commonest string after the filter, as a share of the class's strokes" +
         (any_stock(points) ? "; *: the stock value" : "") + "\n";
}

std::string tune_csv(const std::vector<TunePoint>& points, const Intent* intent) {
  std::string out;
  if (points.empty()) return out;
  // A column for every behaviour any point chose, so that each cell holds one number.
  std::set<int> behaviours;
  for (const auto& p : points)
    for (const auto& c : p.counts)
      for (const auto& [b, n] : c.behaviours) behaviours.insert(b);
  for (const auto& v : points.front().values) out += csv_field(v.name) + ",";
  out += "gesture,strokes,passed,press_and_hold,panned,handed_over,codes,not_replayed";
  for (int b : behaviours) out += b == 0 ? ",behaviour_none" : fmt::format(",behaviour_{}", b);
  out += ",commonest_filtered,commonest_filtered_strokes";
  if (intent) out += ",intended,as_meant";
  out += ",at_stock\n";
  for (const auto& p : points) {
    for (const auto& c : p.counts) {
      for (const auto& v : p.values) out += csv_field(v.text) + ",";
      out += fmt::format("{},{},{},{},{},{},{},{}", csv_field(c.gesture), c.strokes, c.passed,
                         count_of(c.reasons, "press-and-hold"), c.panned, c.handed, c.codes,
                         c.gesture == "all" ? p.failed : 0);
      for (int b : behaviours) {
        auto it = c.behaviours.find(b);
        out += fmt::format(",{}", it == c.behaviours.end() ? 0 : it->second);
      }
      auto [string, n] = commonest_string(c);
      out += fmt::format(",{},{}", csv_field(letters(string)), n);
      if (intent) {
        Accuracy a = accuracy_in(p, c.gesture, *intent);
        out += fmt::format(",{},{}", a.intended, a.as_meant);
      }
      out += fmt::format(",{}\n", all_stock(p) ? 1 : 0);
    }
  }
  return out;
}

std::vector<dev::Fields> tune_json(const TunePoint& p, const Intent* intent) {
  std::vector<dev::Fields> out;
  for (const auto& c : p.counts) {
    dev::Fields j;
    j["kind"] = "tune";
    dev::Fields values = dev::Fields::object(), stock = dev::Fields::object();
    for (const auto& v : p.values) {
      if (v.name == kWindowRange || v.name == kSettingsRange) {
        j[v.name] = v.text;
        continue;
      }
      values[v.name] = v.value;
      if (const GestureSetting* s = find_gesture_setting(v.name)) stock[v.name] = s->stock;
    }
    j["settings"] = values;
    j["stock"] = stock;
    j["gesture"] = c.gesture;
    j["strokes"] = c.strokes;
    j["passed"] = c.passed;
    j["press_and_hold"] = count_of(c.reasons, "press-and-hold");
    j["panned"] = c.panned;
    j["handed_over"] = c.handed;
    j["codes"] = c.codes;
    if (c.gesture == "all") j["not_replayed"] = p.failed;
    dev::Fields behaviours = dev::Fields::object();
    for (const auto& [b, n] : c.behaviours) behaviours[std::to_string(b)] = n;
    j["behaviours"] = behaviours;
    dev::Fields filtered = dev::Fields::object();
    for (const auto& [f, n] : c.filtered) filtered[letters(f)] = n;
    j["filtered"] = filtered;
    dev::Fields did = dev::Fields::object();
    for (const auto& row : p.did)
      if (row.gesture == c.gesture)
        for (const auto& [what, n] : row.did) did[what] = n;
    j["did"] = did;
    if (intent) {
      Accuracy a = accuracy_in(p, c.gesture, *intent);
      j["intended"] = a.intended;
      j["as_meant"] = a.as_meant;
    }
    out.push_back(std::move(j));
  }
  return out;
}

}  // namespace sim
