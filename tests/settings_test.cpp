// The settings program on the device: its switches, its failures, its About box and the file
// version under it, a second start, and the dialogs as the screen shows them.
#include <gtest/gtest.h>

#include <settings/FileVersion.h>

#include <string>
#include <vector>

#include "device/user.hpp"
#include "support/DeviceFixture.h"

namespace {

const char kSwitches[] = "HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture";

class Settings : public vt::DeviceTest {
 protected:
  // Boots with the registry text given, then starts the program.
  void Start(const std::string& reg = "", vt::BootOptions options = {}) {
    options.reg = "REGEDIT4\n" + reg;
    Boot(options);
    ClearLog();
    ASSERT_EQ(dev::user::start(*device, "Corvane.exe"), "");
  }
  // "value=data" of every switch write since the program started, in order.
  std::string Writes() const {
    std::string out;
    for (const auto& e : Log("reg-write", "key", kSwitches))
      out += e.str("value") + "=" + e.str("data") + " ";
    return out;
  }
  std::string Checks() const {
    std::string out;
    for (const auto& e : Log("control"))
      if (e.fields.contains("check")) out += e.str("id") + "=" + e.str("check") + " ";
    return out;
  }
  std::string Boxes() const {
    std::string out;
    for (const auto& e : Log("message-box")) out += e.str("text") + "/" + e.str("caption") + " ";
    return out;
  }
  std::vector<int64_t> DialogResults() const {
    std::vector<int64_t> out;
    for (const auto& e : Log("dialog-end")) {
      if (!Log("dialog", "window", e.str("window")).empty()) out.push_back(e.num("result"));
    }
    return out;
  }
  bool Ended() const { return !Log("process-end", "name", "Corvane.exe").empty(); }
  // The visible top-level window in front of the given class.
  const dev::WindowView* Front(const dev::ScreenView& s, const std::string& cls) const {
    for (const auto& w : s.windows)
      if (w.cls == cls) return &w;
    return nullptr;
  }
};

// Opening reads "Activate" and "Sound", creating what is missing with 0 at once; Done writes
// "Activate", "Default" and "Sound" in that order; closing writes nothing more.
TEST_F(Settings, ReadOrCreateAndSave) {
  struct Case {
    std::string stored;  // .reg lines under the switches' key
    std::vector<std::string> actions;
    std::string checks, writes;
    std::vector<int64_t> results;
  } cases[] = {
      {"\"Activate\"=dword:00000002\n\"Sound\"=dword:00000000\n",
       {"Done"},
       "1000=1 1001=0 ",
       "Activate=1 Default=1 Sound=0 ",
       {0}},
      {"\"Activate\"=-\n", {"close"}, "1000=0 1001=0 ", "Activate=0 Sound=0 ", {16}},
      {"\"Activate\"=dword:00000001\n\"Default\"=dword:00000001\n\"Sound\"=dword:00000001\n",
       {"1000", "Enable Sound Effects", "Done"},
       "1000=1 1001=1 1000=0 1001=0 ",
       "Activate=0 Default=0 Sound=0 ",
       {0}},
      // Only what the proxy and the engines read as on shows as on; Done writes proper DWORDs.
      {"\"Activate\"=\"1\"\n\"Sound\"=dword:ffffffff\n",
       {"Done"},
       "1000=0 1001=1 ",
       "Activate=0 Default=0 Sound=1 ",
       {0}},
      {"\"Activate\"=dword:ffffffff\n\"Sound\"=\"switched on\"\n",
       {"Done"},
       "1000=0 1001=0 ",
       "Activate=0 Default=0 Sound=0 ",
       {0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    Start(std::string("[") + kSwitches + "]\n" + c.stored);
    for (const auto& a : c.actions) {
      std::string why = a == "Done"    ? dev::user::press(*device, a)
                        : a == "close" ? dev::user::close(*device)
                                       : dev::user::tick(*device, a);
      ASSERT_EQ(why, "") << a;
    }
    EXPECT_EQ(Checks(), c.checks);
    EXPECT_EQ(Writes(), c.writes);
    EXPECT_EQ(DialogResults(), c.results);
    EXPECT_TRUE(Ended());
    EXPECT_EQ(Log("reg-flush").size(), c.actions.back() == "Done" ? 1u : 0u);
  }
}

// A DWORD stored with more bytes than a DWORD reads as no DWORD: what the buffer then holds is
// undefined (the device leaves the leading bytes, here a 1), so the box shows as off.
TEST_F(Settings, AnOversizedDwordShowsAsOff) {
  vt::BootOptions options;
  options.reg = "REGEDIT4\n";
  Boot(options);
  device->as_process("device.exe", [] {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Quob\\Gesture", 0, nullptr, 0, 0,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const BYTE eight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    RegSetValueExW(key, u"Activate", 0, REG_DWORD, eight, sizeof eight);
    RegCloseKey(key);
  });
  ClearLog();
  ASSERT_EQ(dev::user::start(*device, "Corvane.exe"), "");
  ASSERT_EQ(dev::user::press(*device, "Done"), "");
  EXPECT_EQ(Checks(), "1000=0 1001=0 ");
  EXPECT_EQ(Writes(), "Sound=0 Activate=0 Default=0 Sound=0 ") << "the missing one made at once";
}

// Every row of the failure table: the message box, and what follows once it is answered.
TEST_F(Settings, Failures) {
  struct Case {
    const char* name;
    std::string call, subject;
    int nth;
    std::string boxes, checks, writes;
    bool done;  // the user presses Done once the dialog is open
    std::vector<int64_t> results;
  } cases[] = {
      {"key while loading",
       "RegCreateKeyExW",
       kSwitches,
       1,
       "cannot open reg key/error ",
       "",
       "",
       false,
       {}},
      {"one value",
       "RegQueryValueExW",
       "Activate",
       1,
       "cannot open reg value/error ",
       "1001=1 ",
       "",
       false,
       {}},
      {"key while saving",
       "RegCreateKeyExW",
       kSwitches,
       2,
       "cannot open reg key/error ",
       "1000=1 1001=1 1000=0 ",
       "",
       true,
       {0}},
      {"main window's menu bar",
       "SHCreateMenuBar",
       "",
       1,
       "Cannot create menu bar/ERROR ",
       "",
       "",
       false,
       {}},
      {"dialog's menu bar",
       "SHCreateMenuBar",
       "",
       2,
       "Cannot create menu bar/ERROR ",
       "1000=1 1001=1 ",
       "",
       false,
       {-1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    vt::BootOptions options;
    options.reg = std::string("REGEDIT4\n[") + kSwitches +
                  "]\n\"Activate\"=dword:00000001\n\"Sound\"=dword:00000001\n";
    Boot(options);
    ClearLog();
    device->fail_call(c.call, c.nth, ERROR_ACCESS_DENIED, c.subject);
    ASSERT_EQ(dev::user::start(*device, "Corvane.exe"), "");
    if (c.done) {
      ASSERT_EQ(dev::user::tick(*device, "1000"), "");
      ASSERT_EQ(dev::user::press(*device, "Done"), "");
    }
    EXPECT_EQ(Boxes(), c.boxes);
    ASSERT_EQ(dev::user::answer(*device), "");
    EXPECT_EQ(dev::user::answer(*device), "no message box waits for an answer");
    EXPECT_EQ(Checks(), c.checks);
    EXPECT_EQ(Writes(), c.writes);
    // The program goes on with its dialog open, or has ended.
    EXPECT_EQ(DialogResults(), c.results);
    bool open = !c.done && c.results.empty() && c.call != "SHCreateMenuBar";
    EXPECT_EQ(Ended(), !open);
    if (open) {
      EXPECT_EQ(dev::user::close(*device), "");
      EXPECT_TRUE(Ended());
    }
  }
}

// The About box: the proxy's version in 205, the maker's switch, and a proxy that is missing.
TEST_F(Settings, AboutBox) {
  struct Case {
    std::string reg;
    bool proxy;
    std::string version;
    bool maker_shown;
  } cases[] = {
      {"", true, "1.0.0.19", true},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\QUOB]\n\"ODM_AP\"=dword:00000000\n", true, "1.0.0.19", true},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\QUOB]\n\"ODM_AP\"=dword:00000001\n", true, "1.0.0.19",
       false},
      {"", false, " ", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reg + (c.proxy ? "" : "without the proxy"));
    vt::BootOptions options;
    if (!c.proxy) {
      options.install = false;
      options.files.erase(options.files.begin() + 4);  // Pallux.dll
    }
    Start(c.reg, options);
    ASSERT_EQ(dev::user::press(*device, "About"), "");
    auto screen = device->screen();
    const dev::WindowView* box = Front(screen, "Dialog");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->title, "About Corvane");
    EXPECT_TRUE(box->done_button);
    std::map<int, std::string> shown;
    for (const auto& control : box->children) shown[control.id] = control.title;
    EXPECT_EQ(shown[205], c.version);
    EXPECT_EQ(shown.count(1004) + shown.count(5123), c.maker_shown ? 2u : 0u);
    for (int stays : {202, 203, 204}) EXPECT_EQ(shown.count(stays), 1u) << stays;
    if (c.maker_shown) {
      for (const auto& control : box->children) {
        if (control.id == 5123) {
          EXPECT_EQ(control.bitmap.size(), 40u + 256 * 4 + 92 * 21);
        }
      }
    }
    auto errors = Log("debug");
    if (c.proxy) {
      EXPECT_TRUE(errors.empty());
    } else {
      ASSERT_EQ(errors.size(), 1u);
      EXPECT_EQ(errors[0].str("text"),
                "FileVersion (GetFileVerString): Cannot get proper dwVersionDataLen!: Pallux.dll");
    }
    ASSERT_EQ(dev::user::press(*device, "Done"), "");
    EXPECT_EQ(DialogResults(), std::vector<int64_t>{1});
    EXPECT_EQ(Front(device->screen(), "Dialog")->title, "Dialog");
  }
}

// A second start while the dialog is open brings the dialog forward and ends at once.
TEST_F(Settings, SecondStartBringsTheDialogForward) {
  Start();
  HWND dialog = reinterpret_cast<HWND>(Front(device->screen(), "Dialog")->handle);
  device->as_process("Corvane.exe", [&] { SetForegroundWindow(GetParent(dialog)); });
  ASSERT_EQ(dev::user::start(*device, "Corvane.exe"), "");
  EXPECT_EQ(Log("process-end", "name", "Corvane.exe").size(), 1u);
  EXPECT_EQ(Log("dialog").size(), 1u);
  EXPECT_EQ(GetForegroundWindow(), dialog);
  ASSERT_EQ(dev::user::help(*device), "");
  EXPECT_EQ(Log("help-viewer").at(0).str("command_line"), "\\windows\\corvane.htm#CORVANEHELP");
}

// The dialog on screen: full screen in the work area, controls at their dialog units in the
// font's base units for the screen's dots per inch, and the heading painted at control 1002.
TEST_F(Settings, DialogLayoutAndHeading) {
  struct Case {
    int dpi;
    RECT work, box1000;
  } cases[] = {
      {96, {0, 26, 240, 294}, {9, 56, 223, 86}},
      {192, {0, 52, 480, 588}, {18, 113, 447, 174}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dpi);
    vt::BootOptions options;
    options.screen = {c.dpi * 240 / 96, c.dpi * 320 / 96, c.dpi};
    Start("", options);
    auto screen = device->screen();
    const dev::WindowView* dialog = Front(screen, "Dialog");
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->rect.top, c.work.top);
    EXPECT_EQ(dialog->rect.bottom, c.work.bottom);
    const dev::WindowView* bar = Front(screen, "menu_worker");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->soft_keys, std::vector<std::string>{"About"});
    EXPECT_EQ(bar->rect.top, c.work.bottom);
    RECT mark{};
    for (const auto& control : dialog->children) {
      if (control.id == 1000) {
        EXPECT_EQ(control.rect.left, c.box1000.left);
        EXPECT_EQ(control.rect.top, c.box1000.top);
        EXPECT_EQ(control.rect.right, c.box1000.right);
        EXPECT_EQ(control.rect.bottom, c.box1000.bottom);
        EXPECT_EQ(control.style & 0xF, 3u);  // BS_AUTOCHECKBOX
      }
      EXPECT_NE(control.id, 1002) << "the heading's mark is not visible";
    }
    HWND mark_window = GetDlgItem(reinterpret_cast<HWND>(dialog->handle), 1002);
    GetWindowRect(mark_window, &mark);
    ASSERT_EQ(dialog->painted.size(), 3u);
    const auto& text = dialog->painted[1];
    EXPECT_EQ(text.text, "Vexori");
    EXPECT_EQ(text.rect.left, mark.left);
    EXPECT_EQ(text.rect.top, mark.top);  // client y is the screen's less the caption height
    const auto& line = dialog->painted[2];
    ASSERT_EQ(line.points.size(), 2u);
    EXPECT_EQ(line.points[1].x - line.points[0].x, options.screen.width);
    EXPECT_EQ(line.points[0].y, mark.top + mark.bottom - c.work.top - 6);
  }
}

// The version text of a record by its type, and records that stay empty.
TEST_F(Settings, FileVersionByType) {
  vt::BootOptions options;
  options.files.push_back({"versioned.dll", "versioned.dll"});
  Boot(options);
  const std::u16string too_long(300, u'a');
  struct Case {
    const WCHAR *path, *name, *type;
    bool ok;
    std::string text;
  } cases[] = {
      {u"\\Windows\\versioned.dll", u"versioned.dll", u"exe", true, "2.5.300.7"},
      {u"\\Windows\\Pallux.dll", u"Pallux.dll", u"DLL", true, "1.0.0.19"},
      {u"\\Windows\\Pallux.dll", u"Pallux.dll", u"CAR", false, ""},
      {u"\\Windows\\Pallux.dll", u"Pallux.dll", u"txt", false, ""},
      {u"\\Windows\\Pallux.dll", u"Pallux.dll", nullptr, false, ""},
      {u"\\Windows\\Pallux.dll", too_long.c_str(), u"dll", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type ? dev::to_utf8(c.type) : "no type");
    FileVersion record(c.path, c.name, c.type);
    WCHAR text[kVersionTextChars] = u"unset";
    EXPECT_EQ(record.GetVersionForType(text) != FALSE, c.ok);
    EXPECT_EQ(dev::to_utf8(text), c.ok ? c.text : "unset");
  }
  FileVersion car(u"\\Windows\\Pallux.dll", u"Pallux.dll", u"CAR");
  WCHAR text[kVersionTextChars];
  car.GetVersionForType(text);
  EXPECT_EQ(dev::to_utf8(car.Message()), "Cannot get the version string of Pallux.dll!");
}

}  // namespace
