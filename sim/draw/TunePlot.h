// How the outcome of a stroke set moves as a setting changes: line charts of the shares of its
// outcomes against the setting's value, as small multiples when a second setting varies too.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "draw/Canvas.h"

namespace draw {

struct PlotSeries {
  std::string label;           // an outcome; a label keeps its colour in every panel
  std::vector<double> values;  // a share from 0 to 1 for each x; not a number leaves a gap
};

struct PlotPanel {
  std::string title;  // "" for a single panel, else the second setting's value
  std::vector<PlotSeries> series;
};

// What runs along x: a setting's values, or kinds named by `labels` (one for each value, shown
// instead of the numbers). `marked` is a value drawn with a dashed line and `mark` over it (the
// stock value); not a number for none.
struct PlotAxis {
  std::string name;
  std::vector<double> values;
  std::vector<std::string> labels;
  double marked = NAN;
  std::string mark = "stock";
};

// A panel's axes in picture pixels: x from the first value to the last, y from 100 % at the top
// to 0 % at the bottom.
struct PlotArea {
  double left = 0, top = 0, width = 0, height = 0;
};
PlotArea tune_panel_area(const std::vector<PlotPanel>& panels, size_t index);

// Each panel's axes with a tick at every value of x (labelled where the labels have room), the
// marked value's line, a line with a marker at each point for every series and the shared legend
// above the panels. Throws std::invalid_argument when a series has not one value for each x, or
// the axis has labels but not one for each value.
void write_tune_plot(const std::string& title, const PlotAxis& x,
                     const std::vector<PlotPanel>& panels, const std::string& path, Format format);

}  // namespace draw
