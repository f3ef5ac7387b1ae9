// Stroke capture: the engine driven directly with pointer messages on a booted device, whose clock
// the tests move. Direction codes and their sectors, merging and the ten slots, the moves that are
// ignored after a button-down, the pan decision and its carry-over into the next stroke, the
// hand-over to the broker, the whole-number distance, and settings that are out of any sane range.
#include <limits.h>

#include <new>
#include <string>
#include <vector>

#include "device/apps.hpp"
#include "gesture/Gestures.h"
#include "gesture/PathLength.h"
#include "support/DeviceFixture.h"

namespace {

using dev::apps::Kind;

// Every engine of this file lives at this one address: the address handed to the broker is
// worked out once per process and kept.
alignas(Gestures) unsigned char EngineStorage[sizeof(Gestures)];

LONG At(int x, int y) {
  return static_cast<LONG>(static_cast<DWORD>(x & 0xFFFF) | (static_cast<DWORD>(y) << 16));
}

// The largest r with r * r <= n: the segment distance rounded down, worked out without floating
// point.
int FloorRoot(long long n) {
  int r = 0;
  while (static_cast<long long>(r + 1) * (r + 1) <= n) ++r;
  return r;
}

class EngineCaptureTest : public vt::DeviceTest {
 protected:
  void SetUp() override { Start(0); }

  void TearDown() override {
    PanTravelWord = nullptr;
    Stop();
    DeviceTest::TearDown();
  }

  // A fresh device whose clock starts at `bootTick`, a broker window and a fresh engine.
  void Start(uint32_t bootTick) {
    Stop();
    vt::BootOptions options;
    options.install = false;
    options.boot_tick = bootTick;
    Boot(options);
    CurrentGestures = nullptr;
    broker = Place(Kind::Plain, 0, 0, 10, 10);
    list = Place(Kind::List, 0, 0, 240, 320);
    g = new (EngineStorage) Gestures;
    ClearLog();
  }

  void Stop() {
    if (g != nullptr) g->~Gestures();
    g = nullptr;
  }

  HWND Place(Kind kind, int x, int y, int w, int h) {
    dev::apps::WindowSpec spec;
    spec.kind = kind;
    spec.x = x, spec.y = y, spec.width = w, spec.height = h;
    return dev::apps::place(*device, spec);
  }

  void Send(UINT message, int x, int y) { g->ProcessMouseMsg(message, message, At(x, y), broker); }
  void Down(int x, int y) { Send(WM_LBUTTONDOWN, x, y); }
  void Move(int x, int y) { Send(WM_MOUSEMOVE, x, y); }
  void Up(int x, int y) { Send(WM_LBUTTONUP, x, y); }

  // A button-down whose first move opens the segment at the same point.
  void Begin(int x, int y) {
    g->IgnoreCount = 0;
    Down(x, y);
    Move(x, y);
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

  std::vector<dev::LogEntry> Posts(HWND window, const std::string& msg) const {
    std::vector<dev::LogEntry> out;
    const std::string suffix = ":" + dev::hex(reinterpret_cast<uintptr_t>(window));
    for (const auto& e : Log("post")) {
      const std::string name = e.str("window");
      bool same = name.size() > suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
      if (same && e.str("msg") == msg) out.push_back(e);
    }
    return out;
  }
  size_t HandOvers() const { return Posts(broker, "1274").size(); }
  size_t Lines() const { return Posts(list, "WM_VSCROLL").size(); }

  Gestures* g = nullptr;
  HWND broker = nullptr;
  HWND list = nullptr;
};

TEST_F(EngineCaptureTest, EachSegmentGetsTheCodeOfItsSector) {
  struct Case {
    int dx, dy;
    char code;  // 0: none
  };
  const Case cases[] = {
      {0, 30, 'D'},   {0, -30, 'U'},  {30, 2, 'R'},     {-30, -2, 'L'},   {30, -2, 'R'},
      {-30, 2, 'L'},  {20, 20, 'Q'},  {-20, 20, 'E'},   {20, -20, 'Z'},   {-20, -20, 'C'},
      {10, 24, 'Q'},  {10, 25, 'D'},  {-10, 24, 'E'},   {-10, -25, 'U'},  {10, -24, 'Z'},
      {100, 41, 'R'}, {100, 42, 'Q'}, {-100, -41, 'L'}, {-100, -42, 'C'}, {100, -42, 'Z'},
      {30, 0, 0},     {-30, 0, 0},    {13, 0, 0},
  };
  for (const Case& c : cases) {
    Begin(1000, 1000);
    Move(1000 + c.dx, 1000 + c.dy);
    std::string want;
    if (c.code != 0) {
      want = c.code + std::to_string(2 * FloorRoot(1LL * c.dx * c.dx + 1LL * c.dy * c.dy));
    }
    EXPECT_EQ(Codes(), want) << "segment (" << c.dx << ", " << c.dy << ")";
  }
}

TEST_F(EngineCaptureTest, ASegmentWithoutSlopeYieldsNoCodeButEndsTheSegment) {
  Begin(100, 100);
  Move(130, 100);
  EXPECT_EQ(Codes(), "");
  Move(130, 112);  // 12 from the new start; from the old one it would be a code
  EXPECT_EQ(Codes(), "");
  Move(130, 113);
  EXPECT_EQ(Codes(), "D26");
}

TEST_F(EngineCaptureTest, SegmentsInOneDirectionMergeAndTenCodesFillTheSlots) {
  Begin(100, 100);
  for (int y = 101; y <= 140; ++y) Move(100, y);
  EXPECT_EQ(Codes(), "D78") << "three segments of 13; the last unit is not counted";

  // Alternating directions: one slot each, until all ten are used.
  Begin(100, 100);
  int x = 100, y = 100;
  for (int i = 0; i < kCodeSlots; ++i) {
    if (i % 2 == 0)
      y += 20;
    else
      x += 20, y += 1;
    Move(x, y);
  }
  const std::string full = "D40 R40 D40 R40 D40 R40 D40 R40 D40 R40";
  EXPECT_EQ(Codes(), full);
  Move(x + 20, y + 1);  // the tenth slot's direction
  Move(x + 20, y + 21);
  EXPECT_EQ(Codes(), full) << "segments after the tenth code are dropped";
  EXPECT_FALSE(g->AddGesture(u'R', 5)) << "not even the tenth code may grow";
  EXPECT_FALSE(g->AddGesture(u'U', 5));
  EXPECT_EQ(Codes(), full);
}

TEST_F(EngineCaptureTest, TheFirstMovesAfterTheButtonDownAreDropped) {
  ASSERT_EQ(g->IgnoreCount, 10);
  // Eight moves far apart and the button-up: the up point only opens the segment.
  Down(100, 100);
  for (int k = 1; k <= 8; ++k) Move(100, 100 + 20 * k);
  Up(100, 300);
  EXPECT_EQ(Codes(), "");
  EXPECT_EQ(HandOvers(), 1u) << "the hand-over follows all the same";

  // A ninth move opens the segment and the up point is measured against it.
  Down(100, 100);
  for (int k = 1; k <= 9; ++k) Move(100, 100 + 20 * k);
  Up(100, 300);
  EXPECT_EQ(Codes(), "D40");
}

TEST_F(EngineCaptureTest, AStrokeBecomesAPanAfterARestWithLittleTravel) {
  static int travel;
  travel = 0;
  PanTravelWord = &travel;
  g->TargetWnd = list;

  // The rest must last more than 500 ms.
  Begin(100, 100);
  device->run_for(500);
  Move(100, 101);
  EXPECT_FALSE(g->IsPanning()) << "500 ms is not more than 500 ms";
  device->run_for(1);
  Move(100, 101);
  EXPECT_TRUE(g->IsPanning());
  Up(100, 101);

  // The travel measured until then must stay under 10.
  device->run_for(400);
  Begin(100, 100);
  device->run_for(600);
  Move(100, 110);
  EXPECT_FALSE(g->IsPanning());
  EXPECT_EQ(Codes(), "") << "under the grid size: no code either";
  Up(100, 110);

  // Panning: moves under 8 from the segment start add up, then the content follows.
  Begin(100, 100);
  device->run_for(600);
  Move(100, 107);
  EXPECT_TRUE(g->IsPanning());
  EXPECT_EQ(Lines(), 0u);
  EXPECT_EQ(travel, 0);
  Move(100, 108);
  Move(100, 100);
  Move(130, 100);
  auto lines = Posts(list, "WM_VSCROLL");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].str("wParam"), "0x0") << "finger down, content up";
  EXPECT_EQ(lines[1].str("wParam"), "0x1");
  EXPECT_EQ(lines[2].str("wParam"), "0x0") << "a sideways step is a vertical distance of 0";
  EXPECT_EQ(travel, kPanTravel);
  EXPECT_EQ(Codes(), "");
}

TEST_F(EngineCaptureTest, AStrokeThatProducedACodeNeverPans) {
  Begin(100, 100);
  Move(100, 120);
  device->run_for(2000);
  Move(100, 121);
  Move(100, 135);
  EXPECT_FALSE(g->IsPanning());
  EXPECT_EQ(Codes(), "D70");
  Up(100, 135);
  EXPECT_EQ(HandOvers(), 1u);
}

// The same at every boot tick: from zero, just before the tick count turns negative as a signed
// number, just before it wraps, and with the second or the third button-up at tick 0 exactly.
TEST_F(EngineCaptureTest, APanGoesOnInTheNextStrokeOnlyWithinLastUpCount) {
  for (uint32_t bootTick : {0u, 0x7FFFFE00u, 0xFFFFFE00u, 0u - 900u, 0u - 1201u}) {
    Start(bootTick);
    SCOPED_TRACE("boot tick " + dev::hex(bootTick));
    Begin(100, 100);
    device->run_for(600);
    Move(100, 101);
    ASSERT_TRUE(g->IsPanning());
    Up(100, 101);
    EXPECT_EQ(HandOvers(), 0u) << "a pan is not handed over";

    device->run_for(300);
    Begin(100, 100);
    Move(100, 130);
    EXPECT_TRUE(g->IsPanning()) << "300 ms after the last pan: it goes on";
    EXPECT_EQ(Codes(), "");
    Up(100, 130);
    EXPECT_EQ(HandOvers(), 0u);

    device->run_for(301);
    Begin(100, 100);
    Move(100, 130);
    EXPECT_FALSE(g->IsPanning()) << "301 ms after the last pan: a new stroke";
    EXPECT_EQ(Codes(), "D60");
    Up(100, 130);
    EXPECT_EQ(HandOvers(), 1u);

    // After a stroke of codes, the next stroke starts without one.
    device->run_for(100);
    Begin(100, 100);
    device->run_for(600);
    Move(100, 101);
    EXPECT_TRUE(g->IsPanning()) << "a code of the previous stroke must not stop this pan";
  }
}

TEST_F(EngineCaptureTest, TheHandOverCarriesTheEngineToTheBroker) {
  HWND myBroker = Place(Kind::Plain, 0, 0, 5, 5);
  g->SetMsgBroker(myBroker);
  device->run_for(50);
  ClearLog();
  Begin(100, 100);
  EXPECT_EQ(Posts(myBroker, "1276").size(), 1u) << "the button-down resets the broker";
  Move(100, 140);
  Up(100, 140);
  auto handOvers = Posts(broker, "1274");
  ASSERT_EQ(handOvers.size(), 1u);
  EXPECT_EQ(handOvers[0].str("wParam"), dev::hex(reinterpret_cast<uintptr_t>(g)));
  EXPECT_EQ(handOvers[0].str("lParam"), "0x0");
  EXPECT_TRUE(g->GestureReady);
  EXPECT_EQ(g->UpTick, device->tick());
  device->settle();
  EXPECT_EQ(Posts(broker, "1274").size(), 1u);

  // A broker that is gone: nothing is measured, and the hand-over is lost.
  HWND gone = Place(Kind::Plain, 0, 0, 5, 5);
  dev::apps::destroy(*device, gone);
  Begin(100, 100);
  EXPECT_FALSE(g->MsgToBehavior(list, WM_MOUSEMOVE, 0, At(100, 180), gone));
  g->ProcessMouseMsg(WM_LBUTTONUP, WM_LBUTTONUP, At(100, 180), gone);
  EXPECT_EQ(Codes(), "");
  EXPECT_EQ(HandOvers(), 1u);
}

TEST_F(EngineCaptureTest, EveryThresholdUsesTheDistanceRoundedDown) {
  // Grid size 13: a segment of 12.8 stays open, one of exactly 13 closes, one of 19.8 is 19 long.
  Begin(100, 100);
  Move(108, 110);
  EXPECT_EQ(Codes(), "");
  Move(112, 105);
  EXPECT_EQ(Codes(), "Q26");
  Move(126, 119);
  EXPECT_EQ(Codes(), "Q64");
  Up(126, 119);

  // Travel limit 10: a first measured move of 9.9 after a rest still makes a pan; then the noise
  // size 8: 7.8 from the segment start is held back, 8.06 moves the content.
  g->TargetWnd = list;
  device->run_for(400);
  Begin(100, 100);
  device->run_for(600);
  Move(107, 107);
  EXPECT_TRUE(g->IsPanning());
  EXPECT_EQ(Lines(), 1u);
  Move(112, 113);
  EXPECT_EQ(Lines(), 1u);
  Move(111, 114);
  EXPECT_EQ(Lines(), 2u);
}

TEST_F(EngineCaptureTest, SettingsOutOfRangeNeitherCrashNorOverflow) {
  // Grid size 0 or below: every measured move ends a segment; one that goes nowhere has no code.
  for (int grid : {0, -5, INT_MIN}) {
    g->GRIDSIZE = grid;
    Begin(100, 100);
    Move(100, 100);
    Move(101, 101);
    EXPECT_EQ(Codes(), "Q2") << "grid size " << grid;
  }
  g->GRIDSIZE = 13;

  // Lengths saturate; a negative factor still gives a length.
  const std::string max = std::to_string(INT_MAX);
  for (auto [amp, want] : {std::pair<int, std::string>{INT_MAX, "D" + max},
                           {INT_MIN, "D" + max},
                           {-2, "D52"},
                           {0, "D0"}}) {
    g->Amp = amp;
    Begin(100, 100);
    Move(100, 113);
    Move(100, 126);
    EXPECT_EQ(Codes(), want) << "amp " << amp;
  }
  g->Amp = 2;

  // Ignore counts at either end: every move is taken, or only the up point, which opens.
  g->IgnoreCount = INT_MIN;
  Down(100, 100);
  Move(100, 100);
  Move(100, 120);
  EXPECT_EQ(Codes(), "D40");
  g->IgnoreCount = INT_MAX;
  Down(100, 100);
  for (int k = 1; k <= 50; ++k) Move(100, 100 + 5 * k);
  Up(100, 400);
  EXPECT_EQ(Codes(), "");

  // Slope bounds of 0, of the largest value and below 0.
  g->Bound1 = 0;
  Begin(100, 100);
  Move(120, 120);
  Move(150, 122);
  EXPECT_EQ(Codes(), "D116") << "everything sloped is vertical";
  g->Bound1 = g->Bound2 = INT_MAX;
  Begin(100, 100);
  Move(120, 120);
  EXPECT_EQ(Codes(), "R56") << "everything sloped is horizontal";
  for (int bound : {-1, INT_MIN}) {
    g->Bound1 = g->Bound2 = bound;
    Begin(100, 100);
    Move(120, 120);
    EXPECT_EQ(Codes(), "D56") << "below 0 everything is steep: bound " << bound;
  }
  g->Bound1 = 2414, g->Bound2 = 414;
  Up(100, 100);

  // A noise size out of reach: the pan never moves the content.
  g->NOISESIZE = INT_MAX;
  g->TargetWnd = list;
  Begin(100, 100);
  device->run_for(600);
  Move(100, 101);
  ASSERT_TRUE(g->IsPanning());
  Move(100, 65535);
  Move(65535, 0);
  EXPECT_EQ(Lines(), 0u);
  Up(65535, 0);
  g->NOISESIZE = 8;

  // A very long stroke: its travel saturates instead of wrapping round to a small number, which
  // would make the rest that follows a pan.
  g->GRIDSIZE = INT_MAX;
  device->run_for(400);
  Begin(0, 0);
  for (int i = 0; i < 24000; ++i) Move(65535, 65535);
  EXPECT_EQ(g->TravelSum, INT_MAX);
  device->run_for(600);
  Move(65535, 65534);
  EXPECT_EQ(g->TravelSum, INT_MAX);
  EXPECT_FALSE(g->IsPanning());
}

}  // namespace
