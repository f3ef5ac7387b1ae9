#include "TimelineLog.h"

#include <fmt/format.h>

#include <cstdio>

namespace sim {
namespace {

const char kTick[] = "Gesture tick: behaviour %d, momentum %d";
// The behaviours that carry a momentum on from tick to tick: scrolling forward and back. Every
// other tick logs the first code's length in the same place, which is no momentum.
const int kScrollForward = 100, kScrollBack = 101;

}  // namespace

void TimelineLog::add(const dev::LogEntry& e) {
  if (e.kind == "window-created") {
    created_.emplace(e.str("window"), e.time);
  } else if (e.kind == "scroll-pos" && e.str("bar") == "vert") {
    std::string window = e.str("window");
    auto at = index_.find(window);
    if (at == index_.end()) {
      // Windows start at the top: their line begins there when they were made.
      at = index_.emplace(window, scroll_.size()).first;
      scroll_.push_back({window, {}});
      auto made = created_.find(window);
      if (made != created_.end()) scroll_.back().points.push_back({made->second, 0});
    }
    scroll_[at->second].points.push_back({e.time, static_cast<double>(e.num("pos"))});
  } else if (e.kind == "debug") {
    int behaviour = 0, momentum = 0;
    if (std::sscanf(e.str("text").c_str(), kTick, &behaviour, &momentum) == 2 &&
        (behaviour == kScrollForward || behaviour == kScrollBack))
      momentum_.points.push_back({e.time, static_cast<double>(momentum)});
  } else if (e.kind == "sound" && e.fields.value("played", false)) {
    // Named by the sound played where the entry names it, else by its length.
    std::string name = e.str("resource");  // "Quenza.dll:VEXORISND"
    auto ms = static_cast<uint64_t>(e.num("ms"));
    sounds_.push_back({e.time, e.time + ms, name.empty() ? fmt::format("{} ms", ms) : name, {}});
  }
}

draw::TimelineData TimelineLog::data() const {
  draw::TimelineData d;
  d.scroll = scroll_;
  if (names != nullptr)
    for (auto& series : d.scroll) series.name = names->shown(series.name);
  d.momentum = momentum_;
  d.momentum.holds = false;  // read at the broker's ticks only
  d.sounds = sounds_;
  return d;
}

}  // namespace sim
