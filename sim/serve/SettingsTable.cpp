#include "SettingsTable.h"

namespace sim::serve {

const std::vector<SettingInfo>& settings_table() {
  static const std::vector<SettingInfo> table = {
      {"Activate", 0, "0 off, else on",
       "the gesture function; off, every stroke reaches the window system unchanged", true},
      {"Sound", 0, "0 off, else on", "the ticking and fading sounds of a momentum", true},
      {"Rotation", 0, "0 off, else on",
       "whether down-then-right and down-then-left turn the screen", true},
      {"LongPressTime", 250, "ms",
       "a still stroke moving later than this after its pen-down is a press-and-hold"},
      {"LongTappingMax", 20, "pixels of travel", "travel limit of a press-and-hold"},
      {"ShortPressTime", 250, "ms", "a tap's last move comes less than this after its pen-down"},
      {"ShortTappingMax", 20, "pixels of travel", "travel limit of a tap"},
      {"IgnoreCount", 10, "messages",
       "moves are processed only once the messages since the pen-down reach this"},
      {"GRIDSIZE", 13, "pixels", "shortest segment that yields a direction code"},
      {"Bound1", 2414, "thousandths of |dy|/|dx|", "a steeper segment is vertical"},
      {"Bound2", 414, "thousandths of |dy|/|dx|",
       "a flatter one (but not level) is horizontal; in between, diagonal"},
      {"Amp", 2, "factor",
       "a code's length is this times the segment's distance: the momentum of a flick"},
      {"PanTime", 500, "ms", "a finger that has hardly moved pans at a move later than this"},
      {"LenThres", 10, "pixels", "... if its measured travel is under this"},
      {"NOISESIZE", 8, "pixels", "while panning, the shortest move that scrolls"},
      {"LastUpCount", 300, "ms", "a stroke starting within this of a pan's pen-up goes on panning"},
      {"PGRIDSIZE", 10, "pixels",
       "the threshold of an older pan test that nothing calls; no effect"},
      {"FilterValue", 40, "percent of the total length",
       "a code survives the filter if its share is over this"},
      {"FilterDistance", 60, "code length", "... or if its length is over this"},
      {"ScrollLimit", 900, "momentum (ticks)", "cap of a momentum on a window with a scroll bar"},
  };
  return table;
}

const SettingInfo* find_setting(const std::string& name) {
  for (const SettingInfo& s : settings_table()) {
    if (s.name == name) return &s;
  }
  return nullptr;
}

}  // namespace sim::serve
