// What became of each stroke, worked out from the device's log alone: the reader is fed the log
// entry by entry (decoded by LogDecoder, for the screen pixels) and hands out one StrokeOutcome
// per stroke once the stroke's effects have ended: with the first entry after the moment its
// pen-up came, or for a stroke the broker carries out, after the moment the broker's timer
// stopped (what those cause, an application scrolling as it was told, happens at the same device
// time), or when the run ends. It knows nothing of how outcomes are shown.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "WindowNames.h"
#include "device/log.hpp"

namespace sim {

struct StrokeOutcome {
  uint64_t start = 0;  // device time of the pen-down
  uint64_t end = 0;    // device time its effects ended
  int line = 0;        // the scenario line that drew it; 0 when not known
  std::string drawn;   // what the scenario drew ("flick 120,200 to 120,140 in 150 ms"); may be ""
  int x = 0, y = 0;    // the pen-down, in screen pixels of the orientation then in force

  // What the proxy decided: "passed through" (with `reason`, the proxy's own words: "tap at the
  // pen-up", "press-and-hold at 260 ms", "bottom band"...), "panned", "handed over" (to the
  // broker) or "withheld" (kept from the window system and neither panned nor handed over);
  // "" when the log never said.
  std::string decision;
  std::string reason;
  bool stopped_momentum = false;  // its pen-down stopped the momentum of the stroke before

  // Handed over: the direction codes with their lengths ("Z34"), the string after the filter,
  // and the behaviour the broker chose (0 when none) with its meaning.
  std::vector<std::string> codes;
  std::string filtered;
  int behaviour = 0;
  std::string meaning;
  bool cut_short = false;  // a later pen-down ended what it was doing

  struct Scroll {
    std::string window, bar;  // "VexoriList:0x20004", "vert"
    int64_t before = 0, after = 0;
    std::string label;  // the scenario's name for the window ("list"); "" when it has none
  };
  std::vector<Scroll> scrolls;  // per window and bar, in the order they first moved
  // pages, zoom, the screen turned ("screen turned from 0 to 90 degrees"), notifications,
  // windows closed; windows by their scenario labels
  std::vector<std::string> effects;
  size_t notifications = 0;              // gesture notifications posted to applications
  size_t ticks = 0;                      // ticks of the broker's timer while it ran
  std::map<std::string, size_t> sounds;  // sounds played, by resource ("Quenza.dll:VEXORISND")
  size_t samples = 0;                    // panel samples of the stroke
  size_t received = 0;                   // samples the window system received meanwhile

  // "passed through: tap at the pen-up", "handed over: 100 scroll forward with momentum"...
  std::string did() const;
};

class OutcomeReader {
 public:
  // Called with each outcome as it is complete.
  std::function<void(const StrokeOutcome&)> on_outcome;
  // The scenario's names of its windows, for the effects' text; none when null.
  const WindowNames* names = nullptr;

  // The scenario line and what it drew, for the stroke whose pen-down comes at device time `time`
  // (strokes the reader is not told of have neither).
  void expect_stroke(uint64_t time, int line, const std::string& drawn);
  // One entry of the log, in order.
  void add(const dev::LogEntry& e);
  // The run ended at device time `time`: every stroke still open ends there.
  void finish(uint64_t time);

 private:
  struct Open;
  using Ref = std::shared_ptr<Open>;
  void pen_down(const dev::LogEntry& e);
  void proxy_line(const std::string& text, uint64_t time);
  void broker_line(const std::string& text);
  void scrolled(const dev::LogEntry& e, const Ref& to);
  void release(Ref& slot, uint64_t time);
  std::string shown(const std::string& window) const;
  void end_broker(uint64_t time);
  Ref owner(const dev::LogEntry& e) const;  // the stroke an effect belongs to

  Ref current_;                               // the latest stroke the panel began
  Ref broker_;                                // the stroke the broker carries out
  Ref withheld_;                              // withheld at this moment, until a hand-over or not
  std::map<std::string, Ref> scrolled_by_;    // window: the stroke that last scrolled it
  std::map<std::string, int64_t> positions_;  // "window bar": the last position seen
  std::multimap<uint64_t, std::pair<int, std::string>> expected_;
  bool down_ = false;
  uint64_t up_at_ = 0;  // the current stroke's pen-up, while the pen is up
  int angle_ = 0;       // the screen's, as the last display change left it (a device boots upright)
  bool broker_ending_ = false;
  uint64_t broker_end_at_ = 0;  // when the broker's timer stopped, while it is ending
};

}  // namespace sim
