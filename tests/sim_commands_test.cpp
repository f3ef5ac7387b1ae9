// The typed commands of a scenario: each written back as its line reads again to the same
// command, and the live device's commands are checked as the lines of a file are.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "LiveCommands.h"
#include "Runner.h"
#include "Tour.h"
#include "Requests.h"
#include "Scenario.h"
#include "Session.h"

namespace {
namespace fs = std::filesystem;

class SimCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vexori-commands-" + std::to_string(getpid()));
    fs::create_directories(dir_);
    std::ofstream(dir_ / "extra.reg") << "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Quob]\n";
    std::ofstream(dir_ / "stroke.xml") << "<Gesture Name=\"mini\"><Point X=\"50\" Y=\"60\" "
                                          "T=\"1000\"/><Point X=\"70\" Y=\"60\" T=\"1030\"/>"
                                          "</Gesture>";
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

// Every kind of command, written as a person might: numbers in hexadecimal or with leading
// zeros, options in any order, quoted words. Written back, each line reads as the same command;
// written back again it is the same text.
TEST_F(SimCommands, EveryKindWrittenBackReadsAsTheSameCommand) {
  const std::string setup =
      "screen 0x1E0 640 dpi 192\nboot-tick 0xFFFFFFF0\ninstall off\n"
      "preset HKLM\\Software\\Quob\\Gesture Amp dword -1\n"
      "preset HKCU\\Software\\Quob Name string \"two words\"\nreg-delete-key HKCU\\Software\\X\n"
      "touch-driver touch.dll\nbroker late 0500\nfail RegCreateKeyExW 2 HKLM\\Software\\Quob\n"
      "fail CreateThread 1 error 0x57\nleave-out Pallux.dll\n";
  const std::string run =
      "boot\nregfile extra.reg\nreg HKCU\\Software\\Quob Level dword 3\n"
      "reg HKCU\\Software\\Quob Text string \"a # b\"\nreg-delete HKCU\\Software\\Quob Level\n"
      "power idle 0x00100000 fail 50\nwait 040\nsample 0xb -8 8191\n"
      "note \"all commands\" here\nnote \"\"\nnote say\"so x\nexpect note 02\n"
      "tap 100 100 rate 50 hold 0\ndrag 10 10 50 50 100 settle 24 rest 30\n"
      "flick 10 10 200 10 60 rate 1000\nstroke 10 10 50 50 90 10 300 rate 20\n"
      "replay stroke.xml native 1 rate 50\nscreenshot shot.png\ntimeline \"a b.svg\"\n"
      "picture p.png\nwindow l list 0 0 240 160 page 8 lines 40 title \"the list\"\n"
      "window web browser 0 0 240 320 no-zoom-store 1 at 2 pages 3 refuses-close 1\n"
      "window v plain -10 10 50 50 parent l hidden 1 ink 0 class Odd\nforeground l\nhide l\n"
      "show l\ndestroy v\nexpect-scroll l 0x10\npost l 0x100 -1 0xFFFFFFFF\n"
      "send class:GES_Hidden 1 2 3\nstart Corvane.exe\nstart peghelp.exe \"\"\n"
      "tick \"Enable Vexori Function\"\npress Done\nanswer\nclose\nhelp\n";
  sim::Scenario s = sim::parse_scenario(setup + run, "all.scn", dir_.string());
  std::vector<sim::Command> all = s.before_boot;
  all.insert(all.end(), s.commands.begin(), s.commands.end());
  // The setup commands that set the scenario's own fields are no part of its commands.
  all.push_back({1, sim::cmd::Screen{480, 640, 192}});
  all.push_back({2, sim::cmd::BootTick{0xFFFFFFF0u}});
  all.push_back({3, sim::cmd::Install{false}});
  std::set<size_t> kinds;
  for (const sim::Command& c : all) {
    kinds.insert(c.kind.index());
    std::string line = sim::scenario_line(c);
    SCOPED_TRACE(line);
    bool is_setup = c.line <= 11;
    // Window commands name the windows placed before them.
    std::string before = is_setup ? "" : "window l list 0 0 10 10\nwindow v plain 0 0 10 10\n";
    if (line.rfind("window l ", 0) == 0) before = "";
    if (line.rfind("window v ", 0) == 0) before = "window l list 0 0 10 10\n";
    sim::Scenario again = sim::parse_scenario(before + line + "\n", "again.scn", dir_.string());
    const auto& read = is_setup ? again.before_boot : again.commands;
    if (std::holds_alternative<sim::cmd::Screen>(c.kind)) {
      EXPECT_EQ(again.screen.width, 480);
      EXPECT_EQ(again.screen.dpi, 192);
    } else if (std::holds_alternative<sim::cmd::BootTick>(c.kind)) {
      EXPECT_EQ(again.boot_tick, 0xFFFFFFF0u);
    } else if (std::holds_alternative<sim::cmd::Install>(c.kind)) {
      EXPECT_FALSE(again.install);
    } else {
      ASSERT_FALSE(read.empty());
      EXPECT_TRUE(read.back().kind == c.kind);
      EXPECT_EQ(sim::scenario_line(read.back()), line);
    }
  }
  EXPECT_EQ(kinds.size(), std::variant_size_v<sim::cmd::Kind>) << "a kind is not tried";

  // What the values are, whatever way they were written.
  auto tap = std::get<sim::cmd::Tap>(s.commands[12].kind);
  EXPECT_EQ(tap.hold, 0u);
  EXPECT_EQ(tap.rate, 50u);
  EXPECT_EQ(std::get<sim::cmd::Preset>(s.before_boot[0].kind).value.number, 0xFFFFFFFFu);
  EXPECT_EQ(std::get<sim::cmd::Fail>(s.before_boot[5].kind).error, 5u) << "its default";
  EXPECT_EQ(std::get<sim::cmd::Note>(s.commands[8].kind).text, "all commands here");
  EXPECT_EQ(sim::scenario_line(s.commands[10]), "note say\"so x");
  EXPECT_EQ(sim::describe_stroke(s.commands[13]),
            "drag 10,10 to 50,50 in 100 ms after a 30 ms rest settled from 24 px below");
  EXPECT_EQ(sim::describe_stroke(s.commands[16]), "replay stroke.xml");
}

// Each value is checked as the line is read, with the message a person reads: the whole of it.
TEST(SimCommandChecks, EveryBadValueIsRefusedWithItsMessage) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"tap 1 x\n", "1: 'x' is not a number (argument 2 of tap)"},
      {"tap 1 9000\n", "1: '9000' is out of range for tap (-8191 to 8191)"},
      {"tap 1 1 hold\n", "1: option 'hold' needs a value"},
      {"tap 1 1 rate 0\n", "1: '0' is out of range for tap (1 to 1000)"},
      {"tap 1 1 hold 5 hold 6\n", "1: option 'hold' is given twice"},
      {"flick 1 1 2 2 10 rest 5\n", "1: unknown option 'rest' for flick"},
      {"stroke 1 1 2 2 3 3 100 rate 5 rate 6\n", "1: option 'rate' is given twice"},
      {"sample 0x3 1\n", "1: wrong number of arguments for sample"},
      {"power idle 1 fail\n", "1: option 'fail' needs a value"},
      {"reg HKXX\\A B dword 1\n", "1: unknown registry root: HKXX"},
      {"reg HKLM\\A B dword 0x100000000\n",
       "1: '0x100000000' is out of range for reg (-2147483648 to 4294967295)"},
      {"fail RegCreateKeyExW 1 HKXX\\A\n", "1: unknown registry root: HKXX"},
      {"fail CreateThread 1 error 0\n", "1: a failing call needs an error other than 0"},
      {"fail Nope 1\n",
       "1: fail takes CreateThread, CreateEventW, RegCreateKeyExW, RegQueryValueExW, "
       "SHCreateMenuBar or ChangeDisplaySettingsExW, not 'Nope'"},
      {"broker off 5\n", "1: broker takes late MS or off"},
      {"install maybe\n", "1: install takes on or off"},
      {"screen 240 320 dpi 3000\n", "1: '3000' is out of range for screen (1 to 2400)"},
      {"wait 1\nboot-tick 5\n", "2: boot-tick must come before the device starts"},
      {"expect nothing 1\n", "1: the log has no entries of kind 'nothing'"},
      {"replay a.xml rate\n", "1: replay takes FILE [rate HZ] [native 1]"},
      {"screenshot a.bmp\n", "1: screenshot takes FILE, a .png or .svg file"},
      {"note \"open\n", "1: unterminated quoted text"},
      {"jump 1\n", "1: unknown command 'jump'"},
      {"window w list 0 0 10 10 colour 3\n", "1: unknown window option 'colour'"},
      {"window w nope 0 0 10 10\n",
       "1: unknown window kind 'nope' (list, browser, view, sip, opera, aware, plain)"},
      {"window w list 0 0 0 10\n", "1: '0' is out of range for window (1 to 4096)"},
      {"window w list 0 0 10 10\nwindow w plain 0 0 5 5\n",
       "2: a window named 'w' is already placed"},
      {"foreground\n", "1: wrong number of arguments for foreground"},
      {"expect-scroll w 1\n", "1: no window named 'w' was placed before"},
      {"post w 1 2\n", "1: post takes WINDOW MSG WPARAM LPARAM"},
      {"start a/b.exe\n", "1: start takes the name of a program in \\Windows"},
      {"tick \"\"\n", "1: tick needs a name"},
      {"answer x\n", "1: wrong number of arguments for answer"},
  };
  for (const auto& c : cases) {
    try {
      sim::parse_scenario(c.text, "m.scn", "");
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const dev::InputError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("m.scn:") + c.message) << c.text;
    }
  }
  auto s = sim::parse_scenario("reg HKLM\\Software\\Quob\\Gesture Amp string 5\n", "m.scn", "");
  ASSERT_EQ(s.warnings.size(), 1u);
  EXPECT_EQ(s.warnings[0],
            "m.scn:1: warning: the gesture settings are DWORD values; Amp written as a string is "
            "not read");
}

// A scenario written back from its commands runs to the same log: the runner plays what the
// commands hold, not the text they came from.
TEST(SimCommandChecks, AScenarioWrittenBackFromItsCommandsRunsTheSame) {
  sim::Scenario tour = sim::tour_scenario();
  std::string text;
  for (const sim::Command& c : tour.before_boot) text += sim::scenario_line(c) + "\n";
  for (const sim::Command& c : tour.commands) text += sim::scenario_line(c) + "\n";
  sim::Scenario again = sim::parse_scenario(text, "<tour>", "");
  sim::RunOptions options;
  auto first = sim::run_scenario(tour, options), second = sim::run_scenario(again, options);
  ASSERT_EQ(first.outcomes.size(), second.outcomes.size());
  EXPECT_GT(first.outcomes.size(), 10u);
  for (size_t i = 0; i < first.outcomes.size(); ++i) {
    EXPECT_EQ(first.outcomes[i].start, second.outcomes[i].start) << "outcome " << i;
    EXPECT_EQ(first.outcomes[i].decision, second.outcomes[i].decision) << "outcome " << i;
    EXPECT_EQ(first.outcomes[i].drawn, second.outcomes[i].drawn) << "outcome " << i;
  }
  // The lines differ (comments and blank lines are gone); the entries do not.
  ASSERT_EQ(first.log.size(), second.log.size());
  for (size_t i = 0; i < first.log.size(); ++i)
    ASSERT_EQ(first.log[i].text(), second.log[i].text()) << "entry " << i;
}

// The live device's commands are the lines its kept file has always held.
TEST(SimLiveCommands, TheKeptLinesAreTheScenarioLanguage) {
  using namespace sim::serve;
  EXPECT_EQ(scenario_lines(start_commands("w0")),
            "reg HKLM\\Software\\Quob\\Gesture Activate dword 1\n"
            "window w0 list 0 26 240 268 lines 400 page 12\nforeground w0\n");
  EXPECT_EQ(scenario_lines(window_commands("browser", "w1", "w0")),
            "destroy w0\nwindow w1 browser 0 0 240 320 pages 5 at 3\n"
            "window w1-page view 0 26 240 268 parent w1 lines 2000\nforeground w1\n");
  EXPECT_TRUE(window_commands("sip", "w2", "w1").empty());
  uint64_t up = 0;
  std::string tap =
      scenario_lines(stroke_commands({{0, 10, 20}, {30, 10, 20}}, 7, 0, dev::Screen(), &up));
  EXPECT_EQ(tap,
            "wait 7\nsample 0x3 40 80\nwait 10\nsample 0xb 40 80\nwait 10\n"
            "sample 0xb 40 80\nwait 10\nsample 0xb 40 80\nwait 10\nsample 0x9 40 80\n");
  EXPECT_EQ(up, 40u);
}

// A command a program builds is checked as the same line of a file would be: one naming a window
// never placed is refused with the line's message, and the scenario stays as it was.
TEST(SimLiveCommands, BuiltCommandsAreCheckedAsLines) {
  sim::ScenarioParser p("live.scn", "");
  p.parse_text("window w0 list 0 0 10 10\n");
  sim::ScenarioParser before = p;
  try {
    p.add({0, sim::cmd::Foreground{"w9"}});
    ADD_FAILURE() << "accepted";
  } catch (const dev::InputError& e) {
    EXPECT_EQ(std::string(e.what()), "live.scn:2: no window named 'w9' was placed before");
  }
  EXPECT_THROW(p.add({0, sim::cmd::Sample{3, 9000, 0}}), dev::InputError);  // past the panel
  p = before;
  p.add({0, sim::cmd::Destroy{"w0"}});
  EXPECT_EQ(p.scenario().commands.back().line, 2);
  EXPECT_EQ(p.scenario().commands.size(), 2u);
}

// A scenario given to the live device whose last line has no newline: each stroke is its own line
// after it, and the kept file plays again.
TEST(SimLiveCommands, ABaseWithoutItsLastNewlineTakesStrokes) {
  fs::path folder = fs::temp_directory_path() / ("vexori-live-" + std::to_string(getpid()));
  fs::create_directories(folder);
  uint64_t wall = 1000;
  sim::serve::Session s(
      "reg HKLM\\Software\\Quob\\Gesture Activate dword 1\nwindow w list 0 26 240 268 lines 400\n"
      "foreground w\nwait 100",
      "live.scn", ".", sim::RunOptions(), folder.string(), [&] { return wall; });
  auto answer = s.stroke({{0, 120, 200}, {150, 120, 140}});
  EXPECT_EQ(answer["outcome"]["decision"], "handed over") << answer.dump();
  sim::Scenario kept = sim::parse_scenario(s.kept(), "kept.scn", ".");
  EXPECT_EQ(sim::run_scenario(kept).outcomes.size(), 1u);
  fs::remove_all(folder);
}

}  // namespace
