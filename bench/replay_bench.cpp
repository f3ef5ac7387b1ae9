// How fast stroke sets replay: each stroke boots a device of its own.
//
//   Replay_Stroke/1   one recorded caret, booted, replayed, its outcome read, in this process;
//                     the device takes the libraries an earlier device kept, as first mapped.
//   Replay_Stroke/0   the same, every boot mapping fresh copies of the libraries
//                     (VEXORI_FRESH_LIBRARIES), as every boot did before they were kept.
//   Replay_Set/1/1    the 240 strokes of one person (all speeds), one worker process.
//   Replay_Set/0/1    the same with one worker per core.
//   Replay_Set/J/0    the same with fresh copies, as Replay_Stroke/0.
// cpu_ms_per_stroke counts the CPU time of this process and of its workers (user and system).
//
// The strokes are the shared recordings beside the project; without them the benchmarks say so.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "replay/StrokeReplay.h"

namespace {

// The shared folder beside the project, or where VEXORI_SHARED says (a worktree elsewhere).
const std::string kSubject =
    std::string(getenv("VEXORI_SHARED") != nullptr ? getenv("VEXORI_SHARED")
                                                   : VEXORI_SOURCE_DIR "/../shared") +
    "/data/touch/dollar1-unistroke/xml_logs/s02";

// Every boot maps fresh copies of the libraries while one lives (`fresh` true).
struct FreshLibraries {
  explicit FreshLibraries(bool fresh) {
    if (fresh) setenv("VEXORI_FRESH_LIBRARIES", "1", 1);
  }
  ~FreshLibraries() { unsetenv("VEXORI_FRESH_LIBRARIES"); }
};

// User and system CPU time of this process and of the workers it has waited for, in seconds.
double cpu_seconds() {
  double total = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage u{};
    getrusage(who, &u);
    for (const timeval& t : {u.ru_utime, u.ru_stime})
      total += static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  }
  return total;
}

void CountCpu(benchmark::State& state, double start, size_t strokes) {
  state.counters["cpu_ms_per_stroke"] =
      (cpu_seconds() - start) * 1e3 / static_cast<double>(state.iterations() * strokes);
}

bool Missing(benchmark::State& state) {
  if (std::filesystem::is_directory(kSubject)) return false;
  state.SkipWithError("the shared stroke recordings are not beside the project");
  return true;
}

void ReplayStroke(benchmark::State& state) {
  if (Missing(state)) return;
  auto strokes = sim::load_stroke_set({kSubject + "/fast/caret01.xml"});
  sim::RunOptions options;
  FreshLibraries fresh(state.range(0) == 0);
  double start = cpu_seconds();
  for (auto _ : state) {
    auto r = sim::replay_stroke(strokes.front(), {}, options);
    if (!r.error.empty()) state.SkipWithError(r.error.c_str());
  }
  CountCpu(state, start, 1);
  state.counters["strokes_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void ReplaySet(benchmark::State& state) {
  if (Missing(state)) return;
  auto strokes = sim::load_stroke_set({kSubject});
  sim::ReplaySetup setup;
  setup.jobs = static_cast<unsigned>(state.range(0));
  sim::RunOptions options;
  FreshLibraries fresh(state.range(1) == 0);
  double start = cpu_seconds();
  for (auto _ : state) benchmark::DoNotOptimize(sim::replay_strokes(strokes, setup, options));
  CountCpu(state, start, strokes.size());
  state.counters["strokes_per_s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * strokes.size()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(ReplayStroke)->Name("Replay_Stroke")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
// Wall time: the work is in the worker processes.
BENCHMARK(ReplaySet)
    ->Name("Replay_Set")
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({0, 0})
    ->Args({0, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
