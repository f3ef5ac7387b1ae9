// A cairo surface that becomes a PNG or SVG file, and the few drawing helpers every picture uses:
// colours, the one font family, text that wraps in a box. cairo's SVG surface writes text as the
// outlines of its glyphs, which no one can select, search or read from the file; an SVG canvas
// therefore keeps its text apart and writes it as text elements, over the drawing.
#pragma once

#include <cairo.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace draw {

// A window's rectangle as the drawing takes it: its sides and size in screen pixels.
inline double left(const RECT& r) {
  return r.left;
}
inline double top(const RECT& r) {
  return r.top;
}
inline double right_of(const RECT& r) {
  return r.right;
}
inline double width(const RECT& r) {
  return r.right - r.left;
}
inline double height(const RECT& r) {
  return r.bottom - r.top;
}

enum class Format { kPng, kSvg };

// The format a file name asks for by its extension (".png" or ".svg", case ignored); false for
// any other name.
bool format_of(const std::string& name, Format* format);

struct Colour {
  double r = 0, g = 0, b = 0, a = 1;
};
// A COLORREF (0x00BBGGRR) as the device's painting calls carry it.
Colour from_colorref(uint32_t c);
Colour rgb(uint32_t hex_rrggbb, double alpha = 1);

class Canvas {
 public:
  // A surface of width x height pixels that finish() writes to `path` in `format`.
  Canvas(int width, int height, Format format, const std::string& path);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  cairo_t* cr() const { return cr_; }
  int width() const { return width_; }
  int height() const { return height_; }
  // Writes the file; throws dev::InputError when it cannot be written.
  void finish();

  // Keeps text drawn on an SVG canvas, its baseline's left end at (x, y) in the context's user
  // space, for the file to have as a text element.
  void add_text(cairo_t* cr, double x, double y, const std::string& text, const Colour& c);

 private:
  void write_svg();
  int width_, height_;
  Format format_;
  std::string path_;
  std::string svg_;                 // what cairo's SVG surface writes
  std::vector<std::string> texts_;  // the text elements, in the order they were drawn
  std::vector<std::string> clips_;  // the clip paths they use
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  bool finished_ = false;
};

// A context on a one-pixel surface, for measuring text before a picture's size is known.
class Measure {
 public:
  Measure();
  ~Measure();
  Measure(const Measure&) = delete;
  Measure& operator=(const Measure&) = delete;
  cairo_t* cr() const { return cr_; }

 private:
  cairo_surface_t* surface_;
  cairo_t* cr_;
};

void set_colour(cairo_t* cr, const Colour& c);
void fill_rect(cairo_t* cr, double x, double y, double w, double h, const Colour& c);
// A one-pixel outline inside the rectangle.
void frame_rect(cairo_t* cr, double x, double y, double w, double h, const Colour& c,
                double line = 1);

// The text with each byte that does not begin a well-formed UTF-8 character as '?': cairo gives
// up a whole picture over one string that is not UTF-8, and an SVG file must be.
std::string valid_utf8(const std::string& s);

// Text in the pictures' one font family (DejaVu Sans), `size` pixels high.
void set_font(cairo_t* cr, double size, bool bold = false);
double text_width(cairo_t* cr, const std::string& text);
// Text whose top left corner is at (x, y) in the current font.
void text_at(cairo_t* cr, double x, double y, const std::string& text, const Colour& c);
// Text centred on (cx, cy).
void text_centred(cairo_t* cr, double cx, double cy, const std::string& text, const Colour& c);

enum class Align { kLeft, kCentre, kRight };
// Text broken into lines at spaces (and at its line breaks) to fit a width; a word longer than
// the width stands on a line of its own.
std::vector<std::string> wrapped_lines(cairo_t* cr, const std::string& text, double w);
// Wrapped text in a box, from its top or centred on its height, clipped to the box.
void text_wrapped(cairo_t* cr, double x, double y, double w, double h, const std::string& text,
                  const Colour& c, Align align = Align::kLeft, bool centred = false);

}  // namespace draw
