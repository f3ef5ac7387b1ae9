#include "explore/Explore.h"

#include <fmt/format.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>

#include "explore/Invariants.h"
#include "replay/Workers.h"

namespace sim {
namespace {

// The options of a checked run: nothing is written, and the device is read as the run ends.
RunOptions quiet(const RunOptions& base, EndState* end) {
  RunOptions o;
  o.windows_dir = base.windows_dir;
  o.factory_reg = base.factory_reg;
  o.install_reg = base.install_reg;
  o.verbose = base.verbose;
  o.max_device_ms = base.max_device_ms;
  o.keep_log = false;
  o.picture_commands = false;
  o.at_end = [end](dev::Device& device) { *end = read_end_state(device); };
  return o;
}

// A schedule's result as one line of text: switches, then what broke, tab-separated.
std::string to_line(const ScheduleResult& r) {
  std::string line = std::to_string(r.switches);
  for (const auto& b : r.broken) line += '\t' + b;
  return line;
}

ScheduleResult from_line(uint64_t seed, const std::string& line) {
  ScheduleResult r;
  r.seed = seed;
  size_t tab = line.find('\t');
  r.switches = std::strtoull(line.substr(0, tab).c_str(), nullptr, 10);
  while (tab != std::string::npos) {
    size_t next = line.find('\t', tab + 1);
    r.broken.push_back(line.substr(tab + 1, next == std::string::npos ? next : next - tab - 1));
    tab = next;
  }
  return r;
}

// What ended a schedule's process other than its result.
std::string how_it_ended(int status) {
  if (WIFSIGNALED(status)) {
    int sig = WTERMSIG(status);
    return fmt::format("the run ended with signal {} ({})", sig, strsignal(sig));
  }
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return fmt::format(
      "the run ended with exit status {} (a sanitizer report, or a device that "
      "could not go on)",
      code);
}

// A schedule's run in a process of its own.
struct Child {
  pid_t pid = -1;
  int fd = -1;
  uint64_t seed = 0;
};

Child start_child(const Scenario& s, const RunOptions& options, uint64_t seed, uint64_t steps) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("cannot make a pipe for a schedule");
  std::cout.flush();
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("cannot start a process for a schedule");
  if (pid == 0) {
    close(fds[0]);
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_UNBLOCK, &all, nullptr);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
    int code = 0;
    try {
      ScheduleResult r = run_schedule(s, options, seed, steps);
      code = write_all(fds[1], to_line(r) + '\n') ? 0 : 1;
    } catch (const std::exception& e) {
      std::cerr << "vexori-sim: schedule " << seed << ": " << e.what() << '\n';
      code = 2;
    }
    close(fds[1]);
    // exit, not _exit: a sanitizer's leak check runs and reports through the exit status.
    std::exit(code);
  }
  close(fds[1]);
  return {pid, fds[0], seed};
}

ScheduleResult finish_child(const Child& c) {
  std::string text;
  char buf[4096];
  for (;;) {
    ssize_t n = read(c.fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  close(c.fd);
  int status = 0;
  while (waitpid(c.pid, &status, 0) < 0 && errno == EINTR) {
  }
  bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (clean && !text.empty() && text.back() == '\n') {
    text.pop_back();
    return from_line(c.seed, text);
  }
  ScheduleResult r =
      text.empty() ? ScheduleResult{} : from_line(c.seed, text.substr(0, text.find('\n')));
  r.seed = c.seed;
  r.broken.push_back(how_it_ended(status));
  return r;
}

}  // namespace

Baseline run_baseline(const Scenario& s, const RunOptions& options) {
  EndState end;
  RunOptions o = quiet(options, &end);
  o.count_points = true;
  RunResult r = run_scenario(s, o);
  return {std::max<uint64_t>(1, r.switch_points), broken_invariants(r, end)};
}

ScheduleResult run_schedule(const Scenario& s, const RunOptions& options, uint64_t seed,
                            uint64_t steps) {
  EndState end;
  RunOptions o = quiet(options, &end);
  o.preempt = true;
  o.preempt_seed = seed;
  o.preempt_steps = steps;
  RunResult r = run_scenario(s, o);
  ScheduleResult result;
  result.seed = seed;
  result.switches = r.switches;
  result.broken = broken_invariants(r, end);
  return result;
}

ExploreReport explore(const Scenario& s, const RunOptions& options, const ExploreArgs& args) {
  ExploreReport report;
  Baseline base = run_baseline(s, options);
  report.points = base.points;
  if (!base.broken.empty()) {
    report.baseline_broke = true;
    report.first_break.broken = base.broken;
    return report;
  }
  unsigned jobs = worker_count(args.jobs);
  std::map<uint64_t, Child> running;
  uint64_t next = args.first_seed, end = args.first_seed + args.schedules;
  bool found = false;
  while (!running.empty() || (!found && next < end)) {
    while (!found && next < end && running.size() < jobs) {
      running[next] = start_child(s, options, next, base.points);
      ++next;
    }
    // The oldest first: results come in the order of their seeds.
    auto oldest = running.begin();
    ScheduleResult r = finish_child(oldest->second);
    running.erase(oldest);
    ++report.schedules;
    report.switches += r.switches;
    if (!r.broken.empty() && !found) {
      found = true;
      report.first_break = r;
    }
  }
  return report;
}

int explore_command(const ExploreArgs& args, const RunOptions& options) {
  Scenario s = load_scenario(args.file);
  for (const auto& w : s.warnings) std::cerr << "vexori-sim: " << w << '\n';
  ExploreReport report = explore(s, options, args);
  const ScheduleResult& b = report.first_break;
  if (report.baseline_broke) {
    std::cout << args.file << " breaks an invariant without pre-emption:\n";
    for (const auto& what : b.broken) std::cout << "  " << what << '\n';
    std::cout << "see it: vexori-sim run " << args.file << '\n';
    return kExitExpectation;
  }
  if (b.broken.empty()) {
    std::cout << fmt::format(
        "{}: {} schedules (seeds {} to {}) broke no invariant; {} switch points a run, {:.1f} "
        "switches a schedule\n",
        args.file, report.schedules, args.first_seed, args.first_seed + report.schedules - 1,
        report.points,
        report.schedules > 0 ? double(report.switches) / double(report.schedules) : 0.0);
    return kExitOk;
  }
  std::cout << fmt::format("{}: schedule {} broke an invariant ({} schedules run):\n", args.file,
                           b.seed, report.schedules);
  for (const auto& what : b.broken) std::cout << "  " << what << '\n';
  std::string where;
  if (options.factory_reg != RunOptions().factory_reg) {
    where += " --device-dir " +
             std::filesystem::path(options.factory_reg).parent_path().parent_path().string();
  }
  if (options.windows_dir != RunOptions().windows_dir) where += " --windows " + options.windows_dir;
  std::cout << "replay it: vexori-sim run " << args.file << where << " --preempt " << b.seed
            << '\n';
  return kExitExpectation;
}

}  // namespace sim
