// Strokes as the log shows them, read as its entries pass: the panel's samples from each pen-down
// to its pen-up in screen pixels of the orientation in force as the stroke began, and what the
// system made of each: samples that reached the window system, a pan of the window under the
// finger, or a hand-over to the broker with its codes and the behaviour it chose.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "device/log.hpp"
#include "draw/Strokes.h"
#include "draw/Timeline.h"

namespace sim {

// Direction codes with their lengths from a hand-over's debug line,
// "Gesture handed over: 2 code(s): Z34 Q40"; empty for any other text.
std::vector<std::pair<char, int>> handed_over_codes(const std::string& text);

// Segments for codes of the given lengths laid along the stroke's path in order, each as long a
// share of the path as its length is of theirs: the log tells a code's length, not its samples.
std::vector<draw::StrokeSegment> place_codes(const std::vector<draw::StrokePoint>& points,
                                             const std::vector<std::pair<char, int>>& codes);

class StrokeLog {
 public:
  // The panel's portrait size, which a display change turns.
  StrokeLog(int width, int height);
  void add(const dev::LogEntry& e);

  // The strokes kept (the last kKept), and how many earlier ones were let go.
  std::vector<draw::StrokeView> strokes() const;
  size_t earlier() const { return earlier_; }
  // Each kept stroke's pen-down to pen-up, coloured by its decision.
  std::vector<draw::TimeSpan> spans() const;

  static const size_t kKept = 256;

 private:
  struct Stroke {
    uint64_t down = 0, up = 0;
    bool pen_up = false;
    std::vector<draw::StrokePoint> points;  // those with the pen down
    size_t samples = 0, received = 0;       // the panel's, the pen-up's among them
    bool panned = false, handed_over = false;
    std::vector<std::pair<char, int>> codes;
    int behaviour = -1;
  };
  static draw::Decision decision_of(const Stroke& s);
  static std::string label_of(const Stroke& s);

  int width_, height_, angle_ = 0;  // the screen as it is now
  bool down_ = false;
  std::deque<Stroke> strokes_;
  size_t earlier_ = 0;
};

}  // namespace sim
