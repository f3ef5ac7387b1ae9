// What the touch driver proxy costs the window system.
//
//   Forward/*   a forwarded entry point against a direct call of the stock entry.
//   Sample/*    the per-sample cost of the proxy's sample callback against the stock path, where
//               the stock driver hands the sample straight to the window system's callback.
//
// The stock driver here is the quiet variant, which records nothing, and the device log is off,
// so that only the calls themselves are measured.
#include <benchmark/benchmark.h>
#include <tchddi.h>

#include <filesystem>
#include <memory>

#include <unistd.h>

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
  for (auto _ : state) {
    int step = i++ % 100;
    TOUCH_PANEL_SAMPLE_FLAGS flags = step == 0 ? kDown : step == 99 ? kUp : kMove;
    callback(flags, 400 + step * 4, 800 - step * 4);
  }
  state.counters["received"] = benchmark::Counter(g_received, benchmark::Counter::kAvgIterations);
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

}  // namespace

BENCHMARK_CAPTURE(Forward, Direct, false)->Name("Forward_Direct");
BENCHMARK_CAPTURE(Forward, Proxy, true)->Name("Forward_Proxy");
BENCHMARK(Sample_Stock);
BENCHMARK(Sample_ProxyGestureOff);
BENCHMARK(Sample_ProxyGestureOn);
BENCHMARK_MAIN();
