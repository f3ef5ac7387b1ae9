#include "StrokeReplay.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "OutcomeText.h"
#include "replay/ResultLine.h"
#include "replay/Workers.h"

namespace sim {
namespace {

const char kGestureKey[] = "HKLM\\Software\\Quob\\Gesture";

std::string upper(std::string s) {
  for (auto& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return s;
}

cmd::Window window(const std::string& label, const std::string& kind, int y, int height) {
  cmd::Window w;
  w.label = label;
  w.kind_name = kind;
  dev::apps::kind_from_name(kind, &w.kind);
  w.y = y;
  w.width = 240;
  w.height = height;
  return w;
}

// The window of each kind as the scenarios place them, below the 26-pixel task bar; the list is
// long enough that no flick reaches its end, the browser has pages behind and ahead.
std::vector<cmd::Kind> window_commands(ReplayWindow kind) {
  std::string front;
  std::vector<cmd::Kind> out;
  switch (kind) {
    case ReplayWindow::kList: {
      cmd::Window list = window(front = "list", "list", 26, 268);
      list.lines = 400;
      list.page = 12;
      out.push_back(list);
      break;
    }
    case ReplayWindow::kAware:
      out.push_back(window(front = "viewer", "aware", 26, 268));
      break;
    case ReplayWindow::kBrowser: {
      cmd::Window web = window(front = "web", "browser", 0, 320);
      web.pages = 5;
      web.at = 3;
      cmd::Window page = window("page", "view", 26, 268);
      page.parent = "web";
      page.lines = 2000;
      out.push_back(web);
      out.push_back(page);
      break;
    }
    case ReplayWindow::kPlain:
      out.push_back(window(front = "label", "plain", 26, 268));
      break;
  }
  out.push_back(cmd::Foreground{front});
  return out;
}

cmd::Preset setting(const std::string& name, uint32_t value) {
  cmd::RegValue v;
  v.key = kGestureKey;
  v.name = name;
  v.number = value;
  return {v};
}

template <typename T>
T get(const dev::Fields& j, const char* key, T fallback = T()) {
  auto it = j.find(key);
  return it == j.end() || it->is_null() ? fallback : it->get<T>();
}

}  // namespace

ReplayWindow replay_window(const std::string& name) {
  if (name == "list") return ReplayWindow::kList;
  if (name == "aware") return ReplayWindow::kAware;
  if (name == "browser") return ReplayWindow::kBrowser;
  if (name == "plain") return ReplayWindow::kPlain;
  throw dev::InputError("--window", 0,
                        "\"" + name + "\" is not a window kind: list, aware, browser or plain");
}

const char* replay_window_name(ReplayWindow window) {
  switch (window) {
    case ReplayWindow::kList:
      return "list";
    case ReplayWindow::kAware:
      return "aware";
    case ReplayWindow::kBrowser:
      return "browser";
    case ReplayWindow::kPlain:
      return "plain";
  }
  return "?";
}

const std::vector<std::string>& setting_names() {
  static const std::vector<std::string> names = {
      "Activate",        "LongPressTime", "LongTappingMax", "ShortPressTime",
      "ShortTappingMax", "GRIDSIZE",      "PGRIDSIZE",      "NOISESIZE",
      "Sound",           "Bound1",        "Bound2",         "FilterValue",
      "FilterDistance",  "Amp",           "PanTime",        "LenThres",
      "IgnoreCount",     "LastUpCount",   "Rotation",       "ScrollLimit"};
  return names;
}

std::string setting_name(const std::string& name) {
  // The registry ignores case in value names, and so does this.
  for (const auto& known : setting_names())
    if (upper(known) == upper(name)) return known;
  return "";
}

Setting parse_setting(const std::string& text) {
  size_t eq = text.find('=');
  std::string name = setting_name(text.substr(0, eq));
  if (eq == std::string::npos || name.empty()) {
    std::string known;
    for (const auto& n : setting_names()) known += (known.empty() ? "" : ", ") + n;
    throw dev::InputError(text, 0,
                          eq == std::string::npos ? "a setting is NAME=VALUE, one of: " + known
                                                  : "no such setting; the settings are " + known);
  }
  std::string value = text.substr(eq + 1);
  uint64_t v = 0;
  auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
  if (value.empty() || ec != std::errc() || end != value.data() + value.size() ||
      v > kMaxSettingValue) {
    throw dev::InputError(text, 0,
                          "the value \"" + value + "\" is not a whole number from 0 to 2147483647");
  }
  return {name, static_cast<uint32_t>(v)};
}

Scenario replay_scenario(const NamedStroke& stroke, const ReplaySetup& setup) {
  ScenarioParser parser(stroke.file, ".");
  parser.add({0, setting("Activate", 1)});
  for (const auto& s : setup.settings) parser.add({0, setting(s.name, s.value)});
  for (cmd::Kind& k : window_commands(setup.window)) parser.add({0, std::move(k)});
  // The proxy and the engines load their settings as the device comes up; a stroke at the
  // first moment would find them still booting.
  parser.add({0, cmd::Wait{100}});
  cmd::Replay replay;
  replay.file = stroke.stroke.name;
  replay.stroke = std::make_shared<const RecordedStroke>(stroke.stroke);
  if (setup.native) {
    replay.native = 1;
  } else {
    replay.rate = setup.rate_hz;
  }
  parser.add({0, std::move(replay)});
  return parser.scenario();
}

RunOptions stroke_run_options(const RunOptions& base) {
  RunOptions options = base;
  options.keep_log = false;
  options.live = nullptr;
  options.on_outcome = nullptr;
  options.audio_file.clear();
  options.pictures = {};
  return options;
}

StrokeResult replay_stroke(const NamedStroke& stroke, const ReplaySetup& setup,
                           const RunOptions& base) {
  StrokeResult r;
  r.file = stroke.file;
  r.gesture = stroke.gesture;
  r.name = stroke.stroke.name;
  RunOptions options = stroke_run_options(base);
  try {
    RunResult run = run_scenario(replay_scenario(stroke, setup), options);
    if (run.outcomes.size() != 1) {
      r.error = fmt::format("the run gave {} outcomes for one stroke", run.outcomes.size());
    } else {
      r.outcome = run.outcomes.front();
    }
    r.panel = run.panel_samples;
    r.unchanged = run.unchanged_samples;
    r.rebuilt = run.rebuilt_samples;
    r.engine = run.engine_samples;
    r.dropped = run.dropped_samples;
    r.partial = !run.partial_strokes.empty();
  } catch (const std::exception& e) {
    r.error = e.what();
  }
  return r;
}

std::vector<StrokeResult> replay_strokes(
    const std::vector<NamedStroke>& strokes, const ReplaySetup& setup, const RunOptions& base,
    const std::function<void(size_t, const StrokeResult&)>& each) {
  std::vector<StrokeResult> results(strokes.size());
  run_in_workers(
      strokes.size(), setup.jobs,
      [&](size_t i) { return result_line(replay_stroke(strokes[i], setup, base)); },
      [&](size_t i, const std::string& text, const WorkerReport& report) {
        StrokeResult& r = results[i];
        if (report.lost) {
          r.file = strokes[i].file;
          r.gesture = strokes[i].gesture;
          r.name = strokes[i].stroke.name;
          r.error = report.why;
        } else {
          r = result_from_line(text);
        }
        if (each) each(i, r);
      });
  return results;
}

dev::Fields result_json(const StrokeResult& r) {
  return {{"kind", "replay"},     {"file", r.file},     {"gesture", r.gesture},
          {"name", r.name},       {"panel", r.panel},   {"unchanged", r.unchanged},
          {"rebuilt", r.rebuilt}, {"engine", r.engine}, {"dropped", r.dropped},
          {"partial", r.partial}, {"error", r.error},   {"outcome", outcome_json(r.outcome)}};
}

StrokeResult result_from_json(const dev::Fields& j) {
  StrokeResult r;
  r.file = get<std::string>(j, "file");
  r.gesture = get<std::string>(j, "gesture");
  r.name = get<std::string>(j, "name");
  r.panel = get<size_t>(j, "panel");
  r.unchanged = get<size_t>(j, "unchanged");
  r.rebuilt = get<size_t>(j, "rebuilt");
  r.engine = get<size_t>(j, "engine");
  r.dropped = get<size_t>(j, "dropped");
  r.partial = get<bool>(j, "partial");
  r.error = get<std::string>(j, "error");
  if (j.contains("outcome")) r.outcome = outcome_from_json(j["outcome"]);
  return r;
}

}  // namespace sim
