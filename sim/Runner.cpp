#include "Runner.h"

#include <fmt/format.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "Boot.h"
#include "device/preempt.hpp"
#include "Programs.h"
#include "LogDecode.h"
#include "Replay.h"
#include "Windows.h"

namespace sim {
namespace {

const uint32_t kDefaultRateHz = 100;
const uint32_t kDefaultTapMs = 80;
const uint32_t kSettleMs = 500;  // run on after the last command, so that late work shows
const char kDebugZones[] = "HKLM\\DebugZones";
const char kZonesName[] = "QUOBUpdater";
const uint32_t kVerboseZones = 0xC004;  // errors, warnings and Verbose
const char kRotationKey[] = "HKLM\\System\\GDI\\Rotation";

uint32_t period_of(uint32_t rate) {
  return std::max<uint32_t>(1, 1000 / std::max<uint32_t>(1, rate));
}

// Samples the panel reported and the window system received, compared in order as they come,
// and each sample's fate. Each received sample is matched against the earliest panel sample not
// yet passed over, as it was reported or rebuilt on whole pixels, first among those of the newest
// part of the run (a stroke, or the samples after it); those the system kept back are passed
// over. Only panel samples not yet matched or passed over are held, and no more than
// kMaxPendingSamples of them (the oldest go), so a run of any length that withholds every stroke
// still holds little. A stroke runs from a pen-down, as the proxy reads the flags, to its first
// pen-up: one that reached the window system not at all went to the engine, one that reached it
// whole went there whole, and of one that reached it in part the rest was dropped. Samples between
// a pen-up and the next pen-down (a pen-up again, which the proxy drops, a move without a pen-down,
// an invalid sample) belong to no stroke. Strokes are kept as counts, one record each, so their
// number is bounded by the scenario's commands.
class SampleTally {
 public:
  // The scenario line whose samples start at `time` with a pen-down, in the order they were queued.
  void expect_stroke(uint64_t time, int line) { lines_.emplace(time, line); }

  void add(const dev::LogEntry& e) {
    if (e.kind == "panel") {
      ++panel;
      uint32_t flags = static_cast<uint32_t>(std::strtoul(e.str("flags").c_str(), nullptr, 0));
      bool down = (flags & kDown) != 0;
      // A stroke starts where the proxy starts one: at a valid sample down now and not before,
      // whatever the samples before it said.
      if (down && (flags & kValid) && !(flags & kPreviousDown)) start_stroke(e.time);
      // Samples after a pen-up are a part of their own: the stroke's held samples, replayed at its
      // pen-up, are matched before them.
      if (!in_stroke_ && !after_up_) {
        after_up_ = true;
        ++epoch_;
      }
      size_t stroke = in_stroke_ ? strokes_.size() : 0;
      if (pending_.size() == kMaxPendingSamples) pending_.pop_front();
      pending_.push_back({e.str("flags"), e.num("x"), e.num("y"), stroke, epoch_});
      if (stroke > 0) ++strokes_.back().samples;
      // The first pen-up, valid or not, ends the stroke, as it ends it in the proxy.
      if (!down) in_stroke_ = false;
    } else if (e.kind == "panel-dropped") {
      ++panel;  // the stock driver was not enabled: it reaches nothing
      ++unheard_;
    } else if (e.kind == "sample") {
      ++received;
      Sample got{e.str("flags"), e.num("x"), e.num("y"), 0, 0};
      // A received sample is most likely of the newest stroke, or of the newest samples between
      // strokes: a stroke withheld from the window system leaves its samples here, and a later
      // sample may repeat one of them exactly.
      // Pending samples are in the order of their parts, so the newest part is found by halving.
      auto newest = std::partition_point(pending_.begin(), pending_.end(),
                                         [this](const Sample& s) { return s.epoch < epoch_; });
      if (match_first(newest, got)) return;
      match_first(pending_.begin(), got);
    }
  }

  // Panel samples that went to the engine, were dropped, and the strokes that came through in part.
  struct Fates {
    size_t engine = 0, dropped = 0;
    std::vector<std::string> partial;
  };
  Fates fates(const std::string& file) const {
    Fates f;
    size_t in_strokes = 0, whole_in_strokes = 0;
    for (const Stroke& s : strokes_) {
      in_strokes += s.samples;
      whole_in_strokes += s.received;
      if (s.received == 0) {
        f.engine += s.samples;
      } else if (s.received < s.samples) {
        f.dropped += s.samples - s.received;
        std::string where = s.line > 0 ? fmt::format(" ({}:{})", file, s.line) : "";
        f.partial.push_back(fmt::format("the stroke at {} ms{}: {} of its {} samples", s.start,
                                        where, s.received, s.samples));
      }
    }
    // Samples the driver did not pass on, and those between strokes, belong to no stroke.
    size_t whole = unchanged + rebuilt_count;
    f.dropped += unheard_;
    size_t outside = panel - unheard_ - in_strokes, whole_outside = whole - whole_in_strokes;
    f.dropped += outside - std::min(outside, whole_outside);
    return f;
  }

  size_t panel = 0, received = 0, unchanged = 0, rebuilt_count = 0, late = 0;

 private:
  static const uint32_t kValid = 0x1, kDown = 0x2, kPreviousDown = 0x8;
  struct Sample {
    std::string flags;
    int64_t x, y;
    size_t stroke;  // 1-based; 0 between strokes
    size_t epoch;   // the part of the run it came in: a stroke, or the samples after one
    bool same(const Sample& o) const { return flags == o.flags && x == o.x && y == o.y; }
    // Quarter pixels cut to a whole pixel as the proxy cuts them: towards zero, so that -3
    // becomes 0, not -4.
    static int64_t whole4(int64_t v) { return v / 4 * 4; }
    bool whole_pixels(const Sample& o) const {
      return flags == o.flags && o.x == whole4(x) && o.y == whole4(y);
    }
  };
  // Matches `got` with the earliest pending sample from `from` on, and passes over (lets go of)
  // the pending samples between `from` and it.
  bool match_first(std::deque<Sample>::iterator from, const Sample& got) {
    for (auto it = from; it != pending_.end(); ++it) {
      if (!it->same(got) && !it->whole_pixels(got)) continue;
      count(*it, got);
      pending_.erase(from, std::next(it));
      return true;
    }
    return false;
  }

  // A panel sample matched by one the window system received.
  void count(const Sample& sent, const Sample& got) {
    ++(sent.same(got) ? unchanged : rebuilt_count);
    if (sent.stroke > 0) ++strokes_[sent.stroke - 1].received;
    if (sent.stroke > 0 && sent.stroke < strokes_.size()) ++late;
  }

  struct Stroke {
    uint64_t start = 0;
    int line = 0;
    size_t samples = 0, received = 0;
  };
  void start_stroke(uint64_t time) {
    Stroke s;
    s.start = time;
    while (!lines_.empty() && lines_.begin()->first < time) lines_.erase(lines_.begin());
    if (!lines_.empty() && lines_.begin()->first == time) {
      s.line = lines_.begin()->second;
      lines_.erase(lines_.begin());
    }
    strokes_.push_back(s);
    in_stroke_ = true;
    after_up_ = false;
    ++epoch_;
  }
  static const size_t kMaxPendingSamples = 65536;
  std::deque<Sample> pending_;
  std::vector<Stroke> strokes_;
  std::multimap<uint64_t, int> lines_;
  bool in_stroke_ = false, after_up_ = false;
  size_t epoch_ = 0;
  size_t unheard_ = 0;
};

// The touch points a stroke command (tap, drag, flick, stroke, replay) draws, in its own pixels,
// and the rate it is sampled at; none for other commands.
std::optional<std::vector<StrokePoint>> stroke_of(const Command& c, uint32_t* rate) {
  auto polyline = [&](const std::vector<cmd::Point>& corners, uint32_t ms,
                      const cmd::StrokeOptions& o) {
    *rate = o.rate.value_or(kDefaultRateHz);
    std::vector<std::pair<int, int>> points;
    for (const cmd::Point& p : corners) points.emplace_back(p.x, p.y);
    auto pts = polyline_stroke(points, ms, o.rest.value_or(0), *rate);
    if (o.settle && *o.settle > 0) pts = settled(pts, static_cast<int>(*o.settle));
    return pts;
  };
  using Points = std::optional<std::vector<StrokePoint>>;
  return std::visit(
      cmd::overloaded{
          [&](const cmd::Tap& k) -> Points {
            *rate = k.rate.value_or(kDefaultRateHz);
            return straight_stroke(k.at.x, k.at.y, k.at.x, k.at.y, k.hold.value_or(kDefaultTapMs),
                                   0, *rate);
          },
          [&](const cmd::Replay& k) -> Points {
            *rate = k.rate.value_or(kDefaultRateHz);
            return k.native.value_or(0) != 0 ? k.stroke->points : resample(*k.stroke, *rate);
          },
          [&](const cmd::Drag& k) -> Points {
            return polyline({k.from, k.to}, k.ms, k.options);
          },
          [&](const cmd::Flick& k) -> Points {
            return polyline({k.from, k.to}, k.ms, {std::nullopt, k.rate, std::nullopt});
          },
          [&](const cmd::Stroke& k) -> Points { return polyline(k.points, k.ms, k.options); },
          [](const auto&) -> Points { return std::nullopt; },
      },
      c.kind);
}

// Entries by which a boot tells that something it was to bring up did not come up.
const std::set<std::string> kBootFailures = {"module-missing", "module-bad", "module-attach-failed",
                                             "driver-failed", "touch-driver-failed"};

// Boots the device and checks that it came up whole: every library and driver of its registry
// loaded and a touch driver enabled. A device without its broker or proxy would pass every stroke
// straight through, which looks like a run that went well.
bool names_left_out(const dev::LogEntry& e, const Scenario& s) {
  auto lower = [](std::string t) {
    for (auto& ch : t) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return t;
  };
  for (const auto& file : s.left_out) {
    for (const char* field : {"module", "name", "dll"}) {
      if (lower(e.str(field)) == lower(file)) return true;
    }
  }
  return false;
}

// A boot failure in a few words: "Quenza.dll is not in DIR", not the entry's every field.
std::string failure_text(const dev::LogEntry& e, const std::string& windows_dir) {
  std::string module = e.str("module");
  if (e.kind == "module-missing") return module + " is not in " + windows_dir;
  if (e.kind == "module-bad") {
    // The loader's reason starts with the host path of the device's copy; the file is named.
    std::string why = e.str("error");
    size_t colon = why.find(": ");
    if (!why.empty() && why[0] == '/' && colon != std::string::npos) why = why.substr(colon + 2);
    return module + " in " + windows_dir + " cannot be loaded: " + why;
  }
  if (e.kind == "module-attach-failed") return module + " refused to attach (its DllMain failed)";
  if (e.kind == "driver-failed") {
    return "the driver " + e.str("key") + " (" + e.str("dll") +
           ") did not start: " + e.str("reason");
  }
  std::string error = e.fields.contains("error") ? e.fields["error"].dump() : "";
  return "the touch driver " + e.str("name") + " did not start (" + error + ")";
}

void boot_whole(dev::Device& device, const Scenario& s, const std::string& windows_dir) {
  std::vector<std::string> failed;
  bool touch = false;
  auto after = device.log().on_entry;
  device.log().on_entry = [&](dev::LogEntry& e) {
    // A file the scenario left out of \Windows is missing as asked, and so is what needs it.
    if (kBootFailures.count(e.kind) && names_left_out(e, s)) {
      if (e.kind == "touch-driver-failed") touch = true;
    } else if (kBootFailures.count(e.kind)) {
      failed.push_back(failure_text(e, windows_dir));
    }
    touch = touch || e.kind == "touch-enabled";
    after(e);
  };
  device.boot();
  device.log().on_entry = after;
  if (!touch) failed.push_back("no touch driver was enabled");
  if (failed.empty()) return;
  std::string what;
  for (const auto& f : failed) what += (what.empty() ? "" : "; ") + f;
  throw DeviceDownError(s.file + ": the device did not come up as installed: " + what);
}

}  // namespace

namespace {

// The switch points of the scenario's run without pre-emption.
uint64_t count_switch_points(const Scenario& s, const RunOptions& opt) {
  RunOptions counting;
  counting.windows_dir = opt.windows_dir;
  counting.factory_reg = opt.factory_reg;
  counting.install_reg = opt.install_reg;
  counting.verbose = opt.verbose;
  counting.keep_log = false;
  counting.max_device_ms = opt.max_device_ms;
  counting.picture_commands = false;
  counting.count_points = true;
  return std::max<uint64_t>(1, run_scenario(s, counting).switch_points);
}

}  // namespace

RunResult run_scenario(const Scenario& s, const RunOptions& opt) {
  if (opt.preempt && opt.preempt_steps == 0) {
    RunOptions counted = opt;
    counted.preempt_steps = count_switch_points(s, opt);
    return run_scenario(s, counted);
  }
  dev::DeviceConfig config;
  config.screen = s.screen;
  config.boot_tick = s.boot_tick;
  config.realtime = opt.realtime;
  config.windows_dir = opt.windows_dir;
  config.left_out = s.left_out;
  config.reg_files.push_back(opt.factory_reg);
  if (s.install) config.reg_files.push_back(opt.install_reg);
  uint32_t boot_angle = 0;
  LogDecoder decoder(s.screen.width, s.screen.height);
  config.before_start = [&](dev::Device& d) {
    if (opt.verbose) d.reg_set_dword(kDebugZones, kZonesName, kVerboseZones);
    apply_setup(s, d);
    if (opt.before_start) opt.before_start(d);
    if (!d.reg_get_dword(kRotationKey, "Angle", &boot_angle)) boot_angle = 0;
    decoder.set_angle(boot_angle);
  };

  const std::string& audio_name = opt.audio_name.empty() ? opt.audio_file : opt.audio_name;
  if (!opt.audio_file.empty()) {
    uint64_t waits = kSettleMs;
    for (const Command& c : s.commands) {
      if (auto wait = std::get_if<cmd::Wait>(&c.kind)) waits += wait->ms;
    }
    if (waits > dev::Device::kMaxAudioMs) {
      throw dev::InputError(
          audio_name, 0,
          fmt::format("the run waits {} ms, longer than the {} ms a WAV file holds", waits,
                      dev::Device::kMaxAudioMs));
    }
  }
  // The device's own registry files are checked with the scenario, before anything runs.
  for (const auto& file : config.reg_files) dev::check_reg_file(file);
  check_setup(s, config.windows_dir);
  RunResult result;
  // Before the device: they read its entries, and its last ones come as it ends.
  Pictures pictures(s, opt.pictures, opt.picture_commands);
  SampleTally tally;
  OutcomeReader reader;
  WindowNames names;
  reader.names = &names;
  pictures.use_names(&names);
  dev::Device device(config);
  if (!opt.audio_file.empty() && !device.record_audio(opt.audio_file)) {
    throw dev::InputError(audio_name, 0, "cannot write the audio");
  }
  reader.on_outcome = [&](const StrokeOutcome& o) {
    result.outcomes.push_back(o);
    if (opt.on_outcome) opt.on_outcome(o);
  };
  device.log().keep = opt.keep_log;
  device.log().on_entry = [&](dev::LogEntry& e) {
    // An entry not kept is decoded where it is; a kept one stays as the device logged it.
    dev::LogEntry copy;
    const dev::LogEntry& decoded = opt.keep_log ? decoder.decoded(e, copy) : decoder.decode(e);
    tally.add(decoded);
    if (pictures.reads_log()) pictures.add(decoded);
    // An outcome the entry completes was complete before the entry was made.
    reader.add(decoded);
    if (opt.live) opt.live(decoded);
  };
  if (opt.preempt || opt.count_points) {
    dev::start_preempting(device, {opt.preempt_seed, opt.preempt ? opt.preempt_steps : 0});
  }
  if (opt.on_command)
    for (const Command& c : s.before_boot) opt.on_command(c, 0);
  boot_whole(device, s, config.windows_dir);
  uint64_t cursor = device.now();
  DeviceClock clock(s);
  if (opt.on_frame) clock.frames(opt.frames_from, opt.frame_every_ms, opt.on_frame);
  std::map<std::string, HWND> windows;  // placed by the scenario, by label

  for (const Command& c : s.commands) {
    if (opt.max_device_ms > 0 && cursor >= opt.max_device_ms) {
      cursor = std::max(opt.max_device_ms, device.now());
      break;
    }
    if (auto wait = std::get_if<cmd::Wait>(&c.kind)) {
      cursor += wait->ms;
      continue;
    }
    if (auto sample = std::get_if<cmd::Sample>(&c.kind)) {
      if ((sample->flags & 0x2) && !(sample->flags & 0x8)) {
        tally.expect_stroke(cursor, c.line);
        reader.expect_stroke(cursor, c.line, "raw samples");
      }
      device.queue_samples({{cursor, sample->flags, sample->x, sample->y}});
      continue;
    }
    uint32_t rate = kDefaultRateHz;
    std::optional<std::vector<StrokePoint>> stroke = stroke_of(c, &rate);
    if (stroke) {
      std::vector<StrokePoint> pts = std::move(*stroke);
      // The stroke's screen pixels are those of the orientation in force as it starts.
      if (!std::holds_alternative<cmd::Replay>(c.kind)) {
        clock.run_until(device, cursor);
        pts = screen_to_panel(c, s.file, device, std::move(pts));
      }
      auto samples = to_panel(pts, cursor, period_of(rate));
      tally.expect_stroke(samples.front().time, c.line);
      reader.expect_stroke(samples.front().time, c.line, describe_stroke(c));
      device.queue_samples(samples);
      cursor = samples.back().time;
      continue;
    }
    // Everything else acts at the cursor's time.
    clock.run_until(device, cursor);
    if (opt.on_command) opt.on_command(c, cursor);
    if (is_window_command(c)) {
      std::string failure = run_window_command(c, s.file, device, windows);
      if (!failure.empty()) result.failures.push_back(failure);
      for (const auto& [label, hwnd] : windows)
        names.name(reinterpret_cast<uintptr_t>(hwnd), label);
      continue;
    }
    if (is_program_command(c)) {
      run_program_command(c, s.file, device);
      continue;
    }
    if (is_picture_command(c)) {
      device.settle();
      pictures.take(c, device);
      continue;
    }
    std::visit(
        cmd::overloaded{
            [&](const cmd::RegFile& k) { device.load_reg_file(k.path); },
            [&](const cmd::Reg& k) { write_value(device, k.value); },
            [&](const cmd::RegDelete& k) { device.reg_delete_value(k.key, k.name); },
            [&](const cmd::Power& k) {
              device.set_power_state(dev::to_utf16(k.device), k.state, k.fail.value_or(0));
            },
            [&](const cmd::Note& k) {
              if (pictures.keeps_steps()) {
                device.settle();
                pictures.note(device);
              }
              dev::log_event("note", {{"text", k.text}});
            },
            [&](const cmd::Expect& k) {
              device.settle();
              size_t seen = device.log().count(k.kind);
              if (seen != k.count) {
                result.failures.push_back(fmt::format("{}:{}: expected {} '{}' entries, saw {}",
                                                      s.file, c.line, k.count, k.kind, seen));
              }
            },
            [](const auto&) {},
        },
        c.kind);
  }
  if (opt.max_device_ms > 0) cursor = std::min(cursor, std::max(opt.max_device_ms, device.now()));
  clock.run_until(device, cursor + kSettleMs);
  if (opt.preempt) device.run_for(kPreemptSettleMs);
  device.settle();
  result.switch_points = dev::switch_points(device);
  result.switches = dev::switches_made(device);
  if (opt.at_end) opt.at_end(device);
  result.end_time = device.now();
  reader.finish(result.end_time);
  if (!opt.audio_file.empty() && !device.finish_audio()) {
    throw dev::InputError(audio_name, 0, "cannot write the audio");
  }
  pictures.finish(device);
  result.log = device.log().entries();
  LogDecoder again(s.screen.width, s.screen.height, boot_angle);
  for (auto& e : result.log) again.decode(e);
  result.panel_samples = tally.panel;
  result.received_samples = tally.received;
  result.unchanged_samples = tally.unchanged;
  result.rebuilt_samples = tally.rebuilt_count;
  SampleTally::Fates fates = tally.fates(s.file);
  result.engine_samples = fates.engine;
  result.dropped_samples = fates.dropped;
  result.partial_strokes = std::move(fates.partial);
  result.late_samples = tally.late;
  return result;
}

std::string RunResult::text() const {
  return dev::to_text(log);
}

std::string RunResult::jsonl() const {
  return dev::to_jsonl(log);
}

dev::Fields RunResult::summary_json() const {
  size_t matched = unchanged_samples + rebuilt_samples;
  return {{"t", end_time},
          {"kind", "summary"},
          {"panel_samples", panel_samples},
          {"whole", matched},
          {"unchanged", unchanged_samples},
          {"rebuilt", rebuilt_samples},
          {"engine", engine_samples},
          {"dropped", dropped_samples},
          {"unmatched", received_samples > matched ? received_samples - matched : 0},
          {"partial_strokes", partial_strokes},
          {"failures", failures}};
}

std::string RunResult::summary() const {
  std::string out = fmt::format(
      "{} samples from the touch panel: {} reached the window system whole ({} unchanged, {} "
      "rebuilt on whole pixels), {} went to the engine, {} dropped",
      panel_samples, unchanged_samples + rebuilt_samples, unchanged_samples, rebuilt_samples,
      engine_samples, dropped_samples);
  size_t matched = unchanged_samples + rebuilt_samples;
  if (received_samples > matched)
    out += fmt::format("; {} received matched no panel sample", received_samples - matched);
  if (!partial_strokes.empty())
    out += fmt::format("; {} reached the window system only in part:",
                       partial_strokes.size() == 1
                           ? "1 stroke"
                           : fmt::format("{} strokes", partial_strokes.size()));
  out += "\n";
  const size_t kListed = 10;  // the list stays short; the count above tells them all
  for (size_t i = 0; i < partial_strokes.size() && i < kListed; ++i)
    out += "  " + partial_strokes[i] + "\n";
  if (partial_strokes.size() > kListed)
    out += fmt::format("  and {} more\n", partial_strokes.size() - kListed);
  for (const auto& f : failures) out += "FAILED " + f + "\n";
  return out;
}

}  // namespace sim
