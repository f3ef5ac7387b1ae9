#include "draw/Dib.h"

#include <cstdlib>

namespace draw {
namespace {

const size_t kHeaderSize = 40;  // BITMAPINFOHEADER
const int64_t kMaxSide = 4096;

uint32_t u16(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8);
}
uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
  return u16(b, at) | (u16(b, at + 2) << 16);
}

}  // namespace

cairo_surface_t* dib_surface(const std::vector<uint8_t>& dib) {
  if (dib.size() < kHeaderSize) return nullptr;
  uint32_t header = u32(dib, 0);
  int64_t width = static_cast<int32_t>(u32(dib, 4));
  int64_t height = static_cast<int32_t>(u32(dib, 8));
  uint32_t bits = u16(dib, 14), compression = u32(dib, 16), used = u32(dib, 32);
  bool top_down = height < 0;
  height = std::llabs(height);
  if (header < kHeaderSize || header > dib.size() || compression != 0 || width <= 0 ||
      width > kMaxSide || height == 0 || height > kMaxSide)
    return nullptr;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return nullptr;
  size_t colours = bits <= 8 ? (used != 0 ? used : 1u << bits) : 0;
  if (colours > 256) return nullptr;
  size_t table = header, pixels = table + 4 * colours;
  size_t stride = static_cast<size_t>((width * bits + 31) / 32 * 4);
  if (pixels > dib.size() || (dib.size() - pixels) / stride < static_cast<size_t>(height))
    return nullptr;

  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(width),
                                                  static_cast<int>(height));
  cairo_surface_flush(s);
  unsigned char* out = cairo_image_surface_get_data(s);
  int out_stride = cairo_image_surface_get_stride(s);
  for (int64_t y = 0; y < height; ++y) {
    size_t row = pixels + stride * static_cast<size_t>(top_down ? y : height - 1 - y);
    auto* dst = reinterpret_cast<uint32_t*>(out + y * out_stride);
    for (int64_t x = 0; x < width; ++x) {
      uint32_t b = 0, g = 0, r = 0;
      if (bits <= 8) {
        size_t bit = static_cast<size_t>(x) * bits;
        uint32_t index = (dib[row + bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        if (index >= colours) index = 0;   // a colour past the table is the table's first
        size_t entry = table + 4 * index;  // RGBQUAD: blue, green, red, reserved
        b = dib[entry], g = dib[entry + 1], r = dib[entry + 2];
      } else {
        size_t at = row + static_cast<size_t>(x) * (bits / 8);
        b = dib[at], g = dib[at + 1], r = dib[at + 2];
      }
      dst[x] = (r << 16) | (g << 8) | b;
    }
  }
  cairo_surface_mark_dirty(s);
  return s;
}

}  // namespace draw
