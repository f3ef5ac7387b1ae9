// The device's desktop rules (registry access, window text, frames), and the system under them:
// what desktop Win32 refuses the phone's code, the same paths passing with the desktop layer's
// adaptations built in, and the phone's rules keeping the phone's behaviour.
#include <windows.h>
#include <regext.h>

#include <string>

#include "Scenario.h"
#include "device/apps.hpp"
#include "device/user.hpp"
#include "support/DeviceFixture.h"

namespace {

using vt::Rules;

class DesktopRules : public vt::DeviceTest {
 protected:
  void Boot(Rules rules, const std::string& reg, bool install = true) {
    vt::BootOptions options;
    vt::ApplyRules(rules, &options);
    options.reg = reg;
    options.install = install;
    DeviceTest::Boot(options);
  }
  std::string Boxes() const {
    std::string out;
    for (const auto& e : Log("message-box")) out += e.str("text") + " ";
    return out;
  }
};

// A window procedure that answers every message itself, as the broker's does.
LRESULT CALLBACK AnswersEverything(HWND, UINT, WPARAM, LPARAM) {
  return 1;
}

LRESULT CALLBACK Plain(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

// Under the desktop rules a key opened for nothing reads and writes nothing, each access allows
// what it names, and opening needs none; on the phone 0 is all there is to ask for.
TEST_F(DesktopRules, AKeyReadsAndWritesOnlyWithTheAccessItWasOpenedFor) {
  for (Rules rules : {Rules::kPhone, Rules::kDesktop}) {
    SCOPED_TRACE(vt::RulesName(rules));
    Boot(rules, "", false);
    const bool desktop = rules == Rules::kDesktop;
    const LONG refused = desktop ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    const HRESULT helperRefused = desktop ? HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED) : S_OK;
    const WCHAR kKey[] = u"Software\\Quob\\Access";
    const DWORD one = 1;
    DWORD data = 0, size = 0;
    auto set = [&](HKEY key) {
      return RegSetValueExW(key, u"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
    };
    auto query = [&](HKEY key) {
      size = 4;
      return RegQueryValueExW(key, u"V", nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size);
    };
    HKEY none = nullptr, reading = nullptr, writing = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, 0, nullptr, &none, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &reading), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_WRITE, &writing), ERROR_SUCCESS);
    EXPECT_EQ(set(none), refused);
    EXPECT_EQ(set(reading), refused);
    EXPECT_EQ(set(writing), ERROR_SUCCESS);
    EXPECT_EQ(query(none), refused);
    EXPECT_EQ(query(writing), refused) << "writing is not reading";
    EXPECT_EQ(query(reading), ERROR_SUCCESS);
    // The shell's helpers go through the key they are given, or open the subkey they are given
    // with the access they need.
    EXPECT_EQ(RegistryGetDWORD(none, nullptr, u"V", &data), helperRefused);
    EXPECT_EQ(RegistrySetDWORD(reading, nullptr, u"V", 2), helperRefused);
    EXPECT_EQ(RegistryGetDWORD(HKEY_LOCAL_MACHINE, kKey, u"V", &data), S_OK);
    EXPECT_EQ(RegFlushKey(none), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(none, u"V"), refused);
    EXPECT_EQ(Log("call-refused").size(), desktop ? 7u : 0u);
    for (HKEY key : {none, reading, writing}) RegCloseKey(key);
  }
}

// Under the desktop rules a window is named only when WM_NCCREATE reaches the default procedure,
// so FindWindowW by name misses a window whose procedure answers everything itself; its text is
// then set and read through that procedure too.
TEST_F(DesktopRules, AWindowIsNamedOnlyThroughTheDefaultProcedure) {
  for (Rules rules : {Rules::kPhone, Rules::kDesktop}) {
    SCOPED_TRACE(vt::RulesName(rules));
    Boot(rules, "", false);
    const bool desktop = rules == Rules::kDesktop;
    WNDCLASSW wc{};
    wc.lpfnWndProc = AnswersEverything;
    wc.lpszClassName = u"ANSWERS";
    ASSERT_NE(RegisterClassW(&wc), 0);
    wc.lpfnWndProc = Plain;
    wc.lpszClassName = u"PLAIN";
    ASSERT_NE(RegisterClassW(&wc), 0);
    HWND answers = CreateWindowExW(0, u"ANSWERS", u"Answers", 0, 0, 0, 10, 10, nullptr, nullptr,
                                   nullptr, nullptr);
    HWND plain =
        CreateWindowExW(0, u"PLAIN", u"Plain", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(answers != nullptr && plain != nullptr);
    EXPECT_EQ(FindWindowW(u"ANSWERS", u"Answers"), desktop ? nullptr : answers);
    EXPECT_EQ(FindWindowW(u"ANSWERS", nullptr), answers);
    EXPECT_EQ(FindWindowW(u"PLAIN", u"Plain"), plain);

    WCHAR text[16] = u"?";
    EXPECT_TRUE(SetWindowTextW(plain, u"Again"));
    EXPECT_EQ(GetWindowTextW(plain, text, 16), 5);
    EXPECT_EQ(std::u16string(text), u"Again");
    SetWindowTextW(answers, u"Renamed");
    EXPECT_EQ(FindWindowW(u"ANSWERS", u"Renamed"), desktop ? nullptr : answers);
    EXPECT_EQ(GetWindowTextLengthW(answers), desktop ? 1 : 7) << "what its procedure answers";
    EXPECT_EQ(Log("send", "msg", std::to_string(WM_SETTEXT)).size(), desktop ? 2u : 0u);
  }
}

// The proxy publishes its engine in the registry for the broker to check each hand-over against:
// without the layer's access, desktop refuses the write, the broker ignores the flick and the
// list never scrolls; with it, the list scrolls as on the phone.
TEST_F(DesktopRules, TheProxyPublishesItsEngineAndTheBrokerCarriesTheFlickOut) {
  size_t phoneLines = 0;
  for (Rules rules : {Rules::kPhone, Rules::kDesktop, Rules::kDesktopLayer}) {
    SCOPED_TRACE(vt::RulesName(rules));
    Boot(rules, vt::kGesturesOn);
    HWND list = Front(dev::apps::Kind::List, 0, 26, 240, 268, 400, 12);
    device->run_for(100);
    Stroke(120, 200, 120, 140, 150);
    device->run_for(3000);
    size_t lines = PostsTo(list, "WM_VSCROLL").size();
    EXPECT_EQ(Log("call-refused", "call", "RegSetValueExW").empty(), rules != Rules::kDesktop);
    if (rules == Rules::kPhone) {
      phoneLines = lines;
      EXPECT_GT(lines, 5u);
    } else {
      EXPECT_EQ(lines, rules == Rules::kDesktop ? 0u : phoneLines);
    }
  }
}

// The broker looks for a window of an earlier load by class and name. Its procedure never calls
// the default one, so on desktop only the layer gives it its name; under every rule it still
// answers every other message with 1.
TEST_F(DesktopRules, TheBrokersStaleWindowCheckFindsItByItsName) {
  for (Rules rules : {Rules::kPhone, Rules::kDesktop, Rules::kDesktopLayer}) {
    SCOPED_TRACE(vt::RulesName(rules));
    Boot(rules, vt::kGesturesOn);
    HWND broker = FindWindowW(u"MSGBROKER", nullptr);
    ASSERT_NE(broker, nullptr);
    EXPECT_EQ(FindWindowW(u"MSGBROKER", u"MsgBroker"), rules == Rules::kDesktop ? nullptr : broker);
    for (UINT message : {UINT(WM_GETTEXT), UINT(WM_GETTEXTLENGTH), UINT(0x7FFF)}) {
      EXPECT_EQ(SendMessageW(broker, message, 0, 0), 1) << message;
    }
  }
}

// The settings program reads its switches through a key it opens asking for nothing: on desktop
// without the layer every read is refused and it says so; with the layer it shows and saves
// them as on the phone. Its dialog answers every message itself, so desktop draws its frame
// only with the layer, which passes the non-client messages on.
TEST_F(DesktopRules, TheSettingsProgramReadsItsSwitchesAndDrawsItsFrame) {
  const std::string stored =
      "[HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture]\n\"Activate\"=dword:00000001\n\"Sound\"=dword:"
      "00000000\n";
  for (Rules rules : {Rules::kPhone, Rules::kDesktop, Rules::kDesktopLayer}) {
    SCOPED_TRACE(vt::RulesName(rules));
    Boot(rules, stored);
    ClearLog();
    ASSERT_EQ(dev::user::start(*device, "Corvane.exe"), "");
    auto dialogs = Log("dialog", "caption", "Dialog");
    ASSERT_EQ(dialogs.size(), 1u);
    bool framed = !Log("frame-painted", "window", dialogs[0].str("window")).empty();
    EXPECT_EQ(framed, rules == Rules::kDesktopLayer);
    if (rules == Rules::kDesktop) {
      EXPECT_EQ(Boxes(), "cannot open reg value ");
      EXPECT_FALSE(Log("call-refused", "call", "RegQueryValueExW").empty());
      continue;
    }
    EXPECT_EQ(Boxes(), "");
    EXPECT_EQ(Log("control", "check", "1").size(), 1u) << "the gesture switch on, sound off";
    ASSERT_EQ(dev::user::press(*device, "Done"), "");
    std::string writes;
    for (const auto& e : Log("reg-write", "key", vt::kGestureKey))
      writes += e.str("value") + "=" + e.str("data") + " ";
    EXPECT_EQ(writes, "Activate=1 Default=1 Sound=0 ");
  }
}

}  // namespace
