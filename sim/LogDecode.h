// Readable fields added to the device's log entries as they pass, before they are printed: the
// screen pixels of a panel sample, the names of messages and scroll codes, the gesture
// notification unpacked. Every field an entry had keeps its name and value; the decoded ones are
// added after them.
#pragma once

#include <cstdint>
#include <string>

#include "device/log.hpp"

namespace sim {

// What behaviour code B (100..111) of the broker does; "" for a code it does not have.
std::string behaviour_meaning(int behaviour);

// The name of message `msg` sent or posted to a window of class `target`: the window system's
// own ("WM_SIZE"), or one of the gesture system's, whose number alone says nothing (1274 is a
// hand-over to the broker's window and a gesture notification to a gesture-aware application).
// "" when it has none.
std::string message_name(uint32_t msg, const std::string& target);

// The scroll code in the low word of a WM_VSCROLL or WM_HSCROLL wParam ("SB_LINEDOWN",
// "SB_LINERIGHT"); "" for a code the window system does not define.
std::string scroll_code_name(bool vertical, uint32_t code);

class LogDecoder {
 public:
  // The panel's size in pixels as it is built (portrait) and the rotation "Angle" in force when
  // the log starts; the decoder follows later writes of "Angle" as the proxy does.
  LogDecoder(int panel_width, int panel_height, uint32_t angle = 0);

  // The "Angle" in force from now on, when the log does not show it written.
  void set_angle(uint32_t angle) { angle_ = angle; }

  // Adds the decoded fields to one entry, and gives it; entries are to come in the order they
  // were logged.
  const dev::LogEntry& decode(dev::LogEntry& e);
  // The entry decoded: e itself where decoding adds nothing to it, else copy holding the decoded
  // entry. Spares the copy of every entry that stays as it is.
  const dev::LogEntry& decoded(const dev::LogEntry& e, dev::LogEntry& copy);

  // A panel point in whole pixels as the screen of the angle in force shows it.
  void to_screen(int px, int py, int* sx, int* sy) const;

 private:
  void decode_message(dev::LogEntry& e) const;
  void follow_angle(const dev::LogEntry& e);
  static bool adds_to(const dev::LogEntry& e);
  int wide_, narrow_;  // the screen's sides in pixels
  uint32_t angle_;
};

}  // namespace sim
