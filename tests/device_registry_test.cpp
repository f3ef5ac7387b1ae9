// The device registry: Reg* calls, the shell's Registry* helpers, change notifications and .reg
// files.
#include <windows.h>
#include <regext.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "support/DeviceFixture.h"

namespace {

const WCHAR kSentinel = 0xBEEF;  // fills output buffers, to prove what was (not) written

class DeviceRegistry : public vt::DeviceTest {
 protected:
  void SetUp() override {
    vt::BootOptions o;
    o.install = false;
    Boot(o);
  }

  std::string WriteFile(const std::string& name, const std::string& text) {
    auto path = std::filesystem::path(windows_dir).parent_path() / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
};

TEST_F(DeviceRegistry, NamesIgnoreCaseAndQueriesReportSizes) {
  HKEY k = nullptr, k2 = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Quob\\Test", 0, nullptr, 0, 0, nullptr,
                            &k, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  const WCHAR name[] = u"Pallux";
  EXPECT_EQ(RegSetValueExW(k, u"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof name),
            ERROR_SUCCESS);
  EXPECT_EQ(Log("reg-write").at(0).str("key"), "HKEY_LOCAL_MACHINE\\Software\\Quob\\Test");

  // The query tells the size it needs; a short buffer gets ERROR_MORE_DATA and the size.
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\quob\\TEST", 0, 0, &k2), ERROR_SUCCESS);
  WCHAR buf[16];
  DWORD type = 0, size = 4;
  auto query = [&](const WCHAR* value) {
    return RegQueryValueExW(k2, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  };
  EXPECT_EQ(query(u"NAME"), ERROR_MORE_DATA);
  EXPECT_TRUE(size == sizeof name && type == REG_SZ);
  EXPECT_EQ(query(u"name"), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(buf), u"Pallux");
  EXPECT_EQ(RegDeleteValueW(k, u"NaMe"), ERROR_SUCCESS);
  EXPECT_EQ(query(u"Name"), ERROR_FILE_NOT_FOUND);
  HKEY missing = reinterpret_cast<HKEY>(0x5a5a);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Quob\\Nope", 0, 0, &missing),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, reinterpret_cast<HKEY>(0x5a5a));

  EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(k2), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(k2), ERROR_INVALID_HANDLE);
  EXPECT_EQ(query(u"Name"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(Log("bad-handle").size(), 2u);
}

// A string is read whole, terminator included, or not at all.
TEST_F(DeviceRegistry, ShellHelpersReadWholeStringsOrNothing) {
  const WCHAR* key = u"Software\\Quob\\Helpers";
  EXPECT_EQ(RegistrySetString(HKEY_CURRENT_USER, key, u"Driver", u"Pallux.dll"), S_OK);
  WCHAR buf[16];
  std::fill(std::begin(buf), std::end(buf), kSentinel);
  EXPECT_TRUE(FAILED(RegistryGetString(HKEY_CURRENT_USER, key, u"Driver", buf, 10)));
  EXPECT_TRUE(std::all_of(std::begin(buf), std::end(buf), [](WCHAR c) { return c == kSentinel; }));
  EXPECT_EQ(RegistryGetString(HKEY_CURRENT_USER, u"SOFTWARE\\quob\\helpers", u"DRIVER", buf, 11),
            S_OK);
  EXPECT_TRUE(std::u16string(buf) == u"Pallux.dll" && buf[11] == kSentinel);
}

// Each callback as "handle user:value/size@process id" or "handle user:deleted@process id".
std::vector<std::string> g_calls;

void OnChange(HREGNOTIFY h, DWORD user, const PBYTE data, const UINT size) {
  std::string what = "deleted";
  if (data != nullptr) {
    DWORD v = 0;
    std::memcpy(&v, data, std::min<UINT>(size, 4));
    what = std::to_string(v) + "/" + std::to_string(size);
  }
  g_calls.push_back(dev::hex(reinterpret_cast<uintptr_t>(h)) + " " + std::to_string(user) + ":" +
                    what + "@" + std::to_string(GetCurrentProcessId()));
}

// The callbacks since the last call, sorted (two processes' threads deliver in either order).
std::string TakeCalls() {
  std::sort(g_calls.begin(), g_calls.end());
  std::string out;
  for (const auto& c : g_calls) out += c + " ";
  g_calls.clear();
  return out;
}

TEST_F(DeviceRegistry, NotificationsReachTheRegisteringProcessOnRealChanges) {
  g_calls.clear();
  const char* later = "HKLM\\Software\\Quob\\Later";
  HREGNOTIFY in_gwes = nullptr, in_host = nullptr;
  std::string gwes, host = std::to_string(GetCurrentProcessId());
  device->as_process("gwes.exe", [&] {
    gwes = std::to_string(GetCurrentProcessId());
    // The key does not exist yet.
    EXPECT_EQ(RegistryNotifyCallback(HKEY_LOCAL_MACHINE, u"Software\\Quob\\Later", u"Level",
                                     OnChange, 42, nullptr, &in_gwes),
              S_OK);
  });
  std::string g = dev::hex(reinterpret_cast<uintptr_t>(in_gwes)) + " 42:";
  device->reg_set_dword("HKLM\\SOFTWARE\\quob\\later", "LEVEL", 3);
  device->settle();
  EXPECT_EQ(TakeCalls(), g + "3/4@" + gwes + " ");
  auto notes = Log("reg-notify");
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_TRUE(notes[0].process == "gwes.exe" && notes[0].thread == "regnotify");

  device->reg_set_dword(later, "Level", 3);
  EXPECT_EQ(RegistrySetDWORD(HKEY_LOCAL_MACHINE, u"Software\\Quob\\Later", u"Level", 3), S_OK);
  device->reg_set_dword(later, "Other", 3);
  device->settle();
  EXPECT_EQ(TakeCalls(), "") << "no change, no notification";

  // A second request, from the host process; each process hears on a thread of its own.
  ASSERT_EQ(RegistryNotifyCallback(HKEY_LOCAL_MACHINE, u"software\\quob\\later", u"level", OnChange,
                                   7, nullptr, &in_host),
            S_OK);
  std::string h = dev::hex(reinterpret_cast<uintptr_t>(in_host)) + " 7:";
  device->reg_set_dword(later, "Level", 4);
  device->reg_delete_value(later, "Level");
  device->settle();
  EXPECT_EQ(TakeCalls(), g + "4/4@" + gwes + " " + g + "deleted@" + gwes + " " + h + "4/4@" + host +
                             " " + h + "deleted@" + host + " ");
  EXPECT_EQ(Log("reg-notify", "user", "7")[0].process, "host");

  // A change made before the close is not delivered after it.
  device->reg_set_dword(later, "Level", 5);
  EXPECT_EQ(RegistryCloseNotification(in_gwes), S_OK);
  device->settle();
  EXPECT_EQ(TakeCalls(), h + "5/4@" + host + " ");
  EXPECT_EQ(RegistryCloseNotification(in_host), S_OK);
  device->reg_set_dword(later, "Level", 6);
  device->settle();
  EXPECT_EQ(TakeCalls(), "");
  EXPECT_EQ(RegistryCloseNotification(in_host), E_INVALIDARG);
  EXPECT_EQ(RegistryCloseNotification(reinterpret_cast<HREGNOTIFY>(0x1234)), E_INVALIDARG);
  EXPECT_EQ(Log("bad-handle", "call", "RegistryCloseNotification").size(), 2u);
}

TEST_F(DeviceRegistry, RegFilesWithCommentsEscapesAndDeletions) {
  device->load_reg_file(
      WriteFile("good.reg",
                "\xEF\xBB\xBFREGEDIT4\r\n; a comment\r\n\r\n"
                "[HKEY_LOCAL_MACHINE\\Software\\Quob\\RegTest]\r\n"
                "\"Text\"=\"say \\\"hi\\\"\\\\now\"\r\n"
                "  \"Count\" = dword:0000002A\r\n"
                "@=\"default\"\r\n\"Gone\"=\"soon\"\r\n"
                "[hkcu\\Software\\Quob]\r\n\"Short\"=dword:ff\r\n"
                "[HKEY_LOCAL_MACHINE\\Software\\Quob\\RegTest]\r\n\"Gone\"=-\r\n"));
  auto text = [](const WCHAR* value) {
    WCHAR buf[32] = {};
    RegistryGetString(HKEY_LOCAL_MACHINE, u"Software\\Quob\\RegTest", value, buf, 32);
    return std::u16string(buf);
  };
  EXPECT_EQ(text(u"Text"), u"say \"hi\"\\now");
  EXPECT_EQ(text(u""), u"default");
  EXPECT_EQ(text(u"Gone"), u"");
  uint32_t count = 0, small = 0;
  EXPECT_TRUE(device->reg_get_dword("HKLM\\Software\\Quob\\RegTest", "Count", &count));
  EXPECT_TRUE(device->reg_get_dword("HKCU\\Software\\Quob", "Short", &small));
  EXPECT_TRUE(count == 42 && small == 255);
  ASSERT_EQ(Log("reg-load").size(), 2u);  // the factory registry at boot, then this file
  EXPECT_EQ(Log("reg-load")[1].str("file"), "good.reg");
}

TEST_F(DeviceRegistry, BadRegFilesNameFileAndLineAndApplyNothing) {
  const std::string head =
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Quob\\Bad]\n\"Applied\"=dword:1\n";
  const struct {
    std::string text;
    int line;
    std::string reason;
  } cases[] = {
      {head + "[HKEY_NOWHERE\\Software]\n", 4, "unknown registry root"},
      {head + "[HKEY_LOCAL_MACHINE\\Software\n", 4, "']'"},
      {head + "\"A\"=dword:12g4\n", 4, "hexadecimal digits"},
      {head + "\"A\"=dword:123456789\n", 4, "hexadecimal digits"},
      {head + "\"A\"=\"open\n", 4, "unterminated"},
      {head + "\"A\"=hex:01,02\n", 4, "unsupported"},
      {head + "\"A\"=\"bad \\q escape\"\n", 4, "unterminated"},
      {"REGEDIT4\n; nothing yet\n\"A\"=dword:1\n[HKLM\\Software]\n", 3, "before any [key]"}};
  size_t loads = Log("reg-load").size();
  int n = 0;
  for (const auto& c : cases) {
    std::string path = WriteFile("bad" + std::to_string(++n) + ".reg", c.text);
    try {
      device->load_reg_file(path);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const dev::InputError& e) {
      EXPECT_TRUE(e.file == path && e.line == c.line) << e.what();
      EXPECT_NE(e.reason.find(c.reason), std::string::npos) << e.what();
      EXPECT_EQ(std::string(e.what()).find(path + ":" + std::to_string(c.line) + ": "), 0u);
    }
    uint32_t d = 0;
    EXPECT_FALSE(device->reg_get_dword("HKLM\\Software\\Quob\\Bad", "Applied", &d))
        << "case " << n << " applied part of a bad file";
  }
  EXPECT_EQ(Log("reg-load").size(), loads);
  EXPECT_THROW(device->load_reg_file(WriteFile("x", "") + ".missing"), dev::InputError);
}

TEST_F(DeviceRegistry, RegFileRewrittenBetweenLoadsGivesItsNewValues) {
  // A file's lines are kept after its first load; a file rewritten since (even to the same size
  // within one tick of the file system's clock) must give what it holds now.
  const std::string key = "HKLM\\Software\\Quob\\Kept";
  auto file = [&](char digit) {
    return WriteFile("kept.reg",
                     std::string("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Quob\\Kept]\n"
                                 "\"N\"=dword:") +
                         digit + "\n");
  };
  uint32_t n = 0;
  for (char digit : {'1', '2', '2', '3'}) {
    device->load_reg_file(file(digit));
    ASSERT_TRUE(device->reg_get_dword(key, "N", &n));
    EXPECT_EQ(n, static_cast<uint32_t>(digit - '0'));
  }
  // A file that became bad is refused, not taken from what was kept.
  EXPECT_THROW(device->load_reg_file(file('x')), dev::InputError);
  EXPECT_THROW(device->load_reg_file(WriteFile("kept.reg", "REGEDIT4\n\"N\"=dword:4\n")),
               dev::InputError);
}

}  // namespace
