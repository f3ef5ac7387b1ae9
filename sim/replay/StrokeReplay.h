// Replays recorded strokes through the whole system, each on a device in the state of a fresh
// boot, so that no stroke's outcome depends on the one before.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Outcome.h"
#include "Runner.h"
#include "replay/StrokeFiles.h"
#include "replay/StrokeResult.h"

namespace sim {

// The window the strokes are drawn on; it fills the screen below the task bar.
enum class ReplayWindow { kList, kAware, kBrowser, kPlain };
// "list", "aware", "browser" or "plain"; throws dev::InputError for any other name.
ReplayWindow replay_window(const std::string& name);
const char* replay_window_name(ReplayWindow window);

// A setting of the gesture system by its registry name, with a value for it.
struct Setting {
  std::string name;
  uint32_t value = 0;
};
// The settings a replay may change: the engines' and the proxy's DWORD values under
// HKLM\Software\Quob\Gesture.
const std::vector<std::string>& setting_names();
// The largest value a setting may take: the engine reads them as signed 32-bit numbers.
const uint32_t kMaxSettingValue = 0x7FFFFFFF;
// "NAME=VALUE"; throws dev::InputError for an unknown name (the message lists the known ones)
// or a value that is not a whole number from 0 to kMaxSettingValue.
Setting parse_setting(const std::string& text);
// A known setting's name as the registry spells it, whatever case it was given in; "" if none.
std::string setting_name(const std::string& name);

struct ReplaySetup {
  ReplayWindow window = ReplayWindow::kList;
  // Written before any device process starts, after "Activate" = 1 (so a setting may switch the
  // function off again).
  std::vector<Setting> settings;
  uint32_t rate_hz = 100;  // the panel samples the recorded stroke at this rate
  bool native = false;     // ... or at the recorded time stamps themselves
  unsigned jobs = 0;       // worker processes; 0 for one per core
};

// A stroke's scenario: the settings, the window, a moment for the system to come up, the stroke.
Scenario replay_scenario(const NamedStroke& stroke, const ReplaySetup& setup);

// The run options of one stroke's replay: `base`'s device folders, and no log kept, no pictures,
// no sound file, nobody told of entries or outcomes.
RunOptions stroke_run_options(const RunOptions& base);

// Replays one stroke in this process. `base` gives the device's folders; errors of the run come
// back in StrokeResult::error.
StrokeResult replay_stroke(const NamedStroke& stroke, const ReplaySetup& setup,
                           const RunOptions& base);

// Replays every stroke in setup.jobs worker processes. `each` sees every result in this
// process, in the order of `strokes`, as it comes; the results come back in that order too.
std::vector<StrokeResult> replay_strokes(
    const std::vector<NamedStroke>& strokes, const ReplaySetup& setup, const RunOptions& base,
    const std::function<void(size_t index, const StrokeResult&)>& each = {});

// A result as one JSON object (kind "replay", the outcome under "outcome") and back.
dev::Fields result_json(const StrokeResult& r);
StrokeResult result_from_json(const dev::Fields& j);

}  // namespace sim
