// Pallux.dll as the window system sees it: its eighteen entry points, the stock driver each one
// reaches, what happens when the stock driver cannot be had, and the order of its start-up calls.
#include <regext.h>
#include <tchddi.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "support/DeviceFixture.h"

namespace {

typedef UINT_PTR Word;

// An entry point of the stock driver: how many argument words the proxy passes on and whether it
// hands back a result.
struct EntryPoint {
  const char* name;
  int words;
  bool value;
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

const char kTouchKey[] = "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH]\n";

// Words with bits in both halves and in the top bit of the low half, so that a forwarder that
// narrows, sign-extends or swaps a word shows.
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

void IgnoreChange(HREGNOTIFY, DWORD, const PBYTE, const UINT) {}

class ProxyDriverTest : public vt::DeviceTest {
 protected:
  // The address of one of Pallux's exports, resolved the way the window system binds it.
  template <class Fn>
  void WithExport(const char* name, Fn fn) {
    device->as_process("gwes.exe", [&] {
      HMODULE proxy = LoadLibraryW(u"Pallux.dll");  // the handle of the loaded driver
      ASSERT_NE(proxy, nullptr);
      FARPROC address = GetProcAddressW(proxy, dev::to_utf16(name).c_str());
      ASSERT_NE(address, nullptr) << name << " is not exported";
      fn(address);
      FreeLibrary(proxy);
    });
  }

  // Calls every table entry through the proxy and checks that `driver` saw the same words and
  // that its result came back; entries named in `absent` must do nothing and give 0.
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
      bool missing = std::find(absent.begin(), absent.end(), e.name) != absent.end();
      if (missing) {
        EXPECT_TRUE(calls.empty()) << e.name;
        EXPECT_EQ(result, 0u) << e.name;
        continue;
      }
      ASSERT_EQ(calls.size(), 1u) << e.name << " should reach the stock driver exactly once";
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

  Word CallEnable(PFN_TOUCH_PANEL_CALLBACK callback, Word second) {
    Word result = 0;
    WithExport("TouchPanelEnable", [&](FARPROC address) {
      result = reinterpret_cast<Word (*)(PFN_TOUCH_PANEL_CALLBACK, Word)>(
          reinterpret_cast<void (*)()>(address))(callback, second);
    });
    return result;
  }

  // Boots with the given line for "DriverName.bk" (or none).
  void BootWithStockName(const std::string& line) {
    vt::BootOptions options;
    options.reg = std::string(kTouchKey) + line + "\n";
    Boot(options);
  }

  // Drivers whose TouchPanelEnable was called.
  std::vector<std::string> EnableDrivers() const {
    std::vector<std::string> out;
    for (const auto& e : Log("touch-call", "entry", "TouchPanelEnable"))
      out.push_back(e.str("driver"));
    return out;
  }

  void ExpectAttachFailed() {
    EXPECT_EQ(Log("module-attach-failed", "module", "Pallux.dll").size(), 1u);
    EXPECT_EQ(Log("touch-driver-failed", "name", "Pallux.dll").size(), 1u);
    EXPECT_TRUE(Log("touch-enabled").empty());
    EXPECT_TRUE(EnableDrivers().empty());
  }

  // Changes every value that the proxy and its engine watch; once the module is gone, none of
  // the changes may call into it.
  void ExpectWatchedChangesIgnored() {
    const std::string gesture = "HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture";
    device->reg_set_dword("HKEY_LOCAL_MACHINE\\System\\GDI\\Rotation", "Angle", 90);
    for (const char* value : {"Activate", "LongPressTime", "LongTappingMax", "ShortPressTime",
                              "ShortTappingMax", "GRIDSIZE", "Amp", "Sound", "ScrollLimit"}) {
      device->reg_set_dword(gesture, value, 7);
    }
    device->run_for(100);
    EXPECT_TRUE(Log("reg-notify").empty()) << "a registration outlived the unloaded module";
  }

  // The handle of a new registration: registrations are numbered in the order they are made.
  uintptr_t NextRegistration() {
    HREGNOTIFY notify = nullptr;
    EXPECT_EQ(RegistryNotifyCallback(HKEY_LOCAL_MACHINE, u"Software\\Probe", u"Probe", IgnoreChange,
                                     0, nullptr, &notify),
              S_OK);
    RegistryCloseNotification(notify);
    return reinterpret_cast<uintptr_t>(notify);
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
  size_t proxy = log.size(), stock = log.size();
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].kind != "module-load") continue;
    if (log[i].str("module") == "Pallux.dll" && proxy == log.size()) proxy = i;
    if (log[i].str("module") == "touch.dll" && stock == log.size()) stock = i;
  }
  ASSERT_LT(proxy + 3, stock) << "touch.dll must be loaded after the three start-up calls";
  const std::string handle = log[proxy].str("handle");
  const std::vector<std::pair<std::string, std::string>> calls = {
      {"SetProcPermissions", "perms=0xffffffff"},
      {"SetKMode", "mode=1"},
      {"DisableThreadLibraryCalls", "module=" + handle}};
  for (size_t i = 0; i < calls.size(); ++i) {
    const dev::LogEntry& e = log[proxy + 1 + i];
    EXPECT_EQ(e.kind, "kernel");
    EXPECT_EQ(e.str("call"), calls[i].first);
    EXPECT_NE(e.text().find(calls[i].second), std::string::npos) << e.text();
  }
}

TEST_F(ProxyDriverTest, EnableHandsTheStockDriverTheProxyCallbackAndKeepsTheLatestCaller) {
  Boot();
  auto calls = Log("touch-call", "entry", "TouchPanelEnable");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].str("callback"), "Pallux.dll");
  auto enabled = Log("touch-enabled");
  ASSERT_EQ(enabled.size(), 1u);
  EXPECT_EQ(enabled[0].str("name"), "Pallux.dll");
  EXPECT_EQ(enabled[0].num("result"), TRUE);

  Stroke(10, 20, 60, 120, 200);
  size_t before = device->received_samples().size();
  ASSERT_GT(before, 0u);
  EXPECT_EQ(before, Log("panel").size());

  // A second TouchPanelEnable replaces the window system's callback; the stock driver still
  // reports to the proxy and gets the second word unchanged.
  g_replaced.clear();
  ClearLog();
  const Word second = ArgWord(99, 1);
  Word result = CallEnable(ReplacementCallback, second);
  calls = Log("touch-call", "entry", "TouchPanelEnable");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].str("driver"), "touch.dll");
  EXPECT_EQ(calls[0].str("callback"), "Pallux.dll");
  EXPECT_EQ(calls[0].fields["args"], dev::Fields::array({dev::hex(second)}));
  EXPECT_EQ(result, static_cast<Word>(calls[0].num("result")));
  Play({{device->now() + 10, 0x03, 401, 603}, {device->now() + 20, 0x09, 401, 603}});
  EXPECT_EQ(device->received_samples().size(), before);
  ASSERT_EQ(g_replaced.size(), 2u);
  EXPECT_EQ(g_replaced[0].flags, 0x03u);
  EXPECT_EQ(g_replaced[0].x, 401);
  EXPECT_EQ(g_replaced[1].flags, 0x09u);
}

TEST_F(ProxyDriverTest, EnableComesFromTheLibraryThatDriverNameBkNames) {
  BootWithStockName("\"DriverName.bk\"=-");
  EXPECT_EQ(EnableDrivers(), std::vector<std::string>{"touch.dll"}) << "value absent";

  BootWithStockName("\"DriverName.bk\"=\"\"");
  EXPECT_EQ(EnableDrivers(), std::vector<std::string>{"touch.dll"}) << "empty value";

  // Longer than the 260-character buffer: not read at all, so the stock name stands. Had any
  // part of it been read, another library (or none) would have been loaded.
  std::string path;
  while (path.size() < 270) path += "\\Windows";
  path += "\\touchalt.dll";
  std::string escaped;
  for (char c : path) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  BootWithStockName("\"DriverName.bk\"=\"" + escaped + "\"");
  EXPECT_EQ(EnableDrivers(), std::vector<std::string>{"touch.dll"}) << "overlong value";
  EXPECT_EQ(Log("touch-enabled").size(), 1u);

  BootWithStockName("\"DriverName.bk\"=\"touchalt.dll\"");
  EXPECT_EQ(EnableDrivers(), std::vector<std::string>{"touchalt.dll"});
  ExpectTableForwardedTo("touch.dll");
  Stroke(10, 20, 30, 40, 100);
  EXPECT_EQ(device->received_samples().size(), Log("panel").size());
  EXPECT_GT(Log("panel").size(), 0u);
}

TEST_F(ProxyDriverTest, AttachFailsWithoutAStockDriverAndLeavesNoWatchBehind) {
  vt::BootOptions options;
  options.files = {{"Pallux.dll", "Pallux.dll"}, {"touchalt.dll", "touchalt.dll"}};
  Boot(options);
  EXPECT_EQ(Log("module-missing", "module", "touch.dll").size(), 1u);
  ExpectAttachFailed();
  ExpectWatchedChangesIgnored();

  BootWithStockName("\"DriverName.bk\"=\"nowhere.dll\"");
  EXPECT_EQ(Log("module-missing", "module", "nowhere.dll").size(), 1u);
  ExpectAttachFailed();
  EXPECT_EQ(Log("module-unload", "module", "touch.dll").size(), 1u) << "touch.dll must be freed";
  uintptr_t withoutSettings = NextRegistration();
  ExpectWatchedChangesIgnored();

  // A library without TouchPanelEnable still gets the proxy settings loaded and watched: six
  // more registrations than when the library is missing, all closed with the module.
  BootWithStockName("\"DriverName.bk\"=\"touchnoenable.dll\"");
  ExpectAttachFailed();
  EXPECT_EQ(Log("module-unload", "module", "touchnoenable.dll").size(), 1u);
  EXPECT_EQ(NextRegistration() - withoutSettings, 6u * 4u);
  ExpectWatchedChangesIgnored();
}

}  // namespace
