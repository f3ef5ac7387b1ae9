// Plays a scenario on a freshly booted device.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Pictures.h"
#include "Outcome.h"
#include "Scenario.h"

namespace sim {

// Exit codes of vexori-sim (docs/scenarios.md lists them).
enum ExitCode {
  kExitOk = 0,
  kExitExpectation = 1,  // an expect line failed
  kExitBadInput = 2,     // the scenario or a file it names has an error
  kExitDeviceDown = 3,   // the device did not come up as the scenario installed it
  kExitCommand = 4,      // a command could not be carried out when its time came
  kExitUsage = 64,       // the command line is wrong
};

// The device's boot did not bring up what the scenario installed.
class DeviceDownError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct RunOptions {
  std::string windows_dir = VEXORI_WINDOWS_DIR;
  // The factory registry, and the entries that install the gesture system (without `install off`).
  std::string factory_reg = VEXORI_SOURCE_DIR "/platform/registry/device.reg";
  std::string install_reg = VEXORI_SOURCE_DIR "/install/vexori.reg";
  bool realtime = false;
  // Sees each log entry as it is made, with the fields LogDecoder adds.
  std::function<void(const dev::LogEntry&)> live;
  // Sees each stroke's outcome when its effects have ended (after the entry that ended them).
  std::function<void(const StrokeOutcome&)> on_outcome;
  // The engines' Verbose debug zone is on unless the scenario says otherwise: the outcomes are
  // read from its lines.
  bool verbose = true;
  bool keep_log = true;    // false: entries only reach `live`, and RunResult::log stays empty
  std::string audio_file;  // when set, everything played is mixed into this WAV file
  std::string audio_name;  // the audio file as given, for messages ("" for audio_file itself)
  // When not 0, the run ends this many ms after boot: later commands are not played and a wait
  // past it stops there (strokes already begun still end, and the device settles after them).
  uint64_t max_device_ms = 0;
  // Sees each command other than a wait or a stroke as it is played, with the device time it acts
  // at; the setup commands (preset, fail, broker, ...) first, at 0.
  std::function<void(const Command&, uint64_t time)> on_command;
  // Runs once the scenario's own setup is in and before any device process starts.
  std::function<void(dev::Device&)> before_start;
  PictureFiles pictures;  // drawn at the end of the run
  // A pre-empting run: the device switches threads as the schedule of this seed says
  // (device/preempt.hpp), and runs on kPreemptSettleMs after the scenario, so that what the
  // schedule delayed has ended too. With preempt_steps 0 the steps are first counted in a run of
  // the scenario without pre-emption.
  bool preempt = false;
  uint64_t preempt_seed = 0;
  uint64_t preempt_steps = 0;
  bool count_points = false;  // count the switch points only (RunResult::switch_points)
  // Sees the device once the run has settled, before it ends.
  std::function<void(dev::Device&)> at_end;
  // When set, sees the device stopped at every frame_every_ms of device time from frames_from
  // on, as the run passes it: the screen as it moves.
  std::function<void(dev::Device&, uint64_t time)> on_frame;
  uint64_t frames_from = 0;
  uint32_t frame_every_ms = 80;
  // false: the scenario's picture commands are checked but draw and write nothing
  bool picture_commands = true;
};

struct RunResult {
  std::vector<dev::LogEntry> log;       // with RunOptions::keep_log, decoded
  std::vector<StrokeOutcome> outcomes;  // in the order their effects ended
  std::vector<std::string> failures;    // unmet expectations, "file:line: what"
  uint64_t end_time = 0;                // device time (ms since boot) when the run ended
  size_t panel_samples = 0;             // samples the stock driver reported
  size_t received_samples = 0;          // samples the window system received
  size_t unchanged_samples = 0;         // received exactly as the panel reported them, in order
  size_t rebuilt_samples = 0;           // received in order, rebuilt on whole pixels
  size_t engine_samples = 0;            // of strokes none of which reached the window system
  size_t dropped_samples = 0;           // of strokes that reached it in part, or of no stroke
  std::vector<std::string> partial_strokes;  // "the stroke at T ms (file:line): M of its N samples"
  // Received after the panel had reported the next stroke's pen-down: held past their pen-up.
  size_t late_samples = 0;
  uint64_t switch_points = 0;  // of a pre-empting or counting run
  uint64_t switches = 0;       // made by a pre-empting run's schedule
  std::string text() const;
  std::string jsonl() const;
  std::string summary() const;
  // The summary as a record of its own, "kind":"summary", for --json and --jsonl.
  dev::Fields summary_json() const;
};

// Device time a pre-empting run goes on after the scenario, in ms.
const uint32_t kPreemptSettleMs = 10000;

RunResult run_scenario(const Scenario& scenario, const RunOptions& options = {});

}  // namespace sim
