// Why one recorded stroke did what it did, step by step as the gesture system reported it in its
// Verbose debug zone while the stroke was replayed: the first moves it ignored, each segment with
// its direction code and length, the codes handed over, the filter's decision on each, the
// pattern and behaviour chosen, and for a stroke that passed through the travel and the time
// that decided it. Nothing here applies a rule of the system itself: every number is the
// system's own.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "Outcome.h"
#include "draw/Strokes.h"
#include "replay/ReplayCommand.h"
#include "replay/StrokeReplay.h"

namespace sim {

struct ExplainArgs {
  ReplayArgs replay;  // the stroke file (paths[0]), the window, the settings, the rate
  size_t stroke = 1;  // which stroke of the file, from 1
  std::string picture;
};

// A segment as the engine reported it: from its start to where it ended, in screen pixels.
struct ExplainedSegment {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  int distance = 0, grid = 0;  // and GRIDSIZE then
  char code = '-';             // '-' when the segment yielded no code
  int length = 0, amp = 0;     // and Amp then
};

// The filter's decision on one handed-over code.
struct FilterStep {
  char code = '?';
  int length = 0;
  bool kept = false;
  std::string share;  // "45.9", in percent of all the codes' lengths
  bool by_share = false, by_length = false;
  int filter_value = 0, filter_distance = 0;
};

struct Explanation {
  std::string file;
  size_t index = 1, of = 1;  // the stroke's place in its file
  ReplaySetup setup;
  StrokeOutcome outcome;
  std::string error;  // why the stroke could not be replayed; "" when it was

  // The panel's samples with the pen down, in screen pixels.
  std::vector<draw::StrokePoint> samples;
  uint64_t duration_ms = 0;  // of the recorded stroke

  bool captured = false;  // the engine reported where its stroke starts
  int ignored = 0, ignore_count = 0;
  int start_x = 0, start_y = 0;
  bool start_at_up = false;  // every move was ignored; the pen-up starts it

  std::vector<std::string> pan;  // the engine's pan checks and decisions, its own words
  std::vector<ExplainedSegment> segments;
  std::vector<std::pair<char, int>> handed_over;
  std::vector<FilterStep> filter;
  std::string pattern;    // "Gesture pattern: ..." as the broker said it; "" when none
  std::string behaviour;  // "Gesture behaviour 106: ..." or "... stands for no behaviour"
  // The proxy's pass-through lines ("Stroke decision ...", "Stroke passes through: ..."), in order.
  std::vector<std::string> decisions;
};

// Reads one of the system's debug lines into the explanation; false for a line it does not tell.
bool read_explain_line(const std::string& text, Explanation& x);

// Replays the stroke on a booted device with the Verbose zone on and reads its lines.
Explanation explain_stroke(const NamedStroke& stroke, const ReplaySetup& setup,
                           const RunOptions& base);

// The explanation as text: a few lines per step, each with its numbers and the setting they were
// compared against.
std::string explanation_text(const Explanation& x);

// For each segment, whether the filter dropped its code: segments in one direction one after
// the other make one code.
std::vector<bool> dropped_segments(const Explanation& x);

// Draws the stroke: the ignored first moves grey, each segment with its code, dropped codes
// crossed out, the decision as the caption. Throws dev::InputError for a bad name.
void write_explanation_picture(const Explanation& x, const std::string& path);

// The `explain` subcommand; returns the exit code, throws dev::InputError for bad input.
int explain_command(const ExplainArgs& args, const RunOptions& base);

}  // namespace sim
