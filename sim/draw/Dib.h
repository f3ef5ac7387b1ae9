// A packed device-independent bitmap (BITMAPINFOHEADER, colour table, rows) as a cairo image.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <vector>

namespace draw {

// The bitmap as an image surface the caller destroys, or null when the bytes are not an
// uncompressed DIB of 1, 4, 8, 24 or 32 bits per pixel whose rows they hold whole. Rows are
// bottom-up for a positive height, top-down for a negative one.
cairo_surface_t* dib_surface(const std::vector<uint8_t>& dib);

}  // namespace draw
