#include "draw/Canvas.h"

#include <cairo-svg.h>
#include <fontconfig/fontconfig.h>

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

std::string valid_utf8(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = byte(i);
    size_t n = c < 0x80             ? 1
               : (c & 0xE0) == 0xC0 ? 2
               : (c & 0xF0) == 0xE0 ? 3
               : (c & 0xF8) == 0xF0 ? 4
                                    : 0;
    uint32_t cp = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
    bool ok = n > 0 && i + n <= s.size();
    for (size_t k = 1; ok && k < n; ++k) {
      ok = (byte(i + k) & 0xC0) == 0x80;
      cp = cp << 6 | (byte(i + k) & 0x3F);
    }
    const uint32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    ok = ok && cp >= shortest[n] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    if (ok) {
      out.append(s, i, n);
      i += n;
    } else {
      out += '?';
      ++i;
    }
  }
  return out;
}

namespace {

const cairo_user_data_key_t kCanvasKey = {};

cairo_status_t append_to(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

// Text as XML character data: markup escaped, and the control characters XML has no place for
// (all below a space but tab, line feed and carriage return) left out.
std::string xml_text(const std::string& s) {
  std::string out;
  for (char ch : s) {
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        if (static_cast<unsigned char>(ch) >= 0x20 || ch == '\t') out += ch;
    }
  }
  return out;
}

std::string svg_colour(const Colour& c) {
  auto byte = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
  return fmt::format("#{:02x}{:02x}{:02x}", byte(c.r), byte(c.g), byte(c.b));
}

// cairo keeps the fonts it has looked up, and fontconfig its configuration, for the whole
// process; both let go of them at its end, so that a leak checker sees only real leaks.
void release_fonts() {
  cairo_debug_reset_static_data();
  FcFini();
}

// Whatever draws or measures text first has them let go at the process's end.
void release_fonts_at_exit() {
  static std::once_flag registered;
  std::call_once(registered, [] { std::atexit(release_fonts); });
}

}  // namespace

Canvas::Canvas(int width, int height, Format format, const std::string& path)
    : width_(width), height_(height), format_(format), path_(path) {
  release_fonts_at_exit();
  // Both are written whole at the end: an SVG with its text put in.
  surface_ = format == Format::kSvg
                 ? cairo_svg_surface_create_for_stream(append_to, &svg_, width, height)
                 : cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
  if (format == Format::kSvg) cairo_svg_surface_set_document_unit(surface_, CAIRO_SVG_UNIT_PX);
  cr_ = cairo_create(surface_);
  if (format == Format::kSvg) cairo_set_user_data(cr_, &kCanvasKey, this, nullptr);
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
      if (status == CAIRO_STATUS_SUCCESS) write_svg();
    }
  }
  if (status != CAIRO_STATUS_SUCCESS) {
    throw dev::InputError(
        path_, 0, std::string("cannot write the picture: ") + cairo_status_to_string(status));
  }
}

Measure::Measure()
    : surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1)), cr_(cairo_create(surface_)) {
  release_fonts_at_exit();
}

Measure::~Measure() {
  cairo_destroy(cr_);
  cairo_surface_destroy(surface_);
}

void Canvas::write_svg() {
  size_t end = svg_.rfind("</svg>");
  if (end == std::string::npos) end = svg_.size();
  std::string text = "<g font-family=\"DejaVu Sans, sans-serif\">\n";
  if (!clips_.empty()) {
    text += "<defs>\n";
    for (size_t i = 0; i < clips_.size(); ++i)
      text += fmt::format("<clipPath id=\"text-clip-{}\">{}</clipPath>\n", i, clips_[i]);
    text += "</defs>\n";
  }
  for (const auto& t : texts_) text += t;
  text += "</g>\n";
  svg_.insert(end, text);
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  out.write(svg_.data(), static_cast<std::streamsize>(svg_.size()));
  out.close();
  if (!out) {
    throw dev::InputError(path_, 0,
                          std::string("cannot write the picture: ") + std::strerror(errno));
  }
}

void Canvas::add_text(cairo_t* cr, double x, double y, const std::string& text, const Colour& c) {
  cairo_matrix_t m;
  cairo_get_matrix(cr, &m);
  cairo_font_face_t* face = cairo_get_font_face(cr);
  bool bold = cairo_toy_font_face_get_weight(face) == CAIRO_FONT_WEIGHT_BOLD;
  cairo_matrix_t font;
  cairo_get_font_matrix(cr, &font);
  std::string transform =
      fmt::format("matrix({} {} {} {} {} {})", m.xx, m.yx, m.xy, m.yy, m.x0, m.y0);
  // A clip narrower than the surface keeps the text in its box, as the drawing would.
  double x1, y1, x2, y2;
  cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
  double dx1 = x1, dy1 = y1, dx2 = x2, dy2 = y2;
  cairo_user_to_device(cr, &dx1, &dy1);
  cairo_user_to_device(cr, &dx2, &dy2);
  std::string clip;
  if (std::min(dx1, dx2) > 0.5 || std::min(dy1, dy2) > 0.5 || std::max(dx1, dx2) < width_ - 0.5 ||
      std::max(dy1, dy2) < height_ - 0.5) {
    std::string rect =
        fmt::format("<rect transform=\"{}\" x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\"/>",
                    transform, x1, y1, x2 - x1, y2 - y1);
    auto known = std::find(clips_.begin(), clips_.end(), rect);
    if (known == clips_.end()) known = clips_.insert(clips_.end(), rect);
    clip = fmt::format(" clip-path=\"url(#text-clip-{})\"", known - clips_.begin());
  }
  std::string opacity = c.a < 1 ? fmt::format(" fill-opacity=\"{}\"", c.a) : "";
  std::string g_open = clip.empty() ? "" : fmt::format("<g{}>", clip);
  std::string g_close = clip.empty() ? "" : "</g>";
  texts_.push_back(fmt::format(
      "{}<text xml:space=\"preserve\" transform=\"{}\" x=\"{}\" y=\"{}\" font-size=\"{}\"{} "
      "fill=\"{}\"{}>{}</text>{}\n",
      g_open, transform, x, y, font.yy, bold ? " font-weight=\"bold\"" : "", svg_colour(c), opacity,
      xml_text(text), g_close));
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
  cairo_text_extents(cr, valid_utf8(text).c_str(), &e);
  return e.x_advance;
}

void text_at(cairo_t* cr, double x, double y, const std::string& text, const Colour& c) {
  cairo_font_extents_t f;
  cairo_font_extents(cr, &f);
  std::string valid = valid_utf8(text);
  if (auto* svg = static_cast<Canvas*>(cairo_get_user_data(cr, &kCanvasKey))) {
    svg->add_text(cr, x, y + f.ascent, valid, c);
    return;
  }
  set_colour(cr, c);
  cairo_move_to(cr, x, y + f.ascent);
  cairo_show_text(cr, valid.c_str());
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
