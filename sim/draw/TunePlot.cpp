#include "draw/TunePlot.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "draw/Legend.h"

namespace draw {
namespace {

const double kPad = 12, kTitleH = 34, kLegendLine = 20;
const double kPanelTitle = 22;
// Around a panel's data area: room for the percentages on the left, the values and the
// setting's name below, and half a marker beyond the first and last value.
const double kAxisLeft = 62, kAxisRight = 22, kAxisTop = 10, kAxisBottom = 46, kOverhang = 10;
const Colour kInk = rgb(0x202020);
const Colour kQuiet = rgb(0x606060);
const Colour kGrid = rgb(0xE4E4E4);
const Colour kSeriesColours[] = {rgb(0x1F77B4), rgb(0xD62728), rgb(0x2CA02C), rgb(0xFF7F0E),
                                 rgb(0x9467BD), rgb(0x8C564B), rgb(0xE377C2), rgb(0x7F7F7F),
                                 rgb(0xBCBD22), rgb(0x17BECF), rgb(0x393B79), rgb(0xAD494A)};
const size_t kColours = sizeof kSeriesColours / sizeof kSeriesColours[0];

struct Grid {
  size_t columns = 1, rows = 1;
  double panel_w = 0, panel_h = 0;
};

Grid grid_of(size_t panels) {
  Grid g;
  g.columns = panels <= 1 ? 1 : panels <= 4 ? 2 : panels <= 9 ? 3 : 4;
  g.rows = (panels + g.columns - 1) / g.columns;
  const double widths[] = {960, 500, 420, 360}, heights[] = {440, 320, 300, 280};
  g.panel_w = widths[g.columns - 1];
  g.panel_h = heights[g.columns - 1];
  return g;
}

double picture_width(const Grid& g) {
  return 2 * kPad + static_cast<double>(g.columns) * g.panel_w;
}

// Every label once, in the order it first comes: its place gives its colour and marker.
std::vector<std::string> labels_of(const std::vector<PlotPanel>& panels) {
  std::vector<std::string> labels;
  for (const auto& p : panels)
    for (const auto& s : p.series)
      if (std::find(labels.begin(), labels.end(), s.label) == labels.end())
        labels.push_back(s.label);
  return labels;
}

LegendStyle legend_style() {
  LegendStyle s;
  s.line = kLegendLine;
  s.box = 22;  // a stretch of line with the series' marker
  s.gap = 6;
  s.spacing = 24;
  s.fill_swatch = false;
  return s;
}
const LegendStyle kLegendStyle = legend_style();

// The legend above the panels, each label measured in its font.
LegendLayout legend_of(cairo_t* cr, const std::vector<std::string>& labels, const Grid& g,
                       std::vector<LegendEntry>* entries) {
  for (size_t i = 0; i < labels.size(); ++i)
    entries->push_back({labels[i], kSeriesColours[i % kColours]});
  return lay_out_legend(cr, *entries, kLegendStyle, picture_width(g) - 2 * kPad);
}

double panels_top(const std::vector<PlotPanel>& panels, const Grid& g) {
  Measure measure;
  std::vector<LegendEntry> entries;
  return kTitleH + legend_of(measure.cr(), labels_of(panels), g, &entries).height + 8;
}

bool any_titled(const std::vector<PlotPanel>& panels) {
  return std::any_of(panels.begin(), panels.end(),
                     [](const PlotPanel& p) { return !p.title.empty(); });
}

// A series' marker shape; past the last colour the shapes shift, so that a colour used again
// comes with another shape.
void marker(cairo_t* cr, size_t index, double x, double y, double r) {
  switch ((index + index / kColours) % 4) {
    case 0:
      cairo_arc(cr, x, y, r, 0, 2 * M_PI);
      break;
    case 1:
      cairo_rectangle(cr, x - r * 0.9, y - r * 0.9, r * 1.8, r * 1.8);
      break;
    case 2:
      cairo_move_to(cr, x, y - r * 1.2);
      cairo_line_to(cr, x + r * 1.1, y + r * 0.8);
      cairo_line_to(cr, x - r * 1.1, y + r * 0.8);
      cairo_close_path(cr);
      break;
    default:
      cairo_move_to(cr, x, y - r * 1.25);
      cairo_line_to(cr, x + r * 1.1, y);
      cairo_line_to(cr, x, y + r * 1.25);
      cairo_line_to(cr, x - r * 1.1, y);
      cairo_close_path(cr);
  }
  cairo_fill(cr);
}

class Panel {
 public:
  Panel(cairo_t* cr, const PlotArea& a, const PlotAxis& axis)
      : cr_(cr), a_(a), axis_(axis), x_(axis.values) {}

  double px(size_t i) const { return at(x_[i]); }
  double at(double value) const {
    double lo = x_.front(), hi = x_.back();
    if (!(hi > lo)) return a_.left + a_.width / 2;
    return a_.left + a_.width * (value - lo) / (hi - lo);
  }
  double py(double share) const { return a_.top + a_.height * (1 - std::clamp(share, 0.0, 1.0)); }

  void axes(const std::string& title) {
    double l = a_.left - kOverhang, r = a_.left + a_.width + kOverhang;
    double bottom = a_.top + a_.height;
    if (!title.empty()) {
      set_font(cr_, 12, true);
      text_centred(cr_, (l + r) / 2, a_.top - kAxisTop - kPanelTitle / 2, title, kInk);
    }
    set_font(cr_, 11);
    for (int pc = 0; pc <= 100; pc += 25) {
      double y = std::round(py(pc / 100.0)) + 0.5;
      set_colour(cr_, pc == 0 ? kInk : kGrid);
      cairo_set_line_width(cr_, 1);
      cairo_move_to(cr_, l, y);
      cairo_line_to(cr_, r, y);
      cairo_stroke(cr_);
      std::string label = fmt::format("{} %", pc);
      text_centred(cr_, l - 6 - text_width(cr_, label) / 2, y, label, kQuiet);
    }
    fill_rect(cr_, l, a_.top, 1, a_.height, kInk);
    // Every value has its tick; the first and last are labelled, and those between where they
    // run into no other label.
    double free_from = -1e9, free_to = 1e9;
    for (size_t n = 0; n < x_.size(); ++n) {
      size_t i = n == 0 ? x_.size() - 1 : n - 1;
      double tx = std::round(px(i));
      fill_rect(cr_, tx, bottom, 1, 5, kInk);
      std::string label = axis_.labels.empty() ? fmt::format("{:g}", x_[i]) : axis_.labels[i];
      double w = text_width(cr_, label);
      if (n == 0) {
        free_to = tx - w / 2 - 6;
      } else if (tx - w / 2 < free_from || (i > 0 && tx + w / 2 > free_to)) {
        continue;
      }
      text_centred(cr_, tx + 0.5, bottom + 14, label, kInk);
      if (n > 0) free_from = tx + w / 2 + 6;
    }
    if (x_.empty()) text_centred(cr_, (l + r) / 2, a_.top + a_.height / 2, "no values", kQuiet);
    text_centred(cr_, (l + r) / 2, bottom + 33, axis_.name, kInk);
    mark();
  }

  // The marked value's dashed line across the panel, its word at the top; a value outside the
  // axis is not drawn.
  void mark() {
    double v = axis_.marked;
    if (!std::isfinite(v) || x_.empty() || v < x_.front() || v > x_.back()) return;
    double x = std::round(at(v)) + 0.5;
    const double dash[] = {4, 3};
    cairo_save(cr_);
    set_colour(cr_, kQuiet);
    cairo_set_line_width(cr_, 1);
    cairo_set_dash(cr_, dash, 2, 0);
    cairo_move_to(cr_, x, a_.top);
    cairo_line_to(cr_, x, a_.top + a_.height);
    cairo_stroke(cr_);
    cairo_restore(cr_);
    set_font(cr_, 10);
    text_centred(cr_, x, a_.top - 3, axis_.mark, kQuiet);
  }

  void series(const PlotSeries& s, size_t index) {
    const Colour& c = kSeriesColours[index % kColours];
    set_colour(cr_, c);
    cairo_set_line_width(cr_, 2);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
    // Kinds named along x have nothing between them: their points stand alone.
    bool drawing = false;
    for (size_t i = 0; i < x_.size() && axis_.labels.empty(); ++i) {
      if (!std::isfinite(s.values[i])) {
        drawing = false;
        continue;
      }
      if (drawing) {
        cairo_line_to(cr_, px(i), py(s.values[i]));
      } else {
        cairo_move_to(cr_, px(i), py(s.values[i]));
      }
      drawing = true;
    }
    cairo_stroke(cr_);
    double r = !axis_.labels.empty() ? 5 : x_.size() > 30 ? 2.5 : 3.5;
    for (size_t i = 0; i < x_.size(); ++i) {
      if (std::isfinite(s.values[i])) marker(cr_, index, px(i), py(s.values[i]), r);
    }
  }

 private:
  cairo_t* cr_;
  PlotArea a_;
  const PlotAxis& axis_;
  const std::vector<double>& x_;
};

}  // namespace

PlotArea tune_panel_area(const std::vector<PlotPanel>& panels, size_t index) {
  Grid g = grid_of(panels.size());
  double x = kPad + static_cast<double>(index % g.columns) * g.panel_w;
  double y = panels_top(panels, g) + static_cast<double>(index / g.columns) * g.panel_h;
  double top = y + kAxisTop + (any_titled(panels) ? kPanelTitle : 0);
  return {x + kAxisLeft, top, g.panel_w - kAxisLeft - kAxisRight,
          y + g.panel_h - kAxisBottom - top};
}

void write_tune_plot(const std::string& title, const PlotAxis& x,
                     const std::vector<PlotPanel>& panels, const std::string& path, Format format) {
  if (!x.labels.empty() && x.labels.size() != x.values.size())
    throw std::invalid_argument(
        fmt::format("{} labels for the {} values of {}", x.labels.size(), x.values.size(), x.name));
  for (const auto& p : panels)
    for (const auto& s : p.series)
      if (s.values.size() != x.values.size())
        throw std::invalid_argument(
            fmt::format("series \"{}\" has {} values for the {} values of {}", s.label,
                        s.values.size(), x.values.size(), x.name));
  Grid g = grid_of(panels.size());
  double top = panels_top(panels, g);
  Canvas canvas(static_cast<int>(picture_width(g)),
                static_cast<int>(top + static_cast<double>(g.rows) * g.panel_h +
                                 (panels.empty() ? kLegendLine : 0) + kPad),
                format, path);
  cairo_t* cr = canvas.cr();
  fill_rect(cr, 0, 0, canvas.width(), canvas.height(), rgb(0xFFFFFF));
  set_font(cr, 14, true);
  text_at(cr, kPad, 8, title, kInk);

  std::vector<std::string> labels = labels_of(panels);
  std::vector<LegendEntry> entries;
  LegendLayout legend = legend_of(cr, labels, g, &entries);
  draw_legend(cr, legend, entries, kLegendStyle, kPad, kTitleH);
  for (size_t i = 0; i < labels.size(); ++i) {
    double lx = kPad + legend.boxes[i].x, ly = kTitleH + legend.boxes[i].y + 2;
    const Colour& c = kSeriesColours[i % kColours];
    fill_rect(cr, lx, ly + 7, 22, 2, c);
    set_colour(cr, c);
    marker(cr, i, lx + 11, ly + 8, 3.5);
  }
  if (panels.empty()) {
    set_font(cr, 12);
    text_at(cr, kPad, top, "no panels", kQuiet);
  }
  for (size_t i = 0; i < panels.size(); ++i) {
    Panel panel(cr, tune_panel_area(panels, i), x);
    panel.axes(panels[i].title);
    for (const auto& s : panels[i].series) {
      size_t index = std::find(labels.begin(), labels.end(), s.label) - labels.begin();
      panel.series(s, index);
    }
  }
  canvas.finish();
}

}  // namespace draw
