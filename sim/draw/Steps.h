// A run step by step: a small panel for each step, titled with its caption, with the screen as
// the step left it and the step's strokes over it, under a key of the decisions' colours.
#pragma once

#include <string>
#include <vector>

#include "device/device.hpp"
#include "draw/Canvas.h"
#include "draw/Strokes.h"

namespace draw {

struct StepPanel {
  std::string title;
  dev::ScreenView view;             // the screen at the step's end
  std::vector<StrokeView> strokes;  // in the screen's pixels
  size_t first = 1;                 // the number of its first stroke
};

// Picture pixels of each panel's screen, and the picture's size.
struct StepLayout {
  int width = 0, height = 0;
  struct Box {
    double x = 0, y = 0, w = 0, h = 0;
  };
  std::vector<Box> screens;
};
const size_t kStepColumns = 4;
StepLayout step_layout(const std::vector<StepPanel>& panels);

// kStepColumns panels to a row; each screen drawn at its own size in screen pixels, the strokes'
// lines listed under it.
void write_step_picture(const std::vector<StepPanel>& panels, const std::string& path,
                        Format format);

}  // namespace draw
