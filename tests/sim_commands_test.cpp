// The typed commands of a scenario: each written back as its line reads again to the same
// command, and the live device's commands are checked as the lines of a file are.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "LiveCommands.h"
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
