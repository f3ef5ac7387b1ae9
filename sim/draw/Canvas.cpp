#include "draw/Canvas.h"

#include <cairo-svg.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "device/device.hpp"

namespace draw {

bool format_of(const std::string& name, Format* format) {
  std::string ext = name.size() >= 4 ? name.substr(name.size() - 4) : "";
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  if (ext == ".png") *format = Format::kPng;
  if (ext == ".svg") *format = Format::kSvg;
  return ext == ".png" || ext == ".svg";
}

Colour from_colorref(uint32_t c) {
  return {(c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, ((c >> 16) & 0xFF) / 255.0, 1};
}

Colour rgb(uint32_t v, double alpha) {
  return {((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0, alpha};
}

namespace {

// cairo keeps the fonts it has looked up, and fontconfig its configuration, for the whole
// process; both let go of them at its end, so that a leak checker sees only real leaks.
void release_fonts() {
  cairo_debug_reset_static_data();
  FcFini();
}

}  // namespace

Canvas::Canvas(int width, int height, Format format, const std::string& path)
    : width_(width), height_(height), format_(format), path_(path) {
  static std::once_flag registered;
  std::call_once(registered, [] { std::atexit(release_fonts); });
  // An SVG surface writes its file as it goes; a PNG is written whole at the end.
  surface_ = format == Format::kSvg ? cairo_svg_surface_create(path.c_str(), width, height)
                                    : cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  if (format == Format::kSvg) cairo_svg_surface_set_document_unit(surface_, CAIRO_SVG_UNIT_PX);
  cr_ = cairo_create(surface_);
  cairo_set_line_cap(cr_, CAIRO_LINE_CAP_BUTT);
}

Canvas::~Canvas() {
  cairo_destroy(cr_);
  cairo_surface_destroy(surface_);
}

void Canvas::finish() {
  if (finished_) return;
  finished_ = true;
  cairo_status_t status = cairo_status(cr_);
  if (status == CAIRO_STATUS_SUCCESS) {
    cairo_surface_flush(surface_);
    if (format_ == Format::kPng) {
      status = cairo_surface_write_to_png(surface_, path_.c_str());
    } else {
      cairo_surface_finish(surface_);
      status = cairo_surface_status(surface_);
    }
  }
  if (status != CAIRO_STATUS_SUCCESS) {
    throw dev::InputError(
        path_, 0, std::string("cannot write the picture: ") + cairo_status_to_string(status));
  }
}

void set_colour(cairo_t* cr, const Colour& c) {
  cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
}

void fill_rect(cairo_t* cr, double x, double y, double w, double h, const Colour& c) {
  set_colour(cr, c);
  cairo_rectangle(cr, x, y, w, h);
  cairo_fill(cr);
}

void frame_rect(cairo_t* cr, double x, double y, double w, double h, const Colour& c, double line) {
  set_colour(cr, c);
  cairo_set_line_width(cr, line);
  cairo_rectangle(cr, x + line / 2, y + line / 2, w - line, h - line);
  cairo_stroke(cr);
}

void set_font(cairo_t* cr, double size, bool bold) {
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
}

double text_width(cairo_t* cr, const std::string& text) {
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  return e.x_advance;
}

void text_at(cairo_t* cr, double x, double y, const std::string& text, const Colour& c) {
  cairo_font_extents_t f;
  cairo_font_extents(cr, &f);
  set_colour(cr, c);
  cairo_move_to(cr, x, y + f.ascent);
  cairo_show_text(cr, text.c_str());
}

void text_centred(cairo_t* cr, double cx, double cy, const std::string& text, const Colour& c) {
  cairo_font_extents_t f;
  cairo_font_extents(cr, &f);
  text_at(cr, cx - text_width(cr, text) / 2, cy - (f.ascent + f.descent) / 2, text, c);
}

std::vector<std::string> wrapped_lines(cairo_t* cr, const std::string& text, double w) {
  std::vector<std::string> lines;
  std::string line;
  size_t i = 0;
  while (i <= text.size()) {
    size_t end = std::min(text.find_first_of(" \n", i), text.size());
    std::string word = text.substr(i, end - i);
    std::string longer = line.empty() ? word : line + " " + word;
    if (!line.empty() && text_width(cr, longer) > w) {
      lines.push_back(line);
      line = word;
    } else {
      line = longer;
    }
    if (end < text.size() && text[end] == '\n') {
      lines.push_back(line);
      line.clear();
    }
    i = end + 1;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

void text_wrapped(cairo_t* cr, double x, double y, double w, double h, const std::string& text,
                  const Colour& c, Align align, bool centred) {
  std::vector<std::string> lines = wrapped_lines(cr, text, w);
  cairo_font_extents_t f;
  cairo_font_extents(cr, &f);
  double block = f.height * static_cast<double>(lines.size());
  if (centred && block < h) y += (h - block) / 2;
  cairo_save(cr);
  cairo_rectangle(cr, x, y, w, h);
  cairo_clip(cr);
  double top = y;
  for (const auto& l : lines) {
    double lw = text_width(cr, l);
    double left = align == Align::kLeft     ? x
                  : align == Align::kCentre ? x + (w - lw) / 2
                                            : x + w - lw;
    text_at(cr, left, top, l, c);
    top += f.height;
  }
  cairo_restore(cr);
}

}  // namespace draw
