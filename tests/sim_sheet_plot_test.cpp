// The replay's contact sheet and the tuning plot, read back pixel by pixel.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "draw/ContactSheet.h"
#include "draw/Legend.h"
#include "draw/Strokes.h"
#include "draw/TunePlot.h"

namespace {
namespace fs = std::filesystem;
using draw::Decision;

// The pictures stay in the build folder for a person to look at.
const fs::path kOut = VEXORI_PICTURES_DIR;

struct Png {
  explicit Png(const fs::path& path)
      : s(cairo_image_surface_create_from_png(path.string().c_str())) {}
  ~Png() { cairo_surface_destroy(s); }
  bool ok() const { return cairo_surface_status(s) == CAIRO_STATUS_SUCCESS; }
  uint32_t at(int x, int y) const {
    const unsigned char* row =
        cairo_image_surface_get_data(s) + cairo_image_surface_get_stride(s) * y;
    return reinterpret_cast<const uint32_t*>(row)[x] & 0xFFFFFF;
  }
  // Whether a pixel of the colour (give or take antialiasing) is anywhere in the rectangle.
  bool shows(double x, double y, double w, double h, const draw::Colour& c) const {
    const int want[] = {static_cast<int>(std::lround(c.r * 255)),
                        static_cast<int>(std::lround(c.g * 255)),
                        static_cast<int>(std::lround(c.b * 255))};
    for (int py = static_cast<int>(y); py < y + h; ++py) {
      for (int px = static_cast<int>(x); px < x + w; ++px) {
        uint32_t got = at(px, py);
        if (std::abs(static_cast<int>(got >> 16 & 0xFF) - want[0]) <= 20 &&
            std::abs(static_cast<int>(got >> 8 & 0xFF) - want[1]) <= 20 &&
            std::abs(static_cast<int>(got & 0xFF) - want[2]) <= 20)
          return true;
      }
    }
    return false;
  }
  cairo_surface_t* s;
};

std::string read_all(const fs::path& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string fmt_name(size_t i) {
  return "stroke" + std::to_string(i);
}

std::string head_of(const fs::path& path) {
  return read_all(path).substr(0, 5);
}

// Each stroke in its decision's colour, scaled into its own box with its group; each share at
// its height in every panel, a label in the same colour wherever it comes.
TEST(SimSheetPlot, StrokesAndSharesAreDrawnWhereTheyBelong) {
  fs::create_directories(kOut);
  const std::vector<draw::SheetCell> cells = {
      {"caret01",
       "caret",
       {{10, 10}, {40, 60}, {70, 10}},
       Decision::kHandedOver,
       "Z106 Q40",
       "ZQ: 106 zoom level up",
       {},
       ""},
      {"tap01", "tap", {{100, 100}}, Decision::kPassed, "", "tap", {}, ""},
      {"line01", "line", {{20, 200}, {220, 200}}, Decision::kPanned, "", "panned", {}, ""},
      {"tap02", "tap", {}, Decision::kKept, "", "no samples logged", {}, ""},
      {"caret02", "caret", {{5, 5}, {5, 5}}, Decision::kKept, "", "press-and-hold", {}, ""},
  };
  const std::string heading = "Replay of 5 strokes on list\nFilterDistance=40";
  // The stock value, 30, falls between two of the values.
  const draw::PlotAxis x = {"FilterSpeed", {10, 20, 40, 80}, {}, 30, "stock"};
  const double nan = std::nan("");
  const std::vector<draw::PlotPanel> panels = {
      {"FilterDistance=20",
       {{"handed over", {1, 1, 1, 1}},
        {"passed through", {0, 0, 0, 0}},
        {"held", {0.5, 0.5, nan, 0.5}}}},
      {"FilterDistance=40", {{"passed through", {0, 0, 0, 0}}, {"handed over", {1, 1, 1, 1}}}},
  };
  for (const char* ext : {".png", ".svg"}) {
    draw::Format format;
    ASSERT_TRUE(draw::format_of(ext, &format));
    draw::write_contact_sheet(heading, cells, (kOut / (std::string("sheet") + ext)).string(),
                              format);
    draw::write_tune_plot("Outcomes against FilterSpeed", x, panels,
                          (kOut / (std::string("tune") + ext)).string(), format);
  }
  EXPECT_EQ(head_of(kOut / "sheet.svg"), "<?xml");
  EXPECT_EQ(head_of(kOut / "tune.svg"), "<?xml");
  // Their text is text, not the outlines of glyphs.
  for (const char* svg : {"sheet.svg", "tune.svg"}) {
    std::string text = read_all(kOut / svg);
    EXPECT_EQ(text.find("glyph"), std::string::npos) << svg;
    EXPECT_NE(text.rfind("</svg>"), std::string::npos) << svg;
  }
  EXPECT_NE(read_all(kOut / "sheet.svg").find(">caret01</text>"), std::string::npos);
  EXPECT_NE(read_all(kOut / "tune.svg").find(">Outcomes against FilterSpeed</text>"),
            std::string::npos);
  EXPECT_NE(read_all(kOut / "tune.svg").find(">stock</text>"), std::string::npos);

  // A group's cells share a row even when others come between them.
  draw::SheetLayout sheet = draw::contact_sheet_layout(heading, cells);
  ASSERT_EQ(sheet.strokes.size(), cells.size());
  EXPECT_EQ(sheet.strokes[0].y, sheet.strokes[4].y);
  EXPECT_EQ(sheet.strokes[1].y, sheet.strokes[3].y);
  EXPECT_LT(sheet.strokes[0].y, sheet.strokes[1].y);
  EXPECT_LT(sheet.strokes[1].y, sheet.strokes[2].y);
  EXPECT_GT(sheet.strokes[4].x, sheet.strokes[0].x);

  Png sheet_png(kOut / "sheet.png"), tune_png(kOut / "tune.png");
  ASSERT_TRUE(sheet_png.ok() && tune_png.ok());
  auto box = [&](size_t i) { return sheet.strokes[i]; };
  draw::PlotArea a = draw::tune_panel_area(panels, 0), b = draw::tune_panel_area(panels, 1);
  const draw::Colour handed = {0x1F / 255.0, 0x77 / 255.0, 0xB4 / 255.0};  // the first label's
  const draw::Colour passed = {0xD6 / 255.0, 0x27 / 255.0, 0x28 / 255.0};  // the second's
  const draw::Colour held = {0x2C / 255.0, 0xA0 / 255.0, 0x2C / 255.0};
  struct {
    const Png& png;
    double x, y, w, h;
    draw::Colour want;
    const char* what;
  } pixels[] = {
      {sheet_png, box(0).x, box(0).y, box(0).w, box(0).h,
       draw::decision_colour(Decision::kHandedOver), "a caret in its box"},
      {sheet_png, box(1).x, box(1).y, box(1).w, box(1).h, draw::decision_colour(Decision::kPassed),
       "a single sample"},
      // Scaled to the box's width: the line reaches nearly to its sides.
      {sheet_png, box(2).x + 8, box(2).y + box(2).h / 2 - 1, 1, 2,
       draw::decision_colour(Decision::kPanned), "a line's start"},
      {sheet_png, box(2).x + box(2).w - 9, box(2).y + box(2).h / 2 - 1, 1, 2,
       draw::decision_colour(Decision::kPanned), "a line's end"},
      {sheet_png, box(4).x + box(4).w / 2, box(4).y + box(4).h / 2, 1, 1,
       draw::decision_colour(Decision::kKept), "samples all in one place, in the middle"},
      {tune_png, a.left + a.width * 0.3, a.top, 1, 1, handed, "100 % at the top"},
      {tune_png, a.left + a.width * 0.3, a.top + a.height, 1, 1, passed, "0 % at the bottom"},
      {tune_png, a.left + a.width * 0.1, a.top + a.height / 2, 1, 1, held, "50 % in the middle"},
      {tune_png, b.left + b.width * 0.3, b.top, 1, 1, handed, "a label's colour in another panel"},
      {tune_png, b.left + b.width * 0.3, b.top + b.height, 1, 1, passed, "and the other's"},
      {tune_png, b.left + b.width, b.top, 1, 1, handed, "the last value at the right end"},
      {tune_png, a.left + a.width * 20 / 70, a.top + a.height * 0.3, 2, 8, draw::rgb(0x606060),
       "the stock value's line, where it falls"},
  };
  for (const auto& p : pixels) EXPECT_TRUE(p.png.shows(p.x, p.y, p.w, p.h, p.want)) << p.what;
  // A share that is not a number leaves its stretch of line out.
  EXPECT_FALSE(tune_png.shows(a.left + a.width * 0.6, a.top + a.height / 2 - 1, 1, 2, held));
}

// Nothing to show still makes a picture; a series without one value per x is refused before a
// file is begun.
TEST(SimSheetPlot, EmptyInputsDrawAndMismatchedSeriesAreRefused) {
  fs::create_directories(kOut);
  draw::write_contact_sheet("Replay of an empty folder", {}, (kOut / "sheet-empty.png").string(),
                            draw::Format::kPng);
  EXPECT_TRUE(Png(kOut / "sheet-empty.png").ok());
  // A name from a file name that is not UTF-8 costs only its own bytes, not the picture.
  draw::SheetCell odd{
      "caret\xff\xc0\xaf", "car\xe2\x82", {{1, 1}}, Decision::kPassed, "", "", {}, ""};
  draw::write_contact_sheet("Latin-1 \xe9", {odd}, (kOut / "sheet-odd.png").string(),
                            draw::Format::kPng);
  EXPECT_TRUE(Png(kOut / "sheet-odd.png").ok());
  // In an SVG, markup in a name is escaped and a byte that is not UTF-8 shows as '?'.
  odd.title = "<b>&\x01\xff";
  draw::write_contact_sheet("odd", {odd}, (kOut / "sheet-odd.svg").string(), draw::Format::kSvg);
  EXPECT_NE(read_all(kOut / "sheet-odd.svg").find(">&lt;b&gt;&amp;?</text>"), std::string::npos);
  // So does any other picture's text: a stroke's line, a window's title.
  dev::ScreenView view;
  view.width = 240;
  view.height = 320;
  std::vector<draw::StrokeView> strokes(1);
  strokes[0].label = "sound \xe9\xff";
  draw::write_stroke_picture(view, strokes, 0, (kOut / "strokes-odd.png").string(),
                             draw::Format::kPng);
  EXPECT_TRUE(Png(kOut / "strokes-odd.png").ok());
  struct {
    const char* name;
    draw::PlotAxis x;
    std::vector<draw::PlotPanel> panels;
  } plots[] = {
      {"tune-one-value",
       {"FilterDistance", {40}, {}, 40, "stock"},
       {{"", {{"handed over", {0.25}}}}}},
      {"tune-no-values", {"FilterDistance", {}, {}, 60, "stock"}, {{"", {{"handed over", {}}}}}},
      {"tune-no-panels", {"FilterDistance", {10, 20}, {}}, {}},
      {"tune-kinds",
       {"window", {0, 1, 2}, {"list", "aware", "browser"}, NAN, ""},
       {{"", {{"handed over", {0.25, 0.5, 1}}}}}},
  };
  for (const auto& p : plots) {
    fs::path path = kOut / (std::string(p.name) + ".png");
    draw::write_tune_plot(p.name, p.x, p.panels, path.string(), draw::Format::kPng);
    EXPECT_TRUE(Png(path).ok()) << p.name;
  }
  fs::path refused = kOut / "tune-refused.svg";
  fs::remove(refused);
  EXPECT_THROW(draw::write_tune_plot("t", {"FilterDistance", {10, 20}, {}, NAN, ""},
                                     {{"", {{"a", {0.1, 0.2}}}}, {"", {{"b", {0.1}}}}},
                                     refused.string(), draw::Format::kSvg),
               std::invalid_argument);
  EXPECT_THROW(
      draw::write_tune_plot("t", {"window", {0, 1}, {"list"}, NAN, ""}, {{"", {{"a", {0.1, 0.2}}}}},
                            refused.string(), draw::Format::kSvg),
      std::invalid_argument);
  EXPECT_FALSE(fs::exists(refused));
}

// Every entry of a legend is measured: its box holds its text, lines stay in the width given,
// and an entry wider than a line wraps instead of running off the picture.
TEST(SimSheetPlot, LegendsHoldTheirWidestEntry) {
  draw::Measure m;
  std::vector<draw::LegendEntry> entries = {
      {"panned", draw::rgb(0x1565C0)},
      {"handed over to the broker as direction codes", draw::rgb(0xD81B60)},
      {"a window labelled at length: a very long label that no line of this legend holds whole",
       draw::rgb(0x757575)},
  };
  draw::LegendStyle style;
  const double width = 300;
  draw::LegendLayout layout = draw::lay_out_legend(m.cr(), entries, style, width);
  ASSERT_EQ(layout.boxes.size(), entries.size());
  draw::set_font(m.cr(), style.font, style.bold);
  double bottom = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const draw::LegendBox& b = layout.boxes[i];
    SCOPED_TRACE(entries[i].text);
    std::string joined;
    for (const auto& l : b.lines) {
      EXPECT_LE(style.box + style.gap + draw::text_width(m.cr(), l), b.w + 0.01);
      joined += (joined.empty() ? "" : " ") + l;
    }
    EXPECT_EQ(joined, entries[i].text);
    EXPECT_LE(b.x + b.w, width);
    EXPECT_GE(b.h, style.line * static_cast<double>(b.lines.size()) * 0.7);
    bottom = std::max(bottom, b.y + b.h);
  }
  EXPECT_GT(layout.boxes[2].lines.size(), 1u);
  EXPECT_GE(layout.height, bottom);
  // Boxes of one line do not overlap.
  EXPECT_TRUE(layout.boxes[1].y > layout.boxes[0].y ||
              layout.boxes[1].x >= layout.boxes[0].x + layout.boxes[0].w);

  // The stroke picture's legend makes room for a stroke's line longer than the screen is wide.
  std::vector<draw::StrokeView> strokes(3);
  strokes[2].label = std::string(40, 'x') + " " + std::string(30, 'y') + " " + std::string(30, 'z');
  draw::StrokeLegend legend = draw::stroke_legend(m.cr(), strokes, 20, 464);
  ASSERT_EQ(legend.lines.size(), 4u);  // the count of those not listed, then the three
  EXPECT_GT(legend.lines_layout.boxes[3].lines.size(), 1u);
  EXPECT_GE(legend.height, legend.key_layout.height + legend.lines_layout.height);
  EXPECT_LE(legend.lines_layout.width, 464);
}

// A set of thousands of strokes still makes a picture a person can open: at most kMaxCells
// cells, every class among them, and the heading says how many were left out.
TEST(SimSheetPlot, AContactSheetOfThousandsStaysBounded) {
  fs::create_directories(kOut);
  std::vector<draw::SheetCell> cells;
  for (size_t i = 0; i < 5000; ++i) {
    // One class far larger than the others, one of three strokes only.
    std::string group = i < 3 ? "rare" : i % 4 == 0 ? "small" : "large";
    draw::SheetCell c{
        fmt_name(i), group,         {{0, 0}, {30, 40}, {60, 0}},        Decision::kHandedOver,
        "Q50 Z50",   "handed over", {{0, 1, 'Q', 50}, {1, 2, 'Z', 50}}, "subject 2, fast"};
    cells.push_back(std::move(c));
  }
  draw::SheetLayout layout = draw::contact_sheet_layout("5000 strokes", cells);
  EXPECT_EQ(layout.left_out, 5000 - draw::kMaxCells);
  EXPECT_LE(layout.width, 2400);
  EXPECT_LE(layout.height, 6000);
  size_t shown = 0, rare = 0;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (layout.strokes[i].w == 0) continue;
    ++shown;
    rare += cells[i].group == "rare";
  }
  EXPECT_EQ(shown, draw::kMaxCells);
  EXPECT_EQ(rare, 3u);
  fs::path path = kOut / "sheet-5000.png";
  draw::write_contact_sheet("5000 strokes", cells, path.string(), draw::Format::kPng);
  Png png(path);
  ASSERT_TRUE(png.ok());
  EXPECT_EQ(cairo_image_surface_get_height(png.s), layout.height);
  // The codes' bands lie along the stroke: see-through, lighter than the line itself.
  const draw::CellBox& b = layout.strokes[0];
  const draw::Colour band = {0.95, 0.72, 0.82};
  EXPECT_TRUE(png.shows(b.x + b.w / 2 - 30, b.y + 10, 30, b.h - 20, band));
}

}  // namespace
