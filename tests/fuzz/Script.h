// Scenario text built from a fuzz input's decisions: the screen's windows, strokes and raw
// samples, waits, registry and power changes. Every line it writes passes the scenario's checks.
#pragma once

#include <string>
#include <vector>

#include "FuzzBytes.h"

namespace fuzz {

// A registry value the system reads.
struct Setting {
  const char* key;
  const char* name;
};

// What the proxy reads at load and on every change: its thresholds, the switch, the angle.
extern const Setting kProxySettings[];
extern const size_t kProxySettingCount;
// Everything any part of the system reads from the registry, the proxy's settings first.
extern const Setting kAllSettings[];
extern const size_t kAllSettingCount;

// A DWORD that is likely to matter: 0, 1, -1, 0xFFFFFFFF, the stock values, angles, extremes,
// or any word.
uint32_t interesting_word(Bytes& in);

class Script {
 public:
  // Setup lines, before the first command that runs on the device.
  void setup(Bytes& in);
  // One of the screen layouts, its front window made the foreground.
  void layout(Bytes& in);
  // A raw panel sample (any flags, any coordinates the panel's 16 bits hold), then a short wait.
  void sample(Bytes& in);
  // A generated tap, flick, drag or stroke through three points, on the screen of any angle.
  void stroke(Bytes& in);
  // A wait of up to about a minute, mostly short.
  void wait(Bytes& in);
  // A DWORD, a string or a deletion of one of `settings`.
  void change(Bytes& in, const Setting* settings, size_t count);
  // The power manager's state from now on, or its call failing.
  void power(Bytes& in);
  // Another placed window to the front, or the input panel shown or hidden.
  void window(Bytes& in);

  void line(const std::string& text) { text_ += text + "\n"; }
  // Ends the script: long enough for any momentum of the stock settings to run out.
  std::string finish();

 private:
  std::string text_;
  std::vector<std::string> labels_;  // top-level windows placed
  bool sip_ = false;
};

}  // namespace fuzz
