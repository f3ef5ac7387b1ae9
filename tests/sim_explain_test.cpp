// Explaining one stroke: each step named with the system's own numbers and the setting they were
// compared against, for a tap, a hold, a flick and a stroke whose short code the filter drops;
// and clear errors for a stroke that is not there.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "replay/Explain.h"

namespace {
namespace fs = std::filesystem;

// A stroke through the given corners at `speed` pixels per 10 ms, resting `rest_ms` at the first.
sim::NamedStroke drawn(const std::vector<std::pair<int, int>>& corners, int rest_ms = 0,
                       int speed = 10) {
  std::string csv = "t_ms,x,y,down\n";
  int t = 0;
  auto add = [&](int x, int y) { csv += fmt::format("{},{},{},1\n", t, x, y); };
  for (; t < rest_ms; t += 10) add(corners[0].first, corners[0].second);
  add(corners[0].first, corners[0].second);
  for (size_t i = 1; i < corners.size(); ++i) {
    auto [x0, y0] = corners[i - 1];
    auto [x1, y1] = corners[i];
    int steps = std::max(1, std::max(std::abs(x1 - x0), std::abs(y1 - y0)) / speed);
    for (int k = 1; k <= steps; ++k) {
      t += 10;
      add(x0 + (x1 - x0) * k / steps, y0 + (y1 - y0) * k / steps);
    }
  }
  csv += fmt::format("{},{},{},0\n", t + 10, corners.back().first, corners.back().second);
  sim::NamedStroke s;
  s.file = "drawn.csv";
  s.gesture = "drawn";
  s.stroke = sim::parse_csv_strokes(csv, s.file).at(0);
  return s;
}

sim::Explanation explain(const sim::NamedStroke& s, std::vector<sim::Setting> settings = {},
                         sim::ReplayWindow window = sim::ReplayWindow::kList) {
  sim::ReplaySetup setup;
  setup.window = window;
  setup.settings = std::move(settings);
  return sim::explain_stroke(s, setup, sim::RunOptions{});
}

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const dev::InputError& e) {
    return e.what();
  }
  return "";
}

}  // namespace

// A tap passes through on its travel and time at the pen-up; the same tap under a shorter
// ShortPressTime does not. A finger resting still is a press-and-hold by LongPressTime, or by
// the 100 ms of a gesture-aware window.
TEST(Explain, TapsAndHoldsNameTheirTravelTimeAndSettings) {
  auto tap = drawn({{120, 150}, {123, 152}}, 40);
  auto x = explain(tap);
  ASSERT_EQ(x.error, "");
  EXPECT_EQ(x.outcome.decision, "passed through");
  ASSERT_FALSE(x.decisions.empty());
  EXPECT_TRUE(has(x.decisions[0], "Stroke decision at the pen-up: travel "));
  EXPECT_TRUE(has(x.decisions[0], "vs ShortTappingMax 20, pressed 50 ms vs ShortPressTime 250"))
      << x.decisions[0];
  EXPECT_TRUE(has(x.decisions[0], ": a tap"));
  std::string text = sim::explanation_text(x);
  EXPECT_TRUE(has(text, x.decisions[0]));
  EXPECT_TRUE(has(text, "Decision: passed through: tap at the pen-up"));

  x = explain(tap, {{"ShortPressTime", 40}});
  ASSERT_FALSE(x.decisions.empty());
  EXPECT_TRUE(has(x.decisions[0], "pressed 50 ms vs ShortPressTime 40: no tap")) << x.decisions[0];
  EXPECT_NE(x.outcome.decision, "passed through");

  auto hold = drawn({{120, 150}, {121, 150}}, 600);
  x = explain(hold);
  ASSERT_FALSE(x.decisions.empty());
  EXPECT_TRUE(has(x.decisions[0], "Stroke decision: press-and-hold: travel 0 < LongTappingMax 20"))
      << x.decisions[0];
  EXPECT_TRUE(has(x.decisions[0], "> LongPressTime 250 ms"));
  x = explain(hold, {}, sim::ReplayWindow::kAware);
  ASSERT_FALSE(x.decisions.empty());
  EXPECT_TRUE(has(x.decisions[0], "> the gesture-aware hold 100 ms")) << x.decisions[0];
}

// A finger that rests past PanTime (no hold: LongPressTime is longer) and then moves pans; the
// engine says when and on what travel.
TEST(Explain, APanNamesItsTimeAndTravel) {
  auto x = explain(drawn({{120, 150}, {120, 250}}, 700), {{"LongPressTime", 5000}});
  ASSERT_EQ(x.outcome.decision, "panned");
  ASSERT_FALSE(x.pan.empty());
  EXPECT_TRUE(has(x.pan[0], "Gesture pan: pressed ")) << x.pan[0];
  EXPECT_TRUE(has(x.pan[0], "> PanTime 500, travel 0 < LenThres 10")) << x.pan[0];
  EXPECT_TRUE(x.segments.empty());
}

// A flick upwards: the first moves ignored by IgnoreCount, then segments of one code whose
// lengths make the code handed over, kept by the filter, and the behaviour its one code chooses.
TEST(Explain, AFlickShowsIgnoredMovesSegmentsAndItsBehaviour) {
  auto x = explain(drawn({{120, 260}, {120, 60}}));
  ASSERT_EQ(x.error, "");
  ASSERT_EQ(x.outcome.decision, "handed over");
  EXPECT_TRUE(x.captured);
  EXPECT_EQ(x.ignore_count, 10);
  EXPECT_EQ(x.ignored, 8);
  EXPECT_EQ(x.start_x, 120);
  ASSERT_FALSE(x.segments.empty());
  int sum = 0;
  for (const auto& s : x.segments) {
    EXPECT_EQ(s.code, 'U');
    EXPECT_GE(s.distance, s.grid);
    EXPECT_EQ(s.length, s.amp * s.distance);
    sum += s.length;
  }
  ASSERT_EQ(x.handed_over.size(), 1u);
  EXPECT_EQ(x.handed_over[0], std::make_pair('U', sum));
  ASSERT_EQ(x.filter.size(), 1u);
  EXPECT_TRUE(x.filter[0].kept);
  EXPECT_EQ(x.filter[0].share, "100.0");
  EXPECT_TRUE(x.filter[0].by_share);
  EXPECT_EQ(x.outcome.filtered, "U");
  EXPECT_TRUE(has(x.pattern, "its first code U alone"));
  EXPECT_TRUE(has(x.behaviour, "Gesture behaviour 100"));
  EXPECT_FALSE(x.pan.empty());
  EXPECT_TRUE(has(x.pan[0], "vs PanTime 500")) << x.pan[0];
  std::string text = sim::explanation_text(x);
  EXPECT_TRUE(has(text, "the engine ignored 8 move(s) (IgnoreCount 10)"));
  EXPECT_TRUE(has(text, "After the filter: \"U\""));
}

// A long stroke up with a short hook to the right at its end: the hook's code falls under both
// FilterValue and FilterDistance and is dropped; with a lower FilterDistance its length keeps it.
TEST(Explain, AShortCodeIsDroppedByTheRuleItFailed) {
  auto hook = drawn({{100, 280}, {100, 80}, {124, 80}});
  auto x = explain(hook);
  ASSERT_EQ(x.outcome.decision, "handed over");
  ASSERT_EQ(x.filter.size(), 2u);
  // The turn's last segment crosses the corner: its code is the hook's, whichever it is.
  const char hook_code = x.filter[1].code;
  EXPECT_NE(hook_code, 'U');
  EXPECT_FALSE(x.filter[1].kept);
  EXPECT_EQ(x.filter[1].filter_value, 40);
  EXPECT_EQ(x.filter[1].filter_distance, 60);
  EXPECT_LE(x.filter[1].length, 60);
  EXPECT_EQ(x.outcome.filtered, "U");
  auto dropped = sim::dropped_segments(x);
  ASSERT_EQ(dropped.size(), x.segments.size());
  EXPECT_TRUE(dropped.back());
  EXPECT_FALSE(dropped.front());
  std::string text = sim::explanation_text(x);
  EXPECT_TRUE(has(text, fmt::format("{}{}    dropped: share", hook_code, x.filter[1].length)))
      << text;
  EXPECT_TRUE(has(
      text, fmt::format("<= FilterValue 40, length {} <= FilterDistance 60", x.filter[1].length)));

  x = explain(hook, {{"FilterDistance", 20}});
  ASSERT_EQ(x.filter.size(), 2u);
  EXPECT_TRUE(x.filter[1].kept);
  EXPECT_FALSE(x.filter[1].by_share);
  EXPECT_TRUE(x.filter[1].by_length);
  EXPECT_EQ(x.outcome.filtered, std::string("U") + hook_code);
  EXPECT_TRUE(has(sim::explanation_text(x), "(by its length)"));

  // The picture is drawn from the same explanation.
  fs::path png = fs::temp_directory_path() / fmt::format("explain-test-{}.png", getpid());
  sim::write_explanation_picture(x, png.string());
  EXPECT_GT(fs::file_size(png), 1000u);
  fs::remove(png);
}

// A missing file, a folder, a stroke past the file's last and a picture of another kind each
// say what is wrong before any replay.
TEST(Explain, BadInputSaysWhatIsWrong) {
  const fs::path folder = fs::temp_directory_path() / fmt::format("explain-test-{}", getpid());
  fs::create_directories(folder);
  const fs::path csv = folder / "two.csv";
  std::ofstream(csv) << "t_ms,x,y,down\n0,10,10,1\n10,12,10,0\n20,50,50,1\n30,51,50,0\n";
  sim::ExplainArgs args;
  auto run = [&] { sim::explain_command(args, sim::RunOptions{}); };

  args.replay.paths = {(folder / "none.xml").string()};
  EXPECT_TRUE(has(error_of(run), "no such file")) << error_of(run);
  args.replay.paths = {folder.string()};
  EXPECT_TRUE(has(error_of(run), "one stroke file, not a folder"));
  args.replay.paths = {csv.string()};
  args.stroke = 3;
  EXPECT_TRUE(has(error_of(run), "--stroke 3 is not a stroke of the file: it has 2 (1 to 2)"))
      << error_of(run);
  args.stroke = 0;
  EXPECT_TRUE(has(error_of(run), "--stroke 0 is not a stroke"));
  args.stroke = 1;
  args.picture = (folder / "x.gif").string();
  EXPECT_TRUE(has(error_of(run), "a picture is a .png or .svg file"));
  args.picture.clear();
  args.replay.settings = {"NoSuch=1"};
  EXPECT_TRUE(has(error_of(run), "no such setting"));
  fs::remove_all(folder);
}

// The system's lines read as they are written; others are left alone.
TEST(Explain, ReadsTheSystemsLines) {
  sim::Explanation x;
  EXPECT_TRUE(sim::read_explain_line(
      "Gesture filter: Q26 dropped: share 6.9% <= FilterValue 40, length 26 <= FilterDistance 60",
      x));
  ASSERT_EQ(x.filter.size(), 1u);
  EXPECT_EQ(x.filter[0].code, 'Q');
  EXPECT_EQ(x.filter[0].length, 26);
  EXPECT_EQ(x.filter[0].share, "6.9");
  EXPECT_FALSE(x.filter[0].kept);
  EXPECT_TRUE(sim::read_explain_line(
      "Gesture segment: (56, 224) to (61, 210), distance 14 (GRIDSIZE 13), code U, length 28 (Amp "
      "2)",
      x));
  ASSERT_EQ(x.segments.size(), 1u);
  EXPECT_EQ(x.segments[0].y1, 210);
  EXPECT_EQ(x.segments[0].code, 'U');
  EXPECT_FALSE(sim::read_explain_line("Gesture segment: garbled", x));
  EXPECT_FALSE(sim::read_explain_line("Gesture tick: behaviour 100, momentum 3", x));
  EXPECT_EQ(x.segments.size(), 1u);
}
