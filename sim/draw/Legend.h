// A legend: entries of a coloured swatch and its text, laid left to right in lines as wide as the
// picture allows, each measured with the font it is drawn in, so that its box holds its text.
#pragma once

#include <cairo.h>

#include <string>
#include <vector>

#include "draw/Canvas.h"

namespace draw {

struct LegendEntry {
  std::string text;
  Colour swatch;
  Colour ink = rgb(0x202020);  // the text's
  bool has_swatch = true;
};

struct LegendStyle {
  double font = 12;
  bool bold = false;
  double line = 22;     // the height of a line of entries
  double box = 12;      // the swatch's width and height
  double gap = 4;       // between the swatch and the text
  double spacing = 16;  // between entries on a line
  bool one_per_line = false;
  bool fill_swatch = true;  // false: the room is kept for a swatch the caller draws
};

// An entry's place, relative to the legend's top left corner: its swatch at (x, y), its text in
// the lines it wraps to beside it, and the whole box it takes.
struct LegendBox {
  double x = 0, y = 0, w = 0, h = 0;
  std::vector<std::string> lines;
};

struct LegendLayout {
  std::vector<LegendBox> boxes;  // one per entry, in order
  double width = 0, height = 0;  // what the boxes take: at most the width given, unless a word
                                 // alone is wider
};

// Entries in lines no wider than `width`; one wider than a line alone wraps at its spaces onto
// lines of its own.
LegendLayout lay_out_legend(cairo_t* cr, const std::vector<LegendEntry>& entries,
                            const LegendStyle& style, double width);

// Draws a laid-out legend with its top left corner at (x, y).
void draw_legend(cairo_t* cr, const LegendLayout& layout, const std::vector<LegendEntry>& entries,
                 const LegendStyle& style, double x, double y);

}  // namespace draw
