// Content scrolling: one step of a pan or of a momentum on windows of the stand-in applications,
// line by line on a list and by position on the browser's HTML view, with the end-of-content test
// of each; then pans played end to end through the touch driver proxy.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "device/apps.hpp"
#include "gesture/Gestures.h"
#include "gesture/Sound.h"
#include "support/DeviceFixture.h"

namespace {

using dev::apps::Kind;

const std::string kLineDown = "0x1";
const std::string kLineUp = "0x0";

dev::apps::WindowSpec Spec(Kind kind, int x, int y, int w, int h, HWND parent = nullptr) {
  dev::apps::WindowSpec spec;
  spec.kind = kind;
  spec.x = x, spec.y = y, spec.width = w, spec.height = h;
  spec.parent = parent;
  return spec;
}

std::string ThumbTo(int position) {
  return dev::hex(MAKEWPARAM(SB_THUMBPOSITION, position & 0xFFFF));
}

// Messages posted to one window, from the log.
std::vector<dev::LogEntry> PostsTo(dev::Device& device, HWND window, const std::string& msg) {
  const std::string suffix = ":" + dev::hex(reinterpret_cast<uintptr_t>(window));
  std::vector<dev::LogEntry> out;
  for (const auto& e : device.log().of_kind("post")) {
    const std::string name = e.str("window");
    bool same = name.size() > suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
    if (same && (msg.empty() || e.str("msg") == msg)) out.push_back(e);
  }
  return out;
}

class EngineScrollTest : public vt::DeviceTest {
 protected:
  void SetUp() override {
    vt::BootOptions options;
    options.install = false;
    Boot(options);
    CurrentGestures = nullptr;
    g = std::make_unique<Gestures>();
    ForgetEndOfContent();
  }

  void TearDown() override {
    g.reset();
    DeviceTest::TearDown();
  }

  HWND Place(const dev::apps::WindowSpec& spec) { return dev::apps::place(*device, spec); }
  HWND List(int lines = 100) {
    auto spec = Spec(Kind::List, 0, 0, 240, 320);
    spec.lines = lines;
    return Place(spec);
  }
  HWND View(int pageHeight, HWND parent = nullptr, int y = 0, int height = 300) {
    auto spec = Spec(Kind::BrowserView, 0, y, 240, height, parent);
    spec.lines = pageHeight;
    return Place(spec);
  }

  // The module keeps its end-of-content readings and the remembered browser parent from gesture
  // to gesture; earlier tests leave them anywhere. Bring them to a known start: no reading kept,
  // no first strike, and a remembered parent that no window of the test can be.
  void ForgetEndOfContent() {
    auto hidden = Spec(Kind::BrowserView, 0, 0, 10, 10);
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
    g->CodeSlots[0].length = count;
    return g->ScrollContent(window, SB_VERT, count / 3);
  }

  std::vector<dev::LogEntry> Posts(HWND window, const std::string& msg = "") {
    return PostsTo(*device, window, msg);
  }
  int Pos(HWND window) { return dev::apps::scroll_pos(*device, window); }

  std::unique_ptr<Gestures> g;
};

TEST_F(EngineScrollTest, OnlyWindowsWithAScrollBarAndNoInkAreScrollable) {
  HWND list = List();
  HWND view = View(1000);
  auto inkSpec = Spec(Kind::List, 0, 0, 240, 320);
  inkSpec.ink = true;
  HWND ink = Place(inkSpec);
  HWND plain = Place(Spec(Kind::Plain, 0, 0, 240, 320));
  HWND sideways = Place(Spec(Kind::Plain, 0, 0, 240, 320));
  SetWindowLongW(sideways, GWL_STYLE, WS_POPUP | WS_VISIBLE | WS_HSCROLL);
  HWND gone = List();
  dev::apps::destroy(*device, gone);

  EXPECT_TRUE(g->IsScrollableWnd(list));
  EXPECT_TRUE(g->IsScrollableWnd(view));
  EXPECT_TRUE(g->IsScrollableWnd(sideways));
  EXPECT_FALSE(g->IsScrollableWnd(ink));
  EXPECT_FALSE(g->IsScrollableWnd(plain));
  EXPECT_FALSE(g->IsScrollableWnd(gone));
  EXPECT_FALSE(g->IsScrollableWnd(nullptr));

  // Nothing to scroll: no message, no end, whether panning or not.
  ClearLog();
  for (bool panning : {true, false}) {
    g->Panning = panning;
    for (HWND w : {ink, plain, gone}) {
      for (int count : {25, 2, 0}) {
        EXPECT_TRUE(Momentum(w, count));
        EXPECT_TRUE(Momentum(w, count));
      }
    }
  }
  EXPECT_TRUE(Log("post").empty());
}

TEST_F(EngineScrollTest, APanPostsOneVerticalLinePerStepAndNeverEnds) {
  HWND list = List(10);  // already at its end
  g->Panning = true;
  g->CodeSlots[0].length = 1500;
  EXPECT_TRUE(g->ScrollContent(list, SB_HORZ, 40));
  EXPECT_TRUE(g->ScrollContent(list, 2, 40));
  EXPECT_TRUE(Posts(list).empty()) << "a pan moves a list only vertically";
  for (int distance : {0, 9, -9, 1, 0}) {
    EXPECT_TRUE(g->ScrollContent(list, SB_VERT, distance));
    device->settle();
  }
  auto lines = Posts(list);
  ASSERT_EQ(lines.size(), 5u);
  const std::string want[] = {kLineUp, kLineDown, kLineUp, kLineDown, kLineUp};
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].str("msg"), "WM_VSCROLL");
    EXPECT_EQ(lines[i].str("wParam"), want[i]) << "line " << i;
    EXPECT_EQ(lines[i].str("lParam"), "0x0");
  }
  EXPECT_EQ(g->CodeSlots[0].length, 1500) << "a pan leaves the momentum alone";
}

TEST_F(EngineScrollTest, MomentumThinsOutTheLinesAsTheCountRunsDown) {
  HWND list = List();
  g->Sound = 1;
  const std::vector<int> posted = {25, 24, 23, 22, 21, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2};
  for (int count = 25; count >= -1; --count) {
    Snd.sndActive = true;  // a ticking runs: the start request leaves the flags alone
    Snd.sndStop = false;
    size_t before = Posts(list).size();
    EXPECT_TRUE(Momentum(list, count)) << "count " << count;
    bool fade = Snd.sndStop;
    device->settle();
    auto lines = Posts(list);
    bool line = std::find(posted.begin(), posted.end(), count) != posted.end();
    ASSERT_EQ(lines.size(), before + (line ? 1 : 0)) << "count " << count;
    if (line) {
      EXPECT_EQ(lines.back().str("msg"), "WM_VSCROLL");
      EXPECT_EQ(lines.back().str("wParam"), count == 2 ? kLineUp : kLineDown) << "count " << count;
    }
    EXPECT_EQ(fade, count >= 1 && count <= 10) << "fade request at count " << count;
  }
  EXPECT_EQ(Pos(list), 13);
  Snd.sndActive = Snd.sndStop = false;
  Snd.noAttenuate = true;

  // The horizontal bar gets the horizontal message.
  g->CodeSlots[0].length = 30;
  g->ScrollContent(list, SB_HORZ, -4);
  EXPECT_EQ(Posts(list, "WM_HSCROLL").size(), 1u);
}

TEST_F(EngineScrollTest, ScrollLimitCapsTheMomentumOfListsOnly) {
  HWND list = List();
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

TEST_F(EngineScrollTest, AListAtItsEndStopsAtTheSecondUnchangedReading) {
  HWND list = List(10);  // ten lines on a page of ten: it cannot move
  EXPECT_TRUE(Momentum(list, 30));
  device->settle();
  EXPECT_TRUE(Momentum(list, 29)) << "the first unchanged reading may still be a line in flight";
  device->settle();
  EXPECT_FALSE(Momentum(list, 28));
  EXPECT_EQ(Posts(list).size(), 3u);
  device->settle();
  EXPECT_TRUE(Momentum(list, 30)) << "the next gesture starts its end test afresh";
}

TEST_F(EngineScrollTest, BrowserViewIsMovedByPositionAndHalvesItsLastSteps) {
  HWND view = View(3000);
  SetScrollPos(view, SB_VERT, 100, TRUE);
  g->TargetIsPIEHTML = true;
  struct Step {
    bool panning;
    int count, distance, position;
  };
  const Step steps[] = {
      {false, 20, 6, 103}, {false, 21, 7, 110}, {false, 1, -7, 107},
      {false, 0, 6, 113},  {true, 5, 6, 119},   {false, 900, -19, 100},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE("count " + std::to_string(s.count) + ", distance " + std::to_string(s.distance));
    g->Panning = s.panning;
    g->CodeSlots[0].length = s.count;
    ClearLog();
    EXPECT_TRUE(g->ScrollContent(view, SB_VERT, s.distance));
    auto posts = Posts(view);
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].str("msg"), "WM_VSCROLL");
    EXPECT_EQ(posts[0].str("wParam"), ThumbTo(s.position));
    EXPECT_EQ(posts[0].str("lParam"), "0x0");
    auto set = Log("scroll-pos");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0].num("pos"), s.position);
    EXPECT_EQ(set[0].str("bar"), "vert");
    device->settle();
    EXPECT_EQ(Pos(view), s.position);
  }

  // Beyond 16 bits: the message carries the low word, the position is set whole.
  HWND tall = View(200000);
  SetScrollPos(tall, SB_VERT, 65530, TRUE);
  ClearLog();
  g->ScrollContent(tall, SB_VERT, 10);
  ASSERT_EQ(Posts(tall).size(), 1u);
  EXPECT_EQ(Posts(tall)[0].str("wParam"), ThumbTo(65540));
  ASSERT_EQ(Log("scroll-pos").size(), 1u);
  EXPECT_EQ(Log("scroll-pos")[0].num("pos"), 65540);
}

TEST_F(EngineScrollTest, BrowserViewEndsAtTheFirstUnchangedReading) {
  HWND view = View(300);  // a page as high as the view
  g->TargetIsPIEHTML = true;
  EXPECT_TRUE(Momentum(view, 30));
  EXPECT_FALSE(Momentum(view, 29));
  EXPECT_TRUE(Momentum(view, 30)) << "the next gesture starts its end test afresh";

  // A view that is gone reads position 0 every time: the second step ends.
  HWND gone = View(3000);
  dev::apps::destroy(*device, gone);
  EXPECT_FALSE(Momentum(view, 29)) << "leave the end test at no reading";
  ClearLog();
  EXPECT_TRUE(Momentum(gone, 30));
  EXPECT_FALSE(Momentum(gone, 29));
  EXPECT_TRUE(Posts(gone).empty());
}

// End to end: the proxy's engine pans the window under the finger as the finger drags.
class EngineScrollDeviceTest : public vt::DeviceTest {
 protected:
  void SetUp() override {
    vt::BootOptions options;
    options.reg = "[HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture]\n\"Activate\"=dword:00000001\n";
    Boot(options);
    auto broker = Spec(Kind::Plain, 0, 0, 1, 1);
    broker.cls = u"MSGBROKER";
    broker.visible = false;
    dev::apps::place(*device, broker);
  }
};

TEST_F(EngineScrollDeviceTest, ARestThenADragPansAListLineByLine) {
  HWND list = dev::apps::place(*device, Spec(Kind::List, 0, 0, 240, 320));
  dev::apps::set_foreground(*device, list);
  ClearLog();
  // 600 ms still, then 160 pixels up in steps of 4: a line for every 8 pixels.
  Stroke(120, 250, 120, 90, 400, 600);
  auto lines = PostsTo(*device, list, "WM_VSCROLL");
  EXPECT_EQ(lines.size(), 20u);
  for (const auto& line : lines) EXPECT_EQ(line.str("wParam"), kLineDown);
  size_t handled = 0;
  for (const auto& e : Log("scroll-pos")) handled += e.process == "apps.exe" ? 1 : 0;
  EXPECT_EQ(handled, 20u) << "each line is handled by the list on the applications' thread";
  EXPECT_EQ(dev::apps::scroll_pos(*device, list), 20);
  EXPECT_TRUE(Log("sample").empty()) << "the window system sees nothing of a pan";
  for (const auto& post : Log("post"))
    EXPECT_NE(post.num("msg"), 1274) << "a pan is not handed over";
}

TEST_F(EngineScrollDeviceTest, ADragOnANestedBrowserViewMovesTheInnerView) {
  HWND frame = dev::apps::place(*device, Spec(Kind::Browser, 0, 0, 240, 320));
  auto outerSpec = Spec(Kind::BrowserView, 0, 0, 240, 320, frame);
  outerSpec.lines = 2000;
  HWND outer = dev::apps::place(*device, outerSpec);
  auto innerSpec = Spec(Kind::BrowserView, 20, 60, 200, 200, outer);
  innerSpec.lines = 2000;
  HWND inner = dev::apps::place(*device, innerSpec);
  dev::apps::set_foreground(*device, frame);
  // 155 pixels up in steps of 5: fifteen steps of 10 pixels; the last 5 stay under the noise size.
  Stroke(120, 240, 120, 85, 310, 600);
  EXPECT_EQ(dev::apps::scroll_pos(*device, inner), 150);
  EXPECT_EQ(dev::apps::scroll_pos(*device, outer), 0);
  EXPECT_FALSE(PostsTo(*device, inner, "WM_VSCROLL").empty());
  EXPECT_TRUE(PostsTo(*device, outer, "").empty());
}

}  // namespace
