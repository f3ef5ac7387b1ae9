// How fast stroke sets replay: each stroke boots a device of its own.
//
//   Replay_Stroke     one recorded caret, booted, replayed, its outcome read, in this process.
//   Replay_Set/1      the 240 strokes of one person (all speeds), one worker process.
//   Replay_Set/0      the same with one worker per core.
//
// The strokes are the shared recordings beside the project; without them the benchmarks say so.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "replay/StrokeReplay.h"

namespace {

const char kSubject[] = VEXORI_SOURCE_DIR "/../shared/data/touch/dollar1-unistroke/xml_logs/s02";

bool Missing(benchmark::State& state) {
  if (std::filesystem::is_directory(kSubject)) return false;
  state.SkipWithError("the shared stroke recordings are not beside the project");
  return true;
}

void ReplayStroke(benchmark::State& state) {
  if (Missing(state)) return;
  auto strokes = sim::load_stroke_set({std::string(kSubject) + "/fast/caret01.xml"});
  for (auto _ : state) {
    auto r = sim::replay_stroke(strokes.front(), {}, {});
    if (!r.error.empty()) state.SkipWithError(r.error.c_str());
  }
  state.counters["strokes_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void ReplaySet(benchmark::State& state) {
  if (Missing(state)) return;
  auto strokes = sim::load_stroke_set({kSubject});
  sim::ReplaySetup setup;
  setup.jobs = static_cast<unsigned>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(sim::replay_strokes(strokes, setup, {}));
  state.counters["strokes_per_s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * strokes.size()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(ReplayStroke)->Name("Replay_Stroke")->Unit(benchmark::kMillisecond);
// Wall time: the work is in the worker processes.
BENCHMARK(ReplaySet)
    ->Name("Replay_Set")
    ->Arg(1)
    ->Arg(0)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
