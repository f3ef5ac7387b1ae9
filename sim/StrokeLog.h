// Strokes as the log shows them, read as its entries pass: the panel's samples from each pen-down
// to its pen-up, with the orientation in force as the stroke began, and what the
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
// Where the samples turn to the next code's direction after going the code's own, the code ends
// there instead.
std::vector<draw::StrokeSegment> place_codes(const std::vector<draw::StrokePoint>& points,
                                             const std::vector<std::pair<char, int>>& codes);

class StrokeLog {
 public:
  // The screen's size at 0 degrees, the panel's own orientation.
  StrokeLog(int width, int height);
  void add(const dev::LogEntry& e);

  // The strokes kept (the last kKept), and how many earlier ones were let go. Their samples are
  // screen pixels of the screen turned to `angle` (a picture's), where the finger touched the
  // glass whatever the orientation was when the stroke was made.
  std::vector<draw::StrokeView> strokes(int angle) const;
  // The same for the screen as it is now.
  std::vector<draw::StrokeView> strokes() const { return strokes(angle_); }
  size_t earlier() const { return earlier_; }
  // Each kept stroke's pen-down to pen-up, coloured by its decision.
  std::vector<draw::TimeSpan> spans() const;

  // The scenario's notes, each the caption of the steps that follow it, with the number of
  // strokes (counted from the first of the run) made before it.
  struct Step {
    std::string caption;
    size_t first = 0;
  };
  const std::vector<Step>& steps() const { return steps_; }

  static const size_t kKept = 256;

 private:
  struct Stroke {
    uint64_t down = 0, up = 0;
    bool pen_up = false;
    int angle = 0;                          // the screen's as the stroke began
    std::vector<draw::StrokePoint> points;  // those with the pen down, panel pixels
    size_t samples = 0, received = 0;       // the panel's, the pen-up's among them
    bool panned = false, handed_over = false;
    std::vector<std::pair<char, int>> codes;
    int behaviour = -1;
  };
  static draw::Decision decision_of(const Stroke& s);
  static std::string label_of(const Stroke& s, int angle);
  draw::StrokePoint on_screen(const draw::StrokePoint& panel, int angle) const;

  int panel_w_, panel_h_;  // the screen's at 0 degrees
  int angle_ = 0;          // the screen's now
  bool down_ = false;
  std::deque<Stroke> strokes_;
  size_t earlier_ = 0;
  std::vector<Step> steps_;
};

}  // namespace sim
