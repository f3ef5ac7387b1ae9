// Any message with any parameters to the broker's hidden window, posted or sent, between strokes
// that hand gestures over to it and waits that let its timer run.
#include <fmt/format.h>

#include "Script.h"
#include "SystemFuzz.h"

namespace fuzz {

namespace {

const int kMaxSteps = 120;

uint32_t message(Bytes& in) {
  // The broker's own messages, its timer, and what a window procedure meets at its end.
  static const uint32_t kMessages[] = {
      1274,  1276,  1277,  1275,  1278,  0x113, 0x10, 0x2,    0x12,   0x1,    0x0,    0x400, 0x999,
      0x201, 0x202, 0x200, 0x114, 0x115, 0x11,  0x16, 0x8000, 0xC000, 0xFFFF, 0x7FFF, 0x4FA};
  uint8_t b = in.byte();
  if (b < 240) return kMessages[b % (sizeof(kMessages) / sizeof(kMessages[0]))];
  return in.u32();
}

}  // namespace

Verdict run_broker(const uint8_t* data, size_t size) {
  Bytes in(data, size);
  Script script;
  script.setup(in);
  script.layout(in);
  for (int step = 0; step < kMaxSteps && !in.empty(); ++step) {
    switch (in.byte() % 8) {
      case 0:
      case 1:
      case 2: {
        uint32_t msg = message(in), w = interesting_word(in), l = interesting_word(in);
        bool send = in.byte() % 4 == 0;
        script.line(
            fmt::format("{} class:MSGBROKER {} {:#x} {:#x}", send ? "send" : "post", msg, w, l));
        break;
      }
      case 3:
      case 4:
        script.stroke(in);
        break;
      case 5:
        script.sample(in);
        break;
      case 6:
        script.wait(in);
        break;
      default:
        script.window(in);
    }
  }
  return play(script.finish());
}

}  // namespace fuzz
