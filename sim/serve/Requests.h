// What the server takes from a request body, checked whole before anything reaches a device:
// a malformed body is a BadRequest with a message for the person or script that sent it.
#pragma once

#include <stdexcept>
#include <string>

#include "LiveCommands.h"

namespace sim::serve {

class BadRequest : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The most points one stroke may have: a pointer sampled at 1000 Hz for the panel's longest
// stroke would need 60001, but the page samples far slower and a script has no need of more.
const size_t kMaxRequestPoints = 6000;

// {"points": [[x, y, ms], ...]}: whole screen pixels within the screen of either orientation
// of `screen`, times in ms from the first point (the first is 0), never going back, within the
// panel's longest stroke.
DrawnStroke parse_stroke(const std::string& body, const dev::Screen& screen);

// {"name": "GRIDSIZE", "value": 13}: a setting or switch the settings table names, with a value
// that a DWORD holds (taken as signed, as the system takes it).
struct SettingWrite {
  std::string name;
  long long value = 0;
};
SettingWrite parse_setting(const std::string& body);

// {"kind": "list"}: one of window_kinds().
std::string parse_window(const std::string& body);

}  // namespace sim::serve
