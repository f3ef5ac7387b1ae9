// Recommended settings: who drew what, the split into fitted and held-out strokes, the search and
// the .reg fragment it ends with.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "replay/Fit.h"

namespace {
namespace fs = std::filesystem;

sim::NamedStroke drawn(const std::string& file, const std::string& subject = "") {
  sim::NamedStroke s;
  s.file = file;
  s.gesture = sim::gesture_class(file);
  s.stroke.subject = subject;
  return s;
}

std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const dev::InputError& e) {
    return e.what();
  }
  return "";
}

TEST(SimFit, StrokesAreSplitBySubjectOrEveryFifth) {
  EXPECT_EQ(sim::subject_of(drawn("data/xml_logs/s02/fast/caret01.xml", "2")), "s02");
  EXPECT_EQ(sim::subject_of(drawn("mine/caret01.xml", "anna")), "anna");
  EXPECT_EQ(sim::subject_of(drawn("taps.csv")), "");

  std::vector<sim::NamedStroke> strokes;
  for (int who = 1; who <= 7; ++who)
    for (int i = 1; i <= 2; ++i)
      strokes.push_back(drawn(fmt::format("d/s{:02}/caret{:02}.xml", who, i)));
  sim::Split split = sim::split_strokes(strokes, {});
  // Every third subject from the second is held out.
  EXPECT_EQ(split.check_subjects, (std::vector<std::string>{"s02", "s05"}));
  EXPECT_EQ(split.fit_subjects.size(), 5u);
  EXPECT_EQ(split.check.size(), 4u);
  EXPECT_EQ(split.fit.size(), 10u);
  for (const auto& s : split.check)
    EXPECT_TRUE(sim::subject_of(s) == "s02" || sim::subject_of(s) == "s05");

  split = sim::split_strokes(strokes, {"s07"});
  EXPECT_EQ(split.check_subjects, (std::vector<std::string>{"s07"}));
  EXPECT_NE(
      error_of([&] { sim::split_strokes(strokes, {"s09"}); }).find("no stroke of subject s09"),
      std::string::npos);
  std::vector<std::string> all;
  for (int who = 1; who <= 7; ++who) all.push_back(fmt::format("s{:02}", who));
  EXPECT_NE(error_of([&] { sim::split_strokes(strokes, all); }).find("none is left to fit on"),
            std::string::npos);

  std::vector<sim::NamedStroke> traces(12, drawn("taps.csv"));
  split = sim::split_strokes(traces, {});
  EXPECT_EQ(split.check.size(), 2u);  // the 5th and the 10th
  EXPECT_TRUE(split.check_subjects.empty());
  EXPECT_NE(error_of([&] { sim::split_strokes(traces, {"s02"}); }).find("name no subjects"),
            std::string::npos);
}

TEST(SimFit, TheSearchStaysInTheSafeRangeAndFindsTheBest) {
  std::string note;
  sim::SettingRange grid = sim::within_safe_range(sim::parse_range("GRIDSIZE=2..40:4"), &note);
  EXPECT_EQ(grid.values, (std::vector<uint32_t>{6, 10, 14, 18, 22, 26, 30}));
  EXPECT_EQ(note, "GRIDSIZE: 2, 34 and 38 left out, outside its safe range 6 to 30");
  sim::within_safe_range(sim::parse_range("GRIDSIZE=6,30"), &note);
  EXPECT_EQ(note, "");
  EXPECT_NE(error_of([&] {
              sim::within_safe_range(sim::parse_range("Amp=9,10"), &note);
            }).find("no value in its safe range 1 to 8"),
            std::string::npos);
  EXPECT_NE(error_of([&] {
              sim::within_safe_range(sim::parse_range("window=list"), &note);
            }).find("not window"),
            std::string::npos);

  // A score with its peak at GRIDSIZE 18, Amp 3, and flat in Amp past it: ties go to the value
  // nearest the start.
  auto score = [](const std::vector<sim::Setting>& v) {
    double g = static_cast<double>(v[0].value), a = static_cast<double>(std::min(v[1].value, 3u));
    return 1.0 - (g - 18) * (g - 18) / 1000.0 - (3 - a) / 10.0;
  };
  sim::SettingRange amp = sim::parse_range("Amp=1..8");
  std::vector<sim::Setting> start = {{"GRIDSIZE", 13}, {"Amp", 2}};
  sim::FitResult whole = sim::fit_search({grid, sim::parse_range("Amp=1..4")}, start, score);
  EXPECT_TRUE(whole.full_grid);
  EXPECT_EQ(whole.evaluations, 1u + 28u);  // the start, then every point
  EXPECT_EQ(whole.best[0].value, 18u);
  EXPECT_EQ(whole.best[1].value, 3u);

  sim::FitResult stepped = sim::fit_search({grid, amp}, start, score);
  EXPECT_FALSE(stepped.full_grid);
  EXPECT_EQ(stepped.grid, 56u);
  EXPECT_LT(stepped.evaluations, stepped.grid);
  EXPECT_EQ(stepped.best[0].value, 18u);
  EXPECT_EQ(stepped.best[1].value, 3u);
  EXPECT_GT(stepped.share, stepped.stock_share);
  EXPECT_DOUBLE_EQ(stepped.stock_share, score(start));
}

// The fragment is what a phone's registry takes, and reads back as the same settings.
TEST(SimFit, TheRegFragmentReadsBack) {
  std::string text = sim::reg_fragment({{"GRIDSIZE", 18}, {"FilterValue", 30}});
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture]\n"), std::string::npos);
  EXPECT_NE(text.find("; GRIDSIZE: stock 13, pixels\n\"GRIDSIZE\"=dword:00000012\n"),
            std::string::npos)
      << text;
  fs::path file = fs::temp_directory_path() / "vexori-fit-test.reg";
  std::ofstream(file) << text;
  auto back = sim::settings_of_reg_file(file.string());
  fs::remove(file);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].name, "GRIDSIZE");
  EXPECT_EQ(back[0].value, 18u);
  EXPECT_EQ(back[1].value, 30u);
}

}  // namespace
