// What the touch driver proxy costs the window system.
//
//   Forward/*   a forwarded entry point against a direct call of the stock entry.
//   Sample/*    the per-sample cost of the proxy's sample callback against the stock path, where
//               the stock driver hands the sample straight to the window system's callback.
//   Sample_ProxyGesture   a gesture sample on a booted device with the window system, a list in
//               front and the broker: the record held until the stroke is decided, and posted
//               to the proxy's worker. The worker's share runs between strokes, untimed.
//
// The stock driver here is the quiet variant, which records nothing, and the device log is off,
// so that only the calls themselves are measured. `allocs_per_sample` counts the process's heap
// allocations (operator new) in the timed calls.
#include <benchmark/benchmark.h>
#include <tchddi.h>

#include <filesystem>
#include <memory>

#include <unistd.h>

#include "AllocCount.h"
#include "device/apps.hpp"
#include "device/device.hpp"

namespace {

typedef UINT_PTR Word;
typedef Word (*ValueEntry)(Word, Word);
typedef Word (*EnableEntry)(PFN_TOUCH_PANEL_CALLBACK, Word);
typedef PFN_TOUCH_PANEL_CALLBACK (*CallbackQuery)();

int g_received = 0;

// Stands in for the window system's sample callback.
BOOL SystemCallback(TOUCH_PANEL_SAMPLE_FLAGS, INT, INT) {
  ++g_received;
  return TRUE;
}

template <class Fn>
Fn Resolve(HMODULE module, const WCHAR* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddressW(module, name)));
}

// A device whose \Windows folder has the quiet stock driver under the name touch.dll, with the
// proxy loaded in a process of its own and enabled with SystemCallback.
struct Bench {
  explicit Bench(bool activate) {
    namespace fs = std::filesystem;
    dir = fs::temp_directory_path() / ("vexori-bench-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy_file(fs::path(VEXORI_WINDOWS_DIR) / "touchbench.dll", dir / "touch.dll");
    fs::copy_file(fs::path(VEXORI_WINDOWS_DIR) / "Pallux.dll", dir / "Pallux.dll");
    dev::DeviceConfig config;
    config.windows_dir = dir.string();
    config.start_window_system = false;
    config.reg_files = {std::string(VEXORI_SOURCE_DIR) + "/platform/registry/device.reg",
                        std::string(VEXORI_SOURCE_DIR) + "/install/vexori.reg"};
    device = std::make_unique<dev::Device>(config);
    device->boot();
    device->reg_set_dword("HKLM\\Software\\Quob\\Gesture", "Activate", activate ? 1 : 0);
    device->log().enabled = false;
    proxy = LoadLibraryW(u"Pallux.dll");
    stock = LoadLibraryW(u"touch.dll");
    Resolve<EnableEntry>(proxy, u"TouchPanelEnable")(SystemCallback, 0);
    device->settle();
    proxyCallback = Resolve<CallbackQuery>(stock, u"TouchBenchCallback")();
  }
  ~Bench() {
    device.reset();
    std::filesystem::remove_all(dir);
  }

  std::filesystem::path dir;
  std::unique_ptr<dev::Device> device;
  HMODULE proxy = nullptr;
  HMODULE stock = nullptr;
  PFN_TOUCH_PANEL_CALLBACK proxyCallback = nullptr;
};

// TouchGetValue of the stock driver, called directly or through the proxy's forwarder.
void Forward(benchmark::State& state, bool throughProxy) {
  Bench b(false);
  auto entry = Resolve<ValueEntry>(throughProxy ? b.proxy : b.stock, u"TouchGetValue");
  Word sum = 0;
  for (auto _ : state) {
    sum += entry(1, 2);
    benchmark::DoNotOptimize(sum);
  }
}

// A stroke's worth of samples: pen-down, moves, pen-up, over and over.
void PlaySamples(benchmark::State& state, PFN_TOUCH_PANEL_CALLBACK callback) {
  const TOUCH_PANEL_SAMPLE_FLAGS kDown = TouchSampleValidFlag | TouchSampleDownFlag;
  const TOUCH_PANEL_SAMPLE_FLAGS kMove = kDown | TouchSamplePreviousDownFlag;
  const TOUCH_PANEL_SAMPLE_FLAGS kUp = TouchSampleValidFlag | TouchSamplePreviousDownFlag;
  int i = 0;
  g_received = 0;
  uint64_t allocations = HeapAllocations();
  for (auto _ : state) {
    int step = i++ % 100;
    TOUCH_PANEL_SAMPLE_FLAGS flags = step == 0 ? kDown : step == 99 ? kUp : kMove;
    callback(flags, 400 + step * 4, 800 - step * 4);
  }
  allocations = HeapAllocations() - allocations;
  state.counters["received"] = benchmark::Counter(g_received, benchmark::Counter::kAvgIterations);
  state.counters["allocs_per_sample"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}

void Sample_Stock(benchmark::State& state) {
  Bench b(false);
  PlaySamples(state, SystemCallback);
}

void Sample_ProxyGestureOff(benchmark::State& state) {
  Bench b(false);
  PlaySamples(state, b.proxyCallback);
}

void Sample_ProxyGestureOn(benchmark::State& state) {
  Bench b(true);
  b.device->settle();
  PlaySamples(state, b.proxyCallback);
}

// The whole device as it boots, the stock driver its quiet variant, so that the proxy the window
// system enabled can be called with samples directly, as the driver's sample thread calls it.
struct SystemBench {
  SystemBench() {
    namespace fs = std::filesystem;
    dir = fs::temp_directory_path() / ("vexori-bench-system-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto& f : fs::directory_iterator(VEXORI_WINDOWS_DIR)) {
      if (f.is_regular_file() && f.path().filename() != "touch.dll")
        fs::copy_file(f.path(), dir / f.path().filename());
    }
    fs::copy_file(fs::path(VEXORI_WINDOWS_DIR) / "touchbench.dll", dir / "touch.dll");
    dev::DeviceConfig config;
    config.windows_dir = dir.string();
    config.reg_files = {std::string(VEXORI_SOURCE_DIR) + "/platform/registry/device.reg",
                        std::string(VEXORI_SOURCE_DIR) + "/install/vexori.reg"};
    device = std::make_unique<dev::Device>(config);
    device->boot();
    device->reg_set_dword("HKLM\\Software\\Quob\\Gesture", "Activate", 1);
    dev::apps::WindowSpec list;
    list.kind = dev::apps::Kind::List;
    list.x = 0, list.y = 26, list.width = 240, list.height = 268;
    list.lines = 1000000;
    list.page = 12;
    dev::apps::set_foreground(*device, dev::apps::place(*device, list));
    device->settle();
    device->log().enabled = false;
    broker = FindWindowW(u"MSGBROKER", nullptr);
    device->as_process("gwes.exe", [&] {
      proxyCallback = Resolve<CallbackQuery>(LoadLibraryW(u"touch.dll"), u"TouchBenchCallback")();
    });
  }
  ~SystemBench() {
    device.reset();
    std::filesystem::remove_all(dir);
  }

  std::filesystem::path dir;
  std::unique_ptr<dev::Device> device;
  HWND broker = nullptr;
  PFN_TOUCH_PANEL_CALLBACK proxyCallback = nullptr;
};

// Strokes of 100 samples as PlaySamples plays them, each a gesture: 2 pixels a sample across the
// list. Between strokes, untimed, the device runs: the worker's engine, the hand-over to the
// broker, and the broker, whose momentum is stopped before its first step. One stroke before
// the timed ones starts the worker and lets the queues reach their size: what is counted is the
// steady state.
void Sample_ProxyGesture(benchmark::State& state) {
  SystemBench b;
  const TOUCH_PANEL_SAMPLE_FLAGS kDown = TouchSampleValidFlag | TouchSampleDownFlag;
  const TOUCH_PANEL_SAMPLE_FLAGS kMove = kDown | TouchSamplePreviousDownFlag;
  const TOUCH_PANEL_SAMPLE_FLAGS kUp = TouchSampleValidFlag | TouchSamplePreviousDownFlag;
  auto sample = [&](int step) {
    TOUCH_PANEL_SAMPLE_FLAGS flags = step == 0 ? kDown : step == 99 ? kUp : kMove;
    b.proxyCallback(flags, 400 + step * 4, 800 - step * 4);
  };
  auto between_strokes = [&] {
    b.device->settle();
    PostMessageW(b.broker, WM_USER + 252, 0, 0);  // the momentum stops here
    b.device->settle();
  };
  uint64_t allocations = 0, posts = 0;
  b.device->as_process("gwes.exe", [&] {
    for (int step = 0; step < 100; ++step) sample(step);
    between_strokes();
    int i = 0;
    for (auto _ : state) {
      int step = i++ % 100;
      // Counted around the call alone: pausing the timer allocates too.
      uint64_t from = HeapAllocations();
      sample(step);
      allocations += HeapAllocations() - from;
      if (step == 99) {
        state.PauseTiming();
        between_strokes();
        ++posts;
        state.ResumeTiming();
      }
    }
  });
  state.counters["allocs_per_sample"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
  state.counters["strokes"] = static_cast<double>(posts);
}

}  // namespace

BENCHMARK_CAPTURE(Forward, Direct, false)->Name("Forward_Direct");
BENCHMARK_CAPTURE(Forward, Proxy, true)->Name("Forward_Proxy");
BENCHMARK(Sample_Stock);
BENCHMARK(Sample_ProxyGestureOff);
BENCHMARK(Sample_ProxyGestureOn);
BENCHMARK(Sample_ProxyGesture);
BENCHMARK_MAIN();
