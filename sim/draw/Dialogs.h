// Dialogs as the phone draws them: a white client under an optional blue title bar, and their
// controls (check boxes, push buttons, static text and bitmaps, edit boxes), with what the
// dialog's own paint drew.
#pragma once

#include <cairo.h>

#include "device/device.hpp"
#include "draw/Metrics.h"

namespace draw {

// Draws a "Dialog" window or one of the control classes ("BUTTON", "STATIC", "EDIT") at its
// rectangle, without its children; false, drawing nothing, for any other class.
bool draw_dialog_part(cairo_t* cr, const dev::WindowView& w, const Metrics& m);

// What the window's last paint drew, in z-order: fills, text at its origin, polylines.
void draw_painted(cairo_t* cr, const dev::WindowView& w, const Metrics& m);

}  // namespace draw
