#include "draw/Screen.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "draw/Dialogs.h"
#include "draw/Metrics.h"

namespace draw {
namespace {

const Colour kWhite = rgb(0xFFFFFF);
const Colour kText = rgb(0x000000);
const Colour kBarTop = rgb(0x3C3C3C);
const Colour kBarBottom = rgb(0x0E0E0E);
const Colour kBarText = rgb(0xFFFFFF);
const Colour kLineRule = rgb(0xE2E2E2);
const Colour kTrack = rgb(0xE8E8EC);
const Colour kThumb = rgb(0x8C9CB8);
const Colour kThumbEdge = rgb(0x4A5A78);
const Colour kFrameFill = rgb(0xF2F4F7);
const Colour kFrameEdge = rgb(0x707880);
const Colour kPanelFill = rgb(0xC9CED8);
const Colour kKeyEdge = rgb(0x8A909C);

void bar_gradient(cairo_t* cr, double x, double y, double w, double h) {
  cairo_pattern_t* p = cairo_pattern_create_linear(0, y, 0, y + h);
  cairo_pattern_add_color_stop_rgb(p, 0, kBarTop.r, kBarTop.g, kBarTop.b);
  cairo_pattern_add_color_stop_rgb(p, 1, kBarBottom.r, kBarBottom.g, kBarBottom.b);
  cairo_set_source(cr, p);
  cairo_rectangle(cr, x, y, w, h);
  cairo_fill(cr);
  cairo_pattern_destroy(p);
}

const dev::WindowView* find(const dev::ScreenView& view, uintptr_t handle) {
  for (const auto& w : view.windows)
    if (w.handle == handle) return &w;
  return nullptr;
}

// The task bar: the start flag, the foreground window's title, the signal and, for a dialog the
// shell gave a Done button, "ok" at its right end.
void draw_task_bar(cairo_t* cr, const dev::ScreenView& view, const Metrics& m) {
  double h = view.work_area.top;
  if (h <= 0) return;
  bar_gradient(cr, 0, 0, view.width, h);
  double s = h * 0.5, pad = h * 0.25;
  const Colour flag[] = {rgb(0xE8452C), rgb(0x6DBE45), rgb(0x2F7DE1), rgb(0xF9C00F)};
  for (int i = 0; i < 4; ++i)
    fill_rect(cr, pad + (i % 2) * s / 2, pad + (i / 2) * s / 2, s / 2 - m.k, s / 2 - m.k, flag[i]);
  const dev::WindowView* front = find(view, view.foreground);
  double right = view.width - pad;
  set_font(cr, m.font(), true);
  if (front && front->done_button) {
    double bw = text_width(cr, "ok") + 10 * m.k;
    right -= bw;
    set_colour(cr, kBarText);
    cairo_set_line_width(cr, m.k);
    cairo_rectangle(cr, right + 0.5, pad * 0.6 + 0.5, bw - 1, h - 1.2 * pad - 1);
    cairo_stroke(cr);
    text_centred(cr, right + bw / 2, h / 2, "ok", kBarText);
    right -= pad;
  }
  for (int i = 0; i < 4; ++i) {  // the signal's bars
    double bh = (i + 1) * s / 4;
    fill_rect(cr, right - (4 - i) * 3 * m.k, pad + s - bh, 2 * m.k, bh, kBarText);
  }
  right -= 14 * m.k;
  if (front && !front->title.empty()) {
    double tx = pad * 2 + s;
    cairo_save(cr);
    cairo_rectangle(cr, tx, 0, std::max(0.0, right - tx), h);
    cairo_clip(cr);
    text_centred(cr, tx + text_width(cr, front->title) / 2, h / 2, front->title, kBarText);
    cairo_restore(cr);
  }
}

// The menu bar's band, with its soft keys left and right, or empty when no menu bar shows.
void draw_menu_bar(cairo_t* cr, const RECT& r, const std::vector<std::string>& keys,
                   const Metrics& m) {
  if (height(r) <= 0 || width(r) <= 0) return;
  bar_gradient(cr, left(r), top(r), width(r), height(r));
  if (keys.empty()) return;
  set_font(cr, m.font(), true);
  double slot = width(r) / static_cast<double>(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) {
    text_centred(cr, left(r) + slot * (i + 0.5), top(r) + height(r) / 2, keys[i], kBarText);
    if (i > 0)
      fill_rect(cr, left(r) + slot * i, top(r) + height(r) * 0.2, m.k, height(r) * 0.6, kKeyEdge);
  }
}

// A vertical scroll bar at the window's right edge with its thumb where the position puts it.
void draw_vertical_bar(cairo_t* cr, const RECT& r, const SCROLLINFO& bar, const Metrics& m) {
  double bw = m.scroll_bar(), x = r.right - bw, track = height(r);
  fill_rect(cr, x, top(r), bw, track, kTrack);
  double range = std::max(1.0, static_cast<double>(bar.nMax) - bar.nMin + 1);
  double page = bar.nPage > 0 ? std::min<double>(bar.nPage, range) : range / 10;
  double length = std::max(bw, track * page / range);
  double span = std::max(1.0, range - page);
  double at = std::clamp((bar.nPos - bar.nMin) / span, 0.0, 1.0) * (track - length);
  fill_rect(cr, x + m.k, top(r) + at, bw - 2 * m.k, length, kThumb);
  frame_rect(cr, x + m.k, top(r) + at, bw - 2 * m.k, length, kThumbEdge, m.k);
}

// A list shows "Line N" for the lines its scroll position and page put on screen.
void draw_list(cairo_t* cr, const dev::WindowView& w, const Metrics& m) {
  const RECT& r = w.rect;
  fill_rect(cr, left(r), top(r), width(r), height(r), kWhite);
  bool bar = (w.style & WS_VSCROLL) != 0;
  double text_w = width(r) - (bar ? m.scroll_bar() : 0);
  int lines = w.vbar.nPage > 0 ? static_cast<int>(w.vbar.nPage) : 10;
  double lh = height(r) / lines;
  set_font(cr, std::min(m.font(), lh * 0.8));
  for (int i = 0; i < lines; ++i) {
    long long n = static_cast<long long>(w.vbar.nPos) + i;
    if (n > w.vbar.nMax) break;
    double y = top(r) + i * lh;
    text_centred(cr, left(r) + 6 * m.k + text_width(cr, fmt::format("Line {}", n)) / 2, y + lh / 2,
                 fmt::format("Line {}", n), kText);
    fill_rect(cr, left(r), y + lh - m.k, text_w, m.k, kLineRule);
  }
  if (bar) draw_vertical_bar(cr, r, w.vbar, m);
}

// A browser view shows its page at its position: rules every 100 page pixels marked with their
// height and lines of text between, so that a picture tells how far the page has moved.
void draw_view(cairo_t* cr, const dev::WindowView& w, const Metrics& m) {
  const RECT& r = w.rect;
  fill_rect(cr, left(r), top(r), width(r), height(r), kWhite);
  bool vbar =
      (w.style & WS_VSCROLL) && w.vbar.nMax - w.vbar.nMin + 1 > static_cast<int>(w.vbar.nPage);
  double text_w = width(r) - (vbar ? m.scroll_bar() : 0);
  double top_y = static_cast<double>(w.vbar.nPos) - w.vbar.nMin;
  double page_h = static_cast<double>(w.vbar.nMax) - w.vbar.nMin + 1;
  double left_x = static_cast<double>(w.hbar.nPos) - w.hbar.nMin;
  cairo_save(cr);
  cairo_rectangle(cr, left(r), top(r), text_w, height(r));
  cairo_clip(cr);
  set_font(cr, m.font() * 0.9);
  double step = 100;
  double first = std::floor(top_y / 20) * 20;
  for (double py = first; py < top_y + height(r) && py < page_h; py += 20) {
    double y = top(r) + py - top_y;
    if (std::fmod(py, step) == 0) {
      fill_rect(cr, left(r), y, text_w, m.k, rgb(0x6A8FD0));
      text_at(cr, left(r) + 4 * m.k - left_x, y + 2 * m.k, fmt::format("{} px", py), rgb(0x2A4F90));
    } else {
      double len = (0.45 + 0.4 * std::fmod(py * 7, 100) / 100) * text_w;
      fill_rect(cr, left(r) + 8 * m.k - left_x, y + 6 * m.k, len, 5 * m.k, rgb(0xC8CCD4));
    }
  }
  cairo_restore(cr);
  frame_rect(cr, left(r), top(r), width(r), height(r), rgb(0xA0A8B8), m.k);
  if (vbar) draw_vertical_bar(cr, r, w.vbar, m);
}

void draw_input_panel(cairo_t* cr, const dev::WindowView& w, const Metrics& m) {
  const RECT& r = w.rect;
  fill_rect(cr, left(r), top(r), width(r), height(r), kPanelFill);
  static const char* kRows[] = {"1234567890", "qwertyuiop", "asdfghjkl", "zxcvbnm", " "};
  const int rows = 5;
  double kh = height(r) / rows, kw = width(r) / 10;
  set_font(cr, std::min(m.font(), kh * 0.6));
  for (int row = 0; row < rows; ++row) {
    std::string keys = kRows[row];
    double n = static_cast<double>(keys.size());
    bool space = row == rows - 1;
    double key = space ? kw * 6 : kw;
    for (size_t i = 0; i < keys.size(); ++i) {
      double x = (space ? left(r) + 2 * kw : left(r) + (width(r) - n * kw) / 2 + i * kw) + m.k;
      double y = top(r) + row * kh + m.k;
      fill_rect(cr, x, y, key - 2 * m.k, kh - 2 * m.k, kWhite);
      frame_rect(cr, x, y, key - 2 * m.k, kh - 2 * m.k, kKeyEdge, m.k);
      text_centred(cr, x + key / 2 - m.k, y + kh / 2 - m.k, std::string(1, keys[i]), kText);
    }
  }
}

// Any other window: a frame labelled with its class and title.
void draw_labelled_frame(cairo_t* cr, const dev::WindowView& w, const Metrics& m) {
  const RECT& r = w.rect;
  fill_rect(cr, left(r), top(r), width(r), height(r), kFrameFill);
  frame_rect(cr, left(r), top(r), width(r), height(r), kFrameEdge, m.k);
  set_font(cr, m.font(), true);
  text_centred(cr, left(r) + width(r) / 2, top(r) + height(r) / 2, w.cls, kFrameEdge);
  if (!w.title.empty()) {
    set_font(cr, m.font());
    text_centred(cr, left(r) + width(r) / 2, top(r) + height(r) / 2 + m.font() * 1.4, w.title,
                 kFrameEdge);
  }
}

void draw_window(cairo_t* cr, const dev::WindowView& w, const Metrics& m) {
  if (width(w.rect) <= 0 || height(w.rect) <= 0) return;
  cairo_save(cr);
  cairo_rectangle(cr, left(w.rect), top(w.rect), width(w.rect), height(w.rect));
  cairo_clip(cr);
  if (w.cls == "menu_worker") {
    draw_menu_bar(cr, w.rect, w.soft_keys, m);
  } else if (w.cls == "VexoriList") {
    draw_list(cr, w, m);
  } else if (w.cls == "PIEHTML") {
    draw_view(cr, w, m);
  } else if (w.cls == "SipWndClass") {
    draw_input_panel(cr, w, m);
  } else if (!draw_dialog_part(cr, w, m)) {
    draw_labelled_frame(cr, w, m);
  }
  draw_painted(cr, w, m);
  for (auto it = w.children.rbegin(); it != w.children.rend(); ++it) draw_window(cr, *it, m);
  cairo_restore(cr);
}

}  // namespace

void draw_screen(cairo_t* cr, const dev::ScreenView& view) {
  Metrics m(view.dpi);
  cairo_save(cr);
  cairo_rectangle(cr, 0, 0, view.width, view.height);
  cairo_clip(cr);
  fill_rect(cr, 0, 0, view.width, view.height, rgb(0xFFFFFF));
  // The menu bar's band stays dark where no menu bar shows; the task bar stays in front of
  // every window, as the shell keeps it.
  draw_menu_bar(cr, {0, view.work_area.bottom, view.width, view.height}, {}, m);
  for (auto it = view.windows.rbegin(); it != view.windows.rend(); ++it) draw_window(cr, *it, m);
  draw_task_bar(cr, view, m);
  cairo_restore(cr);
}

void write_screenshot(const dev::ScreenView& view, const std::string& path, Format format) {
  Canvas canvas(std::max(1, view.width * kScale), std::max(1, view.height * kScale), format, path);
  cairo_scale(canvas.cr(), kScale, kScale);
  draw_screen(canvas.cr(), view);
  canvas.finish();
}

}  // namespace draw
