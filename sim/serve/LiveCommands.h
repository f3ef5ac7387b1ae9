// The scenario lines a live device is played from: what a person does on the page (a stroke, a
// setting, the window in front, the settings program) becomes the same lines a scenario file
// holds, so that what was drawn can be kept and played again by `vexori-sim run`. Every line the
// live device plays is made here and nowhere else.
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

// The lines that play `stroke` as raw panel samples, its pen-down `wait_ms` after the cursor:
// resampled at the panel's rate and turned into panel pixels for the rotation "Angle" in force on
// a panel of `screen` (portrait). The cursor ends at the stroke's pen-up, `up_ms` after its
// pen-down, which this sets.
std::string stroke_lines(const DrawnStroke& stroke, uint64_t wait_ms, uint32_t angle,
                         const dev::Screen& screen, uint64_t* up_ms);

// A panel point in whole pixels for a screen point of the rotation "Angle" in force: the inverse
// of the touch driver proxy's mapping.
void screen_to_panel_point(int sx, int sy, uint32_t angle, const dev::Screen& screen, int* px,
                           int* py);

// The lines that play a recorded stroke (panel pixels, as `replay` takes them), resampled at the
// panel's rate, its pen-down `wait_ms` after the cursor, after a comment naming `source`; the
// cursor ends at its pen-up, `up_ms` after its pen-down. `points` (when given) gets the samples'
// points in screen pixels of the rotation "Angle" in force, to draw the stroke by.
std::string recorded_stroke_lines(const std::vector<StrokePoint>& stroke, uint64_t wait_ms,
                                  const std::string& source, uint32_t angle,
                                  const dev::Screen& screen, uint64_t* up_ms, DrawnStroke* points);

// A wait of `ms` from the cursor ("" for none).
std::string wait_line(uint64_t ms);

// A gesture setting or switch written to the registry.
std::string setting_line(const std::string& name, long long value);

// The window kinds a person can put in front ("list", "browser", "aware", "plain"), and the lines
// that put one there under `label`, a name not used before in the session, after destroying the
// one the session put there before (`previous`, "" for none). "" for a kind not in the list.
const std::vector<std::string>& window_kinds();
std::string window_lines(const std::string& kind, const std::string& label,
                         const std::string& previous);

// The page's own start when no scenario is given: the gesture function on, a long list in front
// under `label`.
std::string start_lines(const std::string& label);

// The lines that end a kept file: the device runs on `ms` so that the last effects can end.
std::string trail_lines(uint64_t ms);

// Starts the settings program.
std::string settings_program_line();

}  // namespace sim::serve
