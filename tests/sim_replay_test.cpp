// Recorded human strokes through the whole system, and what a replay makes of bad input and of a
// worker process that dies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "replay/ReplayReport.h"
#include "replay/ResultLine.h"
#include "replay/StrokeReplay.h"
#include "replay/Workers.h"

namespace {
namespace fs = std::filesystem;
using sim::StrokePoint;

const std::string kSectors = "RQDELCUZ";  // the direction letters clockwise on the screen

// A vector's direction letter in the engine's own single-precision arithmetic with the default
// bounds, so that a side lying close to a bound falls on the same side of it.
char direction(int dx, int dy) {
  int adx = std::abs(dx), ady = std::abs(dy);
  if (adx == 0) return ady == 0 ? 0 : dy > 0 ? 'D' : 'U';
  float ratio = static_cast<float>(ady) / static_cast<float>(adx);
  if (ratio > static_cast<float>(2414) * 0.001f) return dy > 0 ? 'D' : 'U';
  if (ratio < static_cast<float>(414) * 0.001f) return dx > 0 ? 'R' : 'L';
  if (dy > 0) return dx > 0 ? 'Q' : 'E';
  return dx > 0 ? 'Z' : 'C';
}

// Sums over the points, so that the squared distances of a run of points from the chord that
// joins its ends come in constant time and every pair of corners can be tried.
struct ChordFit {
  const std::vector<StrokePoint>& p;
  std::vector<std::array<double, 5>> before{{}};  // x, y, xx, yy, xy of the points before each
  explicit ChordFit(const std::vector<StrokePoint>& pts) : p(pts) {
    for (const auto& q : p) {
      auto s = before.back();
      double x = q.x, y = q.y;
      before.push_back({s[0] + x, s[1] + y, s[2] + x * x, s[3] + y * y, s[4] + x * y});
    }
  }
  double cost(size_t a, size_t b) const {
    double s[5], n = double(b - a + 1), ax = p[a].x, ay = p[a].y;
    for (int k = 0; k < 5; ++k) s[k] = before[b + 1][k] - before[a][k];
    double uu = s[2] - 2 * ax * s[0] + n * ax * ax;  // of the points moved by -a
    double vv = s[3] - 2 * ay * s[1] + n * ay * ay;
    double uv = s[4] - ax * s[1] - ay * s[0] + n * ax * ay;
    double dx = p[b].x - ax, dy = p[b].y - ay, len2 = dx * dx + dy * dy;
    return len2 == 0 ? uu + vv : (dy * dy * uu + dx * dx * vv - 2 * dx * dy * uv) / len2;
  }
};

// Where a stroke turns: a caret or a v at its point highest or lowest on the screen, a square
// bracket at the two points that best fit three straight sides.
std::vector<size_t> corners(const std::vector<StrokePoint>& p, const std::string& gesture) {
  auto by_y = [](const StrokePoint& a, const StrokePoint& b) { return a.y < b.y; };
  if (gesture == "caret") return {size_t(std::min_element(p.begin(), p.end(), by_y) - p.begin())};
  if (gesture == "v") return {size_t(std::max_element(p.begin(), p.end(), by_y) - p.begin())};
  ChordFit fit(p);
  size_t last = p.size() - 1;
  std::vector<size_t> best{1, 2};
  double least = INFINITY;
  for (size_t i = 1; i + 1 < last; ++i)
    for (size_t j = i + 1; j < last; ++j) {
      double c = fit.cost(0, i) + fit.cost(i, j) + fit.cost(j, last);
      if (c < least) least = c, best = {i, j};
    }
  return best;
}

// The two things a stroke's codes must show of its sides: the letters of the sides that are at
// least GRIDSIZE long (equal neighbours as one) come in order among the code letters, and no code
// lies more than one sector from every side's letter.
bool codes_follow_sides(const std::vector<StrokePoint>& seen, const std::string& gesture,
                        const std::vector<std::string>& codes, std::string& sides) {
  auto cut = corners(seen, gesture);
  cut.insert(cut.begin(), 0);
  cut.push_back(seen.size() - 1);
  std::string all, kept;
  for (size_t k = 0; k + 1 < cut.size(); ++k) {
    int dx = seen[cut[k + 1]].x - seen[cut[k]].x, dy = seen[cut[k + 1]].y - seen[cut[k]].y;
    char d = direction(dx, dy);
    if (d == 0) continue;  // two corners on one pixel
    all += d;
    if (std::hypot(dx, dy) >= 13 && (kept.empty() || kept.back() != d)) kept += d;
    sides += std::string(1, d) + std::to_string(int(std::hypot(dx, dy))) + " ";
  }
  size_t found = 0;
  bool near = true;
  for (const auto& c : codes) {
    if (found < kept.size() && c[0] == kept[found]) ++found;
    bool any = false;
    for (char s : all) {
      int apart = std::abs(int(kSectors.find(c[0])) - int(kSectors.find(s)));
      any = any || apart <= 1 || apart == 7;
    }
    near = near && any;
  }
  return found == kept.size() && near;
}

}  // namespace

// Carets, v's and square brackets of ten subjects at every speed, on a list window in two worker
// processes: each stroke's samples all reach one place, and its codes follow its sides.
TEST(StrokeReplay, RecordedStrokesKeepTheirSamplesAndCodeTheirSides) {
  const std::string root = VEXORI_DATA_DIR "/touch/dollar1-unistroke/xml_logs/";
  if (!fs::is_directory(root)) GTEST_SKIP() << "no recorded strokes at " << root;
  // Of these 150 strokes a class, the codes follow the sides for 137 carets, 148 v's, 142 left and
  // 140 right brackets. The rest were held still at the pen-down for over 250 ms, so the proxy
  // passed them on as a press-and-hold (12 carets, 1 v, 8 and 10 brackets), but for two. A v's
  // falling side lies just inside the diagonal sector (dy/dx 2.35, the bound 2.414) only because
  // its rounded bottom, flatter, ends it; its straight part is steeper and coded D throughout. A
  // fast caret's rising side, the ignored first moves having taken most of it, is 22 pixels: its
  // one segment is the steep start of the curve (U, the side Z), the rest crosses the apex (Q).
  const std::map<std::string, double> least = {
      {"caret", 0.88}, {"v", 0.96}, {"left_sq_bracket", 0.92}, {"right_sq_bracket", 0.90}};
  std::vector<std::string> folders;
  for (int subject = 2; subject <= 11; ++subject)
    for (const char* speed : {"fast", "medium", "slow"})
      folders.push_back(root + (subject < 10 ? "s0" : "s") + std::to_string(subject) + "/" + speed);
  std::vector<sim::NamedStroke> strokes;
  for (auto& s : sim::load_stroke_set(folders))
    if (least.count(s.gesture)) strokes.push_back(std::move(s));
  ASSERT_EQ(strokes.size(), 600u);

  sim::ReplaySetup setup;
  setup.jobs = 2;
  size_t next = 0;
  auto results =
      sim::replay_strokes(strokes, setup, sim::RunOptions{},
                          [&](size_t i, const sim::StrokeResult&) { EXPECT_EQ(i, next++); });
  ASSERT_EQ(results.size(), strokes.size());
  std::map<std::string, std::pair<size_t, size_t>> met;  // of each class: strokes, met
  std::map<std::string, std::string> misses;
  for (size_t i = 0; i < strokes.size(); ++i) {
    const auto& r = results[i];
    SCOPED_TRACE(strokes[i].file);
    ASSERT_EQ(r.file, strokes[i].file);
    EXPECT_EQ(r.error, "");
    auto pts = sim::resample(strokes[i].stroke, setup.rate_hz);
    EXPECT_EQ(r.panel, pts.size() + 1);  // and the pen-up
    EXPECT_EQ(r.dropped, 0u);
    EXPECT_FALSE(r.partial);
    EXPECT_TRUE((r.unchanged + r.rebuilt == r.panel && r.engine == 0) ||
                (r.engine == r.panel && r.unchanged + r.rebuilt == 0));

    // The engine's first segment starts at the ninth move, the tenth sample.
    std::vector<StrokePoint> seen(pts.begin() + std::min<size_t>(9, pts.size()), pts.end());
    ASSERT_GE(seen.size(), 4u);
    std::string sides;
    bool ok = codes_follow_sides(seen, r.gesture, r.outcome.codes, sides) &&
              r.outcome.decision == "handed over";
    met[r.gesture].first++;
    met[r.gesture].second += ok;
    if (!ok) misses[r.gesture] += sim::result_line(r, root) + "; sides " + sides + "\n";
  }
  for (const auto& [gesture, m] : met)
    EXPECT_GE(double(m.second) / m.first, least.at(gesture))
        << gesture << ": " << m.second << " of " << m.first << "\n"
        << misses[gesture];
}

// A device keeps its libraries for the next device, each put back as it was first mapped: every
// stroke does the same after any other, on the same window or another, as on a device whose
// libraries are fresh copies. Among them a tap and a hold passed through, flicks with momentum
// both ways, a caret handed over (a zoom) and a rectangle that turns the screen.
TEST(StrokeReplay, KeptLibrariesGiveEveryStrokeTheOutcomeOfAFreshDevice) {
  const std::string traces = VEXORI_SOURCE_DIR "/data/traces/";
  std::vector<sim::NamedStroke> strokes;
  for (const char* file : {"taps.csv", "holds.csv", "pans.csv", "still-pans.csv"}) {
    auto set = sim::load_stroke_set({traces + file});
    ASSERT_GE(set.size(), 2u);
    strokes.push_back(set[0]);
    strokes.push_back(set[1]);
  }
  auto drawn = [](const std::string& name, std::vector<std::pair<int, int>> corners) {
    sim::NamedStroke s{name, name, {}};
    s.stroke.name = name;
    s.stroke.points = sim::polyline_stroke(corners, 600, 0, 100);
    return s;
  };
  strokes.push_back(drawn("caret", {{60, 250}, {120, 120}, {180, 250}}));
  strokes.push_back(drawn("rectangle", {{70, 80}, {70, 220}, {180, 220}, {180, 80}, {70, 80}}));
  std::vector<sim::ReplaySetup> setups(strokes.size());
  setups.back().settings = {{"Rotation", 1}};
  setups[2].window = sim::ReplayWindow::kAware;  // a hold on a gesture-aware window
  setups[4].window = sim::ReplayWindow::kBrowser;

  auto outcome = [&](size_t i) {
    return sim::result_json(sim::replay_stroke(strokes[i], setups[i], sim::RunOptions{})).dump();
  };
  setenv("VEXORI_FRESH_LIBRARIES", "1", 1);
  std::vector<std::string> fresh;
  for (size_t i = 0; i < strokes.size(); ++i) fresh.push_back(outcome(i));
  unsetenv("VEXORI_FRESH_LIBRARIES");
  std::set<std::string> decisions;  // what each did
  for (const auto& f : fresh) decisions.insert(dev::Fields::parse(f)["outcome"]["did"]);
  EXPECT_GE(decisions.size(), 6u) << "the strokes do different things";
  EXPECT_NE(fresh.back().find("screen turned from 0 to 90 degrees"), std::string::npos)
      << fresh.back();

  std::vector<size_t> order(strokes.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  for (int round = 0; round < 3; ++round) {
    if (round == 1) std::reverse(order.begin(), order.end());
    if (round == 2) std::rotate(order.begin(), order.begin() + 3, order.end());
    for (size_t i : order)
      EXPECT_EQ(outcome(i), fresh[i]) << strokes[i].file << ", round " << round;
  }
}

// A worker's result line gives back every field of a result, text with tabs, line ends,
// backslashes and non-ASCII included, and a line cut short, run on or mangled is refused.
TEST(StrokeReplay, AResultLineGivesBackWhatTheWorkerFound) {
  sim::StrokeResult r;
  r.file = "s02/fast/caret\t01.xml";
  r.gesture = "caret";
  r.name = "line\nbreak \\ back\\slash\r\xc3\xa9";
  r.panel = 61;
  r.unchanged = 3;
  r.rebuilt = 1;
  r.engine = 57;
  r.dropped = 0;
  r.partial = true;
  r.error = "";
  sim::StrokeOutcome& o = r.outcome;
  o.start = 100;
  o.end = UINT64_MAX;
  o.line = -1;
  o.drawn = "stroke\t";
  o.x = -3;
  o.y = 319;
  o.decision = "handed over";
  o.reason = "";
  o.stopped_momentum = true;
  o.codes = {"Z34", "", "D\\12"};
  o.filtered = "ZD";
  o.behaviour = 106;
  o.meaning = "zoom level up";
  o.cut_short = true;
  o.scrolls = {{"VexoriList:0x20004", "vert", -5, 1LL << 40, "list"}, {"w", "horz", 0, 0, ""}};
  o.effects = {"screen turned from 0 to 90 degrees", "\t"};
  o.notifications = 2;
  o.ticks = 17;
  o.sounds = {{"Quenza.dll:VEXORISND", 4}, {"a\tb", 1}};
  o.samples = 61;
  o.received = 4;
  std::string line = sim::result_line(r);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_EQ(sim::result_json(sim::result_from_line(line)), sim::result_json(r));
  sim::StrokeResult empty;
  EXPECT_EQ(sim::result_json(sim::result_from_line(sim::result_line(empty))),
            sim::result_json(empty));

  for (const std::string& bad :
       {std::string(), line.substr(0, line.size() / 2), line + "\t1", line + "\\",
        std::string("a\tb\tc\t1\t2\t3\t4\t5\tx"), line.substr(0, line.rfind('\t')) + "\t-1"}) {
    EXPECT_THROW(sim::result_from_line(bad), std::runtime_error) << bad;
  }
}

// Each bad stroke file, setting or window names where it is wrong and why.
TEST(StrokeReplay, BadInputNamesItsPlaceAndReason) {
  const fs::path folder = fs::temp_directory_path() / ("replay-test-" + std::to_string(getpid()));
  fs::create_directories(folder);
  std::ofstream(folder / "notes.txt") << "not strokes\n";
  const std::string dir = folder.string(), head = "t_ms,x,y,down\n";
  auto csv = [](std::string text) { return [text] { sim::parse_csv_strokes(text, "t.csv"); }; };
  const struct {
    std::function<void()> call;
    std::string what;  // "..." at the end: the message goes on
  } cases[] = {
      {csv(""), "t.csv: empty: no header"},
      {csv("t,x,y,down\n"), "t.csv:1: the header must be \"t_ms,x,y,down\""},
      {csv(head + "0,1,2\n"), "t.csv:2: a row has 4 fields (t_ms,x,y,down), not 3"},
      {csv(head + "0,1,2y,1\n"), "t.csv:2: y \"2y\" is not a whole number"},
      {csv(head + "0,1,8192,1\n"), "t.csv:2: y 8192 is out of range (-8191 to 8191)"},
      {csv(head + "0,1,2,2\n"), "t.csv:2: down 2 is out of range (0 to 1)"},
      {csv(head + "99999999999999999999,1,2,1\n"),
       "t.csv:2: t_ms 99999999999999999999 is out of range (0 to 4294967295)"},
      {csv(head + "10,1,2,1\n5,1,2,1\n"), "t.csv:3: times go backwards"},
      {csv(head + "10,1,2,1\n20,1,2,1\n15,1,2,0\n"), "t.csv:4: times go backwards"},
      {csv(head + "0,1,2,1\n60001,1,2,1\n"), "t.csv:3: the stroke lasts longer than 60000 ms"},
      {csv(head + "0,1,2,1\n5,1,2,0\n6,1,2,0\n"), "t.csv:4: a pen-up with no stroke before it"},
      {csv(head + "0,1,2,1\n\n5,1,2,1\n"), "t.csv:3: a blank line before more rows"},
      {csv(head + "\n"), "t.csv:2: no stroke: no row with down 1"},
      {[] { sim::parse_setting("Gridsize"); }, "Gridsize: a setting is NAME=VALUE, one of: ..."},
      {[] { sim::parse_setting("Grid=13"); }, "Grid=13: no such setting; the settings are ..."},
      {[] { sim::parse_setting("Amp=-1"); },
       "Amp=-1: the value \"-1\" is not a whole number from 0 to 2147483647"},
      {[] { sim::parse_setting("Amp=4294967296"); },
       "Amp=4294967296: the value \"4294967296\" is not a whole number from 0 to 2147483647"},
      {[] { sim::replay_window("grid"); },
       "--window: \"grid\" is not a window kind: list, aware, browser or plain"},
      {[&] { sim::load_stroke_set({dir + "/gone"}); }, dir + "/gone: no such file or folder"},
      {[&] { sim::load_stroke_set({dir}); }, dir + ": the folder holds no .xml or .csv file"},
      {[&] { sim::load_stroke_set({dir + "/notes.txt"}); },
       dir + "/notes.txt: not a stroke file (.xml or .csv) nor a folder"},
  };
  for (const auto& c : cases) {
    std::string what;
    try {
      c.call();
    } catch (const dev::InputError& e) {
      what = e.what();
    }
    bool open = c.what.size() > 3 && c.what.compare(c.what.size() - 3, 3, "...") == 0;
    std::string want = open ? c.what.substr(0, c.what.size() - 3) : c.what;
    EXPECT_EQ(open ? what.substr(0, want.size()) : what, want);
  }
  fs::remove_all(folder);
}

// A worker killed at an item, before or halfway through writing its result, loses that item
// alone; the others come back whole and in order.
TEST(Workers, AWorkerKilledLosesOnlyItsItem) {
  for (bool half_written : {false, true}) {
    SCOPED_TRACE(half_written);
    std::vector<std::string> got;
    sim::run_in_workers(
        6, 2,
        [&](size_t i) {
          if (i == 2) {
            // The result pipe is the worker's one write end of a pipe past the standard ones.
            for (int fd = 3; half_written && fd < 1024; ++fd) {
              struct stat st;
              if (fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode) &&
                  (fcntl(fd, F_GETFL) & O_ACCMODE) == O_WRONLY)
                (void)!write(fd, "2\t{\"half", 8);
            }
            raise(SIGKILL);
          }
          return "item " + std::to_string(i);
        },
        [&](size_t i, const std::string& text, const sim::WorkerReport& report) {
          got.push_back(std::to_string(i) + " " + (report.lost ? "lost: " + report.why : text));
        });
    EXPECT_EQ(got,
              (std::vector<std::string>{"0 item 0", "1 item 1",
                                        "2 lost: the worker process ended with signal 9 (Killed)",
                                        "3 item 3", "4 item 4", "5 item 5"}));
  }
}
