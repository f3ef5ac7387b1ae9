// Strokes drawn over the screen: each sample as a dot, each direction code as a segment labelled
// with its letter and length, coloured by what the system decided, with a legend below.
#pragma once

#include <cairo.h>

#include <string>
#include <vector>

#include "device/device.hpp"
#include "draw/Canvas.h"
#include "draw/Legend.h"

namespace draw {

enum class Decision {
  kPassed,      // its samples reached the window system
  kPanned,      // the engine scrolled the window under the finger
  kHandedOver,  // handed to the broker as direction codes
  kKept,        // the engine took it and nothing came of it (yet)
};
Colour decision_colour(Decision d);
const char* decision_name(Decision d);

struct StrokePoint {
  double x = 0, y = 0;  // screen pixels
};

// Samples first to last (indexes into the points) made the direction code `code` of `length`.
struct StrokeSegment {
  size_t first = 0, last = 0;
  char code = '?';
  int length = 0;
};

struct StrokeView {
  std::vector<StrokePoint> points;
  std::vector<StrokeSegment> segments;
  Decision decision = Decision::kKept;
  std::string label;  // what the legend says of it
};

// The legend below the screen: a key of the decisions, then a line per stroke for the last
// kLegendStrokes of them, after one that counts those not listed when there are any (`earlier`
// strokes were let go before these). Each part is laid out in `width` picture pixels; a stroke's
// line too long for it wraps.
const size_t kLegendStrokes = 12;
struct StrokeLegend {
  std::vector<LegendEntry> key, lines;
  LegendLayout key_layout, lines_layout;
  double height = 0;  // both, with their padding
};
StrokeLegend stroke_legend(cairo_t* cr, const std::vector<StrokeView>& strokes, size_t earlier,
                           double width);

// Draws the strokes in screen pixels over what the context holds, numbered from `first`; the
// caller scales it.
void draw_strokes(cairo_t* cr, const std::vector<StrokeView>& strokes, size_t first = 1);

// Writes the screen with the strokes over it and the legend below: kScale times the screen's
// width (wider only for a word of the legend that would not fit), kScale times its height plus
// the legend's.
void write_stroke_picture(const dev::ScreenView& view, const std::vector<StrokeView>& strokes,
                          size_t earlier, const std::string& path, Format format);

}  // namespace draw
