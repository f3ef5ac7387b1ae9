#include "GestureSettings.h"

namespace sim {

const std::vector<GestureSetting>& gesture_settings() {
  static const std::vector<GestureSetting> table = {
      {"Activate", 0, "0 off, else on",
       "the gesture function; off, every stroke reaches the window system unchanged", true, 0, 1},
      {"Sound", 0, "0 off, else on", "the ticking and fading sounds of a momentum", true, 0, 1},
      {"Rotation", 0, "0 off, else on",
       "whether down-then-right and down-then-left turn the screen", true, 0, 1},
      {"LongPressTime", 250, "ms",
       "a still stroke moving later than this after its pen-down is a press-and-hold", false, 250,
       1000},
      {"LongTappingMax", 20, "pixels of travel", "travel limit of a press-and-hold", false, 10, 40},
      {"ShortPressTime", 250, "ms", "a tap's last move comes less than this after its pen-down",
       false, 150, 400},
      {"ShortTappingMax", 20, "pixels of travel", "travel limit of a tap", false, 20, 60},
      {"IgnoreCount", 10, "messages",
       "moves are processed only once the messages since the pen-down reach this", false, 1, 10},
      {"GRIDSIZE", 13, "pixels", "shortest segment that yields a direction code", false, 6, 30},
      {"Bound1", 2414, "thousandths of |dy|/|dx|", "a steeper segment is vertical", false, 1732,
       4011},
      {"Bound2", 414, "thousandths of |dy|/|dx|",
       "a flatter one (but not level) is horizontal; in between, diagonal", false, 268, 577},
      {"Amp", 2, "factor",
       "a code's length is this times the segment's distance: the momentum of a flick", false, 1,
       8},
      {"PanTime", 500, "ms", "a finger that has hardly moved pans at a move later than this", false,
       250, 1000},
      {"LenThres", 10, "pixels", "... if its measured travel is under this", false, 10, 160},
      {"NOISESIZE", 8, "pixels", "while panning, the shortest move that scrolls", false, 4, 20},
      {"LastUpCount", 300, "ms", "a stroke starting within this of a pan's pen-up goes on panning",
       false, 0, 1000},
      {"PGRIDSIZE", 10, "pixels",
       "the threshold of an older pan test that nothing calls; no effect", false, 0, 0x7FFFFFFF},
      {"FilterValue", 40, "percent of the total length",
       "a code survives the filter if its share is over this", false, 20, 60},
      {"FilterDistance", 60, "code length", "... or if its length is over this", false, 30, 100},
      {"ScrollLimit", 900, "momentum (ticks)", "cap of a momentum on a window with a scroll bar",
       false, 100, 900},
  };
  return table;
}

const GestureSetting* find_gesture_setting(const std::string& name) {
  for (const GestureSetting& s : gesture_settings())
    if (s.name == name) return &s;
  return nullptr;
}

}  // namespace sim
