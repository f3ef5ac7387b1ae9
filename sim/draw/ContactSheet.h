// A replayed stroke set at a glance: every stroke in a small box of its own, coloured by what the
// system decided, with its direction codes laid along it, its name, who drew it and how fast,
// its codes and what became of it, grouped by gesture class under a heading and a key of the
// colours. A sheet shows at most kMaxCells strokes, so that a set of thousands stays a picture a
// person can open: as many of each class as the share allows, the first of each, and a line under
// the heading says how many were left out.
#pragma once

#include <string>
#include <vector>

#include "draw/Canvas.h"
#include "draw/Strokes.h"

namespace draw {

struct SheetCell {
  std::string title;                // the stroke's name
  std::string group;                // its gesture class: cells of a group sit together
  std::vector<StrokePoint> points;  // the samples in screen pixels, in order
  Decision decision = Decision::kKept;
  std::string codes;   // the direction codes with their lengths, "" when it had none
  std::string result;  // what the system made of it
  std::vector<StrokeSegment> segments;  // the direction codes along the samples
  std::string about;                    // who drew it and how fast, "" when not known
};

// Picture pixels.
struct CellBox {
  double x = 0, y = 0, w = 0, h = 0;
};

struct SheetLayout {
  int width = 0, height = 0;
  size_t columns = 0;
  std::vector<CellBox> strokes;  // the box each cell's stroke is drawn in, in the cells' order;
                                 // one of no width for a cell left out
  size_t left_out = 0;
};

const size_t kMaxCells = 500;

// Twenty cells to a row unless a group has fewer.
SheetLayout contact_sheet_layout(const std::string& heading, const std::vector<SheetCell>& cells);

// The heading (its first line in bold), the key with each decision's count, then each group's
// name and its cells in rows. A stroke is scaled to fit its box with its aspect ratio kept, but
// never enlarged more than twice, so that the wobble of a tap is not blown up into a shape.
void write_contact_sheet(const std::string& heading, const std::vector<SheetCell>& cells,
                         const std::string& path, Format format);

}  // namespace draw
