#include "draw/Legend.h"

#include <algorithm>

namespace draw {
namespace {

double text_left(const LegendEntry& e, const LegendStyle& s) {
  return e.has_swatch ? s.box + s.gap : 0;
}

// A line of text in the font's height; the legend's lines keep at least their own spacing.
double text_line(cairo_t* cr, const LegendStyle& s) {
  cairo_font_extents_t f;
  cairo_font_extents(cr, &f);
  return std::max(f.height, s.line - 4);
}

}  // namespace

LegendLayout lay_out_legend(cairo_t* cr, const std::vector<LegendEntry>& entries,
                            const LegendStyle& style, double width) {
  LegendLayout out;
  set_font(cr, style.font, style.bold);
  double x = 0, y = 0, line_h = 0;
  for (const auto& e : entries) {
    LegendBox b;
    double indent = text_left(e, style);
    double whole = indent + text_width(cr, e.text);
    if (x > 0 && (style.one_per_line || x + whole > width)) {
      x = 0;
      y += line_h;
      line_h = 0;
    }
    if (whole <= width) {
      b.lines = {e.text};
      b.w = whole;
    } else {
      b.lines = wrapped_lines(cr, e.text, std::max(1.0, width - indent));
      for (const auto& l : b.lines) b.w = std::max(b.w, indent + text_width(cr, l));
    }
    b.x = x;
    b.y = y;
    b.h = std::max(style.line,
                   text_line(cr, style) * static_cast<double>(b.lines.size() - 1) + style.line);
    line_h = std::max(line_h, b.h);
    out.width = std::max(out.width, b.x + b.w);
    x += b.w + style.spacing;
    out.boxes.push_back(std::move(b));
  }
  out.height = y + line_h;
  return out;
}

void draw_legend(cairo_t* cr, const LegendLayout& layout, const std::vector<LegendEntry>& entries,
                 const LegendStyle& style, double x, double y) {
  set_font(cr, style.font, style.bold);
  double step = text_line(cr, style);
  for (size_t i = 0; i < entries.size() && i < layout.boxes.size(); ++i) {
    const LegendBox& b = layout.boxes[i];
    const LegendEntry& e = entries[i];
    double top = y + b.y + (style.line - style.box) / 2;
    if (e.has_swatch && style.fill_swatch)
      fill_rect(cr, x + b.x, top, style.box, style.box, e.swatch);
    double ty = y + b.y + (style.line - step) / 2;
    for (const auto& l : b.lines) {
      text_at(cr, x + b.x + text_left(e, style), ty, l, e.ink);
      ty += step;
    }
  }
}

}  // namespace draw
