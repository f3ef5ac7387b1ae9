// What the device's screen shows: the task bar across the top band, the menu bar across the
// bottom band, and every visible window by its class, back to front.
#pragma once

#include <cairo.h>

#include <string>

#include "device/device.hpp"
#include "draw/Canvas.h"

namespace draw {

// Pictures draw each screen pixel as kScale x kScale so that text stays readable.
const int kScale = 2;

// Draws the screen in its own pixels (0, 0 to width, height); the caller scales the context.
void draw_screen(cairo_t* cr, const dev::ScreenView& view);

// Writes the screen alone, kScale times its size in the orientation it is in.
void write_screenshot(const dev::ScreenView& view, const std::string& path, Format format);

}  // namespace draw
