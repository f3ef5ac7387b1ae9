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
  ASSERT_EQ(Log("reg-write").size(), 1u);
  EXPECT_EQ(Log("reg-write")[0].str("key"), "HKEY_LOCAL_MACHINE\\Software\\Quob\\Test");
  EXPECT_EQ(Log("reg-write")[0].str("data"), "Pallux");

  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\quob\\TEST", 0, 0, &k2), ERROR_SUCCESS);
  // The query tells the size it needs; a short buffer gets ERROR_MORE_DATA and the size.
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(k2, u"NAME", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, sizeof name);
  WCHAR buf[16];
  size = 4;
  auto query = [&](HKEY key, const WCHAR* value) {
    return RegQueryValueExW(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
  };
  EXPECT_EQ(query(k2, u"name"), ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof name);
  EXPECT_EQ(query(k2, u"name"), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(buf), u"Pallux");
  EXPECT_EQ(query(k2, u"Nothing"), ERROR_FILE_NOT_FOUND);

  HKEY missing = reinterpret_cast<HKEY>(0x5a5a);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Quob\\Nope", 0, 0, &missing),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, reinterpret_cast<HKEY>(0x5a5a));

  EXPECT_EQ(RegDeleteValueW(k, u"NaMe"), ERROR_SUCCESS);
  EXPECT_EQ(query(k2, u"Name"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(k2), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(k2), ERROR_INVALID_HANDLE);
  EXPECT_EQ(query(k2, u"Name"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(Log("bad-handle", "call", "RegCloseKey").size(), 1u);
  EXPECT_EQ(Log("bad-handle", "call", "RegQueryValueExW").size(), 1u);
}

TEST_F(DeviceRegistry, ShellHelpersReadWholeValuesOrNothing) {
  const WCHAR* key = u"Software\\Quob\\Helpers";
  EXPECT_EQ(RegistrySetDWORD(HKEY_CURRENT_USER, key, u"Level", 7), S_OK);
  EXPECT_EQ(RegistrySetString(HKEY_CURRENT_USER, key, u"Driver", u"Pallux.dll"), S_OK);
  device->reg_set_string("HKCU\\Software\\Quob\\Helpers", "Empty", "");

  DWORD d = 0xdeadbeef;
  EXPECT_EQ(RegistryGetDWORD(HKEY_CURRENT_USER, u"SOFTWARE\\QUOB\\HELPERS", u"level", &d), S_OK);
  EXPECT_EQ(d, 7u);
  d = 0xdeadbeef;
  EXPECT_TRUE(FAILED(RegistryGetDWORD(HKEY_CURRENT_USER, key, u"Missing", &d)));
  EXPECT_TRUE(FAILED(RegistryGetDWORD(HKEY_CURRENT_USER, u"Software\\None", u"Level", &d)));
  EXPECT_TRUE(FAILED(RegistryGetDWORD(HKEY_CURRENT_USER, key, u"Driver", &d))) << "not a DWORD";
  EXPECT_EQ(d, 0xdeadbeefu);

  WCHAR buf[16];
  std::fill(std::begin(buf), std::end(buf), kSentinel);
  // "Pallux.dll" needs 11 characters with its terminator.
  EXPECT_TRUE(FAILED(RegistryGetString(HKEY_CURRENT_USER, key, u"Driver", buf, 10)));
  EXPECT_TRUE(std::all_of(std::begin(buf), std::end(buf), [](WCHAR c) { return c == kSentinel; }))
      << "a failed read leaves the buffer untouched";
  EXPECT_TRUE(FAILED(RegistryGetString(HKEY_CURRENT_USER, key, u"Level", buf, 16)));
  EXPECT_EQ(buf[0], kSentinel);
  EXPECT_EQ(RegistryGetString(HKEY_CURRENT_USER, key, u"Driver", buf, 11), S_OK);
  EXPECT_EQ(std::u16string(buf), u"Pallux.dll");
  EXPECT_EQ(buf[11], kSentinel);
  EXPECT_EQ(RegistryGetString(HKEY_CURRENT_USER, key, u"Empty", buf, 1), S_OK);
  EXPECT_EQ(buf[0], 0);
  uint32_t got = 0;
  EXPECT_TRUE(device->reg_get_dword("HKEY_CURRENT_USER\\software\\quob\\helpers", "LEVEL", &got));
  EXPECT_EQ(got, 7u);
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
  device->settle();
  EXPECT_EQ(TakeCalls(), "");
  device->reg_set_dword("HKLM\\SOFTWARE\\quob\\later", "LEVEL", 3);
  device->settle();
  EXPECT_EQ(TakeCalls(), g + "3/4@" + gwes + " ");
  auto notes = Log("reg-notify");
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].process, "gwes.exe");
  EXPECT_EQ(notes[0].thread, "regnotify");

  device->reg_set_dword("HKLM\\Software\\Quob\\Later", "Level", 3);
  EXPECT_EQ(RegistrySetDWORD(HKEY_LOCAL_MACHINE, u"Software\\Quob\\Later", u"Level", 3), S_OK);
  device->reg_set_dword("HKLM\\Software\\Quob\\Later", "Other", 3);
  device->settle();
  EXPECT_EQ(TakeCalls(), "") << "no change, no notification";

  // A second request, from the host process; each process hears on a thread of its own.
  ASSERT_EQ(RegistryNotifyCallback(HKEY_LOCAL_MACHINE, u"software\\quob\\later", u"level", OnChange,
                                   7, nullptr, &in_host),
            S_OK);
  std::string h = dev::hex(reinterpret_cast<uintptr_t>(in_host)) + " 7:";
  EXPECT_EQ(RegistrySetDWORD(HKEY_LOCAL_MACHINE, u"Software\\Quob\\Later", u"Level", 4), S_OK);
  device->reg_delete_value("HKLM\\Software\\Quob\\Later", "Level");
  device->settle();
  EXPECT_EQ(TakeCalls(), g + "4/4@" + gwes + " " + g + "deleted@" + gwes + " " + h + "4/4@" + host +
                             " " + h + "deleted@" + host + " ");
  EXPECT_EQ(Log("reg-notify", "user", "7")[0].process, "host");

  // A change made before the close is not delivered after it.
  device->reg_set_dword("HKLM\\Software\\Quob\\Later", "Level", 5);
  EXPECT_EQ(RegistryCloseNotification(in_gwes), S_OK);
  device->settle();
  EXPECT_EQ(TakeCalls(), h + "5/4@" + host + " ");
  EXPECT_EQ(RegistryCloseNotification(in_host), S_OK);
  device->reg_set_dword("HKLM\\Software\\Quob\\Later", "Level", 6);
  device->settle();
  EXPECT_EQ(TakeCalls(), "");

  EXPECT_EQ(RegistryCloseNotification(in_host), E_INVALIDARG);
  EXPECT_EQ(RegistryCloseNotification(reinterpret_cast<HREGNOTIFY>(0x1234)), E_INVALIDARG);
  EXPECT_EQ(Log("bad-handle", "call", "RegistryCloseNotification").size(), 2u);
}

TEST_F(DeviceRegistry, RegFilesWithCommentsEscapesAndDeletions) {
  std::string path = WriteFile("good.reg",
                               "\xEF\xBB\xBFREGEDIT4\r\n"
                               "; a comment\r\n"
                               "\r\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\Quob\\RegTest]\r\n"
                               "\"Text\"=\"say \\\"hi\\\"\\\\now\"\r\n"
                               "  \"Count\" = dword:0000002A\r\n"
                               "@=\"default\"\r\n"
                               "\"Gone\"=\"soon\"\r\n"
                               "[hkcu\\Software\\Quob]\r\n"
                               "\"Short\"=dword:ff\r\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\Quob\\RegTest]\r\n"
                               "\"Gone\"=-\r\n");
  device->load_reg_file(path);
  WCHAR buf[32];
  const WCHAR* key = u"Software\\Quob\\RegTest";
  EXPECT_EQ(RegistryGetString(HKEY_LOCAL_MACHINE, key, u"Text", buf, 32), S_OK);
  EXPECT_EQ(std::u16string(buf), u"say \"hi\"\\now");
  EXPECT_EQ(RegistryGetString(HKEY_LOCAL_MACHINE, key, u"", buf, 32), S_OK);
  EXPECT_EQ(std::u16string(buf), u"default");
  EXPECT_TRUE(FAILED(RegistryGetString(HKEY_LOCAL_MACHINE, key, u"Gone", buf, 32)));
  DWORD d = 0;
  EXPECT_EQ(RegistryGetDWORD(HKEY_LOCAL_MACHINE, key, u"Count", &d), S_OK);
  EXPECT_EQ(d, 42u);
  EXPECT_EQ(RegistryGetDWORD(HKEY_CURRENT_USER, u"Software\\Quob", u"Short", &d), S_OK);
  EXPECT_EQ(d, 255u);
  ASSERT_EQ(Log("reg-load").size(), 2u);  // the factory registry at boot, then this file
  EXPECT_EQ(Log("reg-load")[1].str("file"), "good.reg");
}

TEST_F(DeviceRegistry, BadRegFilesNameFileAndLineAndApplyNothing) {
  const std::string head =
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Quob\\Bad]\n\"Applied\"=dword:1\n";
  struct Case {
    std::string text;
    int line;
    std::string reason;
  };
  const Case cases[] = {
      {head + "[HKEY_NOWHERE\\Software]\n", 4, "unknown registry root"},
      {head + "[HKEY_LOCAL_MACHINE\\Software\n", 4, "']'"},
      {head + "\"A\"=dword:12g4\n", 4, "hexadecimal digits"},
      {head + "\"A\"=dword:123456789\n", 4, "hexadecimal digits"},
      {head + "\"A\"=\"open\n", 4, "unterminated"},
      {head + "\"A\"=hex:01,02\n", 4, "unsupported"},
      {head + "\"A\"=\"bad \\q escape\"\n", 4, "unterminated"},
      {"REGEDIT4\n; nothing yet\n\"A\"=dword:1\n[HKLM\\Software]\n", 3, "before any [key]"},
  };
  size_t loads = Log("reg-load").size();
  int n = 0;
  for (const auto& c : cases) {
    std::string path = WriteFile("bad" + std::to_string(++n) + ".reg", c.text);
    try {
      device->load_reg_file(path);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const dev::InputError& e) {
      EXPECT_EQ(e.file, path);
      EXPECT_EQ(e.line, c.line) << e.what();
      EXPECT_NE(e.reason.find(c.reason), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(path + ":" + std::to_string(c.line) + ": "),
                std::string::npos);
    }
    DWORD d = 0;
    EXPECT_TRUE(
        FAILED(RegistryGetDWORD(HKEY_LOCAL_MACHINE, u"Software\\Quob\\Bad", u"Applied", &d)))
        << "case " << n << " applied part of a bad file";
  }
  EXPECT_EQ(Log("reg-load").size(), loads);
  EXPECT_THROW(device->load_reg_file(WriteFile("x", "") + ".missing"), dev::InputError);
}

}  // namespace
