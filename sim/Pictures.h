// The pictures of a run: what the screen shows (`screenshot`), the timeline (`timeline`) and the
// screen with every stroke over it (`picture`), at moments of the scenario and at its end. Each
// file is checked before the device boots and takes its place only when the run has ended, as
// the other outputs do (OutputFile).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "OutputFile.h"
#include "Scenario.h"
#include "StrokeLog.h"
#include "TimelineLog.h"

namespace sim {

// The pictures drawn at the end of a run; "" for none. With `picture_per_step` the stroke
// picture is a panel for each step of the scenario, a step being what follows a `note` (the
// tour's captions), each with the screen at the step's end and the step's strokes over it.
struct PictureFiles {
  std::string screenshot, timeline, picture;
  bool picture_per_step = false;
};

// True for the scenario commands that draw a picture: screenshot, timeline and picture.
bool is_picture_command(const Command& c);

class Pictures {
 public:
  // Makes the outputs that `at_end` and the scenario's picture commands name (throws
  // dev::InputError for one that cannot be written). Without `commands`, the scenario's picture
  // commands draw and write nothing: for runs of scenarios from anywhere (the fuzz harness),
  // whose commands could name any place.
  Pictures(const Scenario& s, const PictureFiles& at_end, bool commands = true);
  ~Pictures();

  // Whether a timeline or a stroke picture is to be drawn, for which the log's entries are read.
  bool reads_log() const { return reads_log_; }
  void add(const dev::LogEntry& e);
  // The scenario's names of its windows, for the timeline's lanes.
  void use_names(const WindowNames* names) { timeline_.names = names; }
  // Draws a picture command's picture of the device now.
  void take(const Command& c, dev::Device& device);
  // A step of the scenario ends at a `note`: the screen as it is, for a picture per step.
  void note(dev::Device& device);
  bool keeps_steps() const { return per_step_; }
  // Draws the pictures of the end; then every file drawn takes its place.
  void finish(dev::Device& device);

 private:
  struct Output;
  enum class What { kScreen, kTimeline, kStrokes };
  void draw(Output& out, dev::Device& device);
  void draw_to(Output& out, dev::Device& device);
  void draw_steps(const std::string& path, draw::Format format, dev::Device& device);
  std::vector<std::unique_ptr<Output>> outputs_;  // the end's first, then the commands'
  bool reads_log_ = false;
  bool per_step_ = false;
  std::vector<dev::ScreenView> step_screens_;  // at each note, then at the end
  StrokeLog strokes_;
  TimelineLog timeline_;
};

}  // namespace sim
