#include "ReplayCommand.h"

#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iostream>
#include <optional>

#include "Console.h"
#include "OutputFile.h"
#include "Terminal.h"
#include "replay/ClassTable.h"
#include "replay/Fit.h"
#include "replay/GestureSettings.h"
#include "replay/Intent.h"
#include "replay/ReplayPictures.h"
#include "replay/ReplayReport.h"
#include "replay/Tune.h"
#include "replay/TuneDiff.h"

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

// The intent given with --intent, for the classes of the strokes replayed; none when not given.
std::optional<Intent> intent_of(const ReplayArgs& args, const std::vector<NamedStroke>& strokes) {
  if (args.intent.empty()) return std::nullopt;
  Intent intent = parse_intent(args.intent);
  std::vector<std::string> classes;
  for (const auto& s : strokes)
    if (std::find(classes.begin(), classes.end(), s.gesture) == classes.end())
      classes.push_back(s.gesture);
  return intent_for(intent, classes, !args.only.empty());
}

}  // namespace

ReplaySetup setup_of(const ReplayArgs& args) {
  ReplaySetup setup;
  setup.window = replay_window(args.window);
  for (const auto& s : args.settings) {
    Setting setting = parse_setting(s);
    for (const auto& before : setup.settings)
      if (before.name == setting.name)
        throw dev::InputError("--set", 0, setting.name + " is given twice");
    setup.settings.push_back(setting);
  }
  if (args.rate == 0 || args.rate > 1000)
    throw dev::InputError("--rate", 0, "the panel samples at 1 to 1000 Hz");
  setup.rate_hz = args.rate;
  setup.native = args.native;
  // More workers than that only wait for the cores, each with a device of its own in memory.
  if (args.jobs_given && (args.jobs == 0 || args.jobs > kMaxJobs))
    throw dev::InputError("--jobs", 0, fmt::format("takes 1 to {} workers", kMaxJobs));
  setup.jobs = args.jobs;
  return setup;
}

namespace {

std::string setup_text(const ReplaySetup& setup, bool window_varied = false) {
  std::string out = window_varied ? std::string("on each window kind")
                                  : fmt::format("on a {} window", replay_window_name(setup.window));
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
  // Nothing is shown for a total of 0, nor when standard error is not a terminal.
  Progress(size_t total, std::string what, size_t every = 1)
      : total_(total),
        what_(std::move(what)),
        every_(every),
        shown_(total > 0 && isatty(STDERR_FILENO) == 1) {}
  void step(size_t done) {
    if (shown_ && (done % every_ == 0 || done == total_))
      std::cerr << fmt::format("\r{} {} of {}", what_, done, total_) << std::flush;
  }
  ~Progress() {
    if (shown_) std::cerr << "\r" << std::string(40, ' ') << "\r" << std::flush;
  }

 private:
  size_t total_;
  std::string what_;
  size_t every_;
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

// An output named "-" is standard output; it then carries that output alone.
bool to_stdout(const std::string& name) {
  return name == "-";
}

// Where the text report goes: nowhere when standard output carries an output.
std::ostream& text_stream(const ReplayArgs& args) {
  static std::ostream nowhere(nullptr);
  if (to_stdout(args.csv) && to_stdout(args.jsonl))
    throw dev::InputError("-", 0, "standard output takes one output, not --csv and --jsonl both");
  return to_stdout(args.csv) || to_stdout(args.jsonl) || to_stdout(args.strokes_csv) ? nowhere
                                                                                     : std::cout;
}

// An output file, or none for "-" (standard output) and for an output not asked for.
void open_output(std::optional<OutputFile>& out, const std::string& name) {
  if (!name.empty() && !to_stdout(name)) out.emplace(name);
}

void write_output(std::optional<OutputFile>& file, const std::string& text,
                  const std::string& name) {
  if (name.empty()) return;
  if (!file) {
    std::cout << text;
    flush_stdout();
    return;
  }
  std::ofstream out(file->path());
  out << text;
  out.close();
  if (!out) end_on_write_failure(name, errno);
  file->commit();
}

// JSON lines as they come, into a file or onto standard output.
class JsonLines {
 public:
  JsonLines(std::optional<OutputFile>& file, std::string name)
      : file_(file), name_(std::move(name)) {
    if (file_) out_.open(file_->path());
  }
  void write(const dev::Fields& j) {
    if (name_.empty()) return;
    if (!file_) {
      std::cout << j.dump() << '\n';
      return;  // flushed and checked with the rest of standard output
    }
    out_ << j.dump() << '\n';
    if (!out_) end_on_write_failure(name_, errno);
  }
  void finish() {
    if (!file_) return;
    out_.close();
    if (!out_) end_on_write_failure(name_, errno);
    file_->commit();
  }

 private:
  std::optional<OutputFile>& file_;
  std::string name_;
  std::ofstream out_;
};

}  // namespace

int replay_command(const ReplayArgs& args, const RunOptions& base) {
  ReplaySetup setup = setup_of(args);
  auto strokes = strokes_of(args);
  auto intent = intent_of(args, strokes);
  check_picture_name(args.picture, "--picture");
  std::ostream& text = text_stream(args);
  std::optional<OutputFile> csv, jsonl, picture;
  open_output(csv, args.csv);
  open_output(jsonl, args.jsonl);
  if (!args.picture.empty()) picture.emplace(args.picture);
  JsonLines lines(jsonl, args.jsonl);

  text << fmt::format("Replaying {} strokes {}\n", strokes.size(), setup_text(setup));
  std::vector<std::string> files;
  for (const auto& s : strokes) files.push_back(s.file);
  std::string folder = common_folder(files);
  Progress progress(args.quiet ? 0 : strokes.size(), "replayed", 50);
  size_t done = 0;
  // At a terminal a stroke's line fits its width, its decision in colour; to a pipe or a file
  // it stays one line.
  const Terminal term = detect_terminal(args.no_colour);
  auto results = replay_strokes(strokes, setup, base, [&](size_t, const StrokeResult& r) {
    if (!args.table_only && !args.quiet) {
      std::string line = result_line(r, folder, term.colour);
      text << (term.fit ? wrap_line(line, term.width) : line) << '\n';
    }
    lines.write(result_json(r));
    // A line per stroke is worth a write of its own: a reader that went away is seen at once.
    flush_stdout();
    progress.step(++done);
  });
  text << '\n' << class_table(count_by_class(results));
  if (intent) text << "\n== What was meant\n" << confusion_table(did_by_class(results), *intent);
  write_output(csv, results_csv(results), args.csv);
  lines.finish();
  if (picture) {
    write_replay_sheet(strokes, results, setup, picture->path(), args.picture);
    picture->commit();
  }
  flush_stdout();
  return failures_of(results);
}

int tune_command(const ReplayArgs& args, const RunOptions& base) {
  ReplaySetup setup = setup_of(args);
  if (args.vary.empty() || args.vary.size() > 2)
    throw dev::InputError("--vary", 0, "tune varies one setting or two");
  std::vector<SettingRange> ranges;
  for (const auto& v : args.vary) ranges.push_back(parse_range(v));
  if (ranges.size() == 2 && ranges[0].name == ranges[1].name)
    throw dev::InputError("--vary", 0, ranges[0].name + " is varied twice");
  if (!args.diff_picture.empty() && args.diff.empty())
    throw dev::InputError("--diff-picture", 0, "draws the strokes --diff finds: give --diff A B");
  if (!args.diff.empty()) tune_diff({}, ranges, args.diff[0], args.diff[1]);  // checked up front
  auto strokes = strokes_of(args);
  auto intent = intent_of(args, strokes);
  const Intent* meant = intent ? &*intent : nullptr;
  check_picture_name(args.plot, "--plot");
  if (!args.diff_picture.empty()) check_picture_name(args.diff_picture, "--diff-picture");
  if (to_stdout(args.strokes_csv) && (to_stdout(args.csv) || to_stdout(args.jsonl)))
    throw dev::InputError("-", 0, "standard output takes one output");
  std::ostream& text = text_stream(args);
  std::optional<OutputFile> csv, jsonl, plot, per_stroke, diff_picture;
  open_output(csv, args.csv);
  open_output(jsonl, args.jsonl);
  open_output(per_stroke, args.strokes_csv);
  if (!args.plot.empty()) plot.emplace(args.plot);
  if (!args.diff_picture.empty()) diff_picture.emplace(args.diff_picture);
  JsonLines lines(jsonl, args.jsonl);

  size_t combinations = 1;
  for (const auto& r : ranges) combinations *= r.values.size();
  bool window_varied =
      std::any_of(ranges.begin(), ranges.end(), [](const auto& r) { return r.is_window(); });
  text << fmt::format("Tuning with {} strokes {}: {} replays of the set\n", strokes.size(),
                      setup_text(setup, window_varied), combinations);
  Progress progress(args.quiet ? 0 : combinations * strokes.size(), "replayed", 50);
  size_t done = 0;
  auto points = tune(
      strokes, setup, ranges, base,
      [&](const TunePoint& p) {
        if (!args.quiet) {
          text << "\n== " << point_name(p) << "\n" << class_table(p.counts);
          if (meant) text << "\n" << confusion_table(p.did, *meant);
        }
        for (const auto& j : tune_json(p, meant)) lines.write(j);
        flush_stdout();
      },
      [&] { progress.step(++done); });
  text << "\n== How the outcomes move\n" << tune_table(points, meant);
  std::string strings = tune_strings_table(points);
  if (!strings.empty()) text << "\n== The commonest strings after the filter\n" << strings;
  std::vector<std::string> files;
  for (const auto& s : strokes) files.push_back(s.file);
  std::string folder = common_folder(files);
  if (!args.diff.empty()) {
    TuneDiff diff = tune_diff(points, ranges, args.diff[0], args.diff[1]);
    text << "\n== What changed\n" << diff_report(points, diff, folder, !args.quiet);
    if (diff_picture) {
      std::vector<NamedStroke> changed;
      std::vector<StrokeResult> results;
      for (size_t i : diff.changed) {
        changed.push_back(strokes[i]);
        results.push_back(points[diff.to].results[i]);
      }
      write_replay_sheet(changed, results, point_setup(setup, ranges, points[diff.to]),
                         diff_picture->path(), args.diff_picture);
      diff_picture->commit();
    }
  }
  write_output(per_stroke, strokes_csv(points, folder), args.strokes_csv);
  write_output(csv, tune_csv(points, meant), args.csv);
  lines.finish();
  if (plot) {
    write_tune_plot(points, ranges, setup, meant, plot->path(), args.plot);
    plot->commit();
  }
  flush_stdout();
  size_t failed = 0;
  for (const auto& p : points) failed += p.failed;
  if (failed == 0) return kExitOk;
  std::cerr << fmt::format("vexori-sim: {} replays of a stroke failed\n", failed);
  return kExitDeviceDown;
}

namespace {

// The share of the strokes with an intent that did what was meant; 0 for none.
double share_as_meant(const std::vector<StrokeResult>& results, const Intent& intent) {
  Accuracy a = overall_accuracy(did_by_class(results), intent);
  return a.intended == 0 ? 0 : static_cast<double>(a.as_meant) / static_cast<double>(a.intended);
}

std::string joined_names(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

// A row per held-out subject (or one for a set without subjects) and the row "all": the share
// done as meant at the stock values and at the recommended ones.
std::string held_out_table(const Split& split, const std::vector<StrokeResult>& stock,
                           const std::vector<StrokeResult>& fitted, const Intent& intent) {
  std::vector<std::string> rows = split.check_subjects;
  rows.push_back("all");
  std::string out =
      fmt::format("{:<8}  {:>7}  {:>11}  {:>7}\n", "subject", "stock", "recommended", "strokes");
  for (const auto& who : rows) {
    std::vector<StrokeResult> a, b;
    for (size_t i = 0; i < split.check.size(); ++i) {
      if (who != "all" && subject_of(split.check[i]) != who) continue;
      a.push_back(stock[i]);
      b.push_back(fitted[i]);
    }
    out += fmt::format("{:<8}  {:>6.0f}%  {:>10.0f}%  {:>7}\n", who,
                       100 * share_as_meant(a, intent), 100 * share_as_meant(b, intent), a.size());
  }
  return out;
}

}  // namespace

int fit_command(const ReplayArgs& args, const RunOptions& base) {
  ReplaySetup setup = setup_of(args);
  if (args.vary.empty()) throw dev::InputError("--vary", 0, "fit needs a setting to vary");
  if (args.intent.empty())
    throw dev::InputError("--intent", 0, "fit needs to know what each class was meant to do");
  std::vector<SettingRange> ranges;
  std::vector<std::string> notes;
  for (const auto& v : args.vary) {
    std::string left_out;
    ranges.push_back(within_safe_range(parse_range(v), &left_out));
    for (size_t k = 0; k + 1 < ranges.size(); ++k)
      if (ranges[k].name == ranges.back().name)
        throw dev::InputError("--vary", 0, ranges.back().name + " is varied twice");
    if (!left_out.empty()) notes.push_back(left_out);
  }
  auto strokes = strokes_of(args);
  Intent intent = *intent_of(args, strokes);
  Split split = split_strokes(strokes, args.hold_out);
  std::optional<OutputFile> reg;
  if (!args.reg.empty()) reg.emplace(args.reg);

  // The search starts from the values in force: those of --set, else the stock ones.
  std::vector<Setting> start;
  for (const auto& r : ranges) {
    Setting v{r.name, find_gesture_setting(r.name)->stock};
    for (const auto& s : setup.settings)
      if (s.name == r.name) v.value = s.value;
    start.push_back(v);
  }
  auto setup_at = [&](const std::vector<Setting>& values) { return with_settings(setup, values); };
  for (const auto& n : notes) std::cout << n << '\n';
  std::cout << fmt::format(
      "Fitting {} on {} strokes{}, {}\n", joined_names(args.vary), split.fit.size(),
      split.fit_subjects.empty() ? "" : " of " + joined_names(split.fit_subjects),
      setup_text(setup));
  std::cout << fmt::format("checking on {} strokes {}\n", split.check.size(),
                           split.check_subjects.empty()
                               ? std::string("held out (every fifth; the set names no subjects)")
                               : "of " + joined_names(split.check_subjects) + ", held out");
  flush_stdout();
  // A line per point tried, as it is done: the search takes a replay of the fitted set each.
  size_t fit_failed = 0;
  FitResult fit = fit_search(ranges, start, [&](const std::vector<Setting>& values) {
    auto results = replay_strokes(split.fit, setup_at(values), base);
    for (const auto& r : results) fit_failed += r.error.empty() ? 0 : 1;
    double share = share_as_meant(results, intent);
    if (!args.quiet) {
      std::string point;
      for (const auto& v : values)
        point += fmt::format("{}{}={}", point.empty() ? "" : " ", v.name, v.value);
      std::cout << fmt::format("  {}: {:.1f}% as meant\n", point, 100 * share);
      flush_stdout();
    }
    return share;
  });
  std::cout << (fit.full_grid
                    ? fmt::format(
                          "searched every point of the grid: {} replays of the fitted set\n",
                          fit.evaluations)
                    : fmt::format(
                          "searched one setting at a time (the grid has {} points, too many "
                          "to replay each): {} replays of the fitted set\n",
                          fit.grid, fit.evaluations));
  std::cout << fmt::format(
      "fitted strokes done as meant: {:.0f}% at the start, {:.0f}% at the "
      "recommended values\n\n",
      100 * fit.stock_share, 100 * fit.share);
  std::cout << "Recommended values:\n";
  for (size_t k = 0; k < fit.best.size(); ++k) {
    const GestureSetting* s = find_gesture_setting(fit.best[k].name);
    // A best value at an end of what was searched may have a better one beyond it.
    const auto& values = ranges[k].values;
    bool edge = values.size() > 1 &&
                (fit.best[k].value == *std::min_element(values.begin(), values.end()) ||
                 fit.best[k].value == *std::max_element(values.begin(), values.end()));
    std::cout << fmt::format("  {:<16} {:>6}   (stock {}, start {}, safe {} to {}){}\n",
                             fit.best[k].name, fit.best[k].value, s->stock, start[k].value,
                             s->safe_low, s->safe_high,
                             edge ? "; at an end of the values searched" : "");
  }

  auto before = replay_strokes(split.check, setup_at(start), base);
  auto after = replay_strokes(split.check, setup_at(fit.best), base);
  std::cout << "\n== Done as meant by the strokes held out, at the start and the recommended "
               "values\n"
            << held_out_table(split, before, after, intent);
  std::cout << "\n== What the held-out strokes did at the start\n"
            << confusion_table(did_by_class(before), intent);
  std::cout << "\n== What the held-out strokes did at the recommended values\n"
            << confusion_table(did_by_class(after), intent);
  std::string fragment = reg_fragment(fit.best);
  std::cout << "\n== The recommended values for the phone's registry\n" << fragment;
  if (reg) {
    std::ofstream out(reg->path());
    out << fragment;
    out.close();
    if (!out) end_on_write_failure(args.reg, errno);
    reg->commit();
  }
  flush_stdout();
  size_t failed = fit_failed;
  for (const auto& r : before) failed += r.error.empty() ? 0 : 1;
  for (const auto& r : after) failed += r.error.empty() ? 0 : 1;
  if (failed == 0) return kExitOk;
  std::cerr << fmt::format(
      "vexori-sim: {} replays of a stroke failed; the shares count them as not "
      "done as meant\n",
      failed);
  return kExitDeviceDown;
}

}  // namespace sim
