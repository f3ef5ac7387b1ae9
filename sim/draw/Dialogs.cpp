#include "draw/Dialogs.h"

#include <cmath>
#include <string>

#include "draw/Canvas.h"
#include "draw/Dib.h"

// Button and static styles as the platform defines them.
#ifndef BS_TYPEMASK
#define BS_TYPEMASK 0x0000000FL
#endif
#ifndef BS_DEFPUSHBUTTON
#define BS_DEFPUSHBUTTON 0x00000001L
#endif
#ifndef BS_CHECKBOX
#define BS_CHECKBOX 0x00000002L
#endif
#ifndef BS_AUTOCHECKBOX
#define BS_AUTOCHECKBOX 0x00000003L
#endif
#ifndef BS_RADIOBUTTON
#define BS_RADIOBUTTON 0x00000004L
#endif
#ifndef BS_3STATE
#define BS_3STATE 0x00000005L
#endif
#ifndef BS_AUTO3STATE
#define BS_AUTO3STATE 0x00000006L
#endif
#ifndef BS_GROUPBOX
#define BS_GROUPBOX 0x00000007L
#endif
#ifndef BS_AUTORADIOBUTTON
#define BS_AUTORADIOBUTTON 0x00000009L
#endif
#ifndef BS_MULTILINE
#define BS_MULTILINE 0x00002000L
#endif
#ifndef SS_TYPEMASK
#define SS_TYPEMASK 0x0000001FL
#endif
#ifndef SS_CENTER
#define SS_CENTER 0x00000001L
#endif
#ifndef SS_RIGHT
#define SS_RIGHT 0x00000002L
#endif
#ifndef SS_BITMAP
#define SS_BITMAP 0x0000000EL
#endif
#ifndef SS_LEFTNOWORDWRAP
#define SS_LEFTNOWORDWRAP 0x0000000CL
#endif

namespace draw {
namespace {

const Colour kWhite = rgb(0xFFFFFF);
const Colour kText = rgb(0x000000);
const Colour kGreyText = rgb(0x8C8C8C);
const Colour kBorder = rgb(0x404040);
const Colour kButtonFace = rgb(0xE6E6E6);

void draw_dialog(cairo_t* cr, const dev::WindowView& w, const Metrics&) {
  const RECT& r = w.rect;
  fill_rect(cr, left(r), top(r), width(r), height(r), kWhite);
  // The phone shows a dialog's caption in the task bar, as the screen drawing does for the window
  // in front; the dialog itself has none. A box smaller than the work area has a frame.
  if ((w.style & WS_BORDER) || (w.style & WS_CAPTION) == WS_CAPTION)
    frame_rect(cr, left(r), top(r), width(r), height(r), kBorder);
}

void check_mark(cairo_t* cr, double x, double y, double s) {
  set_colour(cr, kText);
  cairo_set_line_width(cr, s / 6);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_move_to(cr, x + s * 0.2, y + s * 0.5);
  cairo_line_to(cr, x + s * 0.42, y + s * 0.75);
  cairo_line_to(cr, x + s * 0.8, y + s * 0.25);
  cairo_stroke(cr);
}

// A label beside a box or inside a button: one line centred on the rectangle's height, or lines
// wrapped in the rectangle from its top for a multi-line control.
void label(cairo_t* cr, double x, double y, double w, double h, const dev::WindowView& c,
           bool multiline, Align align) {
  const Colour& colour = (c.style & WS_DISABLED) ? kGreyText : kText;
  cairo_font_extents_t f;
  cairo_font_extents(cr, &f);
  if (multiline) {
    text_wrapped(cr, x, y, w, h, c.title, colour, align, true);
    return;
  }
  cairo_save(cr);
  cairo_rectangle(cr, x, y, w, h);
  cairo_clip(cr);
  double tw = text_width(cr, c.title);
  double tx = align == Align::kCentre ? x + (w - tw) / 2 : x;
  text_at(cr, tx, y + (h - f.ascent - f.descent) / 2, c.title, colour);
  cairo_restore(cr);
}

void draw_button(cairo_t* cr, const dev::WindowView& w, const Metrics& m) {
  const RECT& r = w.rect;
  long type = w.style & BS_TYPEMASK;
  bool multiline = (w.style & BS_MULTILINE) != 0;
  set_font(cr, m.font());
  if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE ||
      type == BS_AUTO3STATE || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON) {
    double s = m.check_box();
    double bx = left(r) + 1, by = top(r) + (height(r) - s) / 2;
    bool radio = type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
    set_colour(cr, kWhite);
    if (radio) {
      cairo_arc(cr, bx + s / 2, by + s / 2, s / 2, 0, 2 * M_PI);
      cairo_fill_preserve(cr);
      set_colour(cr, kBorder);
      cairo_set_line_width(cr, m.k);
      cairo_stroke(cr);
      if (w.check == BST_CHECKED) {
        cairo_arc(cr, bx + s / 2, by + s / 2, s / 4, 0, 2 * M_PI);
        cairo_fill(cr);
      }
    } else {
      fill_rect(cr, bx, by, s, s, kWhite);
      frame_rect(cr, bx, by, s, s, kBorder, m.k);
      if (w.check == BST_CHECKED) check_mark(cr, bx, by, s);
    }
    double tx = bx + s + 5 * m.k;
    label(cr, tx, top(r), right_of(r) - tx, height(r), w, multiline, Align::kLeft);
    return;
  }
  if (type == BS_GROUPBOX) {
    frame_rect(cr, left(r), top(r) + m.font() / 2, width(r), height(r) - m.font() / 2, kBorder,
               m.k);
    fill_rect(cr, left(r) + 4 * m.k, top(r), text_width(cr, w.title) + 4 * m.k, m.font() * 1.2,
              kWhite);
    text_at(cr, left(r) + 6 * m.k, top(r), w.title, kText);
    return;
  }
  fill_rect(cr, left(r), top(r), width(r), height(r), kButtonFace);
  frame_rect(cr, left(r), top(r), width(r), height(r), kBorder,
             type == BS_DEFPUSHBUTTON ? 2 * m.k : m.k);
  label(cr, left(r) + 2 * m.k, top(r), width(r) - 4 * m.k, height(r), w, multiline, Align::kCentre);
}

void draw_static(cairo_t* cr, const dev::WindowView& w, const Metrics& m) {
  const RECT& r = w.rect;
  long type = w.style & SS_TYPEMASK;
  if (type == SS_BITMAP) {
    cairo_surface_t* image = dib_surface(w.bitmap);
    if (image == nullptr || width(r) <= 0 || height(r) <= 0) {
      if (image) cairo_surface_destroy(image);
      return;
    }
    cairo_save(cr);
    cairo_rectangle(cr, left(r), top(r), width(r), height(r));
    cairo_clip(cr);
    cairo_translate(cr, left(r), top(r));
    cairo_scale(cr, width(r) / cairo_image_surface_get_width(image),
                height(r) / cairo_image_surface_get_height(image));
    cairo_set_source_surface(cr, image, 0, 0);
    // Stretched as the platform stretches a bitmap: each pixel a block, no blur at its edges.
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(image);
    return;
  }
  set_font(cr, m.font());
  Align align = type == SS_CENTER  ? Align::kCentre
                : type == SS_RIGHT ? Align::kRight
                                   : Align::kLeft;
  if (type == SS_LEFTNOWORDWRAP) {
    label(cr, left(r), top(r), width(r), height(r), w, false, Align::kLeft);
  } else {
    text_wrapped(cr, left(r), top(r), width(r), height(r), w.title,
                 (w.style & WS_DISABLED) ? kGreyText : kText, align);
  }
}

void draw_edit(cairo_t* cr, const dev::WindowView& w, const Metrics& m) {
  const RECT& r = w.rect;
  fill_rect(cr, left(r), top(r), width(r), height(r), kWhite);
  frame_rect(cr, left(r), top(r), width(r), height(r), kBorder, m.k);
  set_font(cr, m.font());
  label(cr, left(r) + 3 * m.k, top(r), width(r) - 6 * m.k, height(r), w, false, Align::kLeft);
}

}  // namespace

bool draw_dialog_part(cairo_t* cr, const dev::WindowView& w, const Metrics& m) {
  if (w.cls == "Dialog") {
    draw_dialog(cr, w, m);
  } else if (w.cls == "BUTTON") {
    draw_button(cr, w, m);
  } else if (w.cls == "STATIC") {
    draw_static(cr, w, m);
  } else if (w.cls == "EDIT") {
    draw_edit(cr, w, m);
  } else {
    return false;
  }
  return true;
}

void draw_painted(cairo_t* cr, const dev::WindowView& w, const Metrics& m) {
  for (const dev::PaintedItem& item : w.painted) {
    const RECT& r = item.rect;
    Colour c = from_colorref(item.colour);
    if (item.kind == dev::PaintedItem::kFill) {
      fill_rect(cr, left(r), top(r), width(r), height(r), c);
    } else if (item.kind == dev::PaintedItem::kText) {
      set_font(cr, m.font());
      text_at(cr, left(r), top(r), item.text, c);
    } else if (item.points.size() >= 2) {
      // A one-pixel pen: through the pixels' centres, so that it stays one pixel wide.
      set_colour(cr, c);
      cairo_set_line_width(cr, 1);
      cairo_move_to(cr, item.points[0].x + 0.5, item.points[0].y + 0.5);
      for (size_t i = 1; i < item.points.size(); ++i)
        cairo_line_to(cr, item.points[i].x + 0.5, item.points[i].y + 0.5);
      cairo_stroke(cr);
    }
  }
}

}  // namespace draw
