// Content scrolling: one step of a pan or a momentum, line by line on a list and by position on
// the browser's HTML view, with the end-of-content test of each.
#include <memory>
#include <string>
#include <vector>

#include "device/apps.hpp"
#include "gesture/Gestures.h"
#include "gesture/Momentum.h"
#include "gesture/Sound.h"
#include "support/DeviceFixture.h"

namespace {

using dev::apps::Kind;

dev::apps::WindowSpec Win(Kind kind, int lines = 100, HWND parent = nullptr, int y = 0,
                          int height = 320) {
  dev::apps::WindowSpec win;
  win.kind = kind;
  win.y = y, win.height = height, win.lines = lines;
  win.parent = parent;
  return win;
}

std::string Lines(const std::string& wParams) {
  std::string out;
  for (char c : wParams) out += std::string("WM_VSCROLL 0x") + c + " 0x0;";
  return out;
}

class EngineScrollTest : public vt::DeviceTest {
 protected:
  void SetUp() override {
    BootForEngine();
    g = std::make_unique<Gestures>();
    ForgetEndOfContent();
  }

  void TearDown() override {
    g.reset();
    DeviceTest::TearDown();
  }

  using DeviceTest::Place;
  HWND Place(const dev::apps::WindowSpec& win) { return dev::apps::place(*device, win); }
  HWND View(int pageHeight) { return Place(Win(Kind::BrowserView, pageHeight, nullptr, 0, 300)); }

  // The module keeps its end-of-content readings and the remembered browser parent from gesture
  // to gesture. Bring them to a known start: no reading kept, no first strike, and a remembered
  // parent that no window of the test can be.
  void ForgetEndOfContent() {
    auto hidden = Win(Kind::BrowserView, 100, nullptr, 0, 10);
    hidden.visible = false;
    HWND view = Place(hidden);
    hidden.kind = Kind::List;
    HWND list = Place(hidden);
    auto untilEnd = [&] {
      g->TargetIsPIEHTML = true;
      for (int i = 0; i < 3 && g->ScrollContent(view, SB_VERT, 0); ++i) {
      }
      g->TargetIsPIEHTML = false;
    };
    untilEnd();
    g->CodeSlots[0].length = 30;
    g->ScrollContent(list, SB_VERT, 10);  // a differing reading clears the first strike
    untilEnd();
    g->CodeSlots[0].length = 0;
    device->settle();
    ClearLog();
  }

  // One momentum step as the dispatch makes it at `count`.
  bool Momentum(HWND window, int count) {
    MomentumDirection = 1;
    g->CodeSlots[0].length = count;
    return g->ScrollContent(window, SB_VERT, count / 3);
  }
  int Pos(HWND window) { return dev::apps::scroll_pos(*device, window); }
  // The messages posted to a window as "msg wParam lParam;" each.
  std::string Posted(HWND window) const {
    std::string out;
    for (const auto& e : PostsTo(window))
      out += e.str("msg") + " " + e.str("wParam") + " " + e.str("lParam") + ";";
    return out;
  }

  std::unique_ptr<Gestures> g;
};

TEST_F(EngineScrollTest, OnlyWindowsWithAScrollBarAndNoInkAreScrollable) {
  auto inked = Win(Kind::List);
  inked.ink = true;
  HWND ink = Place(inked);
  HWND plain = Place(Win(Kind::Plain));
  HWND sideways = Place(Win(Kind::Plain));
  SetWindowLongW(sideways, GWL_STYLE, WS_POPUP | WS_VISIBLE | WS_HSCROLL);
  HWND gone = Place(Win(Kind::List));
  dev::apps::destroy(*device, gone);
  for (HWND w : {Place(Win(Kind::List)), View(1000), sideways}) EXPECT_TRUE(g->IsScrollableWnd(w));
  for (HWND w : {ink, plain, gone, HWND{}}) EXPECT_FALSE(g->IsScrollableWnd(w));

  // Nothing to scroll: no message, no end, whether panning or not.
  ClearLog();
  for (bool panning : {true, false}) {
    g->Panning = panning;
    for (HWND w : {ink, plain, gone}) {
      for (int count : {25, 2, 0, 0}) EXPECT_TRUE(Momentum(w, count));
    }
  }
  EXPECT_TRUE(Log("post").empty());
}

TEST_F(EngineScrollTest, APanPostsOneVerticalLinePerStepAndNeverEnds) {
  HWND list = Place(Win(Kind::List, 10));  // already at its end
  g->Panning = true;
  g->CodeSlots[0].length = 1500;
  EXPECT_TRUE(g->ScrollContent(list, SB_HORZ, 40));
  EXPECT_TRUE(g->ScrollContent(list, 2, 40));
  for (int distance : {0, 9, -9, 1, 0}) {
    EXPECT_TRUE(g->ScrollContent(list, SB_VERT, distance));
    device->settle();
  }
  EXPECT_EQ(Posted(list), Lines("101"))
      << "a pan moves a list only vertically, and only when the finger moved vertically";
  EXPECT_EQ(g->CodeSlots[0].length, 1500) << "a pan leaves the momentum alone";
}

// Every count from 25 down: a line at each count of 20 and above, then at every other count, the
// last one (at 2) in the flick's own direction; the ticking fades from 10 down to 1.
TEST_F(EngineScrollTest, MomentumThinsOutTheLinesAsTheCountRunsDown) {
  HWND list = Place(Win(Kind::List));
  g->Sound = 1;
  std::string lines;
  for (int count = 25; count >= -1; --count) {
    Snd.sndActive = true;  // a ticking runs: the start request leaves the flags alone
    Snd.sndStop = false;
    EXPECT_TRUE(Momentum(list, count)) << "count " << count;
    EXPECT_EQ(Snd.sndStop, count >= 1 && count <= 10) << "fade request at count " << count;
    // At count 2 the step is a third of 2, that is 0: it goes on downwards all the same.
    if (count >= 20 || (count > 0 && count % 2 == 0)) lines += "1";
    device->settle();
    ASSERT_EQ(Posted(list), Lines(lines)) << "count " << count;
  }
  EXPECT_EQ(Pos(list), 15);
  Snd.sndActive = Snd.sndStop = false;
  Snd.noAttenuate = true;

  ClearLog();
  g->CodeSlots[0].length = 30;
  g->ScrollContent(list, SB_HORZ, -4);
  EXPECT_EQ(Posted(list), "WM_HSCROLL 0x0 0x0;") << "the horizontal bar, leftwards";

  // ScrollLimit caps the momentum of lists only.
  HWND view = View(100000);
  g->CodeSlots[0].length = 1500;
  g->ScrollContent(list, SB_VERT, 500);
  EXPECT_EQ(g->CodeSlots[0].length, 900);
  g->ScrollLimit = 30;
  g->ScrollContent(list, SB_VERT, 300);
  EXPECT_EQ(g->CodeSlots[0].length, 30);
  g->TargetIsPIEHTML = true;
  g->CodeSlots[0].length = 1500;
  g->ScrollContent(view, SB_VERT, 500);
  EXPECT_EQ(g->CodeSlots[0].length, 1500);
}

// A list ends at the second unchanged reading (the first may be a line still in flight), a
// browser view at the first; the next gesture starts its end test afresh.
TEST_F(EngineScrollTest, ContentAtItsEndStopsTheMomentum) {
  HWND list = Place(Win(Kind::List, 10));  // ten lines on a page of ten: it cannot move
  for (auto [count, more] : {std::pair{30, true}, {29, true}, {28, false}}) {
    EXPECT_EQ(Momentum(list, count), more) << count;
    device->settle();
  }
  EXPECT_EQ(Posted(list), Lines("111"));
  EXPECT_TRUE(Momentum(list, 30));

  // A gesture stopped after its first unchanged reading leaves nothing to the next hand-over: a
  // flick on another list at the same position goes on past its first line.
  device->settle();
  EXPECT_TRUE(Momentum(list, 29)) << "the first strike";
  g->DuplicateGestureData(nullptr);
  HWND other = Place(Win(Kind::List, 400));
  EXPECT_TRUE(Momentum(other, 30));
  device->settle();
  EXPECT_TRUE(Momentum(other, 29));

  ForgetEndOfContent();
  HWND view = View(300);  // a page as high as the view
  g->TargetIsPIEHTML = true;
  for (bool more : {true, false, true}) EXPECT_EQ(Momentum(view, more ? 30 : 29), more);

  // A view whose position cannot be read (it is gone, or it has no scroll bar) stays where it
  // is: a momentum ends at once, a pan goes on without moving it.
  HWND gone = View(3000);
  dev::apps::destroy(*device, gone);
  auto bare = Win(Kind::Plain, 3000, nullptr, 0, 300);
  bare.cls = u"PIEHTML";
  for (HWND view : {gone, Place(bare)}) {
    ClearLog();
    EXPECT_FALSE(Momentum(view, 30));
    g->Panning = true;
    EXPECT_TRUE(g->ScrollContent(view, SB_VERT, 40));
    g->Panning = false;
    EXPECT_EQ(Posted(view), "");
  }
}

TEST_F(EngineScrollTest, BrowserViewIsMovedByPositionAndHalvesItsLastSteps) {
  HWND view = View(200000);
  SetScrollPos(view, SB_VERT, 100, TRUE);
  g->TargetIsPIEHTML = true;
  // Beyond 16 bits the message carries the low word and the position is set whole.
  const struct {
    bool panning;
    int count, distance, position;
  } steps[] = {{false, 20, 6, 103},     {false, 21, 7, 110},    {false, 1, -7, 107},
               {false, 0, 6, 113},      {true, 5, 6, 119},      {false, 900, -19, 100},
               {true, 0, 65430, 65530}, {false, 900, 10, 65540}};
  for (const auto& s : steps) {
    SCOPED_TRACE("count " + std::to_string(s.count) + ", distance " + std::to_string(s.distance));
    g->Panning = s.panning;
    g->CodeSlots[0].length = s.count;
    ClearLog();
    EXPECT_TRUE(g->ScrollContent(view, SB_VERT, s.distance));
    EXPECT_EQ(
        Posted(view),
        "WM_VSCROLL " + dev::hex(MAKEWPARAM(SB_THUMBPOSITION, s.position & 0xFFFF)) + " 0x0;");
    auto set = Log("scroll-pos");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_TRUE(set[0].num("pos") == s.position && set[0].str("bar") == "vert");
    device->settle();
    EXPECT_EQ(Pos(view), s.position);
  }
}

}  // namespace
