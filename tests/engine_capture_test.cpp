// Stroke capture: the engine driven with pointer messages on a booted device whose clock the tests
// move: direction codes, the ten slots, the pan decision, the hand-over and bad settings.
#include <limits.h>

#include <new>
#include <string>
#include <vector>

#include "device/apps.hpp"
#include "gesture/Gestures.h"
#include "gesture/PanReport.h"
#include "support/DeviceFixture.h"

namespace {

using dev::apps::Kind;

// Every engine of this file lives at this one address: the address handed to the broker is
// worked out once per process and kept.
alignas(Gestures) unsigned char EngineStorage[sizeof(Gestures)];

LONG At(int x, int y) {
  return static_cast<LONG>(static_cast<DWORD>(x & 0xFFFF) | (static_cast<DWORD>(y) << 16));
}

class EngineCaptureTest : public vt::DeviceTest {
 protected:
  void SetUp() override { Start(0); }

  void TearDown() override {
    PannedStrokeWord = nullptr;
    Stop();
    DeviceTest::TearDown();
  }

  // A fresh device whose clock starts at `bootTick`, a broker window, a list and a fresh engine.
  void Start(uint32_t bootTick) {
    Stop();
    vt::BootOptions options;
    options.boot_tick = bootTick;
    BootForEngine(options);
    broker = Place(Kind::Plain, 0, 0, 10, 10);
    list = Place(Kind::List, 0, 0, 240, 320);
    g = new (EngineStorage) Gestures;
    ClearLog();
  }

  void Stop() {
    if (g != nullptr) g->~Gestures();
    g = nullptr;
  }

  void Down(int x, int y) { g->ProcessMouseMsg(WM_LBUTTONDOWN, 0, At(x, y), broker); }
  void Move(int x, int y) { g->ProcessMouseMsg(WM_MOUSEMOVE, 0, At(x, y), broker); }
  void Up(int x, int y) { g->ProcessMouseMsg(WM_LBUTTONUP, 0, At(x, y), broker); }

  // A button-down at the first point, a first move there that opens the segment, then moves.
  void Path(std::initializer_list<std::pair<int, int>> points) {
    g->IgnoreCount = 0;
    Down(points.begin()->first, points.begin()->second);
    for (auto [x, y] : points) Move(x, y);
  }
  // A stroke that rests `restMs`, then moves once.
  void RestThenMove(int dx, int dy, uint32_t restMs = 600) {
    Path({{100, 100}});
    device->run_for(restMs);
    Move(100 + dx, 100 + dy);
  }

  // The used code slots as text, "D78 R40".
  std::string Codes() const {
    std::string out;
    for (int i = 0; i < g->CodeCount; ++i) {
      if (!out.empty()) out += ' ';
      out += static_cast<char>(g->CodeSlots[i].code) + std::to_string(g->CodeSlots[i].length);
    }
    return out;
  }

  size_t HandOvers() const { return PostsTo(broker, "1274").size(); }
  size_t Lines() const { return PostsTo(list, "WM_VSCROLL").size(); }

  Gestures* g = nullptr;
  HWND broker = nullptr;
  HWND list = nullptr;
};

TEST_F(EngineCaptureTest, EachSegmentGetsTheCodeOfItsSector) {
  // Length: twice the distance rounded down. Bounds 2.414 and 0.414 part the sectors. Grid size
  // 13: a segment of 12.8 stays open, one of exactly 13 closes, one of 19.8 is 19 long.
  const struct {
    int dx, dy;
    const char* codes;
  } cases[] = {
      {0, 30, "D60"},    {0, -30, "U60"},     {30, 2, "R60"},      {-30, -2, "L60"},
      {30, -2, "R60"},   {-30, 2, "L60"},     {20, 20, "Q56"},     {-20, 20, "E56"},
      {20, -20, "Z56"},  {-20, -20, "C56"},   {10, 24, "Q52"},     {10, 25, "D52"},
      {-10, 24, "E52"},  {-10, -25, "U52"},   {10, -24, "Z52"},    {100, 41, "R216"},
      {100, 42, "Q216"}, {-100, -41, "L216"}, {-100, -42, "C216"}, {100, -42, "Z216"},
      {30, 0, "R60"},    {-30, 0, "L60"},     {13, 0, "R26"},      {8, 10, ""},
      {12, 5, "Q26"},    {14, 14, "Q38"},
  };
  for (const auto& c : cases) {
    Path({{1000, 1000}, {1000 + c.dx, 1000 + c.dy}});
    EXPECT_EQ(Codes(), c.codes) << "segment (" << c.dx << ", " << c.dy << ")";
  }
  // A level segment ends where it is coded; the next one starts there.
  Path({{100, 100}, {130, 100}, {130, 112}});  // 12 from the new start, 30 from the old
  EXPECT_EQ(Codes(), "R60");
  Move(130, 113);
  EXPECT_EQ(Codes(), "R60 D26");
}

TEST_F(EngineCaptureTest, SegmentsInOneDirectionMergeAndTenCodesFillTheSlots) {
  Path({{100, 100}});
  for (int y = 101; y <= 140; ++y) Move(100, y);
  EXPECT_EQ(Codes(), "D78") << "three segments of 13; the last unit is not counted";

  // Alternating directions: one slot each, until all ten are used.
  Path({{100, 100}});
  int x = 100, y = 100;
  for (int i = 0; i < kCodeSlots; ++i) {
    i % 2 == 0 ? y += 20 : (x += 20, y += 1);
    Move(x, y);
  }
  const std::string full = "D40 R40 D40 R40 D40 R40 D40 R40 D40 R40";
  EXPECT_EQ(Codes(), full);
  Move(x + 20, y + 1);  // the tenth slot's direction
  Move(x + 20, y + 21);
  EXPECT_FALSE(g->AddGesture(u'R', 5)) << "not even the tenth code may grow";
  EXPECT_FALSE(g->AddGesture(u'U', 5));
  EXPECT_EQ(Codes(), full);
}

TEST_F(EngineCaptureTest, TheFirstMovesAfterTheButtonDownAreDropped) {
  ASSERT_EQ(g->IgnoreCount, 10);
  // Moves 20 apart, the pen-up 20 past the last: a segment opens at the first move taken.
  const struct {
    const char* what;
    int ignore, moves;
    const char* codes;
  } cases[] = {{"eight moves: the up point only opens the segment", 10, 8, ""},
               {"a ninth opens it earlier", 10, 9, "D40"},
               {"the least count: every move is taken", INT_MIN, 1, "D40"},
               {"the largest: only the up point", INT_MAX, 50, ""}};
  size_t strokes = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    g->IgnoreCount = c.ignore;
    Down(100, 100);
    for (int k = 1; k <= c.moves; ++k) Move(100, 100 + 20 * k);
    Up(100, 120 + 20 * c.moves);
    EXPECT_EQ(Codes(), c.codes);
    EXPECT_EQ(HandOvers(), ++strokes) << "the hand-over follows all the same";
  }
}

TEST_F(EngineCaptureTest, AStrokeBecomesAPanAfterARestWithLittleTravel) {
  static DWORD panned;
  panned = 0;
  PannedStrokeWord = &panned;
  g->TargetWnd = list;

  RestThenMove(0, 1, 500);
  EXPECT_FALSE(g->IsPanning()) << "500 ms is not more than 500 ms";
  device->run_for(1);
  Move(100, 101);
  EXPECT_TRUE(g->IsPanning());
  Up(100, 101);

  device->run_for(400);
  RestThenMove(0, 10);
  EXPECT_FALSE(g->IsPanning()) << "the travel measured until then must stay under 10";
  EXPECT_EQ(Codes(), "") << "under the grid size: no code either";
  Up(100, 110);

  // Panning: a first move of 9.9 is travel 9, under 10. Moves under the noise size 8 from the
  // segment start add up (7.8 is held back, 8.06 is not), then the content follows.
  RestThenMove(7, 7);
  EXPECT_TRUE(g->IsPanning());
  EXPECT_EQ(Lines(), 1u);
  panned = 0;
  Move(112, 113);
  EXPECT_TRUE(Lines() == 1 && panned == 0);
  Move(111, 114);
  Move(111, 100);
  Move(141, 100);
  std::string steps;
  for (const auto& e : PostsTo(list, "WM_VSCROLL")) steps += e.str("wParam") + " ";
  EXPECT_EQ(steps, "0x0 0x0 0x1 ") << "finger down, content up; a sideways step moves no line";
  // The only word the engine writes for the host: which of its strokes panned.
  EXPECT_NE(panned, 0u);
  EXPECT_EQ(Codes(), "");
  Up(141, 100);

  // A stroke that produced a code never pans.
  device->run_for(400);
  Path({{100, 100}, {100, 120}});
  device->run_for(2000);
  Move(100, 121);
  Move(100, 135);
  EXPECT_FALSE(g->IsPanning());
  EXPECT_EQ(Codes(), "D70");
}

// The same at every boot tick: zero, just before the tick count turns negative as a signed
// number, just before it wraps, and with the second or the third button-up at tick 0 exactly.
TEST_F(EngineCaptureTest, APanGoesOnInTheNextStrokeOnlyWithinLastUpCount) {
  for (uint32_t bootTick : {0u, 0x7FFFFE00u, 0xFFFFFE00u, 0u - 900u, 0u - 1201u}) {
    Start(bootTick);
    SCOPED_TRACE("boot tick " + dev::hex(bootTick));
    RestThenMove(0, 1);
    ASSERT_TRUE(g->IsPanning());
    Up(100, 101);
    EXPECT_EQ(HandOvers(), 0u) << "a pan is not handed over";

    for (uint32_t gap : {300u, 301u}) {
      device->run_for(gap);
      Path({{100, 100}, {100, 130}});
      EXPECT_EQ(g->IsPanning(), gap == 300) << gap << " ms after the last pan";
      EXPECT_EQ(Codes(), gap == 300 ? "" : "D60");
      Up(100, 130);
    }
    EXPECT_EQ(HandOvers(), 1u);

    device->run_for(100);
    RestThenMove(0, 1);
    EXPECT_TRUE(g->IsPanning()) << "a code of the previous stroke must not stop this pan";
  }

  // Ends that are not a button-up a moment ago: one 25 days ago, and one that never came (its
  // pen-up failed validation, so the proxy gave the engine none).
  for (bool released : {true, false}) {
    Start(0);
    SCOPED_TRACE(released ? "released 25 days ago" : "never released");
    RestThenMove(0, 1);
    ASSERT_TRUE(g->IsPanning());
    if (released) Up(100, 101);
    device->run_for(released ? 25u * 24 * 3600 * 1000 : 400);
    Path({{100, 100}, {100, 130}});
    EXPECT_FALSE(g->IsPanning());
    EXPECT_EQ(Codes(), "D60");
  }
}

TEST_F(EngineCaptureTest, TheHandOverCarriesTheEngineToTheBroker) {
  HWND myBroker = Place(Kind::Plain, 0, 0, 5, 5);
  g->SetMsgBroker(myBroker);
  device->run_for(50);
  ClearLog();
  Path({{100, 100}});
  EXPECT_EQ(PostsTo(myBroker, "1276").size(), 1u) << "the button-down resets the broker";
  Move(100, 140);
  Up(100, 140);
  device->settle();
  auto handOvers = PostsTo(broker, "1274");
  ASSERT_EQ(handOvers.size(), 1u);
  EXPECT_EQ(device->log().address(handOvers[0].str("wParam")), reinterpret_cast<uintptr_t>(g));
  EXPECT_EQ(handOvers[0].str("lParam"), "0x0");
  EXPECT_TRUE(g->GestureReady && g->UpTick == device->tick());

  // A broker that is gone: nothing is measured, and the hand-over is lost.
  HWND gone = Place(Kind::Plain, 0, 0, 5, 5);
  dev::apps::destroy(*device, gone);
  Path({{100, 100}});
  EXPECT_FALSE(g->MsgToBehavior(list, WM_MOUSEMOVE, 0, At(100, 180), gone));
  g->ProcessMouseMsg(WM_LBUTTONUP, WM_LBUTTONUP, At(100, 180), gone);
  EXPECT_EQ(Codes(), "");
  EXPECT_EQ(HandOvers(), 1u);
}

TEST_F(EngineCaptureTest, SettingsOutOfRangeNeitherCrashNorOverflow) {
  // Each case: a setting and a stroke from (100, 100).
  const std::string max = "D" + std::to_string(INT_MAX);
  const struct {
    int Gestures::*setting;
    int value;
    std::pair<int, int> a, b;
    std::string codes;
  } cases[] = {
      // Grid size 0 or below: every measured move ends a segment; one going nowhere has no code.
      {&Gestures::GRIDSIZE, 0, {100, 100}, {101, 101}, "Q2"},
      {&Gestures::GRIDSIZE, INT_MIN, {100, 100}, {101, 101}, "Q2"},
      // Lengths saturate; a negative factor still gives a length.
      {&Gestures::Amp, INT_MAX, {100, 113}, {100, 126}, max},
      {&Gestures::Amp, INT_MIN, {100, 113}, {100, 126}, max},
      {&Gestures::Amp, -2, {100, 113}, {100, 126}, "D52"},
      {&Gestures::Amp, 0, {100, 113}, {100, 126}, "D0"},
      // Slope bounds of 0 (everything sloped is vertical), of the largest value (horizontal)
      // and below 0 (everything steep); all but the first set both bounds.
      {&Gestures::Bound1, 0, {120, 120}, {150, 122}, "D116"},
      {&Gestures::Bound1, INT_MAX, {120, 120}, {120, 120}, "R56"},
      {&Gestures::Bound1, INT_MIN, {120, 120}, {120, 120}, "D56"},
  };
  for (const auto& c : cases) {
    Start(0);
    g->*c.setting = c.value;
    if (c.setting == &Gestures::Bound1 && c.value != 0) g->Bound2 = c.value;
    Path({{100, 100}, c.a, c.b});
    EXPECT_EQ(Codes(), c.codes) << "setting " << c.value;
  }
  Start(0);

  // A noise size out of reach: the pan never moves the content.
  g->NOISESIZE = INT_MAX, g->TargetWnd = list;
  device->run_for(400);
  RestThenMove(0, 1);
  ASSERT_TRUE(g->IsPanning());
  Move(100, 65535);
  Move(65535, 0);
  EXPECT_EQ(Lines(), 0u);
  Up(65535, 0);

  // A very long stroke: its travel saturates instead of wrapping round to a small number, which
  // would make the rest that follows a pan.
  g->GRIDSIZE = INT_MAX;
  device->run_for(400);
  Path({{0, 0}});
  for (int i = 0; i < 24000; ++i) Move(65535, 65535);
  EXPECT_EQ(g->TravelSum, INT_MAX);
  device->run_for(600);
  Move(65535, 65534);
  EXPECT_EQ(g->TravelSum, INT_MAX);
  EXPECT_FALSE(g->IsPanning());
}

}  // namespace
