#include "draw/Strokes.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "draw/Screen.h"

namespace draw {
namespace {

const double kLegendPad = 8;  // picture pixels
LegendStyle key_style() {
  LegendStyle s;
  s.bold = true;
  s.spacing = 28;
  return s;
}
const LegendStyle kKeyStyle = key_style();
LegendStyle line_style() {
  LegendStyle s;
  s.one_per_line = true;
  return s;
}
const LegendStyle kLineStyle = line_style();

// Where the legend numbers a stroke: beside its first sample.
void number_mark(cairo_t* cr, const StrokePoint& p, size_t n, const Colour& c) {
  std::string s = std::to_string(n);
  set_font(cr, 7, true);
  double r = std::max(5.0, text_width(cr, s) / 2 + 2);
  set_colour(cr, c);
  cairo_arc(cr, p.x - r - 2, p.y - r - 2, r, 0, 2 * M_PI);
  cairo_fill(cr);
  text_centred(cr, p.x - r - 2, p.y - r - 2, s, rgb(0xFFFFFF));
}

}  // namespace

Colour decision_colour(Decision d) {
  switch (d) {
    case Decision::kPassed:
      return rgb(0x1F9D55);  // green
    case Decision::kPanned:
      return rgb(0x1565C0);  // blue
    case Decision::kHandedOver:
      return rgb(0xD81B60);  // magenta
    default:
      return rgb(0x757575);  // grey
  }
}

const char* decision_name(Decision d) {
  switch (d) {
    case Decision::kPassed:
      return "reached the window system";
    case Decision::kPanned:
      return "panned";
    case Decision::kHandedOver:
      return "handed over";
    default:
      return "kept by the engine";
  }
}

StrokeLegend stroke_legend(cairo_t* cr, const std::vector<StrokeView>& strokes, size_t earlier,
                           double width) {
  StrokeLegend out;
  for (Decision d : {Decision::kPassed, Decision::kPanned, Decision::kHandedOver, Decision::kKept})
    out.key.push_back({decision_name(d), decision_colour(d)});
  // The last strokes are listed, those of the moment the picture shows.
  size_t from = strokes.size() > kLegendStrokes ? strokes.size() - kLegendStrokes : 0;
  if (from + earlier > 0) {
    out.lines.push_back(
        {fmt::format("({} earlier strokes not listed)", from + earlier), {}, rgb(0x606060), false});
  }
  for (size_t n = from; n < strokes.size(); ++n) {
    Colour c = decision_colour(strokes[n].decision);
    out.lines.push_back({fmt::format("{}  {}", n + 1 + earlier, strokes[n].label), c, c, false});
  }
  out.key_layout = lay_out_legend(cr, out.key, kKeyStyle, width);
  out.lines_layout = lay_out_legend(cr, out.lines, kLineStyle, width);
  out.height = kLegendPad * 2 + out.key_layout.height + out.lines_layout.height;
  return out;
}

void draw_strokes(cairo_t* cr, const std::vector<StrokeView>& strokes, size_t first) {
  for (size_t n = 0; n < strokes.size(); ++n) {
    const StrokeView& s = strokes[n];
    if (s.points.empty()) continue;
    Colour c = decision_colour(s.decision);
    // The path the finger took, thin, then each code's segment along its samples, broad and
    // see-through, with its letter and length at its middle.
    Colour faint = c;
    faint.a = 0.6;
    set_colour(cr, faint);
    cairo_set_line_width(cr, 1);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_move_to(cr, s.points[0].x, s.points[0].y);
    for (const auto& p : s.points) cairo_line_to(cr, p.x, p.y);
    cairo_stroke(cr);
    for (const StrokeSegment& seg : s.segments) {
      if (seg.first >= s.points.size() || seg.last >= s.points.size()) continue;
      const StrokePoint &a = s.points[seg.first], &b = s.points[seg.last];
      Colour band = c;
      band.a = 0.35;
      set_colour(cr, band);
      cairo_set_line_width(cr, 6);
      cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
      cairo_move_to(cr, a.x, a.y);
      for (size_t i = seg.first + 1; i <= seg.last; ++i)
        cairo_line_to(cr, s.points[i].x, s.points[i].y);
      cairo_stroke(cr);
      cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
      std::string text = fmt::format("{}{}", seg.code, seg.length);
      set_font(cr, 8, true);
      double mx = (a.x + b.x) / 2 + 6, my = (a.y + b.y) / 2;
      fill_rect(cr, mx - 1, my - 5.5, text_width(cr, text) + 2, 11, rgb(0xFFFFFF, 0.85));
      text_at(cr, mx, my - 5, text, c);
    }
    for (const auto& p : s.points) {
      set_colour(cr, c);
      cairo_arc(cr, p.x, p.y, 1.4, 0, 2 * M_PI);
      cairo_fill(cr);
    }
    number_mark(cr, s.points[0], first + n, c);
  }
}

void write_stroke_picture(const dev::ScreenView& view, const std::vector<StrokeView>& strokes,
                          size_t earlier, const std::string& path, Format format) {
  int w = std::max(1, view.width * kScale), h = std::max(1, view.height * kScale);
  Measure measure;
  StrokeLegend legend = stroke_legend(measure.cr(), strokes, earlier, w - 2 * kLegendPad);
  double legend_w = std::max(legend.key_layout.width, legend.lines_layout.width) + 2 * kLegendPad;
  Canvas canvas(std::max(w, static_cast<int>(std::ceil(legend_w))),
                h + static_cast<int>(std::ceil(legend.height)), format, path);
  cairo_t* cr = canvas.cr();
  fill_rect(cr, 0, 0, canvas.width(), canvas.height(), rgb(0xFFFFFF));
  cairo_save(cr);
  cairo_scale(cr, kScale, kScale);
  draw_screen(cr, view);
  // The screen a little faded, so that the strokes stand out on it.
  fill_rect(cr, 0, 0, view.width, view.height, rgb(0xFFFFFF, 0.35));
  draw_strokes(cr, strokes, earlier + 1);
  cairo_restore(cr);
  double y = h + kLegendPad;
  draw_legend(cr, legend.key_layout, legend.key, kKeyStyle, kLegendPad, y);
  draw_legend(cr, legend.lines_layout, legend.lines, kLineStyle, kLegendPad,
              y + legend.key_layout.height);
  canvas.finish();
}

}  // namespace draw
