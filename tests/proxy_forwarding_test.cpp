// Pallux.dll's eighteen entry points, the stock driver each reaches, a stock driver that cannot be
// had, and the order of the start-up calls.
#include <tchddi.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "support/DeviceFixture.h"

namespace {

typedef UINT_PTR Word;

struct EntryPoint {
  const char* name;
  int words;   // argument words passed on
  bool value;  // hands back a result
};

// The seventeen entry points that always come from "touch.dll".
// clang-format off
const EntryPoint kTableEntries[] = {
    {"TouchCreateEvent", 2, false},          {"TouchGetFocusWnd", 2, true},
    {"TouchGetLastTouchFocusWnd", 2, true},  {"TouchGetQueuePtr", 2, true},
    {"TouchGetValue", 2, true},              {"TouchPanelCalibrateAPoint", 4, false},
    {"TouchPanelDisable", 2, false},         {"TouchPanelGetDeviceCaps", 2, true},
    {"TouchPanelPowerHandler", 2, false},    {"TouchPanelReadCalibrationAbort", 2, false},
    {"TouchPanelReadCalibrationPoint", 2, true}, {"TouchPanelSetCalibration", 5, true},
    {"TouchPanelSetMode", 2, true},          {"TouchRegisterWindow", 2, true},
    {"TouchReset", 2, false},                {"TouchSetValue", 2, false},
    {"TouchUnregisterWindow", 2, false}};
// clang-format on

// Bits in both halves and the top bit of the low half: narrowing, sign extension or swaps show.
Word ArgWord(size_t entry, int k) {
  return (Word{0x7F00} << 32) | 0xA5000000u | (entry << 8) | static_cast<Word>(k);
}

Word CallEntry(FARPROC address, const EntryPoint& e, const std::vector<Word>& a) {
  auto fn = reinterpret_cast<void (*)()>(address);
  if (e.words == 4) {
    reinterpret_cast<void (*)(Word, Word, Word, Word)>(fn)(a[0], a[1], a[2], a[3]);
    return 0;
  }
  if (e.words == 5) {
    return reinterpret_cast<Word (*)(Word, Word, Word, Word, Word)>(fn)(a[0], a[1], a[2], a[3],
                                                                        a[4]);
  }
  if (e.value) return reinterpret_cast<Word (*)(Word, Word)>(fn)(a[0], a[1]);
  reinterpret_cast<void (*)(Word, Word)>(fn)(a[0], a[1]);
  return 0;
}

std::vector<dev::ReceivedSample> g_replaced;  // samples the replacement callback received

BOOL ReplacementCallback(TOUCH_PANEL_SAMPLE_FLAGS flags, INT x, INT y) {
  g_replaced.push_back({0, flags, x, y});
  return TRUE;
}

class ProxyDriverTest : public vt::DeviceTest {
 protected:
  // One of Pallux's exports, resolved the way the window system binds it.
  template <class Fn>
  void WithExport(const char* name, Fn fn) {
    device->as_process("gwes.exe", [&] {
      HMODULE proxy = LoadLibraryW(u"Pallux.dll");
      ASSERT_NE(proxy, nullptr);
      FARPROC address = GetProcAddressW(proxy, dev::to_utf16(name).c_str());
      ASSERT_NE(address, nullptr) << name << " is not exported";
      fn(address);
      FreeLibrary(proxy);
    });
  }

  // Every table entry must reach `driver` once with the same words and hand back its result;
  // entries named in `absent` must do nothing and give 0.
  void ExpectTableForwardedTo(const std::string& driver,
                              const std::vector<std::string>& absent = {}) {
    for (size_t i = 0; i < std::size(kTableEntries); ++i) {
      const EntryPoint& e = kTableEntries[i];
      std::vector<Word> args;
      dev::Fields expected = dev::Fields::array();
      for (int k = 0; k < e.words; ++k) {
        args.push_back(ArgWord(i, k));
        expected.push_back(dev::hex(args.back()));
      }
      ClearLog();
      Word result = 0xDEADBEEF;
      WithExport(e.name, [&](FARPROC address) { result = CallEntry(address, e, args); });
      auto calls = Log("touch-call");
      if (std::find(absent.begin(), absent.end(), e.name) != absent.end()) {
        EXPECT_TRUE(calls.empty()) << e.name;
        EXPECT_EQ(result, 0u) << e.name;
        continue;
      }
      ASSERT_EQ(calls.size(), 1u) << e.name;
      EXPECT_EQ(calls[0].str("entry"), e.name);
      EXPECT_EQ(calls[0].str("driver"), driver) << e.name;
      EXPECT_EQ(calls[0].fields["args"], expected) << e.name;
      if (e.value) {
        EXPECT_EQ(dev::hex(result), calls[0].str("result")) << e.name;
      } else {
        EXPECT_FALSE(calls[0].fields.contains("result")) << e.name;
      }
    }
  }

  void BootWithStockName(const std::string& line) {
    vt::BootOptions options;
    options.reg =
        "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH]\n\"DriverName.bk\"=" + line + "\n";
    Boot(options);
  }

  // Drivers whose TouchPanelEnable was called.
  std::vector<std::string> EnableDrivers() const {
    std::vector<std::string> out;
    for (const auto& e : Log("touch-call", "entry", "TouchPanelEnable"))
      out.push_back(e.str("driver"));
    return out;
  }

  // The attach failed, and no registration outlives the unloaded module.
  void ExpectAttachFailedAndNoWatchLeft() {
    EXPECT_EQ(Log("module-attach-failed", "module", "Pallux.dll").size(), 1u);
    EXPECT_EQ(Log("touch-driver-failed", "name", "Pallux.dll").size(), 1u);
    EXPECT_TRUE(Log("touch-enabled").empty());
    EXPECT_TRUE(EnableDrivers().empty());
    device->reg_set_dword("HKEY_LOCAL_MACHINE\\System\\GDI\\Rotation", "Angle", 90);
    for (const char* value : {"Activate", "LongPressTime", "GRIDSIZE", "Amp", "ScrollLimit"}) {
      device->reg_set_dword("HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture", value, 7);
    }
    device->run_for(100);
    // The broker's engine in the device manager watches the same values; the proxy's are gone.
    for (const auto& e : Log("reg-notify")) EXPECT_NE(e.process, "gwes.exe") << e.text();
  }
};

TEST_F(ProxyDriverTest, EveryEntryForwardsItsWordsAndResultToTheStockDriverIfItHasOne) {
  Boot();
  ExpectTableForwardedTo("touch.dll");

  // A stock driver without TouchGetValue and TouchReset: 0 and nothing.
  vt::BootOptions options;
  options.files = {{"touch.dll", "touchbare.dll"}, {"Pallux.dll", "Pallux.dll"}};
  Boot(options);
  ASSERT_EQ(Log("touch-enabled").size(), 1u);
  ExpectTableForwardedTo("touchbare.dll", {"TouchGetValue", "TouchReset"});
}

TEST_F(ProxyDriverTest, StartsWithPermissionsKernelModeAndNoThreadCalls) {
  Boot();
  const auto& log = device->log().entries();
  auto load = [&](const std::string& module) {
    size_t i = 0;
    while (i < log.size() && !(log[i].kind == "module-load" && log[i].str("module") == module)) ++i;
    return i;
  };
  size_t proxy = load("Pallux.dll");
  ASSERT_LT(proxy + 3, load("touch.dll")) << "touch.dll must be loaded after the start-up calls";
  const std::pair<std::string, std::string> calls[] = {
      {"SetProcPermissions", "perms=0xffffffff"},
      {"SetKMode", "mode=1"},
      {"DisableThreadLibraryCalls", "module=" + log[proxy].str("handle")}};
  for (size_t i = 0; i < 3; ++i) {
    const dev::LogEntry& e = log[proxy + 1 + i];
    EXPECT_EQ(e.kind, "kernel");
    EXPECT_EQ(e.str("call"), calls[i].first);
    EXPECT_NE(e.text().find(calls[i].second), std::string::npos) << e.text();
  }
}

TEST_F(ProxyDriverTest, EnableHandsTheStockDriverTheProxyCallbackAndKeepsTheLatestCaller) {
  Boot();
  auto enabled = Log("touch-enabled");
  ASSERT_EQ(enabled.size(), 1u);
  EXPECT_EQ(enabled[0].str("name"), "Pallux.dll");
  EXPECT_EQ(enabled[0].num("result"), TRUE);

  // A second TouchPanelEnable replaces the window system's callback; the stock driver still
  // reports to the proxy and gets the second word unchanged.
  size_t before = device->received_samples().size();
  g_replaced.clear();
  ClearLog();
  const Word second = ArgWord(99, 1);
  Word result = 0;
  WithExport("TouchPanelEnable", [&](FARPROC address) {
    result = reinterpret_cast<Word (*)(PFN_TOUCH_PANEL_CALLBACK, Word)>(
        reinterpret_cast<void (*)()>(address))(ReplacementCallback, second);
  });
  auto calls = Log("touch-call", "entry", "TouchPanelEnable");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].str("driver"), "touch.dll");
  EXPECT_EQ(calls[0].str("callback"), "Pallux.dll");
  EXPECT_EQ(calls[0].fields["args"], dev::Fields::array({dev::hex(second)}));
  EXPECT_EQ(result, static_cast<Word>(calls[0].num("result")));
  Play({{device->now() + 10, 0x03, 401, 603}, {device->now() + 20, 0x09, 401, 603}});
  EXPECT_EQ(device->received_samples().size(), before);
  ASSERT_EQ(g_replaced.size(), 2u);
  EXPECT_TRUE(g_replaced[0].flags == 0x03u && g_replaced[0].x == 401 && g_replaced[0].y == 603);
  EXPECT_EQ(g_replaced[1].flags, 0x09u);
}

TEST_F(ProxyDriverTest, EnableComesFromTheLibraryThatDriverNameBkNames) {
  // Longer than the 260-character buffer: not read at all. Any part read would load another
  // library or none.
  std::string overlong;
  while (overlong.size() < 300) overlong += "\\\\Windows";
  // Naming the gesture driver itself (the two names swapped) would have its enable call itself.
  for (const std::string& line :
       {std::string("-"), std::string("\"\""), "\"" + overlong + "\\\\touchalt.dll\"",
        std::string("\"Pallux.dll\""), std::string("\"\\\\Windows\\\\PALLUX.DLL\"")}) {
    BootWithStockName(line);
    EXPECT_EQ(EnableDrivers(), std::vector<std::string>{"touch.dll"}) << line;
    EXPECT_EQ(Log("touch-enabled").size(), 1u) << line;
  }

  BootWithStockName("\"touchalt.dll\"");
  EXPECT_EQ(EnableDrivers(), std::vector<std::string>{"touchalt.dll"});
  ExpectTableForwardedTo("touch.dll");
  Stroke(10, 20, 30, 40, 100);
  EXPECT_GT(device->received_samples().size(), 0u);
}

TEST_F(ProxyDriverTest, AttachFailsWithoutAStockDriverAndLeavesNoWatchBehind) {
  vt::BootOptions options;
  options.files = {{"Pallux.dll", "Pallux.dll"}, {"touchalt.dll", "touchalt.dll"}};
  Boot(options);
  EXPECT_EQ(Log("module-missing", "module", "touch.dll").size(), 1u);
  ExpectAttachFailedAndNoWatchLeft();

  BootWithStockName("\"nowhere.dll\"");
  EXPECT_EQ(Log("module-missing", "module", "nowhere.dll").size(), 1u);
  EXPECT_EQ(Log("module-unload", "module", "touch.dll").size(), 1u) << "touch.dll must be freed";
  ExpectAttachFailedAndNoWatchLeft();

  // A library without TouchPanelEnable: the proxy settings were watched, and are closed.
  BootWithStockName("\"touchnoenable.dll\"");
  EXPECT_EQ(Log("module-unload", "module", "touchnoenable.dll").size(), 1u);
  ExpectAttachFailedAndNoWatchLeft();
}

}  // namespace
