// What changed between two values of a tuning, and whole sets of settings read from .reg files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "replay/TuneDiff.h"

namespace {
namespace fs = std::filesystem;

sim::StrokeResult stroke(const std::string& file, const std::string& gesture,
                         const std::string& decision, int behaviour = 0,
                         const std::string& filtered = "") {
  sim::StrokeResult r;
  r.file = file;
  r.name = fs::path(file).stem().string();
  r.gesture = gesture;
  r.outcome.decision = decision;
  r.outcome.behaviour = behaviour;
  r.outcome.filtered = filtered;
  return r;
}

sim::TunePoint point(const sim::SettingRange& r, size_t i, std::vector<sim::StrokeResult> results) {
  sim::TunePoint p;
  p.values.push_back({r.name, r.values[i], r.text_of(i), r.stock_at(i)});
  p.results = std::move(results);
  return p;
}

// A stroke changes when what it did changes, or the string it was handed over as; the report
// groups the changes by class and names each stroke.
TEST(SimTuneDiff, TheStrokesWhoseOutcomeDiffersByClass) {
  sim::SettingRange grid = sim::parse_range("GRIDSIZE=13,20,30");
  std::vector<sim::TunePoint> points = {
      point(grid, 0,
            {stroke("/d/caret01.xml", "caret", "handed over", 106, "ZQ"),
             stroke("/d/caret02.xml", "caret", "handed over", 106, "ZQ"),
             stroke("/d/v01.xml", "v", "handed over", 104, "Q"),
             stroke("/d/v02.xml", "v", "passed through")}),
      point(grid, 1,
            {stroke("/d/caret01.xml", "caret", "handed over", 106, "ZDQ"),  // another string
             stroke("/d/caret02.xml", "caret", "handed over", 106, "ZQ"),
             stroke("/d/v01.xml", "v", "handed over", 0, ""),  // now does nothing
             stroke("/d/v02.xml", "v", "passed through")}),
      point(grid, 2, {}),
  };
  EXPECT_EQ(sim::outcome_key(points[0].results[0]), "106 \"ZQ\"");
  EXPECT_EQ(sim::outcome_key(points[1].results[2]), "nothing");

  sim::TuneDiff d = sim::tune_diff(points, {grid}, "13", "20");
  EXPECT_EQ(d.changed, (std::vector<size_t>{0, 2}));
  std::string report = sim::diff_report(points, d, "/d", true);
  EXPECT_NE(report.find("2 of 4 strokes changed from GRIDSIZE=13* to GRIDSIZE=20\n"),
            std::string::npos)
      << report;
  std::string caret = report.substr(report.find("\ncaret ") + 1);
  caret = caret.substr(0, caret.find('\n'));
  EXPECT_NE(caret.find(" 1 of 2 "), std::string::npos) << caret;
  EXPECT_NE(caret.find(" 106 \"ZQ\" -> 106 \"ZDQ\" x1"), std::string::npos) << caret;
  EXPECT_NE(report.find("\nv01.xml  104 \"Q\" -> nothing\n"), std::string::npos) << report;
  EXPECT_EQ(sim::diff_report(points, d, "/d", false).find("v01.xml"), std::string::npos);

  std::string csv = sim::strokes_csv({points[0], points[1]}, "/d");
  EXPECT_EQ(csv.substr(0, csv.find('\n')), "stroke,gesture,GRIDSIZE=13,GRIDSIZE=20");
  EXPECT_NE(csv.find("\nv01.xml,v,\"104 \"\"Q\"\"\",nothing\n"), std::string::npos) << csv;

  auto refused = [&](const std::vector<sim::SettingRange>& ranges, const std::string& a,
                     const std::string& b) {
    try {
      sim::tune_diff(points, ranges, a, b);
    } catch (const dev::InputError& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_NE(refused({grid}, "13", "14")
                .find("14 is not a value of GRIDSIZE; its values are 13, "
                      "20, 30"),
            std::string::npos);
  EXPECT_NE(refused({grid}, "20", "20").find("two different values"), std::string::npos);
  EXPECT_NE(refused({grid, sim::parse_range("window=list,plain")}, "13", "20").find("--vary once"),
            std::string::npos);
}

std::string reg_error(const std::string& text) {
  fs::path file = fs::temp_directory_path() / "vexori-sets-test.reg";
  std::ofstream(file) << text;
  try {
    sim::settings_of_reg_file(file.string());
  } catch (const dev::InputError& e) {
    fs::remove(file);
    return e.what();
  }
  fs::remove(file);
  return "";
}

// A set of settings is what a .reg file writes under the gesture key; anything a replay would not
// write is refused by line, so that a set never silently holds less than its file says.
TEST(SimTuneDiff, WholeSetsOfSettingsFromRegFiles) {
  fs::path file = fs::temp_directory_path() / "vexori-mine.reg";
  std::ofstream(file) << "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture]\n"
                         "\"longtappingmax\"=dword:0000003c\n\"GRIDSIZE\"=dword:10\n"
                         "[HKLM\\Software\\Quob\\Gesture\\]\n\"GRIDSIZE\"=dword:14\n";
  sim::SettingRange sets = sim::parse_range("settings=stock," + file.string());
  ASSERT_EQ(sets.sets.size(), 2u);
  EXPECT_TRUE(sets.sets[0].empty());
  ASSERT_EQ(sets.sets[1].size(), 2u);
  EXPECT_EQ(sets.sets[1][0].name, "LongTappingMax");
  EXPECT_EQ(sets.sets[1][0].value, 60u);
  EXPECT_EQ(sets.sets[1][1].name, "GRIDSIZE");
  EXPECT_EQ(sets.sets[1][1].value, 20u);  // the later line wins
  EXPECT_TRUE(sets.stock_at(0));
  EXPECT_FALSE(sets.stock_at(1));
  EXPECT_EQ(sets.text_of(1), file.string());

  // Their settings replace the same ones given with --set, and leave the others.
  sim::ReplaySetup setup;
  setup.settings = {{"GRIDSIZE", 8}, {"Amp", 3}};
  sim::TunePoint p = point(sets, 1, {});
  auto here = sim::point_setup(setup, {sets}, p).settings;
  ASSERT_EQ(here.size(), 3u);
  EXPECT_EQ(here[0].name, "Amp");
  EXPECT_EQ(here[2].name, "GRIDSIZE");
  EXPECT_EQ(here[2].value, 20u);
  fs::remove(file);

  EXPECT_NE(reg_error("[HKEY_CURRENT_USER\\Software]\n\"GRIDSIZE\"=dword:1\n")
                .find(":2: only the settings under HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture"),
            std::string::npos);
  EXPECT_NE(reg_error("[HKLM\\Software\\Quob\\Gesture]\n\"Angle\"=dword:1\n")
                .find(":2: \"Angle\" is not a gesture setting"),
            std::string::npos);
  EXPECT_NE(
      reg_error("[HKLM\\Software\\Quob\\Gesture]\n\"Amp\"=\"2\"\n").find("needs a value dword"),
      std::string::npos);
  EXPECT_NE(reg_error("[HKLM\\Software\\Quob\\Gesture]\n\"Amp\"=dword:80000000\n")
                .find("past 2147483647"),
            std::string::npos);
  EXPECT_NE(reg_error("[HKLM\\Software\\Quob\\Gesture]\n\"Amp\"=dword:zz\n").find(":2:"),
            std::string::npos);
  EXPECT_THROW(sim::parse_range("settings=stock,stock"), dev::InputError);
}

}  // namespace
