// The pictures of a replay (a contact sheet of its strokes) and of a tuning (the outcome shares
// against the values tried).
#pragma once

#include <string>
#include <vector>

#include "replay/StrokeReplay.h"
#include "replay/Tune.h"

namespace sim {

// Throws dev::InputError unless `path` names a .png or .svg file; `option` names the option.
void check_picture_name(const std::string& path, const std::string& option);

// `path` is where to write; `name` the file as given, for its format and for messages.
void write_replay_sheet(const std::vector<NamedStroke>& strokes,
                        const std::vector<StrokeResult>& results, const ReplaySetup& setup,
                        const std::string& path, const std::string& name);

// With an intent (not null), a line more: the share of the strokes with one that did what was
// meant.
void write_tune_plot(const std::vector<TunePoint>& points, const std::vector<SettingRange>& ranges,
                     const ReplaySetup& setup, const Intent* intent, const std::string& path,
                     const std::string& name);

}  // namespace sim
