// The strokes a replay or a tuning run takes in: recorded XML stroke logs and plain CSV traces,
// named on the command line one by one or by the folders that hold them.
#pragma once

#include <string>
#include <vector>

#include "Replay.h"

namespace sim {

struct NamedStroke {
  std::string file;       // the path as found
  std::string gesture;    // its class: "left_sq_bracket" for "left_sq_bracket07.xml"
  RecordedStroke stroke;  // times from the stroke's first point
};

// The class of a stroke file: a name's letters before its first digit, or the whole stem when it
// has none ("caret03.xml" -> "caret", "taps.csv" -> "taps").
std::string gesture_class(const std::string& path);

// A CSV trace: the header `t_ms,x,y,down`, then one sample per line in panel pixels; a stroke is
// a run of rows with down 1, ended by a row with down 0 or the end of the file. Throws
// dev::InputError naming the line for anything else.
std::vector<RecordedStroke> parse_csv_strokes(const std::string& text, const std::string& path);

// Every stroke of the files and folders given (folders searched whole, their `.xml` and `.csv`
// files in name order), in the order given; throws dev::InputError for a path that is neither,
// a file of another kind named on its own, or a folder without any stroke file.
std::vector<NamedStroke> load_stroke_set(const std::vector<std::string>& paths);

}  // namespace sim
