// How fast the device runs whole scenarios: device-seconds simulated per wall-second.
//
//   Run/Tour    the built-in tour of `vexori-sim demo`.
//   Run/Dense   a pen-down every 300 ms on average on a long list (taps, flicks that the broker
//               carries on with momentum, pans), gesture function on, no sound.
//
// Both go the whole way, as `vexori-sim run --jsonl FILE` does: parsed, booted, played, every log
// entry written to a file as a JSON line; no audio.
#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "Runner.h"
#include "Tour.h"

namespace {

const uint32_t kDenseSeconds = 120;
const uint32_t kDenseSeed = 20261208;

long HostSwitches() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_nvcsw + usage.ru_nivcsw;
}

// The CPU time of the whole process, every host thread included.
double ProcessCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Dense {
  sim::Scenario scenario;
  size_t pen_downs = 0;
  uint32_t stroke_ms = 0;  // from the first pen-down to the end of the last wait
};

// The same scenario on every run and every machine: the draws are taken from mt19937's own
// output, whose sequence the standard fixes, and not through a library's distributions.
Dense DenseScenario() {
  std::mt19937 rng(kDenseSeed);
  auto draw = [&](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
  std::string text =
      "reg HKLM\\Software\\Quob\\Gesture Activate dword 1\n"
      "window list list 0 26 240 268 lines 100000 page 12\n"
      "foreground list\n"
      "wait 100\n";
  Dense dense;
  // Strokes of 80 ms (tap), 150 ms (flick) and about 920 ms (pan: land, settle, rest, drag), in
  // shares of 45, 45 and 10 in a hundred, each followed by 30 to 180 ms without a finger: a
  // pen-down every 300 ms on average.
  uint32_t t = 0;
  while (t < kDenseSeconds * 1000) {
    int x = draw(20, 220), kind = draw(0, 99);
    if (kind < 45) {
      text += fmt::format("tap {} {}\n", x, draw(60, 260));
      t += 80;
    } else if (kind < 90) {
      int y = draw(100, 200), dy = draw(0, 1) ? 60 : -60;
      text += fmt::format("flick {} {} {} {} 150\n", x, y, x, y + dy);
      t += 150;
    } else {
      text += fmt::format("drag {} 250 {} 100 300 rest 600 settle 24\n", x, x);
      t += 920;
    }
    int wait = draw(30, 180);
    text += fmt::format("wait {}\n", wait);
    t += wait;
    ++dense.pen_downs;
  }
  dense.stroke_ms = t;
  dense.scenario = sim::parse_scenario(text, "<dense>", "");
  return dense;
}

void Run(benchmark::State& state, bool dense) {
  Dense d;
  if (dense) {
    d = DenseScenario();
  } else {
    d.scenario = sim::tour_scenario();
  }
  std::string path =
      (std::filesystem::temp_directory_path() / fmt::format("vexori-bench-{}.jsonl", getpid()))
          .string();
  double device_s = 0, wall_s = 0, cpu_s = 0;
  long switches = 0;
  size_t samples = 0;
  for (auto _ : state) {
    std::ofstream out(path);
    sim::RunOptions options;
    options.keep_log = false;
    options.live = [&out](const dev::LogEntry& e) { out << e.json() << '\n'; };
    long switches_before = HostSwitches();
    auto start = std::chrono::steady_clock::now();
    double cpu_before = ProcessCpuSeconds();
    sim::RunResult result = sim::run_scenario(d.scenario, options);
    out.close();
    cpu_s += ProcessCpuSeconds() - cpu_before;
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(wall);
    switches += HostSwitches() - switches_before;
    wall_s += wall;
    device_s += static_cast<double>(result.end_time) / 1000.0;
    samples += result.panel_samples;
  }
  std::remove(path.c_str());
  state.counters["device_s"] = device_s / static_cast<double>(state.iterations());
  state.counters["device_s_per_wall_s"] = device_s / wall_s;
  state.counters["device_s_per_cpu_s"] = device_s / cpu_s;
  state.counters["switches_per_sample"] =
      static_cast<double>(switches) / static_cast<double>(samples);
  if (dense) {
    state.counters["pen_down_every_ms"] =
        static_cast<double>(d.stroke_ms) / static_cast<double>(d.pen_downs);
  }
}

}  // namespace

BENCHMARK_CAPTURE(Run, Tour, false)
    ->Name("Run_Tour")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Run, Dense, true)
    ->Name("Run_Dense")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
