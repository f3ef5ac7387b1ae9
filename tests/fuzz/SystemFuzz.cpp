#include "SystemFuzz.h"

#include <fmt/format.h>

#include "Runner.h"

namespace fuzz {

Verdict play(const std::string& text, const std::function<void(dev::Device&)>& before_start) {
  Verdict v;
  v.scenario = text;
  sim::Scenario s;
  try {
    s = sim::parse_scenario(text, "fuzz.scn", "");
  } catch (const dev::InputError& e) {
    v.fault = std::string("the target wrote a scenario the simulator refuses: ") + e.what();
    return v;
  }
  sim::RunOptions options;
  options.keep_log = false;
  options.max_device_ms = kSystemMaxDeviceMs;
  options.picture_commands = false;
  options.before_start = before_start;
  std::vector<std::string> bad_handles;
  int64_t scrolling = 0;  // the broker's last scrolling state, 0 while never set
  bool stepping = false;  // the broker's gesture timer is set
  options.live = [&](const dev::LogEntry& e) {
    if (e.kind == "bad-handle") bad_handles.push_back(e.str("call") + " " + e.str("handle"));
    if (e.kind == "event-data" && e.str("event") == "InGestureScrolling") scrolling = e.num("data");
    bool broker = e.str("window").rfind("MSGBROKER:", 0) == 0;
    if (broker && e.kind == "timer-set" && e.num("id") == 5) stepping = true;
    if (broker && ((e.kind == "timer-killed" && e.num("id") == 5) || e.kind == "window-destroyed"))
      stepping = false;
  };
  sim::RunResult r;
  try {
    r = sim::run_scenario(s, options);
    v.ran = true;
  } catch (const sim::CommandError&) {
  } catch (const sim::DeviceDownError&) {
  }
  std::string faults;
  for (const auto& p : r.partial_strokes) faults += "\n  reached the window system in part: " + p;
  for (const auto& h : bad_handles) faults += "\n  a closed or wrong handle used: " + h;
  // A run cut short by the cap on device time may still be scrolling, and so may a long momentum
  // whose timer still steps it at the end (a fast flick runs for longer than the final wait).
  if (v.ran && r.end_time < kSystemMaxDeviceMs && scrolling == 2 && !stepping)
    faults += "\n  the broker still reports scrolling once the device settled";
  if (!faults.empty()) v.fault = "the system broke a rule:" + faults;
  return v;
}

const Target kTargets[] = {
    {"samples", run_samples},
    {"broker", run_broker},
    {"settings", run_settings},
};
const size_t kTargetCount = sizeof(kTargets) / sizeof(kTargets[0]);

const Target* target_named(const std::string& name) {
  for (const Target& t : kTargets)
    if (name == t.name) return &t;
  return nullptr;
}

std::vector<uint8_t> mutate_bytes(const std::vector<uint8_t>& input, std::mt19937& rng) {
  static const uint8_t kNoise[] = {0x00, 0x01, 0x02, 0x03, 0x08, 0x09, 0x0B, 0x7F,
                                   0x80, 0xFF, 0xFE, 0x10, 0x20, 0x40, 0xF0, 0x0F};
  std::vector<uint8_t> out = input;
  int edits = 1 + static_cast<int>(rng() % 6);
  for (int i = 0; i < edits; ++i) {
    if (out.empty()) {
      out.push_back(static_cast<uint8_t>(rng()));
      continue;
    }
    size_t at = rng() % out.size();
    switch (rng() % 5) {
      case 0:
        out.erase(out.begin() + at, out.begin() + std::min(out.size(), at + 1 + rng() % 4));
        break;
      case 1:
        out.insert(out.begin() + at, kNoise[rng() % sizeof(kNoise)]);
        break;
      case 2: {  // a run of bytes repeated elsewhere: a sample or a command again
        size_t from = rng() % out.size(), n = std::min<size_t>(out.size() - from, 1 + rng() % 12);
        std::vector<uint8_t> run(out.begin() + from, out.begin() + from + n);
        out.insert(out.begin() + at, run.begin(), run.end());
        break;
      }
      case 3:
        out[at] = static_cast<uint8_t>(rng());
        break;
      default:
        out[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
    }
  }
  return out;
}

}  // namespace fuzz
