// The built-in tour: the device boots with the gesture system installed, and a person's strokes
// go through the touch driver proxy to the window system.
#include <filesystem>

#include "Runner.h"

namespace sim {

Scenario tour_scenario(const std::string& source_dir) {
  std::string text = R"(# The built-in tour.
note "Gesture function off: every stroke reaches the window system unchanged"
wait 100
tap 120 160
wait 300
drag 60 250 180 80 300 rest 100
wait 300
flick 120 280 120 120 150
wait 300
note "The power manager reports idle: the pen-down goes straight through"
power idle 0x00100000
tap 40 40
power on 0x00010000
wait 300
note "A sample the panel marks invalid"
sample 0x2 400 400
sample 0x8 400 400
wait 300
note "Switching the gesture function on reloads the proxy settings"
reg HKLM\Software\Quob\Gesture Activate dword 1
wait 100
drag 200 100 40 100 200
wait 300
reg HKLM\Software\Quob\Gesture Activate dword 0
wait 100
)";
  const std::string recorded =
      source_dir + "/../shared/data/touch/dollar1-unistroke/xml_logs/s02/fast/arrow01.xml";
  if (std::filesystem::exists(recorded)) {
    text += "note \"A stroke recorded by a person on a Pocket PC\"\nreplay " + recorded + "\n";
  }
  return parse_scenario(text, "<tour>", "");
}

}  // namespace sim
