// Every gesture setting and switch under HKLM\Software\Quob\Gesture, as docs/settings.md gives
// them: the value the system uses when none is stored (the stock value), its unit, one line of
// meaning, and the range in which it does what its name says without switching another part of
// the system off.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct GestureSetting {
  std::string name;  // as the registry spells it
  uint32_t stock = 0;
  std::string unit;
  std::string meaning;  // one line
  bool is_switch = false;
  // The documented safe range, both ends included.
  uint32_t safe_low = 0, safe_high = 0;
};

// In the order docs/settings.md lists them: the switches first, then the proxy's, then the
// engines' values.
const std::vector<GestureSetting>& gesture_settings();
// The setting of that name as the registry spells it, or nullptr.
const GestureSetting* find_gesture_setting(const std::string& name);

}  // namespace sim
