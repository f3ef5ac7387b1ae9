#include "draw/Steps.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "draw/Legend.h"
#include "draw/Screen.h"

namespace draw {
namespace {

const double kPad = 12, kGap = 16;
const double kTitleFont = 11, kLineFont = 9;
const Colour kInk = rgb(0x202020);

LegendStyle key_style() {
  LegendStyle s;
  s.bold = true;
  s.spacing = 28;
  return s;
}

LegendStyle line_style() {
  LegendStyle s;
  s.font = kLineFont;
  s.line = 13;
  s.one_per_line = true;
  return s;
}

std::vector<LegendEntry> key_entries() {
  std::vector<LegendEntry> key;
  for (Decision d : {Decision::kPassed, Decision::kPanned, Decision::kHandedOver, Decision::kKept})
    key.push_back({decision_name(d), decision_colour(d)});
  return key;
}

std::vector<LegendEntry> stroke_lines(const StepPanel& p) {
  std::vector<LegendEntry> lines;
  for (size_t n = 0; n < p.strokes.size(); ++n) {
    Colour c = decision_colour(p.strokes[n].decision);
    lines.push_back({fmt::format("{}  {}", p.first + n, p.strokes[n].label), c, c, false});
  }
  if (lines.empty()) lines.push_back({"no strokes", {}, rgb(0x707070), false});
  return lines;
}

// Everything placed before the surface is made.
struct Plan {
  StepLayout layout;
  std::vector<LegendEntry> key;
  LegendLayout key_layout;
  double column = 0;
  std::vector<std::vector<std::string>> titles;
  std::vector<std::vector<LegendEntry>> lines;
  std::vector<LegendLayout> line_layouts;
  std::vector<double> title_y;
};

Plan plan(cairo_t* cr, const std::vector<StepPanel>& panels) {
  Plan p;
  for (const auto& s : panels) p.column = std::max(p.column, static_cast<double>(s.view.width));
  p.column = std::max(p.column, 160.0);
  size_t columns = std::max<size_t>(1, std::min(kStepColumns, panels.size()));
  double width = 2 * kPad + static_cast<double>(columns) * (p.column + kGap) - kGap;
  p.key = key_entries();
  p.key_layout = lay_out_legend(cr, p.key, key_style(), width - 2 * kPad);
  double y = kPad + 22 + p.key_layout.height + 8;
  cairo_font_extents_t f;
  for (size_t row = 0; row * columns < panels.size(); ++row) {
    // A row as tall as its tallest panel: title, screen, the strokes' lines.
    double title_h = 0, screen_h = 0, lines_h = 0;
    size_t from = row * columns, to = std::min(panels.size(), from + columns);
    for (size_t i = from; i < to; ++i) {
      set_font(cr, kTitleFont, true);
      cairo_font_extents(cr, &f);
      p.titles.push_back(wrapped_lines(cr, panels[i].title, p.column));
      title_h = std::max(title_h, f.height * static_cast<double>(p.titles.back().size()));
      screen_h = std::max(screen_h, static_cast<double>(panels[i].view.height));
      p.lines.push_back(stroke_lines(panels[i]));
      p.line_layouts.push_back(lay_out_legend(cr, p.lines.back(), line_style(), p.column));
      lines_h = std::max(lines_h, p.line_layouts.back().height);
    }
    for (size_t i = from; i < to; ++i) {
      double x = kPad + static_cast<double>(i - from) * (p.column + kGap);
      p.title_y.push_back(y);
      p.layout.screens.push_back({x, y + title_h + 4, static_cast<double>(panels[i].view.width),
                                  static_cast<double>(panels[i].view.height)});
    }
    y += title_h + 4 + screen_h + 6 + lines_h + kGap;
  }
  p.layout.width = static_cast<int>(std::ceil(width));
  p.layout.height = static_cast<int>(std::ceil(y + kPad - kGap));
  return p;
}

}  // namespace

StepLayout step_layout(const std::vector<StepPanel>& panels) {
  Measure m;
  return plan(m.cr(), panels).layout;
}

void write_step_picture(const std::vector<StepPanel>& panels, const std::string& path,
                        Format format) {
  Measure m;
  Plan p = plan(m.cr(), panels);
  Canvas canvas(std::max(1, p.layout.width), std::max(1, p.layout.height), format, path);
  cairo_t* cr = canvas.cr();
  fill_rect(cr, 0, 0, canvas.width(), canvas.height(), rgb(0xFFFFFF));
  set_font(cr, 14, true);
  text_at(cr, kPad, kPad,
          fmt::format("The strokes of {} steps, each over the screen it left", panels.size()),
          kInk);
  draw_legend(cr, p.key_layout, p.key, key_style(), kPad, kPad + 22);
  for (size_t i = 0; i < panels.size(); ++i) {
    const auto& box = p.layout.screens[i];
    set_font(cr, kTitleFont, true);
    cairo_font_extents_t f;
    cairo_font_extents(cr, &f);
    double ty = p.title_y[i];
    for (const auto& l : p.titles[i]) {
      text_at(cr, box.x, ty, l, kInk);
      ty += f.height;
    }
    cairo_save(cr);
    cairo_translate(cr, box.x, box.y);
    draw_screen(cr, panels[i].view);
    fill_rect(cr, 0, 0, box.w, box.h, rgb(0xFFFFFF, 0.35));
    cairo_rectangle(cr, 0, 0, box.w, box.h);
    cairo_clip(cr);
    draw_strokes(cr, panels[i].strokes, panels[i].first);
    cairo_restore(cr);
    frame_rect(cr, box.x - 1, box.y - 1, box.w + 2, box.h + 2, rgb(0xA0A0A0));
    draw_legend(cr, p.line_layouts[i], p.lines[i], line_style(), box.x, box.y + box.h + 6);
  }
  canvas.finish();
}

}  // namespace draw
