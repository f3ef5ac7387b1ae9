#include "SettingsTable.h"

#include "replay/GestureSettings.h"

namespace sim::serve {

const std::vector<SettingInfo>& settings_table() {
  static const std::vector<SettingInfo> table = [] {
    std::vector<SettingInfo> out;
    for (const GestureSetting& g : gesture_settings())
      out.push_back({g.name, static_cast<long long>(g.stock), g.unit, g.meaning, g.is_switch});
    return out;
  }();
  return table;
}

const SettingInfo* find_setting(const std::string& name) {
  for (const SettingInfo& s : settings_table()) {
    if (s.name == name) return &s;
  }
  return nullptr;
}

}  // namespace sim::serve
