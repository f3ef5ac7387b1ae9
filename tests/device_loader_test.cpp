// The device loader: libraries from \Windows, one instance per process, debug zones from the
// registry; and the screen metrics and stock objects.
#include <windows.h>
#include <tchddi.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "support/DeviceFixture.h"

namespace {

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

  size_t InProcess(const std::string& kind, const std::string& process) const {
    size_t n = 0;
    for (const auto& e : Log(kind)) n += e.process == process;
    return n;
  }
};

TEST_F(DeviceLoader, LibrariesLoadByFileNameAndCountTheirLoads) {
  HMODULE a = LoadLibraryW(u"TOUCH.DLL");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(LoadLibraryW(u"\\Windows\\Touch.dll"), a) << "one instance per process";
  auto loads = Log("module-load", "module", "touch.dll");
  ASSERT_EQ(loads.size(), 2u);
  EXPECT_TRUE(loads[0].process == "gwes.exe" && loads[1].process == "host");
  EXPECT_NE(loads[0].str("handle"), loads[1].str("handle"));
  WCHAR path[64];
  EXPECT_GT(GetModuleFileNameW(a, path, 64), 0u);
  EXPECT_EQ(std::u16string(path), u"\\Windows\\touch.dll");
  SetLastError(0);
  EXPECT_EQ(GetProcAddressW(a, u"TouchNoSuchEntry"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

  for (int load = 2; load > 0; --load) {
    EXPECT_NE(GetProcAddressW(a, u"TouchReset"), nullptr) << "still loaded " << load;
    EXPECT_EQ(InProcess("module-unload", "host"), 0u);
    EXPECT_TRUE(FreeLibrary(a));
  }
  EXPECT_EQ(InProcess("module-unload", "host"), 1u);
  EXPECT_EQ(GetProcAddressW(a, u"TouchReset"), nullptr);
  EXPECT_FALSE(FreeLibrary(a));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(Log("bad-handle", "call", "FreeLibrary").size(), 1u);
  EXPECT_EQ(Log("bad-handle", "call", "GetProcAddressW").size(), 1u);
  EXPECT_EQ(LoadLibraryW(u"\\Windows\\nothere.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(Log("module-missing", "module", "nothere.dll").size(), 1u);

  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 480);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 640);
  EXPECT_EQ(GetSystemMetrics(SM_CXVSCROLL), 26) << "13 pixels at 96 dpi, scaled";
}

TEST_F(DeviceLoader, EachProcessHasItsOwnModuleState) {
  // The window system's touch.dll started its sample thread when it was enabled at boot; the
  // library's instance in another process starts its own, once.
  ASSERT_EQ(InProcess("thread-start", "gwes.exe"), 1u);
  HMODULE touch = LoadLibraryW(u"touch.dll");
  auto enable = reinterpret_cast<UINT_PTR (*)(PFN_TOUCH_PANEL_CALLBACK, UINT_PTR)>(
      reinterpret_cast<void (*)()>(GetProcAddressW(touch, u"TouchPanelEnable")));
  ASSERT_NE(enable, nullptr);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(enable(IgnoreSample, 0), static_cast<UINT_PTR>(TRUE));
  EXPECT_EQ(InProcess("thread-start", "host"), 1u);

  // Two sample threads now wait for the one panel: each sample is taken exactly once, when due.
  Play({{5, 0x3, 40, 40}, {5, 0xb, 44, 40}, {15, 0x9, 44, 40}});
  EXPECT_EQ(device->pending_samples(), 0u);
  std::vector<uint64_t> times;
  for (const auto& e : Log("panel")) times.push_back(e.time);
  EXPECT_EQ(times, (std::vector<uint64_t>{5, 5, 15}));
}

// The libraries of \Windows name their debug information in \Windows\.debug. Copies made in
// memory need no folder at all; copies made as files (VEXORI_DEVICE_FILES) go to the device's
// folder, which links that .debug folder, and ending the device removes the link, never what it
// points at.
TEST_F(DeviceLoader, DeviceFoldersOnlyForFileCopiesAndTheyLinkTheDebugInformation) {
  namespace fs = std::filesystem;
  Shutdown();
  fs::path scratch = fs::temp_directory_path() / ("vexori-debuglink-" + std::to_string(getpid()));
  fs::remove_all(scratch);
  fs::create_directories(scratch / "tmp");
  fs::create_directories(scratch / "Windows" / ".debug");
  std::ofstream(scratch / "Windows" / ".debug" / "touch.dll") << "debug information";
  const char* old = getenv("TMPDIR");
  std::string kept = old != nullptr ? old : "";
  setenv("TMPDIR", (scratch / "tmp").c_str(), 1);
  auto folders = [&] {
    std::vector<fs::path> found;
    for (const auto& e : fs::directory_iterator(scratch / "tmp")) found.push_back(e.path());
    return found;
  };
  dev::DeviceConfig config;
  config.windows_dir = (scratch / "Windows").string();
  if (dev::module_copies_in_memory()) {
    dev::Device device(config);
    EXPECT_TRUE(folders().empty()) << "copies in memory need no folder";
  }
  setenv("VEXORI_DEVICE_FILES", "1", 1);
  EXPECT_FALSE(dev::module_copies_in_memory());
  {
    dev::Device device(config);
    auto made = folders();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_TRUE(fs::is_symlink(made[0] / ".debug"));
    EXPECT_EQ(fs::read_symlink(made[0] / ".debug"), scratch / "Windows" / ".debug");
  }
  {
    dev::DeviceConfig bare;
    bare.windows_dir = (scratch / "Windows" / ".debug").string();  // no .debug of its own
    dev::Device device(bare);
    auto made = folders();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_FALSE(fs::exists(fs::symlink_status(made[0] / ".debug")));
  }
  unsetenv("VEXORI_DEVICE_FILES");
  if (old != nullptr) {
    setenv("TMPDIR", kept.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  EXPECT_TRUE(folders().empty()) << "each device's folder goes with it";
  EXPECT_TRUE(fs::exists(scratch / "Windows" / ".debug" / "touch.dll"));
  fs::remove_all(scratch);
}

// With copies made as files, each process still gets its own instance of a library.
TEST_F(DeviceLoader, FileCopiesGiveEachProcessItsOwnInstanceToo) {
  setenv("VEXORI_DEVICE_FILES", "1", 1);
  vt::BootOptions o;
  o.install = false;
  Boot(o);
  unsetenv("VEXORI_DEVICE_FILES");
  ASSERT_EQ(InProcess("thread-start", "gwes.exe"), 1u);
  HMODULE touch = LoadLibraryW(u"touch.dll");
  ASSERT_NE(touch, nullptr);
  auto enable = reinterpret_cast<UINT_PTR (*)(PFN_TOUCH_PANEL_CALLBACK, UINT_PTR)>(
      reinterpret_cast<void (*)()>(GetProcAddressW(touch, u"TouchPanelEnable")));
  ASSERT_NE(enable, nullptr);
  EXPECT_EQ(enable(IgnoreSample, 0), static_cast<UINT_PTR>(TRUE));
  EXPECT_EQ(InProcess("thread-start", "host"), 1u) << "the host's instance starts its own thread";
}

// Stock objects: a fixed handle per object, none for an index with no object.
TEST_F(DeviceLoader, StockObjectsHaveFixedHandles) {
  const int stock[] = {WHITE_BRUSH, LTGRAY_BRUSH, GRAY_BRUSH, DKGRAY_BRUSH, BLACK_BRUSH,
                       NULL_BRUSH,  WHITE_PEN,    BLACK_PEN,  NULL_PEN,     SYSTEM_FONT};
  std::set<HGDIOBJ> seen;
  for (int index : stock) {
    HGDIOBJ object = GetStockObject(index);
    EXPECT_NE(object, nullptr) << index;
    EXPECT_EQ(GetStockObject(index), object) << index;
    seen.insert(object);
  }
  EXPECT_EQ(seen.size(), std::size(stock));
  for (int index : {-1, 9, 12, 14, 1000}) EXPECT_EQ(GetStockObject(index), nullptr) << index;
}

// Debug zones from HKEY_LOCAL_MACHINE\DebugZones, value named as the module's table.
class DeviceZones : public vt::DeviceTest {
 protected:
  void BootWith(const std::string& reg) {
    vt::BootOptions o;
    o.install = false;
    o.window_system = false;
    o.files.push_back({"teststream.dll", "teststream.dll"});
    o.reg = "[HKEY_LOCAL_MACHINE\\DebugZones]\n" + reg;
    Boot(o);
  }
};

TEST_F(DeviceZones, TheRegistryTurnsOnAModulesZonesBeforeItsDllMain) {
  struct Case {
    const char* reg;
    const char* mask;   // the table's mask as logged, "" when the registry leaves it alone
    const char* debug;  // what DllMain prints under its Init zone, "" when the zone stays off
  };
  const Case cases[] = {
      {"", "", ""},
      {"\"TestStream\"=dword:00008001\n", "0x8001", "teststream: attach, zones 8001"},
      {"\"TestStream\"=dword:00000000\n", "0x0", ""},
      {"\"TestStream\"=\"1\"\n", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reg);
    BootWith(c.reg);
    ASSERT_NE(LoadLibraryW(u"teststream.dll"), nullptr);
    auto zones = Log("debug-zones");
    auto debug = Log("debug");
    ASSERT_EQ(zones.size(), c.mask[0] ? 1u : 0u);
    ASSERT_EQ(debug.size(), c.debug[0] ? 1u : 0u);
    if (!zones.empty()) {
      EXPECT_EQ(zones[0].str("module"), "teststream.dll");
      EXPECT_EQ(zones[0].str("name"), "TestStream");
      EXPECT_EQ(zones[0].str("mask"), c.mask);
    }
    if (!debug.empty()) {
      EXPECT_EQ(debug[0].str("text"), c.debug);
    }
  }
}

// A table registered at run time gets its zones from the registry too.
TEST_F(DeviceZones, RegisteredTablesTakeTheirZonesFromTheRegistry) {
  BootWith("\"Local\"=dword:00000006\n");
  DBGPARAM local = {u"Local", {}, 0x1};
  DBGPARAM other = {u"Other", {}, 0x1};
  EXPECT_TRUE(RegisterDbgZones(nullptr, &local) && RegisterDbgZones(nullptr, &other));
  EXPECT_EQ(local.ulZoneMask, 6u);
  EXPECT_EQ(other.ulZoneMask, 1u);
  EXPECT_EQ(Log("debug-zones", "name", "Local").at(0).str("mask"), "0x6");
}

}  // namespace
