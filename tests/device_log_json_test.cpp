// The log's JSON lines: the direct writer gives the bytes the JSON library gives for the same
// entry, for every entry the tour and the shipped scenarios make and for the values and names
// that need escaping, renaming or the library's own number format.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <set>

#include "Runner.h"
#include "Tour.h"
#include "device/log.hpp"

namespace {

dev::LogEntry Entry(dev::Fields fields) {
  dev::LogEntry e;
  e.time = 1234;
  e.tick = 0xFFFFFF00u;
  e.process = "gwes.exe";
  e.thread = "main";
  e.kind = "note";
  e.fields = std::move(fields);
  return e;
}

TEST(LogJson, EveryEntryOfTheTourAndTheExamplesAsTheLibraryWritesIt) {
  std::vector<sim::Scenario> scenarios = {sim::tour_scenario()};
  for (const auto& f :
       std::filesystem::directory_iterator(std::string(VEXORI_SOURCE_DIR) + "/scenarios")) {
    if (f.path().extension() == ".scn") scenarios.push_back(sim::load_scenario(f.path().string()));
  }
  std::set<std::string> kinds;
  size_t entries = 0, differ = 0;
  for (const auto& s : scenarios) {
    sim::RunOptions options;
    options.keep_log = false;
    options.picture_commands = false;
    options.live = [&](const dev::LogEntry& e) {
      ++entries;
      kinds.insert(e.kind);
      std::string direct = e.json(), tree = e.json_tree();
      if (direct != tree && ++differ <= 5) ADD_FAILURE() << direct << "\n" << tree;
    };
    sim::run_scenario(s, options);
  }
  EXPECT_EQ(differ, 0u) << "of " << entries;
  EXPECT_GE(kinds.size(), 30u);
}

TEST(LogJson, EscapesNumbersNestingAndRenamedColumns) {
  std::string controls;
  for (char c = 1; c < 0x20; ++c) controls += c;
  controls += std::string(1, '\0') + "\"\\/\x7f";
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<dev::Fields> cases = {
      dev::Fields::object(),
      {{"text", controls}},
      {{"text", "caf\xc3\xa9 \xe2\x86\x91 \xf0\x9f\x91\x8d"}, {"a b=\"c\"", "key\ttoo"}},
      {{"n", -42}, {"u", std::numeric_limits<uint64_t>::max()}, {"min", INT64_MIN}},
      {{"f", 1.0}, {"g", 0.1}, {"h", 1e300}, {"i", -2.5e-7}, {"nan", nan}, {"inf", HUGE_VAL}},
      {{"yes", true}, {"no", false}, {"none", nullptr}},
      {{"args", {"0x1", 2, {{"deep", {1, {}, dev::Fields::object()}}}}}, {"empty", {}}},
      {{"process", "Pallux.dll"}, {"kind", 3}, {"t", 1}, {"tick", 2}, {"thread", "x"}},
      // Through the library's way: a field named like a renamed column, and fields that are not
      // an object.
      {{"process", 1}, {"field_process", 2}},
      {{"field_kind", 1}, {"kind", 2}},
      dev::Fields::array({1, 2}),
      dev::Fields("text"),
  };
  for (const auto& fields : cases) {
    dev::LogEntry e = Entry(fields);
    EXPECT_EQ(e.json(), e.json_tree()) << fields.dump();
  }
  dev::LogEntry odd = Entry({{"name", "x"}});
  odd.process = "a\nb\xc3\xa9";
  EXPECT_EQ(odd.json(), odd.json_tree());
}

// Text that is not UTF-8 fails as it did through the library, wherever it stands.
TEST(LogJson, TextThatIsNotUtf8FailsAsBefore) {
  for (const char* bad : {"\xff", "ab\xc3", "\xed\xa0\x80", "ok\xe2\x82"}) {
    EXPECT_THROW(Entry({{"text", bad}}).json(), nlohmann::json::type_error) << bad;
    EXPECT_THROW(Entry({{bad, 1}}).json(), nlohmann::json::type_error) << bad;
    EXPECT_THROW(Entry({{"args", {"fine", bad}}}).json(), nlohmann::json::type_error) << bad;
    dev::LogEntry e = Entry({});
    e.thread = bad;
    EXPECT_THROW(e.json(), nlohmann::json::type_error) << bad;
  }
}

}  // namespace
