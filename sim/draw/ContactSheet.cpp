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
const double kCellH = kBoxH + 4 + 5 * kLine + 8;
const double kGroupLine = 26, kKeyLine = 22;
const double kMinWidth = 760;
const size_t kColumns = 20;
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
  std::vector<size_t> cells;  // those shown
  size_t all = 0;             // with those left out
  double y = 0;               // of its name
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

// At most kMaxCells cells in all: one of each group in turn, so that a small class is shown whole
// and a large one in its first strokes.
size_t keep_share(std::vector<Group>& groups) {
  for (auto& g : groups) g.all = g.cells.size();
  size_t total = 0;
  for (const auto& g : groups) total += g.all;
  if (total <= kMaxCells) return 0;
  std::vector<size_t> keep(groups.size(), 0);
  for (size_t kept = 0; kept < kMaxCells;) {
    for (size_t i = 0; i < groups.size() && kept < kMaxCells; ++i) {
      if (keep[i] < groups[i].all) {
        ++keep[i];
        ++kept;
      }
    }
  }
  for (size_t i = 0; i < groups.size(); ++i) groups[i].cells.resize(keep[i]);
  return total - kMaxCells;
}

Plan plan_sheet(cairo_t* cr, const std::string& heading, const std::vector<SheetCell>& cells) {
  Plan p;
  p.groups = grouped(cells);
  p.layout.left_out = keep_share(p.groups);
  size_t columns = 1;
  for (const auto& g : p.groups) columns = std::max(columns, std::min(kColumns, g.cells.size()));
  p.layout.columns = columns;
  double width =
      std::max(kMinWidth, std::ceil(2 * kPad + static_cast<double>(columns) * kCellW - 6));

  std::string text = heading;
  if (p.layout.left_out > 0) {
    text += fmt::format(
        "\nShown: {} of the {} strokes, as many of each class as a share of {} allows, its first; "
        "the key and the classes' counts are of all of them.",
        cells.size() - p.layout.left_out, cells.size(), kMaxCells);
  }
  double y = kPad;
  size_t start = 0;
  for (bool first = true; start <= text.size(); first = false) {
    size_t end = std::min(text.find('\n', start), text.size());
    set_font(cr, first ? kHeadingBold : kHeadingRegular, first);
    for (auto& l : wrapped_lines(cr, readable(text.substr(start, end - start)), width - 2 * kPad)) {
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
    if (g.cells.empty()) y += kLine;
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
  // Each direction code as a broad see-through band along its samples, its letter beside the
  // band's middle.
  Colour band = colour;
  band.a = 0.3;
  for (const StrokeSegment& seg : c.segments) {
    if (seg.first >= c.points.size() || seg.last >= c.points.size() || seg.last < seg.first)
      continue;
    set_colour(cr, band);
    cairo_set_line_width(cr, 6);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (size_t i = seg.first; i <= seg.last; ++i) {
      StrokePoint q = at(c.points[i]);
      cairo_line_to(cr, q.x, q.y);
    }
    cairo_stroke(cr);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    StrokePoint mid = at(c.points[(seg.first + seg.last) / 2]);
    set_font(cr, 8, true);
    std::string letter(1, seg.code);
    double lx = std::clamp(mid.x + 4, b.x + 1, b.x + b.w - 8);
    double ly = std::clamp(mid.y - 5, b.y + 1, b.y + b.h - 11);
    fill_rect(cr, lx - 1, ly, text_width(cr, letter) + 2, 10, rgb(0xFFFFFF, 0.8));
    text_at(cr, lx, ly, letter, colour);
  }
}

void draw_cell(cairo_t* cr, const CellBox& b, const SheetCell& c) {
  draw_stroke(cr, b, c);
  double y = b.y + b.h + 3;
  set_font(cr, kSmall, true);
  text_at(cr, b.x + 1, y, fitted(cr, readable(c.title), b.w - 2), kInk);
  set_font(cr, kSmall);
  text_at(cr, b.x + 1, y + kLine, fitted(cr, readable(c.about), b.w - 2), kQuiet);
  text_at(cr, b.x + 1, y + 2 * kLine, fitted(cr, readable(c.codes), b.w - 2), kQuiet);
  std::vector<std::string> result = wrapped_lines(cr, readable(c.result), b.w - 2);
  for (size_t i = 0; i < result.size() && i < 2; ++i) {
    std::string line = result[i];
    if (i == 1 && result.size() > 2) line += " " + result[2];
    text_at(cr, b.x + 1, y + kLine * static_cast<double>(3 + i), fitted(cr, line, b.w - 2), kInk);
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
    std::string count = fmt::format("{} stroke{}", g.all, g.all == 1 ? "" : "s");
    if (g.cells.size() < g.all) count += fmt::format(", the first {} shown", g.cells.size());
    text_at(cr, x, g.y + 6, count, kQuiet);
    for (size_t i : g.cells) draw_cell(cr, p.layout.strokes[i], cells[i]);
  }
  canvas.finish();
}

}  // namespace draw
