// Text output as a person reads it at a terminal: lines that fit its width and the decisions in
// colour. Output that goes to a pipe or a file is left as it is, one line per record, for scripts.
#pragma once

#include <cstddef>
#include <string>

namespace sim {

struct Terminal {
  bool fit = false;     // standard output is a terminal: lines are wrapped to `width`
  size_t width = 80;    // its columns
  bool colour = false;  // decisions are coloured
};

// What standard output is: a terminal's width from the terminal itself, else $COLUMNS, else 80;
// colour on a terminal unless `no_colour` or $NO_COLOR (of any value but "") says otherwise.
Terminal detect_terminal(bool no_colour);

// Columns a text takes: UTF-8 characters, not counting colour escapes.
size_t columns(const std::string& text);

// One line wrapped at spaces to `width` columns; each continuation is indented to where the
// line's text begins: after a "[    3480 ms] outcome  " stamp and its kind, else two columns
// past the line's own indent. A word longer than the room is left whole on a line of its own.
std::string wrap_line(const std::string& line, size_t width);
// Every line of a text wrapped so.
std::string wrap_text(const std::string& text, size_t width);

// "passed through: ...", "panned", "handed over: ..." with its decision in its colour (the
// pictures' green, blue and magenta); other text unchanged.
std::string colour_decision(const std::string& did);

}  // namespace sim
