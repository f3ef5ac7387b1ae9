// Which strokes the window system receives, and when; held records are bounded and never outlive
// their stroke.
#include <pm.h>
#include <tchddi.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Scenario.h"
#include "device/apps.hpp"
#include "support/DeviceFixture.h"

namespace {

using dev::apps::Kind;
using Samples = std::vector<dev::PanelSample>;
using Points = std::vector<sim::StrokePoint>;

const char kGesturesOn[] =
    "[HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture]\n\"Activate\"=dword:00000001\n"
    "[HKEY_LOCAL_MACHINE\\DebugZones]\n\"QUOBUpdater\"=dword:00008004\n";
const char kBoundNote[] = "Stroke passes through: press-and-hold, undecided for 60000 ms";

// A finger that lands, settles 24 pixels away within 20 ms, rests 600 ms and drags 80 pixels up:
// the travel of the landing keeps it from being a hold, and the rest makes the engine pan.
Points Pan(int x, int y) {
  Points pts = {{0, x, y + 24}, {10, x, y + 12}};
  for (auto p : sim::straight_stroke(x, y, x, y - 80, 200, 600, 100)) {
    pts.push_back({p.t + 20, p.x, p.y});
  }
  return pts;
}

class PassThroughTest : public vt::DeviceTest {
 protected:
  void SetUp() override {
    vt::BootOptions options;
    options.reg = kGesturesOn;
    Boot(options);
  }

  HWND FrontList() { return Front(Kind::List, 0, 0, 240, 320, 4000, 12); }
  HWND FrontOf(Kind kind) { return Front(kind, 0, 0, 240, 320); }

  // A stroke 100 ms from now, its pen-up 10 ms after the last point.
  Samples At(const Points& pts) { return sim::to_panel(pts, device->now() + 100, 10); }
  Samples Line(int x1, int y1, int x2, int y2, uint32_t moveMs, uint32_t restMs = 0) {
    return At(sim::straight_stroke(x1, y1, x2, y2, moveMs, restMs, 100));
  }

  // Plays a stroke, running `act` just before its sample `at`; returns what the window system
  // received meanwhile.
  std::vector<dev::ReceivedSample> Received(const Samples& sent, size_t at = SIZE_MAX,
                                            const std::function<void()>& act = {}) {
    size_t before = device->received_samples().size();
    for (size_t i = 0; i < sent.size(); ++i) {
      if (i == at) {
        device->run_until(sent[i].time - 1);
        act();
      }
      device->queue_samples({sent[i]});
    }
    device->run_until(sent.empty() ? device->now() : sent.back().time);
    device->settle();
    const auto& all = device->received_samples();
    return {all.begin() + static_cast<long>(before), all.end()};
  }

  // Checks that the window system received the whole stroke unchanged and in order; returns the
  // device times at which each sample arrived.
  std::vector<uint64_t> Whole(const Samples& sent, const std::string& what) {
    auto got = Received(sent);
    EXPECT_TRUE(vt::Unchanged(got, sent)) << what;
    std::vector<uint64_t> times;
    for (const auto& g : got) times.push_back(g.time);
    return times;
  }
  // The same, each sample arriving as it is sent.
  void AtOnce(const Samples& sent, const std::string& what) {
    auto times = Whole(sent, what);
    for (size_t i = 0; i < times.size(); ++i) EXPECT_EQ(times[i], sent[i].time) << what << i;
  }

  size_t HandOvers() { return Log("post", "msg", "1274").size(); }
  size_t BoundNotes() { return Log("debug", "text", kBoundNote).size(); }
  bool BrokerScrolling() {
    std::string states = ScrollStates();
    return !states.empty() && states.back() == '2';
  }
};

TEST_F(PassThroughTest, TapsHoldsBandsAndStripsReachTheWindowSystemFlicksDoNot) {
  FrontList();
  size_t handOvers = HandOvers();

  auto tap = Line(120, 160, 122, 163, 60);
  for (uint64_t t : Whole(tap, "tap")) EXPECT_EQ(t, tap.back().time) << "a tap comes at its pen-up";

  // Held until the first move more than 250 ms after the pen-down, then streamed.
  auto hold = Line(120, 160, 123, 162, 100, 400);
  auto times = Whole(hold, "hold");
  size_t first = 0;
  while (hold[first].time - hold[0].time <= 250) ++first;
  for (size_t i = 0; i < times.size(); ++i) {
    EXPECT_EQ(times[i], hold[std::max(i, first)].time) << "hold sample " << i;
  }

  // From the pen-down, stroke after stroke: the bottom band (295 and below on 240x320), the top
  // band, and the list's vertical scroll-bar strip.
  const int starts[][2] = {{120, 300}, {120, 20}, {236, 200}};
  for (int round = 0; round < 2; ++round) {
    for (const auto& [x, y] : starts)
      AtOnce(Line(x, y, x, y < 100 ? y + 100 : y - 100, 100), "band");
  }
  EXPECT_EQ(HandOvers(), handOvers) << "nothing of these strokes is handed over";
  // The list stays the target on its scroll bar, outside its client area.
  EXPECT_EQ(Log("debug", "text", "Stroke passes through: vertical scroll-bar strip").size(), 2u);

  EXPECT_TRUE(Received(Line(120, 200, 120, 140, 150)).empty()) << "a flick";
  EXPECT_EQ(HandOvers(), handOvers + 1);
  FrontOf(Kind::Plain);
  AtOnce(Line(120, 200, 120, 140, 150), "flick on a window that takes no gestures");

  // On a gesture-aware window a hold takes only 100 ms.
  FrontOf(Kind::GestureAware);
  hold = Line(120, 160, 120, 160, 0, 200);
  times = Whole(hold, "hold on a gesture-aware window");
  for (first = 0; hold[first].time - hold[0].time <= 100;) ++first;
  ASSERT_FALSE(times.empty());
  EXPECT_EQ(times[0], hold[first].time);
}

// A pen-down stops a momentum at once; a tap or a hold while the broker scrolls only stops it and
// never reaches the list.
TEST_F(PassThroughTest, AStrokeWhileTheBrokerScrollsStopsItWithoutReachingTheList) {
  HWND list = FrontList();
  for (uint32_t rest : {0, 400}) {  // a tap, a hold
    Play(Line(120, 200, 120, 140, 150));
    device->run_for(300);
    ASSERT_TRUE(BrokerScrolling());
    auto stroke = Line(120, 160, 121, 161, 60, rest);
    EXPECT_TRUE(Received(stroke).empty());
    EXPECT_FALSE(BrokerScrolling());
    for (const auto& e : Log("post", "msg", "WM_VSCROLL")) {
      EXPECT_LE(e.time, stroke[0].time) << "the list scrolled after the pen-down";
    }
    int stopped = dev::apps::scroll_pos(*device, list);
    device->run_for(2000);
    EXPECT_EQ(dev::apps::scroll_pos(*device, list), stopped);
  }
  // Once stopped, the same tap reaches the list.
  Whole(Line(120, 160, 121, 161, 60), "tap after the momentum");
}

// Records are held only while the stroke can still become a tap or a hold: a stroke that can
// become neither (here: any stroke while the broker scrolls) holds nothing however long it goes
// on, a hold comes whatever the press time and the sample rate, and a finger resting for a minute
// is a hold whatever the settings.
TEST_F(PassThroughTest, HoldingLastsOnlyWhileTheStrokeIsUndecided) {
  FrontList();
  auto still = [](uint32_t ms, uint32_t every) {
    Points pts;
    for (uint32_t t = 0; t <= ms; t += every) pts.push_back({t, 120, 160});
    return pts;
  };
  Points zigzag;
  for (uint32_t t = 0; t <= 30000; t += 5)
    zigzag.push_back({t, 120, 160 + static_cast<int>(t / 5 % 2) * 10});
  Play(Line(120, 200, 120, 140, 150));
  device->run_for(300);
  ASSERT_TRUE(BrokerScrolling()) << "so that nothing turns the stroke into a hold";
  size_t handles = device->open_handles();
  EXPECT_TRUE(Received(At(zigzag)).empty());
  EXPECT_EQ(device->open_handles(), handles);
  device->run_for(5000);

  device->reg_set_dword(vt::kGestureKey, "LongPressTime", 6000);
  device->run_for(50);
  auto hold = At(still(6500, 5));
  auto times = Whole(hold, "a 6 s hold at 200 samples a second");
  ASSERT_FALSE(times.empty());
  EXPECT_GT(times.front(), hold.front().time + 6000);

  device->reg_set_dword(vt::kGestureKey, "LongPressTime", 600000);
  device->run_for(50);
  hold = At(still(61000, 10));
  times = Whole(hold, "a resting finger under a press time of ten minutes");
  ASSERT_FALSE(times.empty());
  EXPECT_EQ(times.front(), hold.front().time + 60010) << "held for one minute, no longer";
  EXPECT_EQ(BoundNotes(), 1u);
}

// Once the engine pans a stroke its travel counts as a pan's, however little the finger moved:
// a slow pan that outlasts the press time is not taken for a press-and-hold.
TEST_F(PassThroughTest, AStrokeTheEnginePansIsNeverAHold) {
  HWND list = FrontList();
  device->reg_set_dword(vt::kGestureKey, "LongPressTime", 3000);
  device->run_for(50);
  Points pts;  // still for 600 ms, then two steps of 9 pixels: 18 of travel
  for (uint32_t t = 0; t <= 3300; t += 10)
    pts.push_back({t, 120, t < 610 ? 200 : t < 910 ? 191 : 182});
  EXPECT_TRUE(Received(At(pts)).empty()) << "withheld as a pan";
  EXPECT_GT(dev::apps::scroll_pos(*device, list), 0);
}

// A pen-up that fails validation ends its stroke as a pen-up does, in its place: a flick is then
// discarded whole (the engine sees no pen-up, so nothing is handed over), a tap replayed whole.
TEST_F(PassThroughTest, AnInvalidPenUpEndsItsStrokeInItsPlace) {
  FrontList();
  size_t handOvers = HandOvers();
  auto flick = Line(120, 200, 120, 140, 150);
  flick.back().flags &= ~TouchSampleValidFlag;
  EXPECT_TRUE(Received(flick).empty());
  EXPECT_EQ(HandOvers(), handOvers);

  device->run_for(300);
  auto tap = Line(120, 160, 122, 163, 60);
  tap.back().flags &= ~TouchSampleValidFlag;
  tap.insert(tap.begin() + 2,
             {tap[2].time, TouchSampleDownFlag | TouchSamplePreviousDownFlag, tap[2].x, tap[2].y});
  for (uint64_t t : Whole(tap, "tap with an invalid move and an invalid pen-up")) {
    EXPECT_EQ(t, tap.back().time);
  }
  Whole(Line(120, 160, 121, 161, 60), "the next tap");
}

// How a stroke goes is decided at its pen-down and holds to its pen-up: a pen-down sent straight
// through while the device wakes takes the rest of its stroke with it, even after a stroke that
// lost its pen-up, and settings written mid-stroke take effect at the next stroke.
TEST_F(PassThroughTest, AStrokeKeepsTheRouteOfItsPenDown) {
  FrontList();
  auto wake = [&] { device->set_power_state(u"on", POWER_STATE_ON); };
  auto sleep = [&] { device->set_power_state(u"idle", POWER_STATE_IDLE); };
  auto flick = [&] { return Line(120, 200, 120, 140, 150); };

  // A tap, then a wake-up tap whose pen-down comes while idle: both arrive whole.
  Samples tap = {{device->now() + 10, 0x3, 480, 640}, {device->now() + 20, 0x9, 480, 640}};
  EXPECT_TRUE(vt::Unchanged(Received(tap), tap));
  device->run_for(300);
  sleep();
  Samples wakeTap = {{device->now() + 5, 0x3, 481, 642}, {device->now() + 15, 0x9, 481, 642}};
  EXPECT_TRUE(vt::Unchanged(Received(wakeTap, 1, wake), wakeTap)) << "the wake-up tap's pen-up";

  // A flick whose pen-up failed validation, then an idle flick off the pixel grid: the second
  // reaches the window system whole and unchanged, and the engine none of it.
  auto lost = flick();
  lost.back().flags = TouchSamplePreviousDownFlag;
  Received(lost);
  device->run_for(300);
  sleep();
  size_t handOvers = HandOvers();
  auto idle = flick();
  for (auto& s : idle) s.x += 1;
  EXPECT_TRUE(vt::Unchanged(Received(idle, 1, wake), idle)) << "the idle flick";
  EXPECT_EQ(HandOvers(), handOvers);

  // Switched off mid-flick, the flick stays a gesture; switched on mid-stroke, that stroke still
  // passes unchanged. An unmappable angle set mid-flick: the flick is mapped as it began, the next
  // stroke passes unchanged rather than being dropped.
  EXPECT_TRUE(
      Received(flick(), 5, [&] { device->reg_set_dword(vt::kGestureKey, "Activate", 0); }).empty());
  auto off = flick();
  EXPECT_TRUE(vt::Unchanged(
      Received(off, 5, [&] { device->reg_set_dword(vt::kGestureKey, "Activate", 1); }), off));
  EXPECT_TRUE(
      Received(flick(), 5, [&] { device->reg_set_dword(vt::kRotationKey, "Angle", 180); }).empty());
  auto flipped = flick();
  EXPECT_TRUE(vt::Unchanged(Received(flipped), flipped)) << "a stroke at 180 degrees";
}

// Random strokes of every kind: each reaches the window system whole, unchanged and in order, or
// not at all; those that must pass through do, flicks and pans never do; nothing is held past a
// pen-up and no handle is left open. VEXORI_SOAK_STROKES=N plays N strokes instead of 2000.
TEST_F(PassThroughTest, SoakEveryStrokeReachesTheWindowSystemWholeOrNotAtAll) {
  int strokes = 2000;
  if (const char* env = std::getenv("VEXORI_SOAK_STROKES")) strokes = std::atoi(env);
  // A frame below the task bar with a list on the left and, right of the list's scroll bar, a
  // plain window above a gesture-aware one.
  HWND frame = Place(Kind::Plain, 0, 26, 240, 294);
  Place(Kind::List, 0, 0, 200, 294, frame, 4000, 12);
  Place(Kind::Plain, 205, 0, 35, 200, frame);
  Place(Kind::GestureAware, 205, 200, 35, 94, frame);
  dev::apps::set_foreground(*device, frame);
  std::mt19937 rng(20261207);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  enum Shape { Tap, Hold, Flick, PanStroke, Band, Strip, Plain, Idle, Aware, Shapes };
  const char* names[] = {"tap", "hold", "flick", "pan", "band", "strip", "plain", "idle", "aware"};
  // What may befall a stroke: an invalid sample in its middle, an invalid or lost pen-up, the
  // gesture function switched off or an unmappable angle written while it is drawn.
  enum Twist { InvalidMove, InvalidUp, LostUp, OffMidway, AngleMidway, None = 9 };
  size_t handles = 0;
  for (int n = 0; n < strokes; ++n) {
    int kind = pick(0, Shapes - 1);
    int twist = pick(0, None);
    int x = pick(30, 160), y = pick(80, 240), dy = pick(0, 1) ? 60 : -60;
    Points pts;
    switch (kind) {
      case Tap:
        pts = sim::straight_stroke(x, y, x + pick(0, 3), y + pick(0, 3), pick(0, 150), 0, 100);
        break;
      case Hold:
        pts = sim::straight_stroke(x, y, x + pick(0, 4), y, pick(0, 100), pick(300, 700), 100);
        break;
      case Flick:
        pts = sim::straight_stroke(x, y, x, y + dy, pick(100, 200), 0, 100);
        break;
      case PanStroke:
        pts = Pan(x, y);
        break;
      case Band:
        y = pick(0, 1) ? pick(0, 25) : pick(295, 319);
        pts = sim::straight_stroke(x, y, x, y < 100 ? y + 60 : y - 60, pick(0, 300), 0, 100);
        break;
      case Strip:
        pts = sim::straight_stroke(pick(190, 199), y, x, y + dy, pick(0, 300), 0, 100);
        break;
      case Plain:
        pts = sim::straight_stroke(pick(210, 239), pick(30, 220), x, y, pick(0, 300), 0, 100);
        break;
      case Idle:
        device->set_power_state(u"idle", POWER_STATE_IDLE | POWER_STATE_ON);
        pts = sim::straight_stroke(x, y, x, y + dy, pick(0, 300), pick(0, 400), 100);
        break;
      case Aware:
        x = pick(210, 235), y = pick(230, 290);
        pts = sim::straight_stroke(x, y, x, y - pick(0, 1) * 60, pick(0, 300), pick(0, 200), 100);
        break;
    }
    auto sent = sim::to_panel(pts, device->now() + pick(20, 1500), 10);
    size_t mid = sent.size() / 2;
    if (twist == InvalidMove && sent.size() > 2) {
      dev::PanelSample bad = sent[mid];
      bad.flags = TouchSampleDownFlag | TouchSamplePreviousDownFlag;
      sent.insert(sent.begin() + static_cast<long>(mid), bad);
    }
    if (twist == InvalidUp) sent.back().flags &= ~TouchSampleValidFlag;
    if (twist == LostUp) sent.pop_back();
    auto got = Received(sent, twist == OffMidway || twist == AngleMidway ? mid : SIZE_MAX, [&] {
      if (twist == OffMidway) device->reg_set_dword(vt::kGestureKey, "Activate", 0);
      if (twist == AngleMidway) device->reg_set_dword(vt::kRotationKey, "Angle", 180);
    });
    device->set_power_state(u"on", POWER_STATE_ON);
    if (twist == OffMidway) device->reg_set_dword(vt::kGestureKey, "Activate", 1);
    if (twist == AngleMidway) device->reg_set_dword(vt::kRotationKey, "Angle", 0);
    std::string what = std::string(names[kind]) + " stroke " + std::to_string(n) + ", twist " +
                       std::to_string(twist);
    if (kind == Flick || kind == PanStroke) {
      ASSERT_TRUE(got.empty()) << what;
    } else if (kind != Tap && kind != Hold && kind != Aware) {
      ASSERT_FALSE(got.empty()) << what;  // taps and holds while the broker scrolls are withheld
    }
    if (got.empty()) continue;
    ASSERT_TRUE(vt::Unchanged(got, sent)) << what;
    for (size_t i = 0; i < got.size(); ++i) ASSERT_GE(got[i].time, sent[i].time) << what << i;
    if (n == 200) {  // once the worker, the broker's timer and the sounds have all run
      device->run_for(10000);
      handles = device->open_handles();
    }
  }
  device->run_for(10000);
  if (strokes > 200) {
    EXPECT_EQ(device->open_handles(), handles);
  }
  EXPECT_EQ(BoundNotes(), 0u);
}

}  // namespace
