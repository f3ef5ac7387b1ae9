// Streams of touch samples through the proxy's callback: raw samples with any flags and
// coordinates, generated strokes, and between them changes of the proxy's settings, of the power
// state and of the window in front.
#include "Script.h"
#include "SystemFuzz.h"

namespace fuzz {

namespace {
const int kMaxSteps = 160;
}

Verdict run_samples(const uint8_t* data, size_t size) {
  Bytes in(data, size);
  Script script;
  script.setup(in);
  script.layout(in);
  for (int step = 0; step < kMaxSteps && !in.empty(); ++step) {
    switch (in.byte() % 12) {
      case 0:
      case 1:
      case 2:
      case 3:
      case 4:
        script.sample(in);
        break;
      case 5:
      case 6:
        script.stroke(in);
        break;
      case 7:
        script.wait(in);
        break;
      case 8:
      case 9:
        script.change(in, kProxySettings, kProxySettingCount);
        break;
      case 10:
        script.power(in);
        break;
      default:
        script.window(in);
    }
  }
  return play(script.finish());
}

}  // namespace fuzz
