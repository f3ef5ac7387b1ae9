// What a person meant each class of strokes to do, and the table of what the classes did.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "replay/Intent.h"

namespace {
namespace fs = std::filesystem;

std::string error_of(const std::string& text) {
  try {
    sim::parse_intent(text);
  } catch (const dev::InputError& e) {
    return e.what();
  }
  return "";
}

TEST(SimIntent, ReadFromTheCommandLineOrAFileAndRefusedWhenUnclear) {
  sim::Intent inline_intent = sim::parse_intent("caret=106, v=104,,taps=tap");
  EXPECT_EQ(inline_intent, (sim::Intent{{"caret", "106"}, {"v", "104"}, {"taps", "tap"}}));

  fs::path file = fs::temp_directory_path() / "vexori-intent-test.txt";
  std::ofstream(file)
      << "# drawn by hand\nholds=hold  # a resting finger\npans=pan,still-pans=pan\n"
      << "\n";
  EXPECT_EQ(sim::parse_intent(file.string()),
            (sim::Intent{{"holds", "hold"}, {"pans", "pan"}, {"still-pans", "pan"}}));
  std::ofstream(file) << "holds=hold\ntaps=press\n";
  EXPECT_NE(error_of(file.string()).find("vexori-intent-test.txt:2"), std::string::npos)
      << error_of(file.string());
  fs::remove(file);

  for (const auto& [text, says] : std::vector<std::pair<std::string, std::string>>{
           {"caret=99", "\"99\" is not a behaviour from 100 to 111, pan, tap or hold"},
           {"caret=112", "is not a behaviour"},
           {"caret=1060", "is not a behaviour"},
           {"caret=106,caret=105", "caret is given twice"},
           {"=106", "names no class"},
           {"caret=106,v", "\"v\" is not CLASS=WHAT"},
           {"no-such-file.txt", "neither CLASS=WHAT,... nor a file"},
           {"#=tap", "names no class"},
       }) {
    EXPECT_NE(error_of(text).find(says), std::string::npos) << text << ": " << error_of(text);
  }

  // A class no stroke has is a slip, unless the set was cut down on purpose.
  sim::Intent intent = {{"caret", "106"}, {"carte", "104"}};
  EXPECT_THROW(sim::intent_for(intent, {"caret", "v"}, false), dev::InputError);
  EXPECT_EQ(sim::intent_for(intent, {"caret", "v"}, true), (sim::Intent{{"caret", "106"}}));
  EXPECT_THROW(sim::intent_for({{"x", "tap"}}, {"caret"}, true), dev::InputError);
}

sim::StrokeResult result(const std::string& gesture, const std::string& decision,
                         const std::string& reason = "", int behaviour = 0) {
  sim::StrokeResult r;
  r.gesture = gesture;
  r.outcome.decision = decision;
  r.outcome.reason = reason;
  r.outcome.behaviour = behaviour;
  return r;
}

// Each outcome counts as what a person would say it did; the shares are of the classes that have
// an intent only.
TEST(SimIntent, WhatEachStrokeDidAndTheConfusionTable) {
  std::vector<sim::StrokeResult> results = {
      result("taps", "passed through", "tap at the pen-up"),
      result("taps", "passed through", "press-and-hold at 260 ms"),
      result("taps", "handed over"),  // no behaviour: nothing happened
      result("taps", "passed through", "bottom band"),
      result("caret", "handed over", "", 106),
      result("caret", "panned"),
      result("caret", "withheld"),
      result("scribble", "handed over", "", 100),
  };
  sim::StrokeResult failed = result("caret", "");
  failed.error = "the device did not come up";
  results.push_back(failed);
  std::vector<std::string> did;
  for (const auto& r : results) did.push_back(sim::did_of(r));
  EXPECT_EQ(did, (std::vector<std::string>{"tap", "hold", "nothing", "passed", "106", "pan",
                                           "nothing", "100", "failed"}));

  auto rows = sim::did_by_class(results);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].gesture, "taps");
  EXPECT_EQ(rows[3].gesture, "all");
  EXPECT_EQ(rows[3].strokes, results.size());
  EXPECT_EQ(rows[3].did.at("nothing"), 2u);

  sim::Intent intent = {{"taps", "tap"}, {"caret", "106"}};
  sim::Accuracy taps = sim::accuracy_of(rows[0], intent), all = sim::overall_accuracy(rows, intent);
  EXPECT_EQ(taps.intended, 4u);
  EXPECT_EQ(taps.as_meant, 1u);
  EXPECT_EQ(all.intended, 8u);  // not the scribble, which has no intent
  EXPECT_EQ(all.as_meant, 2u);

  std::string table = sim::confusion_table(rows, intent);
  // Columns: passing through, panning, behaviours by number, then nothing and failures.
  std::string head = table.substr(0, table.find('\n'));
  EXPECT_LT(head.find(" tap"), head.find(" hold"));
  EXPECT_LT(head.find(" passed"), head.find(" pan"));
  EXPECT_LT(head.find(" pan"), head.find(" 100"));
  EXPECT_LT(head.find(" 106"), head.find(" nothing"));
  EXPECT_LT(head.find(" nothing"), head.find(" failed"));
  // Each row's class, what was meant and the share done as meant.
  auto row_of = [&](const std::string& gesture) {
    std::istringstream in(table.substr(table.find("\n" + gesture + " ") + 1));
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
  };
  EXPECT_EQ(row_of("taps"), "taps tap 25%") << table;
  EXPECT_EQ(row_of("caret"), "caret 106 25%") << table;
  EXPECT_EQ(row_of("scribble"), "scribble - -") << table;
  EXPECT_EQ(row_of("all"), "all - 25%") << table;
}

}  // namespace
