// The device's sizes at its dots per inch, in screen pixels: what the pictures draw text, bars
// and boxes with.
#pragma once

namespace draw {

struct Metrics {
  explicit Metrics(int dpi) : k(dpi > 0 ? dpi / 96.0 : 1.0) {}
  double k;  // screen pixels per pixel at 96 dpi
  double font() const { return 11 * k; }
  double scroll_bar() const { return static_cast<int>(13 * k); }  // as SM_CXVSCROLL
  double caption() const { return 20 * k; }
  double check_box() const { return 12 * k; }
};

}  // namespace draw
