#include "Runner.h"

#include <fmt/format.h>

#include <deque>
#include <filesystem>
#include <set>

#include "Boot.h"
#include "Replay.h"
#include "Windows.h"

namespace sim {
namespace {

const uint32_t kDefaultRateHz = 100;
const uint32_t kDefaultTapMs = 80;
const uint32_t kSettleMs = 500;  // run on after the last command, so that late work shows

std::string resolve(const Scenario& s, const std::string& path) {
  return resolve_path(s.dir, path);
}

uint32_t period_of(uint32_t rate) {
  return std::max<uint32_t>(1, 1000 / std::max<uint32_t>(1, rate));
}

// Samples the panel reported and the window system received, compared in order as they come.
// Each received sample is matched against the earliest panel sample not yet passed over; those
// the system kept back as gestures are passed over. Only panel samples since the last match are
// held, and no more than kMaxPendingSamples of them (the oldest go), so a run of any length that
// withholds every stroke still holds little.
class SampleTally {
 public:
  void add(const dev::LogEntry& e) {
    if (e.kind == "panel") {
      ++panel;
      if (pending_.size() == kMaxPendingSamples) pending_.pop_front();
      pending_.push_back({e.str("flags"), e.num("x"), e.num("y")});
    } else if (e.kind == "sample") {
      ++received;
      Sample got{e.str("flags"), e.num("x"), e.num("y")};
      while (!pending_.empty()) {
        bool same = pending_.front() == got;
        pending_.pop_front();
        if (same) {
          ++unchanged;
          break;
        }
      }
    }
  }
  size_t panel = 0, received = 0, unchanged = 0;

 private:
  struct Sample {
    std::string flags;
    int64_t x, y;
    bool operator==(const Sample& o) const { return flags == o.flags && x == o.x && y == o.y; }
  };
  static const size_t kMaxPendingSamples = 65536;
  std::deque<Sample> pending_;
};

// Entries by which a boot tells that something it was to bring up did not come up.
const std::set<std::string> kBootFailures = {"module-missing", "module-bad", "module-attach-failed",
                                             "driver-failed", "touch-driver-failed"};

// Boots the device and checks that it came up whole: every library and driver of its registry
// loaded and a touch driver enabled. A device without its broker or proxy would pass every stroke
// straight through, which looks like a run that went well.
void boot_whole(dev::Device& device, const Scenario& s) {
  std::vector<std::string> failed;
  bool touch = false;
  auto after = device.log().on_entry;
  device.log().on_entry = [&](const dev::LogEntry& e) {
    if (kBootFailures.count(e.kind))
      failed.push_back(e.process + " " + e.kind + " " + e.fields.dump());
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

RunResult run_scenario(const Scenario& s, const RunOptions& opt) {
  dev::DeviceConfig config;
  config.screen = s.screen;
  config.boot_tick = s.boot_tick;
  config.realtime = opt.realtime;
  config.windows_dir = opt.windows_dir;
  config.reg_files.push_back(opt.factory_reg);
  if (s.install) config.reg_files.push_back(opt.install_reg);
  config.before_start = [&s](dev::Device& d) { apply_setup(s, d); };

  if (!opt.audio_file.empty()) {
    uint64_t waits = kSettleMs;
    for (const Command& c : s.commands) {
      if (c.verb == "wait") waits += static_cast<uint64_t>(number(c, 0, 0, 86400000, s.file));
    }
    if (waits > dev::Device::kMaxAudioMs) {
      throw dev::InputError(
          opt.audio_file, 0,
          fmt::format("the run waits {} ms, longer than the {} ms a WAV file holds", waits,
                      dev::Device::kMaxAudioMs));
    }
  }
  // The device's own registry files are checked with the scenario, before anything runs.
  for (const auto& file : config.reg_files) dev::check_reg_file(file);
  check_setup(s, config.windows_dir);
  RunResult result;
  dev::Device device(config);
  if (!opt.audio_file.empty() && !device.record_audio(opt.audio_file)) {
    throw dev::InputError(opt.audio_file, 0, "cannot write the audio");
  }
  SampleTally tally;
  device.log().keep = opt.keep_log;
  device.log().on_entry = [&tally, &opt](const dev::LogEntry& e) {
    tally.add(e);
    if (opt.live) opt.live(e);
  };
  boot_whole(device, s);
  uint64_t cursor = device.now();
  DeviceClock clock(s);
  std::map<std::string, HWND> windows;  // placed by the scenario, by label

  for (const Command& c : s.commands) {
    const auto& a = c.args;
    auto num = [&](size_t i) { return number(c, i, -(1LL << 40), 1LL << 40, s.file); };
    if (c.verb == "wait") {
      cursor += static_cast<uint64_t>(num(0));
      continue;
    }
    if (c.verb == "sample") {
      device.queue_samples({{cursor, static_cast<uint32_t>(num(0)), static_cast<int32_t>(num(1)),
                             static_cast<int32_t>(num(2))}});
      continue;
    }
    if (stroke_points(c) > 0 || c.verb == "replay") {
      std::vector<StrokePoint> pts;
      uint32_t rate = kDefaultRateHz;
      if (c.verb == "tap") {
        auto o = options(c, 2, {"hold", "rate"}, s.file);
        if (o.count("rate")) rate = static_cast<uint32_t>(o["rate"]);
        uint32_t hold = o.count("hold") ? static_cast<uint32_t>(o["hold"]) : kDefaultTapMs;
        int x = static_cast<int>(num(0)), y = static_cast<int>(num(1));
        pts = straight_stroke(x, y, x, y, hold, 0, rate);
      } else if (c.verb == "replay") {
        auto o = options(c, 1, {"rate", "native"}, s.file);
        const RecordedStroke& stroke = *c.stroke;
        if (o.count("rate")) rate = static_cast<uint32_t>(o["rate"]);
        pts = o.count("native") && o["native"] ? stroke.points : resample(stroke, rate);
      } else {
        size_t n = 2 * stroke_points(c);
        auto o = options(c, n + 1, {"rest", "rate", "settle"}, s.file);
        if (o.count("rate")) rate = static_cast<uint32_t>(o["rate"]);
        uint32_t rest = o.count("rest") ? static_cast<uint32_t>(o["rest"]) : 0;
        std::vector<std::pair<int, int>> corners;
        for (size_t i = 0; i < n; i += 2)
          corners.emplace_back(static_cast<int>(num(i)), static_cast<int>(num(i + 1)));
        pts = polyline_stroke(corners, static_cast<uint32_t>(num(n)), rest, rate);
        if (o.count("settle") && o["settle"] > 0) pts = settled(pts, static_cast<int>(o["settle"]));
      }
      // The stroke's screen pixels are those of the orientation in force as it starts.
      if (c.verb != "replay") {
        clock.run_until(device, cursor);
        pts = screen_to_panel(c, s.file, device, std::move(pts));
      }
      auto samples = to_panel(pts, cursor, period_of(rate));
      device.queue_samples(samples);
      cursor = samples.back().time;
      continue;
    }
    // Everything else acts at the cursor's time.
    clock.run_until(device, cursor);
    if (is_window_verb(c.verb)) {
      std::string failure = run_window_command(c, s.file, device, windows);
      if (!failure.empty()) result.failures.push_back(failure);
      continue;
    }
    if (c.verb == "regfile") {
      device.load_reg_file(resolve(s, a[0]));
    } else if (c.verb == "reg") {
      if (a[2] == "dword") {
        device.reg_set_dword(a[0], a[1], static_cast<uint32_t>(num(3)));
      } else {
        device.reg_set_string(a[0], a[1], a[3]);
      }
    } else if (c.verb == "reg-delete") {
      device.reg_delete_value(a[0], a[1]);
    } else if (c.verb == "power") {
      auto o = options(c, 2, {"fail"}, s.file);
      device.set_power_state(dev::to_utf16(a[0]), static_cast<uint32_t>(num(1)),
                             o.count("fail") ? static_cast<uint32_t>(o["fail"]) : 0);
    } else if (c.verb == "note") {
      std::string text;
      for (const auto& w : a) text += (text.empty() ? "" : " ") + w;
      dev::log_event("note", {{"text", text}});
    } else if (c.verb == "expect") {
      device.settle();
      size_t seen = device.log().count(a[0]);
      if (seen != static_cast<size_t>(num(1))) {
        result.failures.push_back(fmt::format("{}:{}: expected {} '{}' entries, saw {}", s.file,
                                              c.line, a[1], a[0], seen));
      }
    }
  }
  clock.run_until(device, cursor + kSettleMs);
  device.settle();
  result.end_time = device.now();
  if (!opt.audio_file.empty() && !device.finish_audio()) {
    throw dev::InputError(opt.audio_file, 0, "cannot write the audio");
  }
  result.log = device.log().entries();
  result.panel_samples = tally.panel;
  result.received_samples = tally.received;
  result.unchanged_samples = tally.unchanged;
  return result;
}

std::string RunResult::text() const {
  return dev::to_text(log);
}

std::string RunResult::jsonl() const {
  return dev::to_jsonl(log);
}

std::string RunResult::summary() const {
  std::string out = fmt::format(
      "{} samples from the touch panel: {} reached the window system ({} of them unchanged and in "
      "order), {} were taken as gestures\n",
      panel_samples, received_samples, unchanged_samples,
      panel_samples - std::min(panel_samples, received_samples));
  for (const auto& f : failures) out += "FAILED " + f + "\n";
  return out;
}

}  // namespace sim
