// The commands a live device is played from: what a person does on the page (a stroke, a
// setting, the window in front, the settings program) becomes the same typed commands a scenario
// file is read into, written back as its lines (scenario_line) so that what was drawn can be kept
// and played again by `vexori-sim run`. Every command the live device plays is made here and
// nowhere else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Scenario.h"

namespace sim::serve {

// The panel's sampling rate on the page: pointer events come at the browser's own pace and are
// resampled to it.
const uint32_t kPanelRateHz = 100;

// A drawn stroke in screen pixels of the orientation in force, times in ms from its first point.
using DrawnStroke = std::vector<StrokePoint>;

using Commands = std::vector<Command>;

// The commands that play `stroke` as raw panel samples, its pen-down `wait_ms` after the cursor:
// resampled at the panel's rate and turned into panel pixels for the rotation "Angle" in force on
// a panel of `screen` (portrait). The cursor ends at the stroke's pen-up, `up_ms` after its
// pen-down, which this sets.
Commands stroke_commands(const DrawnStroke& stroke, uint64_t wait_ms, uint32_t angle,
                         const dev::Screen& screen, uint64_t* up_ms);

// A panel point in whole pixels for a screen point of the rotation "Angle" in force: the inverse
// of the touch driver proxy's mapping.
void screen_to_panel_point(int sx, int sy, uint32_t angle, const dev::Screen& screen, int* px,
                           int* py);

// A wait of `ms` from the cursor (none for 0).
Commands wait_commands(uint64_t ms);

// The commands that play a recorded stroke (panel pixels, as `replay` takes them), resampled at
// the panel's rate, its pen-down `wait_ms` after the cursor; the cursor ends at its pen-up,
// `up_ms` after its pen-down. `points` (when given) gets the samples' points in screen pixels of
// the rotation "Angle" in force, to draw the stroke by.
Commands recorded_stroke_commands(const std::vector<StrokePoint>& stroke, uint64_t wait_ms,
                                  uint32_t angle, const dev::Screen& screen, uint64_t* up_ms,
                                  DrawnStroke* points);

// A line of a kept file that holds no command: `# text`, before the command at `before` (after
// the last for the number of commands).
struct Comment {
  size_t before = 0;
  std::string text;
};
using Comments = std::vector<Comment>;

// A gesture setting or switch written to the registry.
Command setting_command(const std::string& name, long long value);

// The window kinds a person can put in front ("list", "browser", "aware", "plain"), and the
// commands that put one there under `label`, a name not used before in the session, after
// destroying the one the session put there before (`previous`, "" for none). None for a kind not
// in the list.
const std::vector<std::string>& window_kinds();
Commands window_commands(const std::string& kind, const std::string& label,
                         const std::string& previous);

// The page's own start when no scenario is given: the gesture function on, a long list in front
// under `label`.
Commands start_commands(const std::string& label);

// The comment line before the trail that ends a kept file, and the trail: the device runs on `ms`
// so that the last effects can end.
const char kTrailComment[] = "# the device runs on until the last stroke's effects have ended";
Commands trail_commands(uint64_t ms);

// Starts the settings program.
Command settings_program_command();

// The commands as the lines of a scenario file, each with its newline, with `comments` among
// them.
std::string scenario_lines(const Commands& commands, const Comments& comments = {});

}  // namespace sim::serve
