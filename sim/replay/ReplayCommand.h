// The `replay` and `tune` subcommands of vexori-sim: what they read, run, print and write.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Runner.h"

namespace sim {

struct ReplayArgs {
  std::vector<std::string> paths;     // stroke files and folders
  std::string window = "list";        // the window kind the strokes are drawn on
  std::vector<std::string> settings;  // "NAME=VALUE", written before boot
  std::vector<std::string> vary;      // tune: "NAME=A..B[:STEP]" or "NAME=A,B,C", one or two
  std::vector<std::string> only;      // gesture classes to keep; all when empty
  std::string intent;                 // "CLASS=WHAT,..." or a file of them; none when empty
  uint32_t rate = 100;
  bool native = false;
  unsigned jobs = 0;  // 0: one per core
  bool jobs_given = false;
  bool table_only = false;  // replay: no line per stroke
  bool no_colour = false;   // no colour at a terminal
  bool quiet = false;       // only the overview: no line per stroke or point, no progress
  std::string csv, jsonl, picture, plot;  // "-" for csv or jsonl: standard output
  std::vector<std::string> diff;          // tune: the two values compared, or none
  std::string diff_picture;               // tune: a contact sheet of the strokes that changed
  std::string strokes_csv;                // tune: a row per stroke, a column per value
  std::vector<std::string> hold_out;      // fit: the subjects to check the fit on
  std::string reg;                        // fit: where to write the recommended values
};

// The most worker processes --jobs may ask for.
const unsigned kMaxJobs = 64;

// The setup the arguments give: the window, the settings, the rate, the workers; throws
// dev::InputError for a bad one.
struct ReplaySetup;
ReplaySetup setup_of(const ReplayArgs& args);

// Each returns the program's exit code; bad input throws dev::InputError.
int replay_command(const ReplayArgs& args, const RunOptions& base);
int tune_command(const ReplayArgs& args, const RunOptions& base);
int fit_command(const ReplayArgs& args, const RunOptions& base);

}  // namespace sim
