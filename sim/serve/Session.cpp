#include "Session.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>

#include "OutcomeText.h"
#include "draw/Screen.h"
#include "SettingsTable.h"

namespace sim::serve {
namespace {

const char kRotationKey[] = "HKEY_LOCAL_MACHINE\\System\\GDI\\Rotation";
const char kGestureKey[] = "HKLM\\Software\\Quob\\Gesture";
// How long a run goes on after its last line for the effects to end: a momentum lasts a few
// seconds; one capped at the highest ScrollLimit runs longer, and then the run is made again
// with the longest trail.
const uint64_t kTrailMs = 5000;
const uint64_t kLongTrailMs = 120000;
const char kFirstLabel[] = "w0";
const uint64_t kSettleMs = 500;
// The screen is pictured this often while a stroke's effects last, so that the page can show the
// list scrolling on and slowing down; a momentum longer than kMaxFrames frames shows its start.
const uint32_t kFrameMs = 80;
const size_t kMaxFrames = 250;
// A stroke comes this long after the effects of the one before ended: at their very end a
// pen-down would still stop the momentum.
const uint64_t kAfterEffectsMs = 100;
// A stroke shorter and stiller than these is a tap on the dialog in front.
const uint32_t kDialogTapMs = 250;
const int kDialogTapTravel = 6;

// The commands of `first`, then those of `second`.
Commands then(Commands first, const Commands& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

}  // namespace

Session::Session(std::string base, std::string file, std::string dir, RunOptions options,
                 std::string folder, WallClock wall)
    : base_(std::move(base)),
      file_(std::move(file)),
      dir_(std::move(dir)),
      folder_(std::move(folder)),
      options_(std::move(options)),
      wall_(std::move(wall)),
      base_parsed_(file_, dir_),
      checked_(file_, dir_) {
  if (base_.empty()) {
    base_ = scenario_lines(start_commands(kFirstLabel));
    base_kind_ = "list";
    base_label_ = kFirstLabel;
  }
  options_.keep_log = false;
  options_.picture_commands = false;
  options_.pictures = PictureFiles();
  options_.pictures.screenshot = screen_file();
  base_parsed_.parse_text(base_);
  screen_ = base_parsed_.scenario().screen;
  reset();
}

nlohmann::json Session::reset() {
  checked_ = base_parsed_;
  played_.clear();
  comments_.clear();
  settings_.clear();
  window_kind_ = base_kind_;
  window_label_ = base_label_;
  windows_placed_ = 0;
  cursor_ = busy_until_ = 0;
  Played p = play({}, 0, 0);
  // The base scenario's cursor: its run ends half a second after it (and the trail), or later
  // when a command made the device run past it.
  cursor_ = p.cursor;
  busy_until_ = std::max(busy_until_, cursor_);
  wall_origin_ = wall_();
  device_origin_ = busy_until_;
  return {{"reset", true}};
}

uint64_t Session::device_now() {
  return device_origin_ + (wall_() - wall_origin_);
}

Session::Played Session::play(const Commands& commands, uint64_t at, uint64_t cursor_after,
                              const Comments& comments) {
  ScenarioParser next = checked_;
  Played p;
  p.at = at;
  uint64_t trail = kTrailMs;
  for (;;) {
    Scenario s;
    try {
      for (size_t i = 0; i <= commands.size(); ++i) {
        for (const Comment& c : comments) {
          if (c.before == i) next.skip_line();
        }
        if (i < commands.size()) next.add(commands[i]);
      }
      ScenarioParser run = next;
      run.skip_line();  // the trail's comment
      for (const Command& c : trail_commands(trail)) run.add(c);
      s = run.scenario();
    } catch (const dev::InputError& e) {
      throw BadRequest(e.what());
    }
    p.outcomes.clear();
    p.sounds.clear();
    std::vector<std::pair<uint64_t, dev::ScreenView>> frames;
    std::string jsonl;
    uint32_t angle = 0;
    RunOptions o = options_;
    o.live = [&](const dev::LogEntry& e) {
      jsonl += e.json() + '\n';
      if (e.kind == "reg-write" && e.str("key") == kRotationKey && e.str("value") == "Angle")
        angle = static_cast<uint32_t>(e.num("data"));
      if (e.kind == "sound" && e.time >= at && e.fields.value("played", false))
        p.sounds.push_back({{"t", e.time}, {"resource", e.str("resource")}, {"ms", e.num("ms")}});
    };
    std::map<std::string, long long> in_force;
    std::vector<DialogTarget> targets;
    o.at_end = [&](dev::Device& d) {
      if (options_.at_end) options_.at_end(d);
      targets = dialog_targets(d.screen());
      for (const SettingInfo& info : settings_table()) {
        uint32_t v = 0;
        if (d.reg_get_dword(kGestureKey, info.name, &v))
          in_force[info.name] = static_cast<int32_t>(v);
      }
    };
    o.on_outcome = [&](const StrokeOutcome& out) {
      jsonl += outcome_json(out).dump() + '\n';
      if (out.start >= at) p.outcomes.push_back(out);
    };
    if (at > 0) {
      o.frames_from = cursor_after;
      o.frame_every_ms = kFrameMs;
      o.on_frame = [&](dev::Device& d, uint64_t t) {
        if (frames.size() < kMaxFrames) frames.emplace_back(t, d.screen());
      };
    }
    RunResult r;
    try {
      r = run_scenario(s, o);
    } catch (const CommandError& e) {
      throw BadRequest(e.what());
    }
    p.cursor = r.end_time > trail + kSettleMs ? r.end_time - trail - kSettleMs : 0;
    uint64_t busy = std::max(p.cursor, cursor_after);
    bool ended_in_time = true;
    for (const StrokeOutcome& out : p.outcomes) {
      busy = std::max(busy, out.end);
      if (out.end + 1 >= r.end_time) ended_in_time = false;
    }
    if (!ended_in_time && trail < kLongTrailMs) {
      trail = kLongTrailMs;
      next = checked_;
      continue;
    }
    checked_ = std::move(next);
    for (const Comment& c : comments) comments_.push_back({played_.size() + c.before, c.text});
    played_.insert(played_.end(), commands.begin(), commands.end());
    jsonl_ = std::move(jsonl);
    angle_ = angle;
    in_force_ = std::move(in_force);
    dialog_targets_ = std::move(targets);
    busy_until_ = busy;
    frames_ = 0;
    for (const auto& [t, view] : frames) {
      if (t > busy) break;
      draw::write_screenshot(view, fmt::format("{}/frame-{}.png", folder_, frames_),
                             draw::Format::kPng);
      p.frames.push_back(t);
      ++frames_;
    }
    return p;
  }
}

std::string Session::frame_file(size_t n) const {
  return n < frames_ ? fmt::format("{}/frame-{}.png", folder_, n) : "";
}

nlohmann::json Session::stroke(const DrawnStroke& stroke) {
  // The screen of the orientation the last run left in force.
  bool turned = angle_ == 90 || angle_ == 270;
  int w = turned ? screen_.height : screen_.width, h = turned ? screen_.width : screen_.height;
  for (const StrokePoint& p : stroke) {
    if (p.x >= w || p.y >= h)
      throw BadRequest(fmt::format("{},{} is off the {}x{} screen in force", p.x, p.y, w, h));
  }
  uint64_t now = device_now(), at = std::max({now, busy_until_ + kAfterEffectsMs, cursor_});
  device_origin_ += at - now;  // the device had work: it goes on from there
  uint64_t up = 0;
  Commands commands = stroke_commands(stroke, at - cursor_, angle_, screen_, &up);
  Comments comments;
  // A tap on the dialog in front uses it as the scenario's own commands do.
  bool tap = stroke.back().t < kDialogTapMs;
  for (const StrokePoint& q : stroke)
    tap = tap && std::abs(q.x - stroke[0].x) <= kDialogTapTravel &&
          std::abs(q.y - stroke[0].y) <= kDialogTapTravel;
  std::optional<Command> use =
      tap ? dialog_command(dialog_targets_, stroke[0].x, stroke[0].y) : std::nullopt;
  if (use) {
    comments.push_back({commands.size(), "the tap uses the dialog in front"});
    commands.push_back(*use);
  }
  Played p = play(commands, at, at + up, comments);
  cursor_ = at + up;
  nlohmann::json answer = {{"t", at}, {"sounds", p.sounds}};
  answer["outcome"] = nlohmann::json();
  if (!p.outcomes.empty()) {
    answer["outcome"] = outcome_json(p.outcomes.front());
    answer["text"] = outcome_text(p.outcomes.front());
  }
  answer["busy_until"] = busy_until_;
  answer["frames"] = p.frames;
  return answer;
}

nlohmann::json Session::replay_file(const StrokeFile& file) {
  // Kept as it was until the last stroke has played: a stroke the device refuses leaves the
  // session as the file found it.
  ScenarioParser checked = checked_;
  Commands played = played_;
  Comments comments = comments_;
  std::string jsonl = jsonl_;
  uint64_t cursor = cursor_, busy = busy_until_, origin = device_origin_;
  uint32_t angle = angle_;
  std::map<std::string, long long> in_force = in_force_;
  std::vector<DialogTarget> targets = dialog_targets_;
  nlohmann::json strokes = nlohmann::json::array();
  try {
    for (size_t i = 0; i < file.strokes.size(); ++i) {
      uint64_t now = device_now(), at = std::max({now, busy_until_ + kAfterEffectsMs, cursor_});
      device_origin_ += at - now;
      uint64_t up = 0;
      DrawnStroke points;
      std::string source = file.strokes.size() == 1
                               ? fmt::format("replayed from {}", file.name)
                               : fmt::format("replayed from {}, stroke {} of {}", file.name, i + 1,
                                             file.strokes.size());
      Played p = play(recorded_stroke_commands(file.strokes[i].points, at - cursor_, angle_,
                                               screen_, &up, &points),
                      at, at + up, {{0, source}});
      cursor_ = at + up;
      nlohmann::json a = {{"t", at}, {"sounds", p.sounds}, {"outcome", nullptr}};
      if (!p.outcomes.empty()) {
        a["outcome"] = outcome_json(p.outcomes.front());
        a["text"] = outcome_text(p.outcomes.front());
      }
      a["busy_until"] = busy_until_;
      a["frames"] = p.frames;
      nlohmann::json pts = nlohmann::json::array();
      for (const StrokePoint& q : points) pts.push_back({q.x, q.y, q.t});
      a["points"] = pts;
      strokes.push_back(a);
    }
  } catch (...) {
    checked_ = std::move(checked);
    played_ = std::move(played);
    comments_ = std::move(comments);
    jsonl_ = jsonl;
    in_force_ = std::move(in_force);
    dialog_targets_ = std::move(targets);
    cursor_ = cursor;
    busy_until_ = busy;
    device_origin_ = origin;
    angle_ = angle;
    throw;
  }
  return {{"file", file.name}, {"strokes", strokes}};
}

nlohmann::json Session::write_setting(const SettingWrite& w) {
  uint64_t now = device_now(), at = std::max({now, busy_until_ + kAfterEffectsMs, cursor_});
  device_origin_ += at - now;
  play(then(wait_commands(at - cursor_), {setting_command(w.name, w.value)}), at, at);
  cursor_ = at;
  settings_[w.name] = w.value;
  return {{"t", at}, {"name", w.name}, {"value", w.value}};
}

nlohmann::json Session::put_window(const std::string& kind) {
  uint64_t now = device_now(), at = std::max({now, busy_until_ + kAfterEffectsMs, cursor_});
  device_origin_ += at - now;
  std::string label = fmt::format("w{}", windows_placed_ + 1);
  Commands lines = window_commands(kind, label, window_label_);
  if (lines.empty()) throw BadRequest("no window kind is named '" + kind + "'");
  play(then(wait_commands(at - cursor_), lines), at, at);
  ++windows_placed_;
  cursor_ = at;
  window_kind_ = kind;
  window_label_ = label;
  return {{"t", at}, {"window", kind}};
}

nlohmann::json Session::start_settings_program() {
  uint64_t now = device_now(), at = std::max({now, busy_until_ + kAfterEffectsMs, cursor_});
  device_origin_ += at - now;
  play(then(wait_commands(at - cursor_), {settings_program_command()}), at, at);
  cursor_ = at;
  return {{"t", at}, {"started", "Corvane.exe"}};
}

std::string Session::kept() const {
  // A base scenario whose last line has no newline keeps that line to itself.
  bool ended = base_.empty() || base_.back() == '\n';
  return "# Drawn on a live device (vexori-sim serve); `vexori-sim run` plays it again.\n" + base_ +
         (ended ? "" : "\n") + scenario_lines(played_, comments_) + kTrailComment + "\n" +
         scenario_lines(trail_commands(std::max<uint64_t>(busy_until_, cursor_) - cursor_ + 500));
}

nlohmann::json Session::state() const {
  nlohmann::json settings = nlohmann::json::array();
  for (const SettingInfo& s : settings_table()) {
    auto it = in_force_.find(s.name);
    settings.push_back(
        {{"name", s.name},
         {"default", s.value},
         {"value", it == in_force_.end() ? nlohmann::json() : nlohmann::json(it->second)},
         {"unit", s.unit},
         {"meaning", s.meaning},
         {"switch", s.is_switch}});
  }
  bool turned = angle_ == 90 || angle_ == 270;
  return {{"settings", settings},
          {"window", window_kind_},
          {"windows", window_kinds()},
          {"angle", angle_},
          {"width", turned ? screen_.height : screen_.width},
          {"height", turned ? screen_.width : screen_.height}};
}

}  // namespace sim::serve
