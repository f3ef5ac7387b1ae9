// The broker's side of a gesture: the hand-over from the proxy's engine, the filter and the gesture
// string at the first tick, and the behaviour carried out tick by tick until the gesture ends.
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "device/apps.hpp"
#include "gesture/Browser.h"
#include "gesture/Gestures.h"
#include "support/DeviceFixture.h"

namespace {

using dev::apps::Kind;

// Fills the ten slots from "D40 R60" (the rest free); '_' stands for a slot holding code 0.
void Fill(Gestures& e, const std::string& codes) {
  for (cGesture& slot : e.CodeSlots) slot = {kFreeCode, 0};
  std::istringstream in(codes);
  std::string token;
  for (int i = 0; i < kCodeSlots && in >> token; ++i) {
    e.CodeSlots[i].code = token[0] == '_' ? 0 : static_cast<WCHAR>(token[0]);
    e.CodeSlots[i].length = std::stoi(token.substr(1));
  }
}

// Slots as text, "D40 R60".
std::string Text(const cGesture* slots, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) {
    if (!out.empty()) out += ' ';
    out += static_cast<char>(slots[i].code) + std::to_string(slots[i].length);
  }
  return out;
}

std::string FreeSlots(int count) {
  std::vector<cGesture> free(count, cGesture{kFreeCode, 0});
  return Text(free.data(), count);
}

class EngineDispatchTest : public vt::DeviceTest {
 protected:
  void SetUp() override {
    BootForEngine();
    source = std::make_unique<Gestures>();  // the proxy's engine
    g = std::make_unique<Gestures>();       // the broker's, current: settings load into it
    broker = Win(Kind::Plain, 0, 10);
    g->SetMsgBroker(broker);
    plain = Win(Kind::Plain);
    aware = Win(Kind::GestureAware);
    ForgetEndOfContent();
  }

  void TearDown() override {
    g.reset();
    source.reset();
    DeviceTest::TearDown();
  }

  HWND Win(Kind kind, int lines = 1000, int height = 320) {
    return Place(kind, 0, 0, 240, height, nullptr, lines);
  }

  // The end-of-content readings outlive a gesture. Run them out on a list that cannot move, so
  // every test starts with no reading kept; the last line went down, as after an upward flick.
  void ForgetEndOfContent() {
    HWND stuck = Win(Kind::List, 10, 10);
    g->CodeSlots[0].length = 30;
    for (int i = 0; i < 3 && g->ScrollContent(stuck, SB_VERT, 10); ++i) {
    }
    g->CleanGestureData();
    device->settle();
    ClearLog();
  }

  // The proxy's engine captured `codes` from (120, 300); the broker takes them over and arms its
  // timer, as on the hand-over message.
  void HandOver(const std::string& codes, bool gestureAware = false) {
    Fill(*source, codes);
    source->DownX = 120, source->DownY = 300;
    source->GestureAwareTarget = gestureAware;
    EXPECT_TRUE(g->DuplicateGestureData(source.get()));
    SetTimer(broker, kGestureTimer, kGestureTimerPeriodMs, nullptr);
  }

  void Tick(HWND window) {
    EXPECT_TRUE(g->ProcessTimer(window, 0, 0, 0));
    device->settle();
  }
  // Ticks until the gesture ends (its string is cleared); the number of ticks it took.
  int TicksToEnd(HWND window, int most) {
    for (int n = 1; n <= most; ++n) {
      Tick(window);
      if (g->GestureString[0] == 0) return n;
      EXPECT_EQ(g->IsInGestureScrolling(), 1) << "tick " << n;
    }
    return -1;
  }

  size_t TimerKills() const { return Log("timer-killed", "id", "5").size(); }
  // What the one-shot behaviours did: "Angle 90;" for a rotation written, "command 2205;" for a
  // command posted to the browser's frame.
  std::string Requests() const {
    std::string out;
    for (const auto& e : device->log().entries()) {
      if (e.kind == "reg-write" && e.str("value") == "Angle") out += "Angle " + e.str("data") + ";";
      if (e.kind == "post" && e.str("msg") == "WM_COMMAND")
        out += "command " + std::to_string(std::stoul(e.str("wParam"), nullptr, 16)) + ";";
    }
    return out;
  }

  std::unique_ptr<Gestures> source, g;
  HWND broker = nullptr, plain = nullptr, aware = nullptr;
};

TEST_F(EngineDispatchTest, HandOverTakesTheCodesUpToTheFirstFreeSlotAndSkipsNonCodes) {
  const struct {
    const char* source;
    const char* taken;
  } cases[] = {
      {"D40 R60", "D40 R60"},
      {"U1 D2 L3 R4 Q5 E6 Z7 C8 U9 D10", "U1 D2 L3 R4 Q5 E6 Z7 C8 U9 D10"},
      {"X0 D50", ""},
      {"D40 X0 R60", "D40"},
      {"D40 A7 R60 _9 U30", "D40 R60 U30"},
      {"_1 U2 A3 D4 L5 R6 Q7 E8 Z9 C10", "U2 D4 L5 R6 Q7 E8 Z9 C10"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    Fill(*g, "L99 L99 L99 L99 L99 L99 L99 L99 L99 L99");  // a broker that still holds a gesture
    g->CodeCount = kCodeSlots;
    g->GestureReady = false;
    HandOver(c.source);
    EXPECT_EQ(Text(g->CodeSlots, g->CodeCount), c.taken);
    EXPECT_EQ(Text(g->CodeSlots + g->CodeCount, kCodeSlots - g->CodeCount),
              FreeSlots(kCodeSlots - g->CodeCount));
    EXPECT_TRUE(g->GestureReady);
  }

  // Nothing to take over: no codes, the rest left as it was.
  Fill(*g, "U80");
  g->CodeCount = 1, g->DownX = 7;
  g->DuplicateGestureData(nullptr);
  EXPECT_EQ(g->CodeCount, 0);
  EXPECT_EQ(Text(g->CodeSlots, kCodeSlots), FreeSlots(kCodeSlots));
  EXPECT_EQ(g->DownX, 7);
}

TEST_F(EngineDispatchTest, HandOverCarriesTheStartAndTheTargetButNotTheString) {
  HWND list = Win(Kind::List);
  HWND view = Win(Kind::BrowserView);
  g->GestureString[0] = u'Z';
  const struct {
    HWND target;
    bool aware;
    const char* cls;
    bool html;
  } cases[] = {{list, true, "VexoriList", false},
               {view, false, "PIEHTML", true},
               {nullptr, true, "PIEHTML", true}};  // no target: the last class is kept
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cls);
    source->TargetWnd = c.target;
    HandOver("D40", c.aware);
    EXPECT_TRUE(g->DownX == 120 && g->DownY == 300);
    EXPECT_EQ(g->GestureAwareTarget, c.aware);
    EXPECT_EQ(g->TargetWnd, c.target);
    EXPECT_EQ(dev::to_utf8(g->TargetClass), c.cls);
    EXPECT_EQ(g->TargetIsPIEHTML, c.html);
    EXPECT_EQ(g->GestureString[0], u'Z') << "the hand-over must leave the gesture string alone";
  }
}

// The first tick drops the codes that are short both in share and in length, reads the gesture
// string, and a gesture-aware window is told the behaviour and momentum it stands for.
TEST_F(EngineDispatchTest, FirstTickFiltersTheCodesAndMatchesTheGestureString) {
  const struct {
    const char* codes;
    UINT behaviour;  // 0: none
    int momentum;
    int filterValue = 40;
  } cases[] = {
      {"D120 Q30 R110", 108, 120},  {"U30 L30 U30", 0, 0},        {"U80 E30 U80", 100, 160},
      {"D50 R10", 101, 50},         {"U60 L60 U60", 0, 0},        {"U61 L61 U61", 100, 61},
      {"D50 R50", 0, 0, 50},        {"D51 R49", 101, 51, 50},     {"D100 Q100", 101, 200},
      {"D100 Q100 R100", 108, 100}, {"D100 Q100 Z100", 108, 100}, {"D100 Q100 E100", 101, 100},
      {"D100 R100 U100", 108, 100}, {"D100 L100", 110, 100},      {"D100 E100 L100", 110, 100},
      {"D100 E100 C100", 110, 100}, {"Z70 U90", 100, 160},        {"U70 Z90", 100, 160},
      {"C70 U90", 100, 160},        {"U70 C90", 100, 160},        {"U70 Z90 D100", 100, 70},
      {"E70 D90", 101, 160},        {"D70 E90", 101, 160},        {"Q70 D90", 101, 160},
      {"C100", 107, 100},           {"D100", 101, 100},           {"E100", 105, 100},
      {"L100", 102, 100},           {"Q100", 104, 100},           {"R100", 103, 100},
      {"U100", 100, 100},           {"Z100", 106, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codes);
    g->ResetData();
    g->FilterValue = c.filterValue;
    ClearLog();
    HandOver(c.codes, true);
    for (int i = 0; i < 3; ++i) Tick(aware);
    auto told = PostsTo(aware, "1274");
    EXPECT_EQ(g->GestureString[0], 0) << "the gesture must be over";
    if (c.behaviour == 0) {
      EXPECT_TRUE(told.empty());
      continue;
    }
    // Told once, with where the finger came down, instead of the behaviour being carried out.
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(Log("post").size(), 1u) << "one notification and nothing else";
    EXPECT_EQ(told[0].str("wParam"),
              dev::hex(c.behaviour | static_cast<uint64_t>(c.momentum) << 16));
    EXPECT_EQ(told[0].str("lParam"), dev::hex(120 + 300 * 65536));
    EXPECT_EQ(Requests(), "") << "the page must not be turned or zoomed as well";
    EXPECT_EQ(ScrollStates(), "21");
    EXPECT_EQ(TimerKills(), 1u);
  }
}

// Rotation, page turns and zoom happen once, at the first tick, and end the gesture there.
TEST_F(EngineDispatchTest, OneShotBehavioursRunAtTheFirstTickAndEndTheGesture) {
  const struct {
    const char* codes;
    int rotation, angle;  // angle -1: none stored
    const char* requests;
  } cases[] = {
      {"D120 Q30 R110", 1, 0, "Angle 90;"},
      {"D120 Q30 R110", 1, 270, "Angle 0;"},
      {"D120 Q30 R110", 1, 90, ""},
      {"D120 Q30 R110", 0, 0, ""},
      {"D120 Q30 R110", 1, -1, ""},
      {"D100 L100", 1, 0, "Angle 270;"},
      {"D100 L100", 1, 90, "Angle 0;"},
      {"D100 L100", 1, 270, ""},
      {"L100", 1, 0, "command 2205;"},
      {"R100", 1, 0, "command 2200;"},
      {"E100", 1, 0, "command 5676;"},  // from the stored level 2
      {"Z100", 1, 0, "command 5675;"},  // from the level 1 the browser stored since
      {"Q100", 1, 0, ""},
  };
  HWND view = Place(Kind::BrowserView, 0, 0, 240, 320, Win(Kind::Browser));
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.codes) + " angle " + std::to_string(c.angle));
    lastNavTick = 0;
    if (c.angle < 0) {
      device->reg_delete_value(vt::kRotationKey, "Angle");
    } else {
      device->reg_set_dword(vt::kRotationKey, "Angle", static_cast<uint32_t>(c.angle));
    }
    g->Rotation = c.rotation;
    HandOver(c.codes);
    ClearLog();
    EXPECT_EQ(g->IsInGestureScrolling(), 0);
    Tick(view);
    EXPECT_EQ(Requests(), c.requests);
    EXPECT_EQ(g->IsInGestureScrolling(), 0);
    EXPECT_EQ(ScrollStates(), "21") << "running, then ended within the tick";
    EXPECT_EQ(TimerKills(), 1u);
    EXPECT_EQ(Log("post").size(), std::string(c.requests).rfind("command", 0) == 0 ? 1u : 0u);
    EXPECT_EQ(g->CodeCount, 0);
  }

  // A circle reloads the settings.
  device->reg_set_dword(vt::kGestureKey, "FilterValue", 45);
  device->run_for(50);
  g->FilterValue = 77;
  HandOver("C100");
  Tick(plain);
  EXPECT_EQ(g->FilterValue, 45);
  EXPECT_EQ(g->GestureString[0], 0);
}

// A flick scrolls a list one step per tick while its momentum falls by one, its last steps (a
// third of 2 and of 1 is nothing) going on its own way, until the momentum or the content ends.
// A flick too short for a whole line still takes its one line its own way, whatever way the
// flick before it went.
TEST_F(EngineDispatchTest, AFlickScrollsTickByTickUntilTheMomentumOrTheContentEnds) {
  const struct {
    const char* codes;
    int lines, start;
    const char* line;  // every line posted
    size_t posted;
    int ticks;
  } cases[] = {
      {"U30", 1000, 0, "0x1", 20, 31},
      {"D2", 1000, 500, "0x0", 1, 3},  // after an upward flick: a downward one takes lines up
      {"D30", 1000, 500, "0x0", 20, 31},
      {"U40 Z40", 1000, 0, "0x1", 70, 81},  // "UZX": one momentum of 80
      {"U100", 10, 0, "0x1", 3, 3},         // the content cannot move: the second strike ends it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.codes);
    ForgetEndOfContent();
    HWND list = Win(Kind::List, c.lines, 100);
    SetScrollPos(list, SB_VERT, c.start, TRUE);
    HandOver(c.codes);
    device->settle();
    ClearLog();
    EXPECT_EQ(g->IsInGestureScrolling(), 0) << "not before the first tick";
    EXPECT_EQ(TicksToEnd(list, 200), c.ticks);
    auto lines = PostsTo(list);
    EXPECT_EQ(lines.size(), c.posted);
    for (const auto& e : lines) {
      EXPECT_EQ(e.str("msg") + " " + e.str("wParam"), std::string("WM_VSCROLL ") + c.line);
    }
    EXPECT_EQ(g->IsInGestureScrolling(), 0);
    EXPECT_EQ(ScrollStates(), "21");
    EXPECT_EQ(TimerKills(), 1u);
  }
}

// The second code of a pair joins the momentum once; later ticks neither filter nor merge again,
// and a hand-over without a reset in between is read with the string kept from before.
TEST_F(EngineDispatchTest, LaterTicksKeepTheStringOfTheFirst) {
  HandOver("Z70 U90");
  Tick(plain);
  EXPECT_EQ(Text(g->CodeSlots, 2), "Z159 U0");
  Tick(plain);
  EXPECT_EQ(Text(g->CodeSlots, 2), "Z158 U0") << "a filter at this tick would drop U and zoom";
  EXPECT_EQ(std::u16string(g->GestureString, 3), u"ZUX");
  EXPECT_EQ(g->IsInGestureScrolling(), 1);

  ClearLog();
  HandOver("L100 E30", true);  // filtered, this would be L alone: a page turn
  Tick(aware);
  auto told = PostsTo(aware, "1274");
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].str("wParam"), dev::hex(100 + 130 * 65536)) << "old string, new codes";
}

TEST_F(EngineDispatchTest, NothingRunsUntilReadyAndAGestureOfNoCodesResetsAtTheNextTick) {
  Fill(*g, "D100");
  g->CodeCount = 1;
  SetTimer(broker, kGestureTimer, kGestureTimerPeriodMs, nullptr);
  ClearLog();
  Tick(plain);
  EXPECT_EQ(Text(g->CodeSlots, g->CodeCount), "D100") << "not handed over yet";
  EXPECT_EQ(g->GestureString[0], 0);
  EXPECT_EQ(TimerKills(), 0u);

  // Every code dropped: nothing at the first tick, a reset at the next.
  HandOver("U30 L30 U30");
  ClearLog();
  Tick(plain);
  EXPECT_TRUE(Log("post").empty() && ScrollStates().empty() && Requests().empty());
  EXPECT_EQ(TimerKills(), 0u);
  Tick(plain);
  EXPECT_EQ(TimerKills(), 1u);
  EXPECT_EQ(g->GestureString[0], 0);

  // No codes handed over: the first tick resets.
  for (bool fromNothing : {false, true}) {
    HandOver("X0 D50");
    if (fromNothing) g->DuplicateGestureData(nullptr);
    ClearLog();
    Tick(plain);
    EXPECT_EQ(TimerKills(), 1u) << fromNothing;
    EXPECT_TRUE(Log("post").empty() && ScrollStates().empty());
  }
}

}  // namespace
