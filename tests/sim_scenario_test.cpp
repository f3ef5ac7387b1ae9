// The simulator: scenario parsing and running, the log's determinism across runs and across the
// tick-count wrap, recorded strokes, and the vexori-sim program's exit codes.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include <fmt/format.h>

#include "Boot.h"
#include "Replay.h"
#include "Runner.h"
#include "Tour.h"

namespace {
namespace fs = std::filesystem;

const uint32_t kNearWrap = 0xFFFFFF00u;
const char* kDown = "run.scn: the device did not come up as installed: ";

// A scratch folder per test.
class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ =
        fs::temp_directory_path() / ("vexori-sim-" + std::to_string(getpid()) + "-" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return (dir_ / name).string();
  }

  fs::path dir_;
};

// What a scenario does besides the tour: the gesture function switched on and off, a drag that
// crosses the wrap when the device boots near it.
sim::Scenario OwnScenario() {
  return sim::parse_scenario(
      "reg HKLM\\Software\\Quob\\Gesture Activate dword 1\nwait 120\n"
      "drag 20 300 200 40 250 rest 60\npower idle 0x00100000\ntap 30 30 hold 200 rate 50\n"
      "reg-delete HKLM\\Software\\Quob\\Gesture Activate\nsample 0x3 80 80\n",
      "own.scn", "");
}

// A scenario's log is the same whenever it runs: booted just before the tick count wraps, only
// the ticks change, each by the boot tick.
TEST(SimLog, SameScenarioSameLogAndTheWrapChangesOnlyTheTicks) {
  for (auto scenario : {sim::tour_scenario(), OwnScenario()}) {
    scenario.boot_tick = 1000;
    auto first = sim::run_scenario(scenario);
    EXPECT_GT(first.panel_samples, 20u);
    EXPECT_TRUE(first.failures.empty());
    // Only the tour's gestures are withheld from the window system: two pans of 94 samples, ten
    // flicks of 17, the tap of 10 that stops a momentum and the two turns of 32. Its taps,
    // press-and-hold and strokes on a band and a scroll bar reach the window system.
    EXPECT_EQ(first.unchanged_samples, first.received_samples);
    EXPECT_EQ(first.panel_samples - first.received_samples, scenario.file == "own.scn" ? 0u : 449u);

    // Every JSON line carries the entry's own time, tick, process, thread and kind.
    std::istringstream lines(first.jsonl());
    std::string line;
    for (const auto& e : first.log) {
      ASSERT_TRUE(std::getline(lines, line)) << "no line for " << e.text();
      auto j = nlohmann::json::parse(line);
      EXPECT_TRUE(j.at("t") == e.time && j.at("tick") == e.tick && j.at("process") == e.process &&
                  j.at("thread") == e.thread && j.at("kind") == e.kind)
          << line;
    }
    EXPECT_FALSE(std::getline(lines, line)) << "a line past the log: " << line;

    scenario.boot_tick = kNearWrap;
    auto wrapped = sim::run_scenario(scenario);
    ASSERT_EQ(first.log.size(), wrapped.log.size()) << scenario.file;
    bool crossed = false;
    for (size_t i = 0; i < first.log.size(); ++i) {
      auto a = first.log[i], b = wrapped.log[i];
      EXPECT_EQ(b.tick, static_cast<uint32_t>(kNearWrap + b.time));
      crossed = crossed || b.tick < kNearWrap;
      if (a.kind == "boot") a.fields.erase("boot_tick"), b.fields.erase("boot_tick");
      EXPECT_EQ(a.text(), b.text()) << "entry " << i;
    }
    EXPECT_TRUE(crossed) << "the run should cross the wrap";
    EXPECT_EQ(first.summary(), wrapped.summary());
  }
}

// The example scenarios shipped with the project still do what their expectations say. Each
// draws its pictures and records its sound into the build folder's pictures/examples/, to be
// looked at; what those files hold is checked where pictures and sound are.
TEST(SimExamples, EveryShippedScenarioMeetsItsExpectations) {
  const fs::path out = fs::path(VEXORI_PICTURES_DIR) / "examples";
  fs::create_directories(out);
  size_t n = 0;
  for (const auto& entry : fs::directory_iterator(std::string(VEXORI_SOURCE_DIR) + "/scenarios")) {
    if (entry.path().extension() != ".scn") continue;
    ++n;
    std::string stem = (out / entry.path().stem()).string();
    sim::RunOptions options;
    options.keep_log = false;
    options.pictures = {stem + "-screen.png", stem + "-timeline.png", stem + "-strokes.png"};
    options.audio_file = stem + ".wav";
    auto result = sim::run_scenario(sim::load_scenario(entry.path().string()), options);
    EXPECT_TRUE(result.failures.empty()) << entry.path() << ": " << result.failures.front();
  }
  EXPECT_GE(n, 5u);
}

// The summary tells each sample's fate from the log alone: a tap reaches the window system
// whole, a flick goes to the engine, a second pen-up in a row is dropped by the proxy without
// making its stroke one that came through in part, and samples the window system receives are
// told apart from the same samples of an earlier stroke that went to the engine.
TEST(SimSummary, EachSampleFateAndThePartialStrokes) {
  const std::string setup =
      "reg HKLM\\Software\\Quob\\Gesture Activate dword 1\n"
      "window list list 0 26 240 268 lines 400 page 12\nforeground list\nwait 100\n";
  struct Case {
    std::string strokes;
    size_t whole, rebuilt, engine, dropped;
    std::string partial;  // the stroke named as one that came through in part, or ""
  } cases[] = {
      {"tap 120 160\n", 10, 0, 0, 0, ""},
      {"flick 120 200 120 140 150\n", 0, 0, 17, 0, ""},
      {"sample 0x3 401 801\nsample 0xb 401 801\nsample 0x9 401 801\nsample 0x9 401 801\n", 3, 3, 0,
       1, ""},
      // A move without a pen-down before a flick, and again after it: neither is the flick's.
      {"sample 0xb 480 720\nwait 10\nflick 120 200 120 140 150\nwait 800\nsample 0xb 480 720\n", 2,
       0, 17, 0, ""},
      // Held to the press-and-hold, then let through: the same points twice in one stroke.
      {"stroke 200 60 200 64 200 60 400 rate 32\n", 14, 0, 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.strokes);
    sim::RunOptions options;
    options.keep_log = false;
    auto r = sim::run_scenario(sim::parse_scenario(setup + c.strokes, "fates.scn", ""), options);
    EXPECT_EQ(r.unchanged_samples + r.rebuilt_samples, c.whole);
    EXPECT_EQ(r.rebuilt_samples, c.rebuilt);
    EXPECT_EQ(r.engine_samples, c.engine);
    EXPECT_EQ(r.dropped_samples, c.dropped);
    std::vector<std::string> partial;
    if (!c.partial.empty()) partial.push_back(c.partial);
    EXPECT_EQ(r.partial_strokes, partial);
    std::string summary = r.summary();
    EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 1 + partial.size()) << summary;
    for (const auto& p : partial) EXPECT_NE(summary.find("\n  " + p + "\n"), std::string::npos);
  }
}

TEST(ScenarioParser, ErrorsNameTheFileAndLine) {
  const struct {
    std::string text;
    int line;
    std::string reason;
  } cases[] = {
      {"wait 10\n\njump 3 4\n", 3, "unknown command"},
      {"# comment\nwait\n", 2, "wrong number of arguments"},
      {"tap 1 2 3 4 5 6 7\n", 1, "wrong number of arguments"},
      {"wait ten\n", 1, "not a number"},
      {"wait 10ms\n", 1, "not a number"},
      {"tap 9000 10\n", 1, "out of range"},
      {"drag 0 0 10 -8200 100\n", 1, "out of range"},
      {"wait 5\nflick 10 10 10 320 100\n", 2, "off the 240x320 screen"},
      {"screen 480 640\ntap 479 639\ntap -1 5\n", 3, "off the 480x640 screen"},
      {"screen 240 320\nwait 5\nscreen 480 640\n", 3, "before the device starts"},
      {"boot\nboot-tick 5\n", 2, "before the device starts"},
      {"note \"open quote\n", 1, "unterminated"},
      {"tap 10 10 hold\n", 1, "needs a value"},
      {"flick 1 1 2 2 100 rest 5\n", 1, "unknown option"},
      {"reg HKLM\\Software\\Quob Activate qword 1\n", 1, "reg takes"},
      {"reg HKEY_NOWHERE\\Software Activate dword 1\n", 1, "registry root"},
      {"reg-delete HKNOPE\\Software Activate\n", 1, "registry root"},
      {"window l list 0 0 10 10\ndestroy m\n", 2, "no window named"},
      {"post l 1 0 0\n", 1, "no window named"},
      {"send class: 1 0 0\n", 1, "class name"},
      {"post class:X 1 0\n", 1, "takes WINDOW MSG"},
      {"send class:X 0x100000000 0 0\n", 1, "out of range"},
      {"stroke 10 10 20 20\n", 1, "wrong number of arguments"},
      {"stroke 10 10 20 20 30 100 rest 5\n", 1, "stroke takes"},
      {"stroke 10 10 20 20 30 30 100 hold 5\n", 1, "not a number"},
      {"stroke 1 1 2 2 300 300 100\n", 1, "off the 240x320 screen in either"},
      {"tap 5 330\n", 1, "off the 240x320 screen in either"},
      {"wait 1\npreset HKLM\\A B dword 1\n", 2, "before the device starts"},
      {"preset HKLM\\A B qword 1\n", 1, "preset takes"},
      {"reg-delete-key HKLM\\\n", 1, "cannot delete a registry root"},
      {"touch-driver ../touch.dll\n", 1, "file in \\Windows"},
      {"touch-driver a.dll\ntouch-driver b.dll\n", 2, "given twice"},
      {"broker late\n", 1, "broker takes"},
      {"broker late 1\nbroker off\n", 2, "given twice"},
      {"window b list 0 0 10 10 pages 3\n", 1, "only a browser"},
      {"window b browser 0 0 10 10 pages 3 at 4\n", 1, "page 4 of 3"},
      {"window b plain 0 0 10 10 refuses-close 2\n", 1, "out of range"},
      {"screen 240 320 dpi 0\n", 1, "out of range"},
      {"window l list 0 0 10 10\ndestroy l\nforeground l\n", 3, "'l' was destroyed on line 2"}};
  for (const auto& c : cases) {
    try {
      sim::parse_scenario(c.text, "dir/case.scn", "dir");
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const dev::InputError& e) {
      std::string where = "dir/case.scn:" + std::to_string(c.line) + ": ";
      EXPECT_EQ(std::string(e.what()).rfind(where, 0), 0u) << e.what() << " for " << c.text;
      EXPECT_NE(e.reason.find(c.reason), std::string::npos) << e.what();
    }
  }
  // Numbers are decimal, or hexadecimal with 0x; a leading zero does not make them octal.
  auto s = sim::parse_scenario("boot-tick 0xFFFFFF00\nwait 010\ntap 080 0x20\n", "n.scn", "");
  EXPECT_EQ(s.boot_tick, 0xFFFFFF00u);
  EXPECT_EQ(std::get<sim::cmd::Wait>(s.commands[0].kind).ms, 10u);
  EXPECT_EQ(std::get<sim::cmd::Tap>(s.commands[1].kind).at.x, 80);
  EXPECT_EQ(std::get<sim::cmd::Tap>(s.commands[1].kind).at.y, 32);
  // A byte-order mark before the first line is not part of its command.
  EXPECT_EQ(sim::parse_scenario("\xEF\xBB\xBFwait 5\n", "bom.scn", "").commands.size(), 1u);
}

// A move of any legal length keeps its samples in time order and ends when it says: the sample
// times once overflowed 32 bits past a minute at 1000 Hz.
TEST(SimStrokes, LongMovesKeepTheirSamplesInOrder) {
  const struct {
    uint32_t ms, rate;
  } cases[] = {{70000, 1000}, {600000, 1000}, {250000, 100}, {150, 100}};
  for (const auto& c : cases) {
    for (const auto& pts :
         {sim::straight_stroke(120, 200, 120, 140, c.ms, 30, c.rate),
          sim::polyline_stroke({{10, 10}, {50, 50}, {90, 10}}, c.ms, 0, c.rate)}) {
      ASSERT_FALSE(pts.empty());
      for (size_t i = 1; i < pts.size(); ++i) ASSERT_LE(pts[i - 1].t, pts[i].t) << c.ms << " ms";
      EXPECT_GE(pts.back().t, c.ms) << c.ms << " ms at " << c.rate << " Hz";
      EXPECT_LE(pts.back().t, c.ms + 30) << c.ms << " ms at " << c.rate << " Hz";
    }
  }
}

// `expect` refuses kinds the log never holds: every kind the device's and the simulator's code
// logs must be one it accepts, or a scenario could not expect it.
TEST(ScenarioParser, ExpectTakesEveryKindTheCodeLogs) {
  const std::regex logged(R"re(log_event\(\s*"([a-z-]+)")re");
  size_t kinds = 0;
  for (const char* folder : {"/platform", "/sim"}) {
    for (const auto& f :
         fs::recursive_directory_iterator(VEXORI_SOURCE_DIR + std::string(folder))) {
      if (f.path().extension() != ".cpp") continue;
      std::ifstream in(f.path());
      std::string text((std::istreambuf_iterator<char>(in)), {});
      for (std::sregex_iterator m(text.begin(), text.end(), logged), end; m != end; ++m, ++kinds) {
        EXPECT_TRUE(dev::is_log_kind((*m)[1])) << (*m)[1] << " in " << f.path();
      }
    }
  }
  EXPECT_GT(kinds, 40u);
}

TEST_F(SimTest, EveryCommandRunsAndExpectationsReportTheirLine) {
  Write("extra.reg", "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Quob]\n\"FromFile\"=dword:2\n");
  Write("stroke.xml",
        "<Gesture Name=\"mini\"><Point X=\"50\" Y=\"60\" T=\"1000\"/>"
        "<Point X=\"70\" Y=\"60\" T=\"1030\"/><Point X=\"90\" Y=\"80\" T=\"1055\"/></Gesture>");
  auto s = sim::parse_scenario(
      "screen 480 640 dpi 192\nboot-tick 0xFFFFFFF0\ninstall off\nboot\nregfile extra.reg\n"
      "reg HKCU\\Software\\Quob Text string \"two words\"\nreg HKCU\\Software\\Quob Level dword 3\n"
      "reg-delete HKCU\\Software\\Quob FromFile\npower idle 0x00100000 fail 50\n"
      "note \"all commands\" here\nwindow l list 0 0 240 160 lines 40 page 8\n"
      "window v plain 10 10 50 50 parent l hidden 1\nforeground l\nhide l\nshow l\ndestroy v\n"
      "expect-scroll l 0\nwait 40\nsample 0x3 400 400\ntap 100 100 hold 50 rate 50\n"
      "drag 10 10 50 50 100 rest 30 rate 100\nflick 10 10 200 10 60\nreplay stroke.xml rate 100\n"
      "replay stroke.xml native 1\nexpect note 1\nexpect sample 999\n",
      (dir_ / "all.scn").string(), dir_.string());
  auto r = sim::run_scenario(s);
  ASSERT_EQ(r.failures.size(), 1u);
  EXPECT_EQ(r.failures[0].rfind(s.file + ":26: ", 0), 0u) << r.failures[0];

  std::map<std::string, std::vector<dev::LogEntry>> log;
  for (const auto& e : r.log) log[e.kind].push_back(e);
  EXPECT_EQ(log["boot"].at(0).str("screen"), "480x640");
  EXPECT_EQ(log["boot"].at(0).num("boot_tick"), 0xFFFFFFF0);
  EXPECT_EQ(log["touch-driver"].at(0).str("name"), "touch.dll") << "install off";
  EXPECT_EQ(log["reg-load"].back().str("file"), "extra.reg");
  ASSERT_EQ(log["reg-write"].size(), 4u);
  EXPECT_EQ(log["reg-write"][0].str("value"), "QUOBUpdater") << "the Verbose zone is on at boot";
  EXPECT_EQ(log["reg-write"][2].str("data"), "two words");
  EXPECT_EQ(log["reg-write"][3].num("data"), 3);
  EXPECT_EQ(log["power-state"].at(0).num("error"), 50);
  EXPECT_EQ(log["note"].at(0).str("text"), "all commands here");
  std::string counts;
  for (const char* kind :
       {"reg-delete", "window-created", "foreground", "window-shown", "window-destroyed"})
    counts += std::to_string(log[kind].size());
  EXPECT_EQ(counts, "12121");
  // sample, tap (3 + up), drag (3 at rest + 11 + up), flick (7 + up), replay resampled to
  // 0..60 ms (7 + up), replay at its own times (3 + up)
  EXPECT_EQ(r.panel_samples, 1u + 4u + 15u + 8u + 8u + 4u);
  EXPECT_EQ(r.received_samples, r.panel_samples);
  EXPECT_EQ(log["panel"].at(0).time, 40u);
  EXPECT_EQ(log["panel"].at(0).num("x"), 400);
}

// The setup commands act before the device's processes start: the first settings loads see the
// preset values, the touch driver and broker are the ones asked for.
TEST_F(SimTest, SetupBeforeBootTouchDriverAndBroker) {
  const struct {
    const char* setup;
    const char* touch;  // the stock driver the proxy enabled
    int64_t broker_at;  // the broker's driver-loaded time, -1 for none
    int scroll;         // the list's position after the pan
  } cases[] = {
      {"", "touch.dll", 0, 15},
      {"touch-driver TouchAlt.dll\nbroker off\n", "touchalt.dll", -1, 0},
      {"broker late 700\n", "touch.dll", 700, 15},
      {"reg-delete-key HKLM\\Drivers\\BuiltIn\\Gesture\n", "touch.dll", -1, 0},
  };
  for (const auto& c : cases) {
    auto r = sim::run_scenario(sim::parse_scenario(
        "preset HKLM\\Software\\Quob\\Gesture Activate dword 1\n" + std::string(c.setup) +
            "window l list 0 26 240 268 lines 200 page 12\nforeground l\nwait 1000\n"
            "drag 120 250 120 100 300 rest 600 settle 24\nexpect-scroll l " +
            std::to_string(c.scroll) + "\n",
        "setup.scn", ""));
    std::string touch;
    int64_t broker_at = -1;
    for (const auto& e : r.log) {
      if (e.kind == "touch-call" && e.str("entry") == "TouchPanelEnable") touch = e.str("driver");
      if (e.kind == "driver-loaded" && e.str("key") == "Gesture") broker_at = e.time;
    }
    EXPECT_EQ(touch, c.touch) << c.setup;
    EXPECT_EQ(broker_at, c.broker_at) << c.setup;
    EXPECT_TRUE(r.failures.empty()) << r.failures.front();
  }
}

// The check of the \Windows folder before a run sees a file added or removed since the run
// before, in the same process (a replay checks once a stroke, and keeps the folder's listing).
TEST(SimSetup, TheWindowsFolderCheckSeesFilesComeAndGo) {
  auto dir =
      std::filesystem::temp_directory_path() / ("vexori-setup-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  auto s = sim::parse_scenario("leave-out Extra.dll\nwait 5\nstart Extra.exe\n", "s.scn", "");
  EXPECT_THROW(sim::check_setup(s, dir.string()), dev::InputError);
  std::ofstream(dir / "extra.DLL") << "x";
  try {
    sim::check_setup(s, dir.string());
    FAIL() << "Extra.exe is not there yet";
  } catch (const dev::InputError& e) {
    EXPECT_NE(std::string(e.what()).find("no file Extra.exe"), std::string::npos) << e.what();
  }
  std::ofstream(dir / "Extra.exe") << "x";
  EXPECT_NO_THROW(sim::check_setup(s, dir.string()));
  std::filesystem::remove(dir / "extra.DLL");
  EXPECT_THROW(sim::check_setup(s, dir.string()), dev::InputError);
  std::filesystem::remove_all(dir);
}

// Stroke points are screen pixels of the orientation in force as the stroke starts; the panel
// gets them by the inverse of the proxy's mapping. A several-point stroke has a sample on each
// corner.
TEST(SimStrokes, ScreenPixelsOfTheOrientationBecomePanelSamples) {
  const struct {
    int angle;
    const char* stroke;
    std::vector<std::pair<int, int>> panel;  // quarter pixels of the first samples and the last
    size_t samples;
  } cases[] = {
      {0, "tap 200 300 hold 10", {{800, 1200}, {800, 1200}}, 3},
      {90, "tap 300 100 hold 10", {{400, 80}, {400, 80}}, 3},
      {270, "tap 300 100 hold 10", {{560, 1200}, {560, 1200}}, 3},
      {90, "flick 300 100 310 100 10", {{400, 80}, {400, 40}}, 3},
      // 240 pixels in 400 ms: 233 ms down (24 samples), 167 ms right (16 more), the pen-up.
      {0, "stroke 120 60 120 200 220 200 400", {{480, 240}, {880, 800}}, 41},
  };
  for (const auto& c : cases) {
    auto r = sim::run_scenario(sim::parse_scenario(
        fmt::format("preset HKLM\\System\\GDI\\Rotation Angle dword {}\n{}\n", c.angle, c.stroke),
        "rot.scn", ""));
    std::vector<std::pair<int, int>> panel;
    for (const auto& e : r.log)
      if (e.kind == "panel") panel.emplace_back(e.num("x"), e.num("y"));
    ASSERT_EQ(panel.size(), c.samples) << c.stroke;
    EXPECT_EQ(panel.front(), c.panel[0]) << c.stroke;
    EXPECT_EQ(panel.back(), c.panel[1]) << c.stroke;
    if (c.samples == 41) {
      EXPECT_EQ(panel[23], std::make_pair(480, 800)) << "the corner";
    }
  }
}

// The browser's history and zoom store and a window that refuses to close come from the window
// options.
TEST(SimMessages, BrowserHistoryZoomStoreAndRefusedClose) {
  auto r = sim::run_scenario(sim::parse_scenario(
      "window ie browser 0 0 240 320 pages 5 at 2 no-zoom-store 1\n"
      "window p plain 0 0 50 50 refuses-close 1\nsend ie 0x111 2200 0\nsend ie 0x111 2200 0\n"
      "send ie 0x111 2205 0\nsend ie 0x111 5673 0\nsend p 0x10 0 0\n",
      "ie.scn", ""));
  std::string seen;
  for (const auto& e : r.log) {
    if (e.kind == "browser") seen += e.str("did") + ";";
    if (e.kind == "app-close") seen += e.str("did") + ";";
    if (e.kind == "reg-write" && e.str("value") == "ZoomSetting") seen += "stored;";
  }
  EXPECT_EQ(seen, "page 1 of 5;page 1 of 5;page 2 of 5;zoom level 4;stays;");
}

// Messages reach a placed window by its label and another process's window by its class; a
// window that went by itself (WM_CLOSE) stops the run at the next command that names it.
TEST(SimMessages, PostAndSendByLabelOrClassAndAWindowThatWent) {
  auto s = sim::parse_scenario(
      "window v aware 0 26 240 268\npost v 0x400 1 2\nsend class:GST_Viewer 0x401 3 0xFFFFFFFF\n"
      "post class:MSGBROKER 0 0 0\nsend v 0x10 0 0\npost v 1 0 0\n",
      "msg.scn", "");
  std::vector<dev::LogEntry> log;
  sim::RunOptions options;
  options.live = [&log](const dev::LogEntry& e) { log.push_back(e); };
  try {
    sim::run_scenario(s, options);
    ADD_FAILURE() << "a message to a closed window was carried out";
  } catch (const sim::CommandError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("msg.scn:6: ", 0), 0u) << e.what();
  }
  std::string seen;
  for (const auto& e : log) {
    if (e.kind == "app-received")
      seen += fmt::format("{} {} {};", e.num("msg"), e.str("wParam"), e.str("lParam"));
    if (e.kind == "post" && e.str("window").rfind("MSGBROKER:", 0) == 0) seen += "broker;";
    if (e.kind == "send-answer") seen += "answer " + e.str("target") + ";";
  }
  // A sent message is answered before the posted one still queued.
  EXPECT_EQ(seen,
            "1025 0x3 0xffffffff;1024 0x1 0x2;answer class:GST_Viewer;broker;16 0x0 0x0;answer v;");
}

// A run that cannot go on says why. A touch driver that is not there is bad input; on the
// landscape screen of 90 degrees a point below 240 is off it when the stroke starts. A boot that
// did not bring up what the scenario installed fails the run instead of passing every stroke
// straight through; without the installation the broker's library is not wanted.
TEST_F(SimTest, ARunThatCannotGoOnSaysWhy) {
  const struct {
    const char* broken;  // in \\Windows: emptied, removed with a leading '-', or "" for none
    const char* scenario;
    const char* error;  // "input", "command", "down", or "" when the run goes on
    const char* start;  // of the message
    const char* named;  // in the message
  } cases[] = {
      {"", "touch-driver nowhere.dll\n", "input", "run.scn:1: ", "nowhere.dll"},
      {"", "preset HKLM\\System\\GDI\\Rotation Angle dword 90\nwait 5\ntap 100 300\n", "command",
       "run.scn:3: ", ""},
      {"Quenza.dll", "wait 10\n", "down", kDown, "Quenza.dll"},
      {"Quenza.dll", "install off\nwait 10\n", "", "", ""},
      {"-Pallux.dll", "wait 10\n", "down", kDown, "Pallux.dll"},
      {"-touch.dll", "install off\nwait 10\n", "down", kDown, "touch.dll"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.broken) + " " + c.scenario);
    sim::RunOptions options;
    std::string broken = c.broken;
    if (!broken.empty()) {
      fs::path windows = dir_ / "windows";
      fs::remove_all(windows);
      fs::copy(VEXORI_WINDOWS_DIR, windows);
      if (broken[0] == '-') {
        fs::remove(windows / broken.substr(1));
      } else {
        Write("windows/" + broken, "");
      }
      options.windows_dir = windows.string();
    }
    std::string error, what;
    try {
      sim::run_scenario(sim::parse_scenario(c.scenario, "run.scn", ""), options);
    } catch (const sim::DeviceDownError& e) {
      error = "down", what = e.what();
    } catch (const sim::CommandError& e) {
      error = "command", what = e.what();
    } catch (const dev::InputError& e) {
      error = "input", what = e.what();
    }
    EXPECT_EQ(error, c.error) << what;
    EXPECT_EQ(what.rfind(c.start, 0), 0u) << what;
    EXPECT_NE(what.find(c.named), std::string::npos) << what;
  }
}

TEST_F(SimTest, RecordedStrokesAndResampling) {
  // Gaps longer than the limit hold the position; a short one is interpolated; the last point is
  // always reached.
  sim::RecordedStroke gap{"gap", {{0, 0, 0}, {20, 20, 0}, {505, 100, 40}}, "", ""};
  auto pts = sim::resample(gap, 100, 100);
  ASSERT_GE(pts.size(), 3u);
  EXPECT_TRUE(pts[1].t == 10u && pts[1].x == 10);
  for (size_t i = 1; i < pts.size(); ++i) {
    EXPECT_EQ(pts[i].t - pts[i - 1].t, 10u);
    EXPECT_TRUE(pts[i].t < 20 || pts[i].t >= 505 || pts[i].x == 20) << "at " << pts[i].t;
  }
  EXPECT_TRUE(pts.back().x == 100 && pts.back().y == 40);

  for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
           {"broken.xml", "<Gesture Name=\"x\"><Point X=\"1\" Y=\"2\" T=\"3\">\n</Gesture>"},
           {"empty.xml", "<Gesture Name=\"x\"></Gesture>"},
           {"other.xml", "<Stroke/>"},
           {"backwards.xml",
            "<Gesture><Point X=\"1\" Y=\"1\" T=\"50\"/><Point X=\"1\" Y=\"1\" "
            "T=\"40\"/></Gesture>"},
       }) {
    std::string path = Write(name, text);
    try {
      sim::load_recorded_stroke(path);
      ADD_FAILURE() << name << " accepted";
    } catch (const dev::InputError& e) {
      EXPECT_EQ(e.file, path);
      EXPECT_TRUE(name != "broken.xml" || e.line == 2) << e.what();
    }
  }
}

TEST_F(SimTest, ProgramExitCodes) {
  std::string sim = VEXORI_WINDOWS_DIR "/../vexori-sim";
  if (!fs::exists(sim)) GTEST_SKIP() << "vexori-sim is not built";
  std::string at = dir_.string() + "/";
  auto here = [&](std::string text) {
    for (size_t p; (p = text.find('@')) != std::string::npos;) text.replace(p, 1, at);
    return text;
  };
  Write("bad.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\n\"A\"=dword:xyz\n");
  Write("long.scn", "wait 60000\n");
  auto point = [](const std::string& attributes) {
    return "<Gesture>\n<Point X=\"1\" Y=\"1\" T=\"0\"/>\n<Point " + attributes + "/></Gesture>";
  };
  Write("abc.xml", point("X=\"abc\" Y=\"1\" T=\"1\""));
  Write("far.xml", point("X=\"100000\" Y=\"1\" T=\"1\""));
  Write("late.xml", point("X=\"1\" Y=\"1\" T=\"4000000000\""));
  Write("latin1.xml", point("X=\"1\" Y=\"1\" T=\"1\" Name=\"caf\xE9\""));
  Write("latin1.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\n\"A\"=\"caf\xE9\"\n");
  Write("r.png", "REGEDIT4\n");
  fs::create_hard_link(dir_ / "r.png", dir_ / "hard.png");
  fs::create_symlink("/dev/zero", dir_ / "zero.xml");
  fs::create_symlink("loop.scn", dir_ / "loop.scn");
  Write("ok.xml", point("X=\"5\" Y=\"5\" T=\"10\""));
  Write("two.xml", point("X=\"5\" Y=\"5\" T=\"10\"") + "\n" + point("X=\"5\" Y=\"5\" T=\"10\""));
  fs::copy(VEXORI_WINDOWS_DIR, dir_ / "broken");
  Write("broken/Quenza.dll", "");
  // Device folders as --device-dir takes them; the first has no registry files.
  for (const char* device : {"dev/Windows", "dev2/Windows"}) {
    fs::create_directories(dir_ / device);
    fs::copy(VEXORI_WINDOWS_DIR, dir_ / device);
  }
  fs::create_directories(dir_ / "dev2/registry");
  fs::copy(VEXORI_SOURCE_DIR "/platform/registry/device.reg", dir_ / "dev2/registry");
  fs::copy(VEXORI_SOURCE_DIR "/install/vexori.reg", dir_ / "dev2/registry");
  // Each row's scenario is written to s.scn; runs of the device also write --jsonl @out.jsonl,
  // which only a run that ended may leave, and refused input prints nothing on stdout.
  const struct {
    std::string scenario;
    std::string args;
    int code;
    std::string message;  // in stderr
  } cases[] = {{"", "demo", 0, ""},
               {"", "--version", 0, ""},
               {"reg HKLM\\Software\\Quob\\Gesture Sound string 1\n", "run @s.scn", 0, "warning"},
               {"tap 10 10\nexpect sample 1\n", "run @s.scn", 1, ""},
               {"wait 10\ntap 10 10\nsmudge 4\n", "run @s.scn", 2, "@s.scn:3: "},
               {"wait 10\nregfile bad.reg\n", "run @s.scn", 2, "@bad.reg:3: "},
               {"note \"caf\xE9\"\n", "run @s.scn", 2, "@s.scn:1: not valid UTF-8"},
               {"wait 5\nreplay abc.xml\n", "run @s.scn", 2,
                "abc.xml:3: X=\"abc\" is not a whole number (named by @s.scn:2)"},
               {"replay far.xml\n", "run @s.scn", 2, "far.xml:3: X=\"100000\" is out of range"},
               {"replay late.xml\n", "run @s.scn", 2, "late.xml:3: the stroke lasts longer"},
               {"replay latin1.xml\n", "run @s.scn", 2, "latin1.xml:3: not valid UTF-8"},
               {"replay .\n", "run @s.scn", 2, "is a directory"},
               {"regfile .\n", "run @s.scn", 2, "is a directory"},
               {"", "run @", 2, "is a directory"},
               {"wait 10\n", "run @s.scn --device-dir @dev", 2, "registry/device.reg: cannot open"},
               {"wait 10\n", "run @s.scn --device-dir @dev2", 0, ""},
               {"tap 10 10 rate 0\n", "run @s.scn", 2, "out of range"},
               {"tap 10 10 rate 50 rate 60\n", "run @s.scn", 2, "given twice"},
               {"expect smaple 1\n", "run @s.scn", 2, "no entries of kind 'smaple'"},
               {"wait 10\n", "run @s.scn --audio @", 2, "is a directory"},
               {"wait 10\n", "run @s.scn --audio @none/a.wav", 2, "cannot be written"},
               {"wait 86400000\n", "run @s.scn --audio @a.wav", 2, "@a.wav: the run waits"},
               {"wait 10\n", "run @s.scn --windows @broken", 3,
                "Quenza.dll in @broken cannot be loaded: file too short"},
               // Inputs are bounded, and their reasons named.
               {"", "run /dev/zero", 2, "/dev/zero: is larger than 32 MB"},
               {"regfile /dev/zero\n", "run @s.scn", 2, "/dev/zero: is larger than 32 MB"},
               {"replay zero.xml\n", "run @s.scn", 2, "zero.xml: is larger than 32 MB"},
               {"", "replay @zero.xml", 2, "zero.xml: is larger than 32 MB"},
               {"", "run @none.scn", 2, "@none.scn: cannot open the scenario: No such file"},
               {"", "run @loop.scn", 2, "cannot open the scenario: Too many levels of symbolic"},
               {"\xEF\xBB\xBFwait 10\n", "run @s.scn", 0, ""},
               // No output takes the place of an input or of another output.
               {"regfile r.png\n", "run @s.scn --screenshot @r.png", 2, "@r.png: is an input"},
               {"regfile r.png\n", "run @s.scn --screenshot @hard.png", 2, "is the input @r.png"},
               {"wait 10\n", "run @s.scn --screenshot @s.png --picture @./s.png", 2,
                "another output, @s.png"},
               {"", "replay @ok.xml --csv @ok.xml", 2, "is an input"},
               // Values refused before the run.
               {"regfile latin1.reg\n", "run @s.scn", 2, "@latin1.reg:3: not valid UTF-8"},
               {"leave-out NoSuch.dll\n", "run @s.scn", 2, "@s.scn:1: no file NoSuch.dll"},
               {"wait 5\nstart NoSuch.exe\n", "run @s.scn", 2, "@s.scn:2: no file NoSuch.exe"},
               {"wait 10\n", "run @s.scn --audio @a.mp3", 2, "a .wav file"},
               {"", "replay @ok.xml --set LenThres=5 --set lenthres=6", 2, "given twice"},
               {"", "replay @ok.xml --jobs 0", 2, "1 to 64"},
               {"", "replay @ok.xml --jobs 100000", 2, "1 to 64"},
               {"", "tune @ok.xml --vary LenThres=1,2147483648", 2, "0 to 2147483647"},
               {"", "replay @two.xml", 2, "a second <Gesture>"},
               {"", "nosuch", 64, "vexori-sim: no subcommand 'nosuch'"},
               {"wait 10\npost class:NoSuchClass 1 0 0\n", "run @s.scn", 4, "@s.scn:2: "},
               {"", "run", 64, "vexori-sim: "},
               {"wait 10\n", "run @s.scn --windows @s.scn", 64, "--windows"},
               {"wait 10\n", "run @s.scn --jsonl @a", 64, "--jsonl"},
               {"", "demo --json --json", 64, "--json"}};
  for (const auto& c : cases) {
    Write("s.scn", c.scenario);
    std::string args = here(c.args);
    bool device = c.args.rfind("run @", 0) == 0 || c.args.rfind("demo", 0) == 0;
    if (device) args += " --jsonl " + at + "out.jsonl";
    // The device's folders go to the scratch folder, to see that none outlives its run.
    int status = std::system(
        ("TMPDIR=" + at + " " + sim + " " + args + " >" + at + "stdout.txt 2>" + at + "stderr.txt")
            .c_str());
    std::ifstream err(at + "stderr.txt");
    std::string text((std::istreambuf_iterator<char>(err)), {});
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.code) << c.args << "\n" << text;
    EXPECT_NE(text.find(here(c.message)), std::string::npos) << c.args << "\n" << text;
    if (c.code == 2 || c.code == 64) {
      EXPECT_EQ(fs::file_size(at + "stdout.txt"), 0u) << c.args;
    }
    if (device) {
      EXPECT_EQ(fs::exists(at + "out.jsonl"), c.code <= 1) << c.args;
    }
    fs::remove(at + "out.jsonl");
  }
  // A run ended by SIGTERM removes its device's folder too.
  int status = std::system(("TMPDIR=" + at + " timeout -s TERM 0.5 " + sim + " run --realtime " +
                            at + "long.scn >/dev/null")
                               .c_str());
  EXPECT_EQ(WEXITSTATUS(status), 124) << "the run should have been ended by the signal";
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_NE(entry.path().filename().string().rfind("vexori-", 0), 0u) << entry.path();
  }
}

// Standard output that fails ends the run at once: a full disk with exit 5, a reader that went
// away by SIGPIPE. Either way the log file is not left half-written, nor the device's folder.
// What a killed run left behind goes with the next run; what a live run holds stays.
TEST_F(SimTest, FailedOutputsAndWhatAKilledRunLeft) {
  std::string sim = VEXORI_WINDOWS_DIR "/../vexori-sim";
  if (!fs::exists(sim)) GTEST_SKIP() << "vexori-sim is not built";
  std::string at = dir_.string() + "/";
  std::string env = "TMPDIR=" + at + " ";
  std::string jsonl = " --jsonl " + at + "out.jsonl";
  const struct {
    std::string command;
    int code;  // the exit code, or 128 + the signal that ended it
  } cases[] = {
      {"exec " + sim + " demo >/dev/full 2>/dev/null", 5},
      {"exec " + sim + " demo --log full" + jsonl + " 2>/dev/null", 128 + SIGPIPE},
      {"exec " + sim + " replay " VEXORI_SOURCE_DIR "/data/traces 2>/dev/null", 128 + SIGPIPE}};
  for (const auto& c : cases) {
    // Only the first line is read; then the pipe is closed.
    FILE* out = popen((env + c.command).c_str(), "r");
    ASSERT_NE(out, nullptr);
    char line[256];
    ASSERT_TRUE(c.code == 5 || fgets(line, sizeof line, out) != nullptr) << c.command;
    int status = pclose(out);
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    EXPECT_EQ(code, c.code) << c.command;
    for (const auto& entry : fs::directory_iterator(dir_))
      ADD_FAILURE() << "left behind: " << entry.path() << " by " << c.command;
  }

  // A device folder and a partial output of a killed run, and the same of a live one.
  for (const char* folder : {"vexori-1-abcdef", "vexori-2-ghijkl"}) {
    fs::create_directories(dir_ / folder);
    Write(std::string(folder) + "/.lock", "");
  }
  Write(".out.jsonl.abcdef", "partial");
  Write(".out.jsonl.ghijkl", "partial");
  auto old = fs::file_time_type::clock::now() - std::chrono::minutes(5);
  for (const char* partial : {".out.jsonl.abcdef", ".out.jsonl.ghijkl"})
    fs::last_write_time(dir_ / partial, old);
  int live_folder = open((dir_ / "vexori-2-ghijkl/.lock").c_str(), O_RDONLY);
  int live_output = open((dir_ / ".out.jsonl.ghijkl").c_str(), O_RDONLY);
  ASSERT_EQ(flock(live_folder, LOCK_EX), 0);
  ASSERT_EQ(flock(live_output, LOCK_EX), 0);
  Write("s.scn", "wait 10\n");
  int status = std::system(
      (env + sim + " run " + at + "s.scn --json" + jsonl + " >" + at + "stdout.txt").c_str());
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(fs::exists(dir_ / "vexori-1-abcdef"));
  EXPECT_FALSE(fs::exists(dir_ / ".out.jsonl.abcdef"));
  EXPECT_TRUE(fs::exists(dir_ / "vexori-2-ghijkl"));
  EXPECT_TRUE(fs::exists(dir_ / ".out.jsonl.ghijkl"));
  close(live_folder);
  close(live_output);

  // The summary closes the log as a record of its own; a field never shadows the envelope's.
  for (const std::string& file : {at + "stdout.txt", at + "out.jsonl"}) {
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    auto last = text.rfind('\n', text.size() - 2);
    auto summary = nlohmann::json::parse(text.substr(last + 1));
    EXPECT_EQ(summary["kind"], "summary") << file;
    EXPECT_EQ(summary["panel_samples"], 0) << file;
    EXPECT_EQ(text.find("\"field_"), std::string::npos) << file;
  }

  // A folder for temporary files that is not there is named, where the device's library copies
  // are files; made in memory, they need none. Under the sanitizers they are always files.
  EXPECT_EQ(WEXITSTATUS(std::system(
                ("TMPDIR=" + at + "none " + sim + " run " + at + "s.scn >/dev/null 2>&1").c_str())),
            dev::module_copies_in_memory() ? 0 : 3);
  status = std::system(("VEXORI_DEVICE_FILES=1 TMPDIR=" + at + "none " + sim + " run " + at +
                        "s.scn 2>" + at + "stderr.txt >/dev/null")
                           .c_str());
  std::ifstream err(at + "stderr.txt");
  std::string text((std::istreambuf_iterator<char>(err)), {});
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_NE(text.find("TMPDIR is " + at + "none"), std::string::npos) << text;
}

}  // namespace
