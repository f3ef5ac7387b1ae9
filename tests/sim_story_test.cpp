// The brief log's account of the settings program and the settings: the user's doings, the
// program's answers and every write of a gesture setting, in the order they happened.
#include <gtest/gtest.h>

#include "ProgramStory.h"
#include "Runner.h"

namespace {

std::vector<std::string> story_of(const std::string& scenario) {
  sim::ProgramStory story;
  std::vector<std::string> lines;
  sim::RunOptions options;
  options.keep_log = false;
  options.live = [&](const dev::LogEntry& e) {
    std::string line = story.line(e);
    // Without the stamp: the times are not what is tested here.
    if (!line.empty()) lines.push_back(line.substr(line.find("] ") + 2));
  };
  auto r = sim::run_scenario(sim::parse_scenario(scenario, "story.scn", ""), options);
  EXPECT_TRUE(r.failures.empty());
  return lines;
}

// What the log says between the first and the last line that contains `from` and `to`.
std::vector<std::string> between(const std::vector<std::string>& lines, const std::string& from,
                                 const std::string& to) {
  std::vector<std::string> out;
  bool in = false;
  for (const auto& l : lines) {
    in = in || l.find(from) != std::string::npos;
    if (in) out.push_back(l);
    if (in && l.find(to) != std::string::npos) break;
  }
  return out;
}

TEST(ProgramStory, TheSettingsProgramSwitchedOnAndItsWrites) {
  auto lines = story_of(
      "window list list 0 26 240 268 lines 40 page 12\nforeground list\nwait 100\n"
      "reg HKLM\\Software\\Quob\\Gesture Activate dword 0\nwait 100\n"
      "start Corvane.exe\ntick \"Enable Vexori Function\"\npress Done\nwait 100\n");
  EXPECT_EQ(between(lines, "the scenario wrote Activate", "Corvane.exe ended"),
            (std::vector<std::string>{
                "setting  the scenario wrote Activate = 0 in Gesture (as it was)",
                "user     start Corvane.exe",
                "program  Corvane.exe started",
                "program  Corvane.exe opened the dialog \"Dialog\"",
                "program  switch 1000 not ticked",
                // The installation leaves "Sound" out: the program creates it.
                "setting  Corvane.exe wrote Sound = 0 in Gesture",
                "program  switch 1001 not ticked",
                "user     tick \"Enable Vexori Function\"",
                "program  switch 1000 ticked",
                "user     press Done",
                "setting  Corvane.exe wrote Activate = 1 in Gesture",
                "setting  Corvane.exe wrote Default = 1 in Gesture",
                "setting  Corvane.exe wrote Sound = 0 in Gesture (as it was)",
                "program  the dialog \"Dialog\" ended with 0",
                "program  Corvane.exe ended with 0",
            }));
}

// A save that cannot open the key shows a message box; the answer ends it, and nothing is
// written.
TEST(ProgramStory, AMessageBoxShownAndAnswered) {
  auto lines = story_of(
      "fail RegCreateKeyExW 2 HKLM\\Software\\Quob\\Gesture\n"
      "window list list 0 26 240 268 lines 40 page 12\nforeground list\nwait 100\n"
      "start Corvane.exe\ntick 1001\npress Done\nanswer\nwait 100\n");
  auto told = between(lines, "user     press Done", "Corvane.exe ended");
  EXPECT_EQ(told, (std::vector<std::string>{
                      "user     press Done",
                      "program  Corvane.exe shows the message box \"error\": cannot open reg key",
                      "user     answer",
                      "program  the message box \"error\" was answered",
                      "program  the dialog \"Dialog\" ended with 0",
                      "program  Corvane.exe ended with 0",
                  }));
}

}  // namespace
