// vexori-sim: boots the simulated device with the gesture system installed and plays scenarios.
#include <CLI/CLI.hpp>
#include <fmt/format.h>
#include <pthread.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <thread>

#include "Console.h"
#include "OutcomeText.h"
#include "OutputFile.h"
#include "ProgramStory.h"
#include "Runner.h"
#include "Terminal.h"
#include "Tour.h"
#include "WineCompare.h"
#include "WinePlan.h"
#include "explore/Explore.h"
#include "replay/Explain.h"
#include "replay/ReplayCommand.h"
#include "serve/ServeCommand.h"

namespace {

struct Output {
  bool json = false;
  std::string jsonl_file;
  std::string log;    // "brief" or "full"; "" for the subcommand's own default
  bool tour = false;  // the tour: its summary table follows, and a step not as expected fails
  bool no_colour = false;
  std::string wine_plan;  // the file that takes what the Wine hosts play, when given
};

// A caption as the brief text shows it: set apart from the outcomes of the step before.
std::string note_text(const dev::LogEntry& e) {
  return fmt::format("\n[{:>8} ms] note     {}", e.time, e.str("text"));
}

// The audio is a WAV file; a pipe or /dev/null takes it under any name.
void check_audio_name(const std::string& path) {
  std::error_code ec;
  auto st = std::filesystem::status(path, ec);
  if (std::filesystem::exists(st) && !std::filesystem::is_regular_file(st)) return;
  std::string ext = std::filesystem::path(path).extension().string();
  for (auto& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (ext != ".wav") throw dev::InputError(path, 0, "the audio is written as a .wav file");
}

int play(const sim::Scenario& scenario, sim::RunOptions options, const Output& out) {
  bool full = out.log == "full";
  std::optional<sim::OutputFile> jsonl, audio;
  // --jsonl - writes the whole log onto standard output, which then carries nothing else.
  bool jsonl_stdout = out.jsonl_file == "-";
  if (jsonl_stdout && out.json)
    throw dev::InputError("--jsonl", 0, "standard output takes --json or --jsonl -, not both");
  if (!out.jsonl_file.empty() && !jsonl_stdout) jsonl.emplace(out.jsonl_file);
  if (!options.audio_file.empty()) {
    check_audio_name(options.audio_file);
    audio.emplace(options.audio_file);
    options.audio_name = options.audio_file;
    options.audio_file = audio->path();
  }
  for (const auto& w : scenario.warnings) std::cerr << "vexori-sim: " << w << '\n';
  std::optional<sim::OutputFile> plan_file;
  std::optional<sim::WinePlan> plan;
  if (!out.wine_plan.empty()) {
    plan_file.emplace(out.wine_plan);
    plan.emplace(scenario);
    options.on_command = [&](const sim::Command& c, uint64_t t) { plan->command(c, t); };
  }
  std::ofstream jsonl_file;
  if (jsonl) {
    jsonl_file.open(jsonl->path());
    if (!jsonl_file) throw dev::InputError(out.jsonl_file, 0, "cannot be written");
  }
  // At a terminal each line fits its width and the decisions are in colour; to a pipe or a file
  // every record stays on one line of its own.
  const sim::Terminal term = sim::detect_terminal(out.no_colour);
  auto fitted = [&](const std::string& lines) {
    return term.fit ? sim::wrap_text(lines, term.width) : lines;
  };
  static std::ostream nowhere(nullptr);
  std::ostream& text = jsonl_stdout ? nowhere : std::cout;
  std::ostream& jsonl_out = jsonl_stdout ? std::cout : jsonl_file;
  bool any_jsonl = jsonl || jsonl_stdout;
  // The log goes out as the run goes; nothing of it is kept.
  options.keep_log = false;
  // The brief log tells what the programs and the settings did besides the strokes.
  sim::ProgramStory story;
  options.live = [&](const dev::LogEntry& e) {
    if (plan) plan->entry(e);
    std::string told = full || e.kind == "note" ? std::string() : story.line(e);
    bool shown = full || e.kind == "note" || !told.empty();
    std::string json = (out.json && shown) || any_jsonl ? e.json() : std::string();
    if (shown)
      text << (out.json ? json
                        : fitted(full           ? e.text()
                                 : told.empty() ? note_text(e)
                                                : told))
           << '\n';
    if (any_jsonl) jsonl_out << json << '\n';
    sim::check_stdout();
    if (jsonl && !jsonl_out) sim::end_on_write_failure(out.jsonl_file, errno);
  };
  options.on_outcome = [&](const sim::StrokeOutcome& o) {
    std::string json = out.json || any_jsonl ? sim::outcome_json(o).dump() : std::string();
    text << (out.json ? json : fitted(sim::outcome_text(o, term.colour))) << '\n';
    if (any_jsonl) jsonl_out << json << '\n';
    sim::check_stdout();
    if (jsonl && !jsonl_out) sim::end_on_write_failure(out.jsonl_file, errno);
  };
  sim::RunResult result = sim::run_scenario(scenario, options);
  // The summary, and the tour's table, close the log as records of their own.
  std::vector<std::string> records = {result.summary_json().dump()};
  bool expected = true;
  std::vector<sim::TourRow> rows;
  if (out.tour) {
    rows = sim::tour_rows(result.outcomes);
    for (const auto& r : rows) expected = expected && r.as_expected;
    records.push_back(sim::tour_json(rows).dump());
  }
  if (any_jsonl)
    for (const auto& r : records) jsonl_out << r << '\n';
  if (jsonl) {
    jsonl_file.close();
    if (!jsonl_file) sim::end_on_write_failure(out.jsonl_file, errno);
    jsonl->commit();
  }
  if (audio) audio->commit();
  if (plan) {
    plan->finish(result.end_time);
    std::ofstream plan_out(plan_file->path());
    plan_out << plan->text();
    plan_out.close();
    if (!plan_out) sim::end_on_write_failure(out.wine_plan, errno);
    plan_file->commit();
  }
  if (out.json) {
    for (const auto& r : records) std::cout << r << '\n';
  } else {
    text << '\n' << fitted(result.summary());
    if (out.tour) text << '\n' << fitted(sim::tour_table(rows, term.colour));
  }
  sim::flush_stdout();
  return result.failures.empty() && expected ? sim::kExitOk : sim::kExitExpectation;
}

// A program ended by SIGINT, SIGTERM or SIGHUP ends as the signal would have ended it, but only
// after it removed its devices' folders. A handler may not do that work, so the signals are
// blocked in every thread (device threads inherit the mask) and one thread waits for them.
//
// A closed standard output (`vexori-sim demo | head`) must not kill the program before that
// either: SIGPIPE is ignored, the write fails, and check_stdout ends the program after the same
// clean-up.
void end_cleanly_on_signals() {
  std::signal(SIGPIPE, SIG_IGN);
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) return;
    dev::remove_device_folders();
    sim::remove_unfinished_outputs();
    std::signal(sig, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::raise(sig);
  }).detach();
}

bool is_subcommand(const std::string& name) {
  return name == "demo" || name == "run" || name == "replay" || name == "tune" || name == "fit" ||
         name == "explain" || name == "explore" || name == "serve" || name == "compare-wine";
}

// One option at most once: a repeated one is a mistake, not a choice of the last.
CLI::Option* once(CLI::Option* option) {
  return option->multi_option_policy(CLI::MultiOptionPolicy::Throw);
}

// A device folder holds the device's \Windows folder and its registry files. One given with
// --device-dir wins; else an installed binary finds the one installed beside it; else the build
// tree's own are used, as compiled in.
void use_device_dir(std::string dir, bool windows_given, sim::RunOptions& options) {
  if (dir.empty()) {
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    auto installed = self / VEXORI_DEVICE_DIR_FROM_BIN;
    if (ec || !std::filesystem::is_directory(installed / "Windows", ec)) return;
    dir = installed.lexically_normal().string();
  }
  if (!windows_given) options.windows_dir = dir + "/Windows";
  options.factory_reg = dir + "/registry/device.reg";
  options.install_reg = dir + "/registry/vexori.reg";
}

}  // namespace

int main(int argc, char** argv) {
  end_cleanly_on_signals();
  CLI::App app{"vexori-sim: the gesture system on a simulated touch-screen phone"};
  app.require_subcommand(1);
  app.set_version_flag("--version", VEXORI_VERSION);
  sim::RunOptions options;
  Output out;
  std::string device_dir;
  auto common = [&](CLI::App* cmd) {
    once(cmd->add_option("--device-dir", device_dir,
                         "folder of the device: its Windows folder and registry/*.reg"))
        ->check(CLI::ExistingDirectory);
    once(cmd->add_flag("--json", out.json, "print the event log as JSON Lines"));
    once(cmd->add_option("--jsonl", out.jsonl_file,
                         "also write the whole event log and the outcomes as JSON Lines to FILE "
                         "(- for standard output, which then carries nothing else)"))
        ->type_name("FILE");
    once(cmd->add_option("--log", out.log,
                         "brief: an outcome line per stroke, the captions and the summary; "
                         "full: every log entry too (default: brief for demo, full for run)"))
        ->check(CLI::IsMember({"brief", "full"}));
    once(cmd->add_option("--windows", options.windows_dir,
                         "folder of the device's \\Windows libraries"))
        ->check(CLI::ExistingDirectory);
    once(cmd->add_flag("--no-color", out.no_colour,
                       "no colour at a terminal (as NO_COLOR in the environment says too)"));
    once(cmd->add_flag("--realtime", options.realtime,
                       "let the device clock follow the wall clock"));
    once(cmd->add_option("--audio", options.audio_file,
                         "mix every sound played into FILE (WAV, 16-bit stereo, 44100 Hz)"))
        ->type_name("FILE");
    once(cmd->add_option("--screenshot", options.pictures.screenshot,
                         "draw what the screen shows at the end into FILE (.png or .svg)"))
        ->type_name("FILE");
    once(cmd->add_option("--timeline", options.pictures.timeline,
                         "draw scroll positions, momentum, sounds and strokes against device time "
                         "into FILE (.png or .svg)"))
        ->type_name("FILE");
    once(cmd->add_option("--picture", options.pictures.picture,
                         "draw the screen at the end with every stroke over it into FILE (.png or "
                         ".svg)"))
        ->type_name("FILE");
  };
  CLI::App* demo = app.add_subcommand("demo", "boot the device and play the built-in tour");
  common(demo);
  bool print_tour = false;
  once(demo->add_flag("--print", print_tour,
                      "write the tour's scenario to standard output instead of playing it: the "
                      "lines its outcome lines name"));
  std::string file;
  CLI::App* run = app.add_subcommand("run", "play a scenario file");
  run->add_option("file", file, "the scenario (- for standard input)")
      ->required()
      ->type_name("SCENARIO");
  common(run);
  once(run->add_option("--wine-plan", out.wine_plan,
                       "also write what the desktop hosts play under Wine for the scenario to "
                       "FILE: its panel samples, windows, registry writes and program commands "
                       "at their times, and the commands only the simulated device can carry out"))
      ->type_name("FILE");
  once(run->add_option("--preempt", options.preempt_seed,
                       "pre-empt device threads as the schedule of SEED says (see explore)"))
      ->type_name("SEED");
  sim::ExploreArgs explore_args;
  CLI::App* explore = app.add_subcommand(
      "explore",
      "run a scenario under many pre-empting schedules; stop at the first that breaks "
      "an invariant and print the command that replays it");
  explore->add_option("file", explore_args.file, "the scenario")->required()->type_name("SCENARIO");
  once(explore->add_option("--schedules", explore_args.schedules, "how many (default 100)"));
  once(explore->add_option("--from", explore_args.first_seed, "the first seed (default 1)"))
      ->type_name("SEED");
  once(explore->add_option("--jobs", explore_args.jobs,
                           "processes at a time (default: one per core)"));
  once(explore->add_option("--device-dir", device_dir,
                           "folder of the device: its Windows folder and registry/*.reg"))
      ->check(CLI::ExistingDirectory);
  once(explore->add_option("--windows", options.windows_dir,
                           "folder of the device's \\Windows libraries"))
      ->check(CLI::ExistingDirectory);
  sim::ReplayArgs replay_args;
  auto stroke_set = [&](CLI::App* cmd) {
    cmd->add_option("strokes", replay_args.paths,
                    "stroke files (.xml stroke logs, .csv traces t_ms,x,y,down) and folders; - "
                    "for one stroke file on standard input")
        ->required()
        ->type_name("FILE-OR-FOLDER");
    once(cmd->add_option("--device-dir", device_dir,
                         "folder of the device: its Windows folder and registry/*.reg"))
        ->check(CLI::ExistingDirectory);
    once(cmd->add_option("--windows", options.windows_dir,
                         "folder of the device's \\Windows libraries"))
        ->check(CLI::ExistingDirectory);
    once(cmd->add_option("--window", replay_args.window,
                         "the window the strokes are drawn on: list, aware, browser or plain "
                         "(default list)"))
        ->check(CLI::IsMember({"list", "aware", "browser", "plain"}));
    cmd->add_option("--set", replay_args.settings,
                    "a setting by its registry name, written before boot (repeatable)")
        ->type_name("NAME=VALUE");
    cmd->add_option("--only", replay_args.only, "only the strokes of these gesture classes")
        ->delimiter(',')
        ->type_name("CLASS");
    once(cmd->add_option("--intent", replay_args.intent,
                         "what each class was meant to do, CLASS=WHAT,... or a file of them; WHAT "
                         "is a behaviour (100 to 111), pan, tap or hold: adds the share done as "
                         "meant and a table of what each class did"))
        ->type_name("CLASS=WHAT,...|FILE");
    once(cmd->add_option("--rate", replay_args.rate,
                         "the panel's sampling rate in Hz (default 100)"));
    once(cmd->add_flag("--native", replay_args.native,
                       "sample at the recorded time stamps instead of a fixed rate"));
    once(cmd->add_option("--jobs", replay_args.jobs,
                         "worker processes, 1 to 64 (default: one per core)"))
        ->each([&](const std::string&) { replay_args.jobs_given = true; });
    once(cmd->add_flag("--quiet", replay_args.quiet,
                       "only the overview: no line per stroke or value, no progress"));
  };
  CLI::App* replay = app.add_subcommand(
      "replay",
      "replay recorded strokes, each on a device booted for it (its libraries as first mapped), "
      "and count what they did");
  stroke_set(replay);
  once(replay->add_flag("--table-only", replay_args.table_only, "no line per stroke"));
  once(replay->add_flag("--no-color", replay_args.no_colour,
                        "no colour at a terminal (as NO_COLOR in the environment says too)"));
  once(replay->add_option("--csv", replay_args.csv,
                          "write a row per stroke to FILE (- for standard output)"))
      ->type_name("FILE");
  once(replay->add_option("--jsonl", replay_args.jsonl,
                          "write a JSON object per stroke to FILE (- for standard output)"))
      ->type_name("FILE");
  once(replay->add_option("--picture", replay_args.picture,
                          "draw a contact sheet of the strokes with their codes into FILE (.png "
                          "or .svg)"))
      ->type_name("FILE");
  CLI::App* tune = app.add_subcommand(
      "tune", "replay recorded strokes under a range of values of one or two settings");
  stroke_set(tune);
  tune->add_option("--vary", replay_args.vary,
                   "a setting and its values: NAME=FROM..TO[:STEP] or NAME=A,B,C; the window "
                   "kinds: window=list,aware,browser,plain; or whole sets of settings: "
                   "settings=stock,FILE.reg,... (once or twice)")
      ->required()
      ->type_name("NAME=RANGE");
  once(tune->add_option("--plot", replay_args.plot,
                        "draw the outcome shares against the values into FILE (.png or .svg)"))
      ->type_name("FILE");
  once(tune->add_option("--csv", replay_args.csv,
                        "write a row per value and class to FILE (- for standard output)"))
      ->type_name("FILE");
  once(tune->add_option("--diff", replay_args.diff,
                        "the strokes whose outcome differs between two values A and B of the "
                        "range, by class and one by one"))
      ->expected(2)
      ->type_name("A B");
  once(tune->add_option("--diff-picture", replay_args.diff_picture,
                        "draw a contact sheet of the strokes --diff finds, as they end at B, into "
                        "FILE (.png or .svg)"))
      ->type_name("FILE");
  once(tune->add_option("--strokes-csv", replay_args.strokes_csv,
                        "write a row per stroke with its outcome at each value to FILE (- for "
                        "standard output)"))
      ->type_name("FILE");
  once(tune->add_option("--jsonl", replay_args.jsonl,
                        "write a JSON object per value and class to FILE (- for standard output)"))
      ->type_name("FILE");
  CLI::App* fit = app.add_subcommand(
      "fit", "search the settings for the values under which the most strokes do what was meant");
  stroke_set(fit);
  fit->add_option("--vary", replay_args.vary,
                  "a setting and the values to search: NAME=FROM..TO[:STEP] or NAME=A,B,C "
                  "(repeatable); values outside the setting's safe range are left out")
      ->required()
      ->type_name("NAME=RANGE");
  fit->add_option("--hold-out", replay_args.hold_out,
                  "the subjects (folders s02, s03, ...) to check the fit on, not fit on "
                  "(default: every third)")
      ->delimiter(',')
      ->type_name("SUBJECT");
  once(fit->add_option("--reg", replay_args.reg,
                       "write the recommended values to FILE as a .reg fragment"))
      ->type_name("FILE");
  sim::ExplainArgs explain_args;
  CLI::App* explain = app.add_subcommand(
      "explain",
      "replay one stroke and say, step by step as the system reported it, why it did "
      "what it did");
  explain
      ->add_option("stroke-file", explain_args.replay.paths,
                   "a stroke file: an .xml stroke log or a .csv trace t_ms,x,y,down")
      ->required()
      ->expected(1)
      ->type_name("FILE");
  once(explain->add_option("--stroke", explain_args.stroke,
                           "which stroke of a .csv trace, from 1 (default 1)"));
  once(explain->add_option("--window", explain_args.replay.window,
                           "the window the stroke is drawn on: list, aware, browser or plain "
                           "(default list)"))
      ->check(CLI::IsMember({"list", "aware", "browser", "plain"}));
  explain
      ->add_option("--set", explain_args.replay.settings,
                   "a setting by its registry name, written before boot (repeatable)")
      ->type_name("NAME=VALUE");
  once(explain->add_option("--rate", explain_args.replay.rate,
                           "the panel's sampling rate in Hz (default 100)"));
  once(explain->add_flag("--native", explain_args.replay.native,
                         "sample at the recorded time stamps instead of a fixed rate"));
  once(explain->add_option("--picture", explain_args.picture,
                           "draw the stroke with its segments, codes and decision into FILE (.png "
                           "or .svg)"))
      ->type_name("FILE");
  once(explain->add_option("--device-dir", device_dir,
                           "folder of the device: its Windows folder and registry/*.reg"))
      ->check(CLI::ExistingDirectory);
  once(explain->add_option("--windows", options.windows_dir,
                           "folder of the device's \\Windows libraries"))
      ->check(CLI::ExistingDirectory);
  sim::WineCompareArgs wine_args;
  CLI::App* compare_wine = app.add_subcommand(
      "compare-wine",
      "play scenarios under Wine with the system built for desktop Win32 and set each stroke's "
      "outcome beside the simulator's; needs Wine and mingw-w64 (make wine-deps), the desktop "
      "build (make build-win32) and python3");
  compare_wine->add_option("files", wine_args.files, "scenario files")->type_name("SCENARIO");
  once(compare_wine->add_flag("--tour", wine_args.tour, "the built-in tour's steps too"));
  once(compare_wine->add_option("--win32", wine_args.windows,
                                "folder of the desktop build's programs (default: build-win32/"
                                "windows of the source tree)"))
      ->type_name("DIR");
  once(compare_wine->add_option("--wine", wine_args.wine,
                                "the Wine loader (default: /usr/lib/wine/wine64, else wine64 or "
                                "wine on PATH)"))
      ->type_name("PROGRAM");
  once(compare_wine->add_option("--markdown", wine_args.markdown,
                                "also write the table, a row per stroke, as Markdown to FILE"))
      ->type_name("FILE");
  once(compare_wine->add_flag("--keep-going", wine_args.keep_going,
                              "exit 0 even when a row that should agree does not"));
  sim::serve::ServeArgs serve_args;
  CLI::App* serve = app.add_subcommand(
      "serve", "a live device in a web page on this machine: draw strokes, change settings");
  sim::serve::add_serve_options(serve, serve_args);
  once(serve->add_option("--device-dir", device_dir,
                         "folder of the device: its Windows folder and registry/*.reg"))
      ->check(CLI::ExistingDirectory);
  once(serve->add_option("--windows", options.windows_dir,
                         "folder of the device's \\Windows libraries"))
      ->check(CLI::ExistingDirectory);
  // The program's own --help shows every subcommand's options; each subcommand keeps its own.
  app.set_help_flag();
  app.set_help_all_flag("-h,--help", "print this help, with every subcommand's options");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and the version go out as asked; a mistake is one line in the program's own name.
    if (e.get_exit_code() == 0) return app.exit(e) == 0 ? sim::kExitOk : sim::kExitUsage;
    std::string what = e.what();
    std::string first = argc > 1 ? argv[1] : "";
    if (!first.empty() && first[0] != '-' && !is_subcommand(first))
      what = "no subcommand '" + first +
             "'; the subcommands are demo, run, replay, tune, fit, explain, explore, serve and "
             "compare-wine";
    std::cerr << "vexori-sim: " << what << "\n(vexori-sim --help lists every option)\n";
    return sim::kExitUsage;
  }

  CLI::App* chosen = *demo           ? demo
                     : *run          ? run
                     : *replay       ? replay
                     : *explore      ? explore
                     : *serve        ? serve
                     : *fit          ? fit
                     : *explain      ? explain
                     : *compare_wine ? compare_wine
                                     : tune;
  options.preempt = run->count("--preempt") > 0;
  use_device_dir(device_dir, chosen != compare_wine && chosen->count("--windows") > 0, options);

  try {
    if (*replay) return sim::replay_command(replay_args, options);
    if (*tune) return sim::tune_command(replay_args, options);
    if (*fit) return sim::fit_command(replay_args, options);
    if (*explain) return sim::explain_command(explain_args, options);
    if (*explore) return sim::explore_command(explore_args, options);
    if (*serve) return sim::serve::serve_command(serve_args, options);
    if (*compare_wine) return sim::compare_wine_command(wine_args);
    if (*demo && print_tour) {
      std::cout << sim::tour_scenario_text();
      sim::flush_stdout();
      return sim::kExitOk;
    }
    if (*demo) {
      if (out.log.empty()) out.log = "brief";
      out.tour = true;
      options.pictures.picture_per_step = true;
      return play(sim::tour_scenario(), options, out);
    }
    if (out.log.empty()) out.log = "full";
    return play(sim::load_scenario(file), options, out);
  } catch (const dev::InputError& e) {
    std::cerr << "vexori-sim: " << e.what() << '\n';
    return sim::kExitBadInput;
  } catch (const sim::CommandError& e) {
    std::cerr << "vexori-sim: " << e.what() << '\n';
    return sim::kExitCommand;
  } catch (const std::exception& e) {
    // DeviceDownError, or a device that could not even be made (no folder of its own).
    std::cerr << "vexori-sim: " << e.what() << '\n';
    return sim::kExitDeviceDown;
  }
}
