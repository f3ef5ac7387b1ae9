// What the simulator reads from the log: decoded fields, one outcome per stroke, the tour's
// verdict, and the brief and full text of vexori-sim.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "LogDecode.h"
#include "OutcomeText.h"
#include "Runner.h"
#include "Tour.h"

namespace {
namespace fs = std::filesystem;

dev::LogEntry Entry(const std::string& kind, dev::Fields fields) {
  dev::LogEntry e;
  e.kind = kind;
  e.fields = std::move(fields);
  return e;
}

// Each entry gets the fields the table names, and keeps every field it had.
TEST(LogDecoder, NamesAndUnpacksWhatTheNumbersMean) {
  const struct {
    uint32_t angle;
    dev::LogEntry entry;
    dev::Fields added;
  } cases[] = {
      {0,
       Entry("panel", {{"flags", "0x3"}, {"x", 481}, {"y", 641}}),
       {{"screen_x", 120}, {"screen_y", 160}}},
      {90,
       Entry("panel", {{"flags", "0x3"}, {"x", 400}, {"y", 640}}),
       {{"screen_x", 160}, {"screen_y", 100}}},
      {270,
       Entry("panel", {{"flags", "0x3"}, {"x", 400}, {"y", 640}}),
       {{"screen_x", 160}, {"screen_y", 140}}},
      {0,
       Entry("post", {{"window", "VexoriList:0x2"},
                      {"msg", "WM_VSCROLL"},
                      {"wParam", "0x1"},
                      {"lParam", "0x0"}}),
       {{"code", "SB_LINEDOWN"}}},
      {0,
       Entry("post", {{"window", "PIEHTML:0x2"},
                      {"msg", "WM_HSCROLL"},
                      {"wParam", "0xa0004"},
                      {"lParam", "0x0"}}),
       {{"code", "SB_THUMBPOSITION"}, {"thumb", 10}}},
      {0,
       Entry("post", {{"window", "MSGBROKER:0x2"}, {"msg", 1274}, {"wParam", "mem#1"}}),
       {{"name", "hand-over"}}},
      {0, Entry("post", {{"window", "MSGBROKER:0x2"}, {"msg", 1276}}), {{"name", "reset"}}},
      {0,
       Entry("send-answer", {{"target", "class:MSGBROKER"}, {"msg", 1277}}),
       {{"name", "scrolling query"}}},
      {0, Entry("post", {{"window", "Worker:0x2"}, {"msg", 2457}}), {{"name", "gesture sample"}}},
      {0, Entry("app-received", {{"window", "GST_Viewer:0x2"}, {"msg", 5}}), {{"name", "WM_SIZE"}}},
      {0,
       Entry("post", {{"window", "GST_Viewer:0x2"},
                      {"msg", 1274},
                      {"wParam", "0xfff0006e"},
                      {"lParam", "0x9600c8"}}),
       {{"name", "gesture notification"},
        {"behaviour", 110},
        {"meaning", "rotate between 0 and 90 degrees"},
        {"length", -16},
        {"down_x", 200},
        {"down_y", 150}}},
      {0, Entry("post", {{"window", "VexoriPlain:0x2"}, {"msg", 1274}}), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry.fields.dump());
    sim::LogDecoder decoder(240, 320, c.angle);
    dev::LogEntry e = c.entry;
    decoder.decode(e);
    dev::Fields expected = c.entry.fields;
    for (auto& [k, v] : c.added.items()) expected[k] = v;
    EXPECT_EQ(e.fields, expected);
  }
}

// One stroke of each kind on a list, and how the outcome tells it from the log alone.
TEST(StrokeOutcomes, EachKindOfStrokeItsDecisionAndWhatMoved) {
  const std::string on = "reg HKLM\\Software\\Quob\\Gesture Activate dword 1\n";
  const std::string list = "window list list 0 26 240 268 lines 200 page 12\nforeground list\n";
  const struct {
    std::string scenario;
    std::string did;    // how StrokeOutcome::did() begins
    std::string shows;  // in its line
  } cases[] = {
      {list + "wait 100\ntap 120 150\n", "passed through: gesture function off", "10 of 10"},
      {on + list + "wait 100\ntap 120 150\n", "passed through: tap at the pen-up", "10 of 10"},
      {on + list + "wait 100\ndrag 120 150 126 150 200 rest 300\n",
       "passed through: press-and-hold at 260 ms", ""},
      {on + list + "wait 100\nflick 236 200 236 120 150\n",
       "passed through: vertical scroll-bar strip", ""},
      {on + "window plain plain 0 26 240 268\nforeground plain\nwait 100\nflick 120 200 120 140 "
            "150\n",
       "passed through: window takes no gestures", ""},
      {on + list + "window sip sip 0 214 240 80\nwait 100\nflick 120 200 120 140 150\n",
       "passed through: input panel shown", ""},
      {"broker off\n" + on + list + "wait 100\nflick 120 200 120 140 150\n",
       "passed through: no broker", ""},
      {on + list + "wait 100\ndrag 120 250 120 100 300 rest 600 settle 24\n", "panned",
       "; list vert 0 to 15 (+15); 0 of 94 samples"},
      {on + list + "wait 100\nflick 120 200 120 140 150\nwait 3000\n",
       "handed over: 100 scroll forward with momentum", "codes U32 filtered \"U\"; "},
      {on + "window viewer aware 0 26 240 268\nforeground viewer\nwait 100\n"
            "flick 200 150 60 165 150\n",
       "handed over: 102 page navigation leftward", "notified viewer: 102"},
      // A turn says where the screen was and where it went, or that it stayed.
      {on + "reg HKLM\\Software\\Quob\\Gesture Rotation dword 1\n" + list +
           "wait 100\nstroke 60 60 60 200 200 212 300\nwait 600\n",
       "handed over: 108 turn the screen", "; screen turned from 0 to 90 degrees; "},
      {on + list + "wait 100\nstroke 60 60 60 200 200 212 300\nwait 600\n",
       "handed over: 108 turn the screen", "; the screen stayed at 0 degrees; "},
      // Without the Verbose zone the proxy does not say how it decided.
      {"preset HKLM\\DebugZones QUOBUpdater dword 0\n" + on + list + "wait 100\ntap 120 150\n",
       "undecided", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    sim::RunOptions options;
    options.keep_log = false;
    auto r = sim::run_scenario(sim::parse_scenario(c.scenario, "one.scn", ""), options);
    ASSERT_EQ(r.outcomes.size(), 1u);
    const auto& o = r.outcomes[0];
    EXPECT_EQ(o.did().rfind(c.did, 0), 0u) << o.did();
    EXPECT_NE(sim::outcome_text(o).find(c.shows), std::string::npos) << sim::outcome_text(o);
    EXPECT_GT(o.line, 0);
    EXPECT_FALSE(o.drawn.empty());
    // Scripts read the log's name of a window; the label comes beside it.
    const auto json = sim::outcome_json(o);
    for (const auto& moved : json["scrolls"]) {
      EXPECT_EQ(moved["window"].get<std::string>().rfind("VexoriList:0x", 0), 0u);
      EXPECT_EQ(moved["label"], "list");
    }
  }
}

// Every step of the tour does what it says, and every stroke it expects has its outcome.
TEST(Tour, EveryStepAsExpected) {
  auto r = sim::run_scenario(sim::tour_scenario());
  size_t expected = 0;
  for (const auto& step : sim::tour_steps()) expected += step.strokes.size();
  auto rows = sim::tour_rows(r.outcomes);
  EXPECT_EQ(rows.size(), expected);
  for (const auto& row : rows) EXPECT_TRUE(row.as_expected) << row.step << ": " << row.did;
}

// Brief text holds the captions, the outcomes and the summary; full adds every entry; the JSON
// Lines file has both whatever is printed.
TEST(SimProgram, BriefAndFullTextAndTheJsonLines) {
  std::string sim = VEXORI_WINDOWS_DIR "/../vexori-sim";
  if (!fs::exists(sim)) GTEST_SKIP() << "vexori-sim is not built";
  fs::path dir = fs::temp_directory_path() / ("vexori-outcome-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "s.scn") << "reg HKLM\\Software\\Quob\\Gesture Activate dword 1\n"
                                  "window list list 0 26 240 268 lines 200 page 12\n"
                                  "foreground list\nnote \"a flick\"\nflick 120 200 120 140 150\n";
  auto run = [&](const std::string& args) {
    std::string out = (dir / "out.txt").string(), jsonl = (dir / "out.jsonl").string();
    int status = std::system(
        (sim + " run " + (dir / "s.scn").string() + " " + args + " --jsonl " + jsonl + " >" + out)
            .c_str());
    EXPECT_EQ(status, 0) << args;
    std::ifstream text(out), lines(jsonl);
    std::map<std::string, size_t> kinds;
    for (std::string line; std::getline(text, line);) {
      if (line.size() > 14 && line[0] == '[') ++kinds[line.substr(14, line.find(' ', 14) - 14)];
    }
    size_t json_outcomes = 0, json_panels = 0;
    for (std::string line; std::getline(lines, line);) {
      json_outcomes += line.find("\"kind\":\"outcome\"") != std::string::npos;
      json_panels += line.find("\"kind\":\"panel\"") != std::string::npos;
    }
    EXPECT_EQ(json_outcomes, 1u) << args;
    EXPECT_EQ(json_panels, 17u) << args;
    return kinds;
  };
  auto brief = run("--log brief"), full = run(""), explicit_full = run("--log full");
  // The settings written go into the brief text too: the scenario's "Activate" and the proxy's
  // hand-over source.
  EXPECT_EQ(brief, (std::map<std::string, size_t>{{"note", 1}, {"outcome", 1}, {"setting", 2}}));
  EXPECT_EQ(full["outcome"], 1u);
  EXPECT_EQ(full["gwes.exe"], explicit_full["gwes.exe"]) << "run is full by default";
  EXPECT_GT(full["gwes.exe"], 17u) << "every entry";
  fs::remove_all(dir);
}

}  // namespace
