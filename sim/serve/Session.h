// One person's live device: the scenario it started from and every command played on it since, in
// order, with the device time each came at. The device is deterministic, so the session plays
// the whole of it again on a freshly booted device for each new action (a run of the built-in
// tour takes a tenth of a second); what that run reports of the new action is its outcome, and
// what the session keeps is a scenario file that `vexori-sim run` plays to the same outcomes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "DialogTaps.h"
#include "LiveCommands.h"
#include "Requests.h"
#include "Runner.h"

namespace sim::serve {

class Session {
 public:
  using WallClock = std::function<uint64_t()>;  // ms, from any fixed point

  // `base` is the scenario's text ("" for the page's own start: a long list in front), read as
  // the file `file` in the folder `dir`; pictures of the screen go to `folder`. Throws
  // dev::InputError for a base scenario with an error, and what run_scenario throws.
  Session(std::string base, std::string file, std::string dir, RunOptions options,
          std::string folder, WallClock wall);

  // Each plays its lines at the device time the device is at when it comes (never before the
  // effects of the stroke before have ended) and answers what became of it. A request the
  // scenario's checks refuse is a BadRequest, and the session stays as it was.
  nlohmann::json stroke(
      const DrawnStroke& stroke);  // {"outcome": the --jsonl record, "sounds": [...]}
  // A dropped stroke file: its strokes one after another, each after the effects of the one
  // before. {"file": its name, "strokes": [as stroke() answers, and "points": [[x, y, ms], ...]
  // the samples in screen pixels]}. Either every stroke is played or none.
  nlohmann::json replay_file(const StrokeFile& file);
  nlohmann::json write_setting(const SettingWrite& w);
  nlohmann::json put_window(const std::string& kind);
  nlohmann::json start_settings_program();
  nlohmann::json reset();  // back to the scenario it started from, on a freshly booted device

  // The scenario file of everything played so far, and the last run's log as JSON Lines.
  std::string kept() const;
  std::string jsonl() const { return jsonl_; }
  // The PNG of the screen as the last run left it.
  std::string screen_file() const { return folder_ + "/screen.png"; }
  // The PNG of the screen at the last action's frame `n` (every kFrameMs from its pen-up while its
  // effects last, the times in the answer's "frames"); "" for a frame it did not have.
  std::string frame_file(size_t n) const;
  // The settings with their values now (null for one the registry lacks, so that its default
  // holds), the window in front, the screen's size.
  nlohmann::json state() const;

 private:
  struct Played {
    uint64_t at = 0;                      // device time of the action's first line
    uint64_t cursor = 0;                  // the cursor after the run's last line, as its end tells
    std::vector<StrokeOutcome> outcomes;  // those whose pen-down came at or after it
    std::vector<nlohmann::json> sounds;
    std::vector<uint64_t> frames;  // device times of the pictures of the screen after the pen-up
  };
  uint64_t device_now();
  Played play(const Commands& commands, uint64_t at, uint64_t cursor_after,
              const Comments& comments = {});

  std::string base_, file_, dir_, folder_;
  RunOptions options_;
  WallClock wall_;
  dev::Screen screen_;
  ScenarioParser base_parsed_;  // the base scenario, read once
  ScenarioParser checked_;      // it and everything played after it, checked
  Commands played_;             // everything played after the base scenario
  Comments comments_;           // the kept file's comments among them
  uint64_t cursor_ = 0;         // the scenario's cursor after its last line
  uint64_t busy_until_ = 0;
  size_t frames_ = 0;  // of the last action     // when the effects of the last stroke ended
  uint64_t wall_origin_ = 0, device_origin_ = 0;
  uint32_t angle_ = 0;  // the rotation "Angle" at the end of the last run
  std::string jsonl_;
  std::map<std::string, long long> settings_;  // written in the session
  std::map<std::string, long long> in_force_;  // in the registry as the last run ended
  std::vector<DialogTarget> dialog_targets_;   // of the dialog in front as the last run ended
  std::string base_kind_, base_label_;         // the window in front as the session starts
  std::string window_kind_, window_label_;
  int windows_placed_ = 0;
};

}  // namespace sim::serve
