#include "ReplayCommand.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <optional>

#include "OutputFile.h"
#include "replay/ClassTable.h"
#include "replay/ReplayReport.h"

namespace sim {
namespace {

// The strokes of the paths, only those of the classes asked for.
std::vector<NamedStroke> strokes_of(const ReplayArgs& args) {
  auto strokes = load_stroke_set(args.paths);
  if (args.only.empty()) return strokes;
  std::vector<NamedStroke> kept;
  for (auto& s : strokes)
    if (std::find(args.only.begin(), args.only.end(), s.gesture) != args.only.end())
      kept.push_back(std::move(s));
  if (kept.empty()) {
    std::string classes;
    for (const auto& s : strokes)
      if (classes.find(" " + s.gesture + ",") == std::string::npos)
        classes += " " + s.gesture + ",";
    if (!classes.empty()) classes.pop_back();
    throw dev::InputError("--only", 0,
                          "no stroke of those classes; the strokes given are of" + classes);
  }
  return kept;
}

ReplaySetup setup_of(const ReplayArgs& args) {
  ReplaySetup setup;
  setup.window = replay_window(args.window);
  for (const auto& s : args.settings) setup.settings.push_back(parse_setting(s));
  if (args.rate == 0 || args.rate > 1000)
    throw dev::InputError("--rate", 0, "the panel samples at 1 to 1000 Hz");
  setup.rate_hz = args.rate;
  setup.native = args.native;
  setup.jobs = args.jobs;
  return setup;
}

std::string setup_text(const ReplaySetup& setup) {
  std::string out = fmt::format("on a {} window", replay_window_name(setup.window));
  if (setup.native) {
    out += ", at the recorded time stamps";
  } else {
    out += fmt::format(", sampled at {} Hz", setup.rate_hz);
  }
  for (const auto& s : setup.settings) out += fmt::format(", {}={}", s.name, s.value);
  return out;
}

// "replayed 1200 of 2400" on a terminal's standard error, overwritten as it goes.
class Progress {
 public:
  explicit Progress(size_t total) : total_(total), shown_(isatty(STDERR_FILENO) == 1) {}
  void step(size_t done) {
    if (shown_ && (done % 50 == 0 || done == total_))
      std::cerr << fmt::format("\rreplayed {} of {}", done, total_) << std::flush;
  }
  ~Progress() {
    if (shown_) std::cerr << "\r" << std::string(40, ' ') << "\r" << std::flush;
  }

 private:
  size_t total_;
  bool shown_;
};

// Strokes that could not be replayed are named on standard error; the run then fails.
int failures_of(const std::vector<StrokeResult>& results) {
  size_t failed = 0;
  for (const auto& r : results) failed += r.error.empty() ? 0 : 1;
  if (failed == 0) return kExitOk;
  std::cerr << fmt::format("vexori-sim: {} of {} strokes could not be replayed\n", failed,
                           results.size());
  return kExitDeviceDown;
}

}  // namespace

int replay_command(const ReplayArgs& args, const RunOptions& base) {
  ReplaySetup setup = setup_of(args);
  auto strokes = strokes_of(args);
  std::optional<OutputFile> csv, jsonl;
  if (!args.csv.empty()) csv.emplace(args.csv);
  if (!args.jsonl.empty()) jsonl.emplace(args.jsonl);
  std::ofstream jsonl_out;
  if (jsonl) jsonl_out.open(jsonl->path());

  std::cout << fmt::format("Replaying {} strokes {}\n", strokes.size(), setup_text(setup));
  std::string folder;
  {
    std::vector<StrokeResult> files(strokes.size());
    for (size_t i = 0; i < strokes.size(); ++i) files[i].file = strokes[i].file;
    folder = common_folder(files);
  }
  Progress progress(strokes.size());
  size_t done = 0;
  auto results = replay_strokes(strokes, setup, base, [&](size_t, const StrokeResult& r) {
    if (!args.table_only) std::cout << result_line(r, folder) << '\n';
    if (jsonl) jsonl_out << result_json(r).dump() << '\n';
    progress.step(++done);
  });
  std::cout << '\n' << class_table(count_by_class(results));
  if (csv) {
    std::ofstream out(csv->path());
    out << results_csv(results);
    out.close();
    if (!out) throw dev::InputError(args.csv, 0, "cannot be written");
    csv->commit();
  }
  if (jsonl) {
    jsonl_out.close();
    if (!jsonl_out) throw dev::InputError(args.jsonl, 0, "cannot be written");
    jsonl->commit();
  }
  std::cout.flush();
  return failures_of(results);
}

int tune_command(const ReplayArgs&, const RunOptions&) {
  return kExitUsage;
}

}  // namespace sim
