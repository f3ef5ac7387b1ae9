// The log's JSON lines: the direct writer gives the bytes the JSON library gives for the same
// entry, for every entry the tour and the shipped scenarios make and for the values and names
// that need escaping, renaming or the library's own number format.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
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

// The debug print's formatter (behind NKDbgPrintfW and _snwprintf): the text between
// conversions as it stands, 16-bit text beyond ASCII in UTF-8 (a pair of surrogates one
// character), printf's flags and widths, both 64-bit spellings, and what it does not know kept.
TEST(DebugPrint, ConversionsFlagsAndTheTextBetweenThem) {
  auto print = [](auto... args) {
    WCHAR out[256];
    int n = _snwprintf(out, 255, args...);
    EXPECT_GE(n, 0);
    return dev::to_utf8(std::u16string(out, static_cast<size_t>(std::max(n, 0))));
  };
  EXPECT_EQ(print(u"plain"), "plain");
  EXPECT_EQ(print(u"%d|%5d|%-4d|%04x|%X|%u|%%", -7, 42, 3, 0xbe, 0xCAFE, 9u),
            "-7|   42|3   |00be|CAFE|9|%");
  EXPECT_EQ(print(u"%lld %I64d %I64x", -(1LL << 40), 1LL << 33, 0x123456789abLL),
            "-1099511627776 8589934592 123456789ab");
  EXPECT_EQ(
      print(u"[%s] [%ls] [%hs] [%S] [%c]", u"wide", u"\u00e9t\u00e9", "narrow", "capital", 'z'),
      "[wide] [\xc3\xa9t\xc3\xa9] [narrow] [capital] [z]");
  EXPECT_EQ(print(u"%s %hs", static_cast<const WCHAR*>(nullptr), static_cast<const char*>(nullptr)),
            "(null) (null)");
  EXPECT_EQ(print(u"\u00e9\U0001F600=%d\u00e9", 1), "\xc3\xa9\xf0\x9f\x98\x80=1\xc3\xa9");
  EXPECT_EQ(print(u"%q %\u00e9 end %"), "%q %\xc3\xa9 end ");
}

// Fields built straight keep their order and their values' kinds, as the list of pairs gave them.
TEST(LogJson, FieldsBuiltStraightAreTheObjectOfTheirPairs) {
  std::vector<std::string> codes = {"Z34", "D12"};
  dev::Fields straight = dev::fields("window", std::string("list"), "b", true, "msg", 0x115u, "z",
                                     -3, "codes", codes, "none", nullptr, "text", "caret");
  dev::Fields pairs = {{"window", "list"}, {"b", true},       {"msg", 0x115u},  {"z", -3},
                       {"codes", codes},   {"none", nullptr}, {"text", "caret"}};
  EXPECT_EQ(straight, pairs);
  EXPECT_EQ(straight.dump(), pairs.dump());
  EXPECT_EQ(dev::fields().dump(), "{}");
}
