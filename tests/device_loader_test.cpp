// The device loader (libraries from \Windows, one instance per process and per device), the power
// manager's state and the screen metrics.
#include <windows.h>
#include <pm.h>
#include <tchddi.h>

#include "support/DeviceFixture.h"

namespace {

using EnableFn = UINT_PTR (*)(PFN_TOUCH_PANEL_CALLBACK, UINT_PTR);

BOOL IgnoreSample(TOUCH_PANEL_SAMPLE_FLAGS, INT, INT) {
  return TRUE;
}

class DeviceLoader : public vt::DeviceTest {
 protected:
  void SetUp() override {
    vt::BootOptions o;
    o.install = false;  // the window system loads the stock touch.dll itself
    o.screen = {480, 640, 192};
    Boot(o);
  }

  template <typename Fn>
  Fn Bind(HMODULE h, const WCHAR* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddressW(h, name)));
  }

  size_t InProcess(const std::string& kind, const std::string& process) const {
    size_t n = 0;
    for (const auto& e : Log(kind)) n += e.process == process;
    return n;
  }
};

TEST_F(DeviceLoader, LibrariesLoadByFileNameAndCountTheirLoads) {
  HMODULE a = LoadLibraryW(u"TOUCH.DLL");
  ASSERT_NE(a, nullptr);
  HMODULE b = LoadLibraryW(u"\\Windows\\Touch.dll");
  EXPECT_EQ(a, b) << "one instance per process";
  EXPECT_EQ(InProcess("module-load", "host"), 1u);
  auto gwes_load = Log("module-load", "module", "touch.dll");
  ASSERT_EQ(gwes_load.size(), 2u);
  EXPECT_EQ(gwes_load[0].process, "gwes.exe");
  EXPECT_NE(gwes_load[0].str("handle"), gwes_load[1].str("handle"));
  WCHAR path[64];
  EXPECT_GT(GetModuleFileNameW(a, path, 64), 0u);
  EXPECT_EQ(std::u16string(path), u"\\Windows\\touch.dll");

  SetLastError(0);
  EXPECT_EQ(GetProcAddressW(a, u"TouchNoSuchEntry"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_NE(GetProcAddressW(a, u"TouchReset"), nullptr);

  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_NE(GetProcAddressW(a, u"TouchReset"), nullptr) << "still loaded once";
  EXPECT_EQ(InProcess("module-unload", "host"), 0u);
  EXPECT_TRUE(FreeLibrary(b));
  EXPECT_EQ(InProcess("module-unload", "host"), 1u);
  EXPECT_EQ(GetProcAddressW(a, u"TouchReset"), nullptr);
  EXPECT_FALSE(FreeLibrary(a));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Log("bad-handle", "call", "FreeLibrary").size(), 1u);
  EXPECT_EQ(Log("bad-handle", "call", "GetProcAddressW").size(), 1u);

  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(u"\\Windows\\nothere.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(Log("module-missing", "module", "nothere.dll").size(), 1u);
}

TEST_F(DeviceLoader, EachProcessAndEachDeviceHasItsOwnModuleState) {
  // The window system's touch.dll started its sample thread when it was enabled at boot. An
  // instance of the library in another process has not: enabling it starts a thread of its own.
  ASSERT_EQ(InProcess("thread-start", "gwes.exe"), 1u);
  HMODULE touch = LoadLibraryW(u"touch.dll");
  ASSERT_NE(touch, nullptr);
  auto enable = Bind<EnableFn>(touch, u"TouchPanelEnable");
  ASSERT_NE(enable, nullptr);
  EXPECT_EQ(enable(IgnoreSample, 0), static_cast<UINT_PTR>(TRUE));
  EXPECT_EQ(InProcess("thread-start", "host"), 1u);
  EXPECT_EQ(enable(IgnoreSample, 0), static_cast<UINT_PTR>(TRUE));
  EXPECT_EQ(InProcess("thread-start", "host"), 1u) << "the same instance keeps its thread";

  // Two sample threads now wait for the one panel: each sample is taken exactly once.
  Play({{5, 0x3, 40, 40}, {5, 0xb, 44, 40}, {15, 0x9, 44, 40}});
  EXPECT_EQ(device->pending_samples(), 0u);
  std::vector<uint64_t> times;
  for (const auto& e : Log("panel")) times.push_back(e.time);
  EXPECT_EQ(times, (std::vector<uint64_t>{5, 5, 15})) << "each sample once, when it is due";

  // A device booted after this one loads fresh instances.
  for (int round = 0; round < 2; ++round) {
    vt::BootOptions o;
    o.install = false;
    Boot(o);
    EXPECT_EQ(InProcess("thread-start", "gwes.exe"), 1u) << "round " << round;
    Stroke(100, 100, 120, 100, 50);
    EXPECT_GT(device->received_samples().size(), 5u) << "round " << round;
  }
}

TEST_F(DeviceLoader, PowerStateAndScreenMetrics) {
  WCHAR name[32];
  DWORD flags = 0;
  EXPECT_EQ(GetSystemPowerState(name, 32, &flags), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(std::u16string(name), u"on");
  EXPECT_EQ(flags, POWER_STATE_ON);

  device->set_power_state(u"useridle", POWER_STATE_USERIDLE);
  EXPECT_EQ(GetSystemPowerState(name, 32, &flags), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(std::u16string(name), u"useridle");
  EXPECT_EQ(flags, POWER_STATE_USERIDLE);
  EXPECT_EQ(GetSystemPowerState(name, 5, nullptr), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(std::u16string(name), u"user") << "cut to the buffer";

  device->set_power_state(u"on", POWER_STATE_ON, ERROR_INVALID_PARAMETER);
  name[0] = 0xBEEF;
  flags = 0xdeadbeef;
  EXPECT_EQ(GetSystemPowerState(name, 32, &flags), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(name[0], 0xBEEF);
  EXPECT_EQ(flags, 0xdeadbeefu);
  auto states = Log("power-state");
  ASSERT_EQ(states.size(), 2u);
  EXPECT_EQ(states[1].num("error"), ERROR_INVALID_PARAMETER);

  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 480);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 640);
  EXPECT_EQ(GetSystemMetrics(SM_CXVSCROLL), 26) << "13 pixels at 96 dpi, scaled";
}

}  // namespace
