#include "draw/ContactSheet.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace draw {
namespace {

const double kPad = 12;
const double kCellW = 108, kBoxW = 102, kBoxH = 86;
const double kSmall = 9, kLine = 11;  // the cells' text
const double kCellH = kBoxH + 4 + 4 * kLine + 8;
const double kGroupLine = 26, kKeyLine = 22;
const double kMinWidth = 760;
const size_t kColumns = 20;
// cairo's image surfaces end at 32767 pixels a side.
const double kMaxSide = 32000;
const double kMaxZoom = 2;
const Colour kInk = rgb(0x202020);
const Colour kQuiet = rgb(0x606060);
const Colour kBoxFill = rgb(0xF5F5F5);
const Colour kGrid = rgb(0xE0E0E0);
const Decision kDecisions[] = {Decision::kPassed, Decision::kPanned, Decision::kHandedOver,
                               Decision::kKept};

// Stroke names come from file names, which need not be UTF-8.
std::string readable(const std::string& s) {
  return valid_utf8(s);
}

struct Line {
  std::string text;
  bool bold = false;
};

struct Group {
  std::string name;
  std::vector<size_t> cells;
  double y = 0;  // of its name
};

struct KeyEntry {
  Decision decision;
  std::string text;
  double x = 0, y = 0;
};

// Everything the drawing places, worked out before there is a surface of the right size.
struct Plan {
  SheetLayout layout;
  std::vector<Line> heading;
  std::vector<KeyEntry> key;
  std::vector<Group> groups;
  double body = 0;  // where the groups start
};

const double kHeadingBold = 14, kHeadingRegular = 12;
double line_height(const Line& l) {
  return l.bold ? kHeadingBold + 6 : kHeadingRegular + 5;
}

// Groups in the order their first cell comes, each cell keeping its place within its group.
std::vector<Group> grouped(const std::vector<SheetCell>& cells) {
  std::vector<Group> groups;
  for (size_t i = 0; i < cells.size(); ++i) {
    auto g = std::find_if(groups.begin(), groups.end(),
                          [&](const Group& x) { return x.name == cells[i].group; });
    if (g == groups.end()) {
      groups.push_back({cells[i].group, {}});
      g = groups.end() - 1;
    }
    g->cells.push_back(i);
  }
  return groups;
}

size_t rows_of(const std::vector<Group>& groups, size_t columns) {
  size_t rows = 0;
  for (const auto& g : groups) rows += (g.cells.size() + columns - 1) / columns;
  return rows;
}

double groups_height(const std::vector<Group>& groups, size_t columns) {
  return static_cast<double>(groups.size()) * kGroupLine +
         static_cast<double>(rows_of(groups, columns)) * kCellH;
}

Plan plan_sheet(cairo_t* cr, const std::string& heading, const std::vector<SheetCell>& cells) {
  Plan p;
  p.groups = grouped(cells);
  size_t columns = 1;
  for (const auto& g : p.groups) columns = std::max(columns, std::min(kColumns, g.cells.size()));
  // The heading is short next to the groups: widening until the groups fit leaves it room.
  const size_t widest = static_cast<size_t>((kMaxSide - 2 * kPad) / kCellW);
  while (columns < widest && groups_height(p.groups, columns) > kMaxSide - 200) ++columns;
  p.layout.columns = columns;
  double width =
      std::max(kMinWidth, std::ceil(2 * kPad + static_cast<double>(columns) * kCellW - 6));

  double y = kPad;
  size_t start = 0;
  for (bool first = true; start <= heading.size(); first = false) {
    size_t end = std::min(heading.find('\n', start), heading.size());
    set_font(cr, first ? kHeadingBold : kHeadingRegular, first);
    for (auto& l :
         wrapped_lines(cr, readable(heading.substr(start, end - start)), width - 2 * kPad)) {
      p.heading.push_back({l, first});
      y += line_height(p.heading.back());
    }
    start = end + 1;
  }
  y += 4;
  if (!cells.empty()) {
    set_font(cr, 12);
    double x = kPad;
    for (Decision d : kDecisions) {
      size_t n = std::count_if(cells.begin(), cells.end(),
                               [&](const SheetCell& c) { return c.decision == d; });
      std::string text = fmt::format("{} ({})", decision_name(d), n);
      double w = 16 + text_width(cr, text) + 20;
      if (x > kPad && x + w > width - kPad) {
        x = kPad;
        y += kKeyLine;
      }
      p.key.push_back({d, text, x, y});
      x += w;
    }
    y += kKeyLine + 6;
  }
  p.body = y;
  p.layout.strokes.resize(cells.size());
  for (auto& g : p.groups) {
    g.y = y;
    y += kGroupLine;
    for (size_t k = 0; k < g.cells.size(); ++k) {
      double cx = kPad + static_cast<double>(k % columns) * kCellW;
      double cy = y + static_cast<double>(k / columns) * kCellH;
      p.layout.strokes[g.cells[k]] = {cx, cy, kBoxW, kBoxH};
    }
    y += static_cast<double>((g.cells.size() + columns - 1) / columns) * kCellH;
  }
  if (cells.empty()) y += kKeyLine;
  p.layout.width = static_cast<int>(width);
  p.layout.height = static_cast<int>(std::ceil(y + kPad));
  return p;
}

// Text cut short with an ellipsis to fit a width, never in the middle of a character.
std::string fitted(cairo_t* cr, std::string text, double w) {
  if (text_width(cr, text) <= w) return text;
  const std::string ellipsis = "\xE2\x80\xA6";
  while (!text.empty() && text_width(cr, text + ellipsis) > w) {
    unsigned char last;
    do {
      last = static_cast<unsigned char>(text.back());
      text.pop_back();
    } while (!text.empty() && (last & 0xC0) == 0x80);
  }
  return text + ellipsis;
}

void draw_stroke(cairo_t* cr, const CellBox& b, const SheetCell& c) {
  fill_rect(cr, b.x, b.y, b.w, b.h, kBoxFill);
  frame_rect(cr, b.x, b.y, b.w, b.h, kGrid);
  if (c.points.empty()) {
    set_font(cr, kSmall);
    text_centred(cr, b.x + b.w / 2, b.y + b.h / 2, "no samples", kQuiet);
    return;
  }
  double x0 = c.points[0].x, x1 = x0, y0 = c.points[0].y, y1 = y0;
  for (const auto& p : c.points) {
    x0 = std::min(x0, p.x);
    x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y);
    y1 = std::max(y1, p.y);
  }
  const double inset = 7;
  double scale = kMaxZoom;
  if (x1 > x0) scale = std::min(scale, (b.w - 2 * inset) / (x1 - x0));
  if (y1 > y0) scale = std::min(scale, (b.h - 2 * inset) / (y1 - y0));
  auto at = [&](const StrokePoint& p) {
    return StrokePoint{b.x + b.w / 2 + (p.x - (x0 + x1) / 2) * scale,
                       b.y + b.h / 2 + (p.y - (y0 + y1) / 2) * scale};
  };
  Colour colour = decision_colour(c.decision);
  set_colour(cr, colour);
  cairo_set_line_width(cr, 2);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  for (const auto& p : c.points) {
    StrokePoint q = at(p);
    cairo_line_to(cr, q.x, q.y);
  }
  cairo_stroke(cr);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
  StrokePoint first = at(c.points[0]);
  cairo_arc(cr, first.x, first.y, 3.2, 0, 2 * M_PI);
  cairo_fill(cr);
}

void draw_cell(cairo_t* cr, const CellBox& b, const SheetCell& c) {
  draw_stroke(cr, b, c);
  double y = b.y + b.h + 3;
  set_font(cr, kSmall, true);
  text_at(cr, b.x + 1, y, fitted(cr, readable(c.title), b.w - 2), kInk);
  set_font(cr, kSmall);
  text_at(cr, b.x + 1, y + kLine, fitted(cr, readable(c.codes), b.w - 2), kQuiet);
  std::vector<std::string> result = wrapped_lines(cr, readable(c.result), b.w - 2);
  for (size_t i = 0; i < result.size() && i < 2; ++i) {
    std::string line = result[i];
    if (i == 1 && result.size() > 2) line += " " + result[2];
    text_at(cr, b.x + 1, y + kLine * static_cast<double>(2 + i), fitted(cr, line, b.w - 2), kInk);
  }
}

}  // namespace

SheetLayout contact_sheet_layout(const std::string& heading, const std::vector<SheetCell>& cells) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  cairo_t* cr = cairo_create(s);
  SheetLayout layout = plan_sheet(cr, heading, cells).layout;
  cairo_destroy(cr);
  cairo_surface_destroy(s);
  return layout;
}

void write_contact_sheet(const std::string& heading, const std::vector<SheetCell>& cells,
                         const std::string& path, Format format) {
  cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1);
  cairo_t* measure = cairo_create(scratch);
  Plan p = plan_sheet(measure, heading, cells);
  cairo_destroy(measure);
  cairo_surface_destroy(scratch);

  Canvas canvas(p.layout.width, p.layout.height, format, path);
  cairo_t* cr = canvas.cr();
  fill_rect(cr, 0, 0, canvas.width(), canvas.height(), rgb(0xFFFFFF));
  double y = kPad;
  for (const auto& l : p.heading) {
    set_font(cr, l.bold ? kHeadingBold : kHeadingRegular, l.bold);
    text_at(cr, kPad, y, l.text, kInk);
    y += line_height(l);
  }
  set_font(cr, 12);
  for (const auto& k : p.key) {
    fill_rect(cr, k.x, k.y + 2, 12, 12, decision_colour(k.decision));
    text_at(cr, k.x + 16, k.y + 1, k.text, kInk);
  }
  if (cells.empty()) {
    text_at(cr, kPad, p.body, "no strokes", kQuiet);
  }
  for (const auto& g : p.groups) {
    set_font(cr, 13, true);
    std::string name = g.name.empty() ? "(no class)" : readable(g.name);
    text_at(cr, kPad, g.y + 5, name, kInk);
    double x = kPad + text_width(cr, name) + 8;
    set_font(cr, 12);
    text_at(cr, x, g.y + 6,
            fmt::format("{} stroke{}", g.cells.size(), g.cells.size() == 1 ? "" : "s"), kQuiet);
    for (size_t i : g.cells) draw_cell(cr, p.layout.strokes[i], cells[i]);
  }
  canvas.finish();
}

}  // namespace draw
