// The device manager: stream drivers from HKEY_LOCAL_MACHINE\Drivers\BuiltIn, loaded at boot in
// device.exe before the window system starts, and their Deinit called from the host.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/DeviceFixture.h"

namespace {

// A driver entry of Drivers\BuiltIn as .reg text; empty fields are left out.
std::string BuiltIn(const std::string& key, const std::string& dll, const std::string& prefix,
                    const std::string& order, const std::string& index = "") {
  std::string reg = "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\" + key + "]\n";
  if (!dll.empty()) reg += "\"Dll\"=\"" + dll + "\"\n";
  if (!prefix.empty()) reg += "\"Prefix\"=\"" + prefix + "\"\n";
  if (!order.empty()) reg += "\"Order\"=dword:" + order + "\n";
  if (!index.empty()) reg += "\"Index\"=dword:" + index + "\n";
  return reg;
}

// teststream.dll answers to the prefixes TST (Init and Deinit), none (Init only) and FAIL (an
// Init that refuses); NONE names no entry point of it.
const std::string kDrivers =
    BuiltIn("Zeta", "teststream.dll", "TST", "5") +
    BuiltIn("Alpha", "teststream.dll", "TST", "5", "2") +
    BuiltIn("Bare", "TESTSTREAM.DLL", "", "1") + BuiltIn("Refuses", "teststream.dll", "FAIL", "2") +
    BuiltIn("NoEntry", "teststream.dll", "NONE", "3") + BuiltIn("Absent", "nothere.dll", "", "4") +
    BuiltIn("NoDll", "", "TST", "");

class DeviceManagerTest : public vt::DeviceTest {
 protected:
  void BootWith(const std::string& reg) {
    vt::BootOptions o;
    o.install = false;
    o.files.push_back({"teststream.dll", "teststream.dll"});
    o.reg = reg;
    Boot(o);
  }

  // Entries of the given kinds, in log order.
  std::vector<dev::LogEntry> Entries(const std::vector<std::string>& kinds) const {
    std::vector<dev::LogEntry> out;
    for (const auto& e : device->log().entries()) {
      if (std::find(kinds.begin(), kinds.end(), e.kind) != kinds.end()) out.push_back(e);
    }
    return out;
  }

  // "entry active-key bus-context -> result" of every call into teststream.dll.
  std::vector<std::string> StreamCalls() const {
    std::vector<std::string> out;
    for (const auto& e : Log("stream-call")) {
      std::string call = e.str("entry");
      for (const auto& arg : e.fields["args"]) call += " " + arg.get<std::string>();
      out.push_back(call + " -> " + e.str("result"));
    }
    return out;
  }
};

TEST_F(DeviceManagerTest, LoadsDriversByOrderThenKeyNameAndKeepsOnlyThoseInitAccepts) {
  BootWith(kDrivers);
  struct Expected {
    const char* kind;
    const char* key;
    const char* detail;  // the reason of a failure, the context of a load
  };
  const Expected expected[] = {
      {"driver-failed", "NoDll", "no Dll"},
      {"driver-loaded", "Bare", "0x5701"},
      {"driver-failed", "Refuses", "FAIL_Init returned 0"},
      {"driver-failed", "NoEntry", "no NONE_Init"},
      {"driver-failed", "Absent", "cannot load, error 126"},
      {"driver-loaded", "Alpha", "0x5702"},
      {"driver-loaded", "Zeta", "0x5703"},
  };
  auto got = Entries({"driver-loaded", "driver-failed"});
  ASSERT_EQ(got.size(), std::size(expected));
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(got[i].text());
    EXPECT_EQ(got[i].kind, expected[i].kind);
    EXPECT_EQ(got[i].str("key"), expected[i].key);
    EXPECT_EQ(got[i].str(got[i].kind == "driver-loaded" ? "context" : "reason"),
              expected[i].detail);
    EXPECT_EQ(got[i].process, "device.exe");
  }
  EXPECT_EQ(got[5].num("index"), 2);
  EXPECT_FALSE(got[6].fields.contains("index"));

  // Active keys are numbered in the order Init is called; the bus context is null.
  EXPECT_EQ(StreamCalls(), (std::vector<std::string>{
                               "Init Drivers\\Active\\01 0x0 -> 0x5701",
                               "FAIL_Init Drivers\\Active\\02 0x0 -> 0",
                               "TST_Init Drivers\\Active\\03 0x0 -> 0x5702",
                               "TST_Init Drivers\\Active\\04 0x0 -> 0x5703",
                           }));
  // One instance serves every entry: a refused or entry-less driver frees only its own load.
  EXPECT_EQ(Log("module-load", "module", "teststream.dll").size(), 1u);
  EXPECT_TRUE(Log("module-unload").empty());

  // The window system starts only once the device manager has loaded its drivers.
  auto starts = Entries({"process-start", "driver-loaded", "driver-failed"});
  EXPECT_EQ(starts.front().str("name"), "device.exe");
  EXPECT_EQ(starts.back().str("name"), "gwes.exe");
  EXPECT_EQ(Log("touch-enabled").size(), 1u);
}

TEST_F(DeviceManagerTest, ALibraryThatNoDriverKeepsIsUnloaded) {
  BootWith(BuiltIn("Refuses", "teststream.dll", "FAIL", ""));
  auto unloads = Log("module-unload", "module", "teststream.dll");
  ASSERT_EQ(unloads.size(), 1u);
  EXPECT_EQ(unloads[0].process, "device.exe");
  EXPECT_LT(Log("driver-failed").at(0).seq, unloads[0].seq);
}

TEST_F(DeviceManagerTest, DeinitReachesTheDriverOnceWithItsContext) {
  BootWith(kDrivers);
  ClearLog();
  EXPECT_TRUE(device->deinit_driver("tst"));
  EXPECT_EQ(StreamCalls(), std::vector<std::string>{"TST_Deinit 0x5702 -> 1"})
      << "the earliest loaded TST driver, Alpha";
  auto deinit = Log("driver-deinit");
  ASSERT_EQ(deinit.size(), 1u);
  EXPECT_EQ(deinit[0].process, "device.exe");
  EXPECT_EQ(deinit[0].str("key"), "Alpha");
  EXPECT_EQ(deinit[0].num("result"), 1);

  EXPECT_TRUE(device->deinit_driver("TST"));
  EXPECT_FALSE(device->deinit_driver("TST")) << "both TST drivers are gone";
  EXPECT_EQ(StreamCalls().size(), 2u);
  EXPECT_EQ(StreamCalls().back(), "TST_Deinit 0x5703 -> 1");

  // The driver without a prefix has no Deinit; a refused driver was never kept.
  EXPECT_FALSE(device->deinit_driver(""));
  EXPECT_EQ(Log("driver-deinit-failed", "reason", "no Deinit").size(), 1u);
  EXPECT_FALSE(device->deinit_driver("FAIL"));
  EXPECT_EQ(StreamCalls().size(), 2u);
  // Each driver's load of the library is freed with it, so it goes with the last of the three.
  auto unloads = Log("module-unload", "module", "teststream.dll");
  ASSERT_EQ(unloads.size(), 1u);
  EXPECT_GT(unloads[0].seq, Log("driver-deinit-failed").at(0).seq);
}

}  // namespace
