#include "ReplayPictures.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>

#include "StrokeLog.h"
#include "draw/ContactSheet.h"
#include "draw/TunePlot.h"
#include "replay/ClassTable.h"
#include "replay/GestureSettings.h"

namespace sim {
namespace {

draw::Format format_for(const std::string& name) {
  draw::Format format;
  if (!draw::format_of(name, &format))
    throw dev::InputError(name, 0, "a picture is a .png or .svg file");
  return format;
}

draw::Decision decision_of(const StrokeResult& r) {
  const std::string& d = r.outcome.decision;
  if (!r.error.empty()) return draw::Decision::kKept;
  if (d == "passed through") return draw::Decision::kPassed;
  if (d == "panned") return draw::Decision::kPanned;
  if (d == "handed over") return draw::Decision::kHandedOver;
  return draw::Decision::kKept;
}

std::string result_of(const StrokeResult& r) {
  const StrokeOutcome& o = r.outcome;
  if (!r.error.empty()) return "not replayed";
  if (o.decision == "passed through") return reason_kind(o.reason);
  if (o.decision != "handed over") return o.decision.empty() ? "undecided" : o.decision;
  std::string what =
      o.behaviour != 0 ? fmt::format("{} {}", o.behaviour, o.meaning) : "nothing chosen";
  return fmt::format("\"{}\": {}", o.filtered, what);
}

std::string setup_heading(const ReplaySetup& setup, bool window_varied = false) {
  std::string out = window_varied ? std::string("on each window kind")
                                  : fmt::format("on a {} window", replay_window_name(setup.window));
  for (const auto& s : setup.settings) out += fmt::format(", {}={}", s.name, s.value);
  return out;
}

// Who drew a stroke and how fast, as its file says: "subject 2, fast".
std::string about_of(const RecordedStroke& s) {
  std::string out = s.subject.empty() ? "" : "subject " + s.subject;
  if (!s.speed.empty()) out += (out.empty() ? "" : ", ") + s.speed;
  return out;
}

// The codes of an outcome ("Z34") with their lengths; one that does not read so is left out.
std::vector<std::pair<char, int>> code_lengths(const std::vector<std::string>& codes) {
  std::vector<std::pair<char, int>> out;
  for (const auto& c : codes) {
    if (c.size() < 2) continue;
    char* end = nullptr;
    long length = std::strtol(c.c_str() + 1, &end, 10);
    if (*end == '\0' && length >= 0 && length <= 1 << 30)
      out.emplace_back(c[0], static_cast<int>(length));
  }
  return out;
}

double share_of(size_t n, size_t of) {
  return of == 0 ? 0 : static_cast<double>(n) / static_cast<double>(of);
}

}  // namespace

void check_picture_name(const std::string& path, const std::string& option) {
  draw::Format format;
  if (!path.empty() && !draw::format_of(path, &format))
    throw dev::InputError(option, 0, "\"" + path + "\": a picture is a .png or .svg file");
}

void write_replay_sheet(const std::vector<NamedStroke>& strokes,
                        const std::vector<StrokeResult>& results, const ReplaySetup& setup,
                        const std::string& path, const std::string& name) {
  std::vector<draw::SheetCell> cells;
  for (size_t i = 0; i < strokes.size() && i < results.size(); ++i) {
    const StrokeResult& r = results[i];
    draw::SheetCell c;
    c.title = r.name;
    c.group = r.gesture;
    for (const auto& p : strokes[i].stroke.points)
      c.points.push_back({static_cast<double>(p.x), static_cast<double>(p.y)});
    c.decision = decision_of(r);
    c.about = about_of(strokes[i].stroke);
    c.segments = place_codes(c.points, code_lengths(r.outcome.codes));
    for (const auto& code : r.outcome.codes) c.codes += (c.codes.empty() ? "" : " ") + code;
    c.result = result_of(r);
    cells.push_back(std::move(c));
  }
  std::string heading = fmt::format("{} strokes {}", cells.size(), setup_heading(setup));
  draw::write_contact_sheet(heading, cells, path, format_for(name));
}

void write_tune_plot(const std::vector<TunePoint>& points, const std::vector<SettingRange>& ranges,
                     const ReplaySetup& setup, const Intent* intent, const std::string& path,
                     const std::string& name) {
  if (points.empty() || ranges.empty()) return;
  const SettingRange& across = ranges[0];
  size_t panels = ranges.size() > 1 ? ranges[1].values.size() : 1;
  // What each line shows, by its label: a share of all strokes (or of a class's) at a point.
  using Measure = std::function<double(const TunePoint&)>;
  std::vector<std::pair<std::string, Measure>> lines;
  auto all = [](const TunePoint& p) -> const ClassCounts& { return p.counts.back(); };
  auto holds = [&](const TunePoint& p) {
    auto it = all(p).reasons.find("press-and-hold");
    return it == all(p).reasons.end() ? size_t{0} : it->second;
  };
  // When every stroke that passed passed as a press-and-hold, one line shows both.
  bool only_holds = std::all_of(points.begin(), points.end(),
                                [&](const TunePoint& p) { return holds(p) == all(p).passed; });
  if (!only_holds) {
    lines.push_back({"passed through",
                     [&](const TunePoint& p) { return share_of(all(p).passed, all(p).strokes); }});
  }
  lines.push_back({only_holds ? "passed through: press-and-hold" : "press-and-hold",
                   [&](const TunePoint& p) { return share_of(holds(p), all(p).strokes); }});
  lines.push_back(
      {"panned", [&](const TunePoint& p) { return share_of(all(p).panned, all(p).strokes); }});
  lines.push_back(
      {"handed over", [&](const TunePoint& p) { return share_of(all(p).handed, all(p).strokes); }});
  if (intent) {
    lines.push_back({"as meant", [intent](const TunePoint& p) {
                       Accuracy a = point_accuracy(p, *intent);
                       return share_of(a.as_meant, a.intended);
                     }});
  }
  // With few classes their strings after the filter join the chart, and fewer behaviours do.
  size_t classes = points.front().counts.size() - 1;
  auto top = commonest_behaviours(points, classes <= 3 ? 3 : 5);
  for (const auto& [b, meaning] : top) {
    std::string label = b == 0 ? "no behaviour" : fmt::format("{} {}", b, meaning);
    int key = b;
    lines.push_back({label, [&all, key](const TunePoint& p) {
                       auto it = all(p).behaviours.find(key);
                       return share_of(it == all(p).behaviours.end() ? 0 : it->second,
                                       all(p).strokes);
                     }});
  }
  if (classes <= 3) {
    for (size_t c = 0; c < classes; ++c) {
      std::map<std::string, size_t> strings;
      for (const auto& p : points)
        for (const auto& [s, n] : p.counts[c].filtered) strings[s] += n;
      std::vector<std::pair<std::string, size_t>> best(strings.begin(), strings.end());
      std::stable_sort(best.begin(), best.end(),
                       [](const auto& a, const auto& b) { return a.second > b.second; });
      if (best.size() > 2) best.resize(2);
      for (const auto& [s, n] : best) {
        std::string str = s;
        lines.push_back({points.front().counts[c].gesture + " " + s, [c, str](const TunePoint& p) {
                           auto it = p.counts[c].filtered.find(str);
                           return share_of(it == p.counts[c].filtered.end() ? 0 : it->second,
                                           p.counts[c].strokes);
                         }});
      }
    }
  }
  // A setting runs along x by its values, with its stock value marked; window kinds one after
  // another, by name.
  draw::PlotAxis x;
  x.name = across.name;
  for (size_t i = 0; i < across.values.size(); ++i) {
    bool named = across.is_window() || across.is_sets();
    x.values.push_back(named ? static_cast<double>(i) : across.values[i]);
    if (named) x.labels.push_back(across.text_of(i));
  }
  if (const GestureSetting* stock = find_gesture_setting(across.name)) x.marked = stock->stock;
  std::vector<draw::PlotPanel> out(panels);
  for (size_t k = 0; k < panels; ++k) {
    if (ranges.size() > 1) {
      out[k].title = fmt::format("{}={}{}", ranges[1].name, ranges[1].text_of(k),
                                 ranges[1].stock_at(k) && !ranges[1].is_sets() ? " (stock)" : "");
    }
    for (const auto& [label, measure] : lines) {
      draw::PlotSeries s;
      s.label = label;
      bool any = false;
      for (size_t i = 0; i < across.values.size(); ++i) {
        // The first range turns slowest: point i of panel k.
        double v = measure(points[i * panels + k]);
        s.values.push_back(v);
        any = any || v > 0;
      }
      if (any) out[k].series.push_back(std::move(s));
    }
  }
  std::string title =
      fmt::format("{} strokes {}", points.front().counts.back().strokes,
                  setup_heading(setup, std::any_of(ranges.begin(), ranges.end(),
                                                   [](const auto& r) { return r.is_window(); })));
  draw::write_tune_plot(title, x, out, path, format_for(name));
}

}  // namespace sim
