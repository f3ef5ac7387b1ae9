// What a flick costs from its pen-down to the first step of its momentum, with every part of the
// system at work: the proxy's pipeline, its engine on the worker thread, the hand-over, and the
// broker's engine at the first tick of its timer.
//
//   Flick/Stock    the same 100 samples through the stock driver alone, to the last sample.
//   Flick/System   pen-down to the first line posted to the list.
//
// Both run on a booted device with the window system and a long list in front, and count the CPU
// time of the whole process (every device thread), so the device's own scheduling is in both.
// `allocs` counts the heap allocations of a flick's timed span, the device's own included.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include <memory>
#include <string>

#include "AllocCount.h"
#include "Scenario.h"
#include "device/apps.hpp"
#include "device/device.hpp"

namespace {

const int kSamples = 100;
const uint32_t kTickMs = 80;

double ProcessCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Context switches of the host process: each hand-over between device threads costs two.
long HostSwitches() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_nvcsw + usage.ru_nivcsw;
}

struct FlickBench {
  explicit FlickBench(bool system) {
    dev::DeviceConfig config;
    config.windows_dir = VEXORI_WINDOWS_DIR;
    config.reg_files = {std::string(VEXORI_SOURCE_DIR) + "/platform/registry/device.reg"};
    if (system) config.reg_files.push_back(std::string(VEXORI_SOURCE_DIR) + "/install/vexori.reg");
    device = std::make_unique<dev::Device>(config);
    device->boot();
    if (system) device->reg_set_dword("HKLM\\Software\\Quob\\Gesture", "Activate", 1);
    dev::apps::WindowSpec list;
    list.kind = dev::apps::Kind::List;
    list.x = 0, list.y = 26, list.width = 240, list.height = 268;
    list.lines = 1000000;
    list.page = 12;
    window = dev::apps::place(*device, list);
    dev::apps::set_foreground(*device, window);
    device->settle();
    device->log().enabled = false;
    broker = FindWindowW(u"MSGBROKER", nullptr);
  }

  // A flick 200 pixels up in 1 second, starting 300 ms from now: 100 samples at 100 Hz.
  uint64_t Queue() {
    uint64_t start = device->now() + 300;
    auto samples = sim::to_panel(
        sim::straight_stroke(120, 260, 120, 60, (kSamples - 2) * 10, 0, 100), start, 10);
    device->queue_samples(samples);
    return start;
  }

  std::unique_ptr<dev::Device> device;
  HWND window = nullptr;
  HWND broker = nullptr;
};

void Flick(benchmark::State& state, bool system) {
  FlickBench b(system);
  long switches = 0;
  uint64_t allocations = 0;
  for (auto _ : state) {
    uint64_t penDown = b.Queue();
    b.device->run_until(penDown - 1);
    long switchesBefore = HostSwitches();
    uint64_t allocationsBefore = HeapAllocations();
    double cpu = ProcessCpuSeconds();
    // The pen-up comes a sample period after the last move; the first tick 80 ms after it.
    uint64_t penUp = penDown + (kSamples - 1) * 10;
    b.device->run_until(system ? penUp + kTickMs : penUp);
    state.SetIterationTime(ProcessCpuSeconds() - cpu);
    allocations += HeapAllocations() - allocationsBefore;
    switches += HostSwitches() - switchesBefore;
    if (system) PostMessageW(b.broker, WM_USER + 252, 0, 0);  // the momentum stops here
    b.device->settle();
  }
  // One line per flick shows that each timed span held the first momentum step.
  state.counters["switches"] = benchmark::Counter(switches, benchmark::Counter::kAvgIterations);
  state.counters["allocs"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
  state.counters["lines"] = benchmark::Counter(dev::apps::scroll_pos(*b.device, b.window),
                                               benchmark::Counter::kAvgIterations);
}

}  // namespace

BENCHMARK_CAPTURE(Flick, Stock, false)
    ->Name("Flick_Stock")
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Flick, System, true)
    ->Name("Flick_System")
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
