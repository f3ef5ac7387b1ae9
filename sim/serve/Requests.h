// What the server takes from a request body, checked whole before anything reaches a device:
// a malformed body is a BadRequest with a message for the person or script that sent it.
#pragma once

#include <stdexcept>
#include <string>

#include "LiveCommands.h"
#include "Replay.h"

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

// A stroke file dropped on the page, read as `replay` and `vexori-sim replay` read them: an
// XML stroke log (one stroke) or a CSV trace (a stroke per run of rows with down 1), in panel
// pixels. At most kMaxFileStrokes strokes; a file that cannot be read is a BadRequest naming its
// line.
const size_t kMaxStrokeFileBytes = 4u << 20;  // a minute's stroke at 1000 Hz, with room
const size_t kMaxFileStrokes = 100;           // as many as the traces of data/traces hold
struct StrokeFile {
  std::string name;  // the file's name as the page gave it, made safe for a comment line
  std::vector<RecordedStroke> strokes;
};
StrokeFile parse_stroke_file(const std::string& name, const std::string& text);

}  // namespace sim::serve
