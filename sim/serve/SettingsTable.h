// Every gesture setting and switch the page offers, with its default, unit and meaning: the
// simulator's table of them (replay/GestureSettings.h) as the page shows it.
#pragma once

#include <string>
#include <vector>

namespace sim::serve {

struct SettingInfo {
  std::string name;     // the registry value under HKLM\Software\Quob\Gesture
  long long value = 0;  // its default (what the system uses when the value is missing)
  std::string unit;
  std::string meaning;  // one line
  bool is_switch = false;
};

const std::vector<SettingInfo>& settings_table();
// The setting of that name, or nullptr.
const SettingInfo* find_setting(const std::string& name);

}  // namespace sim::serve
