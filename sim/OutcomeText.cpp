#include "OutcomeText.h"

#include <fmt/format.h>

#include "Terminal.h"

namespace sim {
namespace {

// "Quenza.dll:VEXORISND" is known by its own name in the line.
std::string short_sound(const std::string& resource) {
  size_t colon = resource.find(':');
  return colon == std::string::npos ? resource : resource.substr(colon + 1);
}

std::string joined(const std::vector<std::string>& parts, const char* between) {
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : between) + p;
  return out;
}

// A field of an object, or its default when the object lacks it.
template <typename T>
T get(const dev::Fields& j, const char* key, T fallback = T()) {
  auto it = j.find(key);
  return it == j.end() || it->is_null() ? fallback : it->get<T>();
}

}  // namespace

std::string outcome_text(const StrokeOutcome& o, bool colour) {
  std::vector<std::string> parts;
  std::string head = o.line > 0 ? fmt::format("line {}: ", o.line) : "";
  head += o.drawn.empty() ? "a stroke" : o.drawn;
  parts.push_back(fmt::format("{}, down at {},{}: {}", head, o.x, o.y,
                              colour ? colour_decision(o.did()) : o.did()));
  if (!o.codes.empty()) {
    std::string codes = "codes " + joined(o.codes, " ");
    if (!o.filtered.empty()) codes += fmt::format(" filtered \"{}\"", o.filtered);
    parts.push_back(codes);
  }
  for (const auto& s : o.scrolls) {
    if (s.before == s.after) continue;
    parts.push_back(fmt::format("{} {} {} to {} ({:+})", s.label.empty() ? s.window : s.label,
                                s.bar, s.before, s.after, s.after - s.before));
  }
  for (const auto& e : o.effects) parts.push_back(e);
  if (o.cut_short) parts.push_back("cut short by the next stroke");
  if (o.ticks > 0) parts.push_back(fmt::format("{} tick{}", o.ticks, o.ticks == 1 ? "" : "s"));
  if (!o.sounds.empty()) {
    std::vector<std::string> sounds;
    for (const auto& [name, n] : o.sounds)
      sounds.push_back(fmt::format("{} x{}", short_sound(name), n));
    parts.push_back("sounds " + joined(sounds, ", "));
  }
  parts.push_back(fmt::format("{} of {} samples reached the window system", o.received, o.samples));
  if (o.end > o.start) parts.push_back(fmt::format("until {} ms", o.end));
  return fmt::format("[{:>8} ms] outcome  {}", o.start, joined(parts, "; "));
}

dev::Fields outcome_json(const StrokeOutcome& o) {
  dev::Fields j = {{"t", o.start},
                   {"kind", "outcome"},
                   {"end", o.end},
                   {"line", o.line},
                   {"drawn", o.drawn},
                   {"x", o.x},
                   {"y", o.y},
                   {"decision", o.decision},
                   {"reason", o.reason},
                   {"did", o.did()},
                   {"codes", o.codes},
                   {"filtered", o.filtered},
                   {"behaviour", o.behaviour},
                   {"meaning", o.meaning},
                   {"stopped_momentum", o.stopped_momentum},
                   {"cut_short", o.cut_short}};
  dev::Fields scrolls = dev::Fields::array();
  for (const auto& s : o.scrolls)
    scrolls.push_back({{"window", s.window},
                       {"label", s.label},
                       {"bar", s.bar},
                       {"before", s.before},
                       {"after", s.after}});
  j["scrolls"] = scrolls;
  j["effects"] = o.effects;
  j["notifications"] = o.notifications;
  j["ticks"] = o.ticks;
  j["sounds"] = o.sounds;
  j["samples"] = o.samples;
  j["received"] = o.received;
  return j;
}

StrokeOutcome outcome_from_json(const dev::Fields& j) {
  StrokeOutcome o;
  o.start = get<uint64_t>(j, "t");
  o.end = get<uint64_t>(j, "end");
  o.line = get<int>(j, "line");
  o.drawn = get<std::string>(j, "drawn");
  o.x = get<int>(j, "x");
  o.y = get<int>(j, "y");
  o.decision = get<std::string>(j, "decision");
  o.reason = get<std::string>(j, "reason");
  o.stopped_momentum = get<bool>(j, "stopped_momentum");
  o.codes = get<std::vector<std::string>>(j, "codes");
  o.filtered = get<std::string>(j, "filtered");
  o.behaviour = get<int>(j, "behaviour");
  o.meaning = get<std::string>(j, "meaning");
  o.cut_short = get<bool>(j, "cut_short");
  if (j.contains("scrolls")) {
    for (const auto& s : j["scrolls"])
      o.scrolls.push_back({get<std::string>(s, "window"), get<std::string>(s, "bar"),
                           get<int64_t>(s, "before"), get<int64_t>(s, "after"),
                           get<std::string>(s, "label")});
  }
  o.effects = get<std::vector<std::string>>(j, "effects");
  o.notifications = get<size_t>(j, "notifications");
  o.ticks = get<size_t>(j, "ticks");
  o.sounds = get<std::map<std::string, size_t>>(j, "sounds");
  o.samples = get<size_t>(j, "samples");
  o.received = get<size_t>(j, "received");
  return o;
}

}  // namespace sim
