// The window a stroke acts on, as the loaded proxy decides it: the gesture-aware window under the
// finger, the browser's innermost HTML view, and the strokes left to the window system (Opera in
// front, the input panel up, windows that take no gestures). The engine handed over at a pen-up is
// read in place, as the broker reads it; a pan scrolls the target.
#include <string>
#include <vector>

#include "Scenario.h"
#include "device/apps.hpp"
#include "gesture/Gestures.h"
#include "support/DeviceFixture.h"

namespace {

using dev::apps::Kind;

class ProxyTargetTest : public vt::DeviceTest {
 protected:
  void SetUp() override { Start(vt::kGesturesOn); }

  void Start(const std::string& reg, bool install = true) {
    vt::BootOptions options;
    options.install = install;
    options.reg = reg;
    Boot(options);
    dev::apps::WindowSpec broker;
    broker.cls = u"MSGBROKER";
    broker.width = broker.height = 1;
    broker.visible = false;
    dev::apps::place(*device, broker);
  }

  HWND Place(Kind kind, int x, int y, int w, int h, HWND parent = nullptr,
             const std::u16string& cls = u"") {
    dev::apps::WindowSpec win;
    win.kind = kind;
    win.x = x, win.y = y, win.width = w, win.height = h;
    win.parent = parent;
    win.cls = cls;
    win.lines = kind == Kind::BrowserView ? 2000 : 100;  // a long page
    return dev::apps::place(*device, win);
  }
  HWND Front(Kind kind, const std::u16string& cls = u"") {
    HWND w = Place(kind, 0, 0, 240, 320, nullptr, cls);
    dev::apps::set_foreground(*device, w);
    return w;
  }

  // A straight stroke starting late enough that no pan carries over into it.
  std::vector<dev::PanelSample> Samples(int x1, int y1, int x2, int y2, uint32_t moveMs,
                                        uint32_t restMs = 0) {
    return sim::to_panel(sim::straight_stroke(x1, y1, x2, y2, moveMs, restMs, 100),
                         device->now() + 400, 10);
  }
  // A quick stroke upwards: codes, handed over at the pen-up.
  std::vector<dev::PanelSample> Flick(int x, int y) { return Samples(x, y, x, y - 120, 120); }
  // A finger that lands (dx, dy) away and settles on (x1, y1) within 20 ms, rests 600 ms there and
  // moves on: the travel of the landing keeps a still finger from being a press-and-hold, and the
  // rest makes the engine pan.
  std::vector<dev::PanelSample> Pan(int x1, int y1, int x2, int y2, uint32_t moveMs, int dx = 0,
                                    int dy = 24) {
    std::vector<sim::StrokePoint> pts = {{0, x1 + dx, y1 + dy}, {10, x1 + dx / 2, y1 + dy / 2}};
    for (auto p : sim::straight_stroke(x1, y1, x2, y2, moveMs, 600, 100)) {
      pts.push_back({p.t + 20, p.x, p.y});
    }
    return sim::to_panel(pts, device->now() + 400, 10);
  }
  // 80 pixels upwards in steps of 4 after a rest: a pan of ten lines on a list.
  std::vector<dev::PanelSample> Drag(int x, int y) { return Pan(x, y, x, y - 80, 200); }

  // Plays a stroke: true when the window system received all of it unchanged, false when none.
  bool ToWindowSystem(const std::vector<dev::PanelSample>& sent) {
    size_t handOvers = HandOvers();
    auto got = Received(sent);
    if (got.empty()) return false;
    EXPECT_TRUE(vt::Unchanged(got, sent))
        << "a stroke reaches the window system whole or not at all";
    for (size_t i = 0; i < std::min(got.size(), sent.size()); ++i)
      EXPECT_EQ(got[i].time, sent[i].time) << "sample " << i << " held back";
    EXPECT_EQ(HandOvers(), handOvers) << "a stroke for the window system reached the engine";
    return true;
  }

  // Plays half a stroke, calls `between`, plays the rest; returns the samples received.
  template <class Fn>
  size_t PlaySplit(const std::vector<dev::PanelSample>& stroke, Fn between) {
    size_t before = device->received_samples().size();
    device->queue_samples(stroke);
    device->run_until(stroke[stroke.size() / 2].time);
    between();
    device->run_until(stroke.back().time);
    device->settle();
    return device->received_samples().size() - before;
  }

  size_t HandOvers() { return Log("post", "msg", "1274").size(); }
  // The proxy's engine as the last hand-over passed it to the broker.
  const Gestures* Engine() {
    auto handOvers = Log("post", "msg", "1274");
    if (handOvers.empty()) return nullptr;
    return reinterpret_cast<const Gestures*>(device->log().address(handOvers.back().str("wParam")));
  }
  // Plays a stroke that must reach the engine only; returns the target it acted on.
  HWND EngineTarget(const std::vector<dev::PanelSample>& sent) {
    size_t handOvers = HandOvers();
    EXPECT_FALSE(ToWindowSystem(sent)) << "the stroke did not reach the engine";
    EXPECT_EQ(HandOvers(), handOvers + 1);
    return Engine() == nullptr ? nullptr : Engine()->TargetWnd;
  }
  int Pos(HWND window) { return dev::apps::scroll_pos(*device, window); }
  void Set(const char* key, const char* value, uint32_t data) {
    device->reg_set_dword(key, value, data);
    device->run_for(50);
  }
};

TEST_F(ProxyTargetTest, AGestureAwareWindowTakesStrokesEvenWithGesturesOff) {
  Start("[HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture]\n\"Activate\"=dword:0\n");
  HWND frame = Front(Kind::Plain);
  HWND child = Place(Kind::GestureAware, 0, 100, 240, 120, frame);
  EXPECT_EQ(EngineTarget(Flick(120, 200)), child);
  ASSERT_NE(Engine(), nullptr);
  EXPECT_TRUE(Engine()->GestureAwareTarget);
  EXPECT_FALSE(Engine()->TargetIsPIEHTML);
  EXPECT_EQ(Engine()->CodeSlots[0].code, u'U');
  EXPECT_TRUE(ToWindowSystem(Flick(120, 260))) << "beside the child: not gesture-aware";
  dev::apps::destroy(*device, frame);

  // Below the task bar, as every application sits: the child is found in its frame's coordinates.
  frame = Place(Kind::Plain, 0, 40, 240, 280);
  dev::apps::set_foreground(*device, frame);
  child = Place(Kind::GestureAware, 0, 200, 240, 40, frame);
  EXPECT_EQ(EngineTarget(Flick(120, 255)), child);
  EXPECT_TRUE(Engine()->GestureAwareTarget);
  dev::apps::destroy(*device, frame);

  // Only the exact prefix counts.
  for (const std::u16string cls :
       {u"GST_Viewer", u"GST_", u"gst_Viewer", u"XGST_Viewer", u"GST-Viewer", u"GST"}) {
    HWND w = Front(Kind::GestureAware, cls);
    if (cls.rfind(u"GST_", 0) == 0) {
      EXPECT_EQ(EngineTarget(Flick(120, 200)), w) << dev::to_utf8(cls);
    } else {
      EXPECT_TRUE(ToWindowSystem(Flick(120, 200))) << dev::to_utf8(cls);
    }
    dev::apps::destroy(*device, w);
  }
}

TEST_F(ProxyTargetTest, AGestureAwareWindowIsNotHandedToOperaOrTheInputPanel) {
  HWND opera = Front(Kind::Opera);
  HWND inOpera = Place(Kind::GestureAware, 0, 100, 240, 120, opera);
  EXPECT_EQ(EngineTarget(Flick(120, 200)), inOpera);
  dev::apps::destroy(*device, opera);

  // With the input panel up, the search goes upward from the window under the finger, not down
  // from the foreground window (here the panel itself).
  HWND app = Place(Kind::Plain, 0, 0, 240, 240, nullptr, u"GST_App");
  Place(Kind::Plain, 0, 100, 240, 100, app);
  HWND panel = Place(Kind::InputPanel, 0, 240, 240, 80);
  dev::apps::set_foreground(*device, panel);
  EXPECT_EQ(EngineTarget(Flick(120, 180)), app);
}

TEST_F(ProxyTargetTest, WhileTheInputPanelIsUpEveryStrokeGoesToTheWindowSystem) {
  HWND list = Place(Kind::List, 0, 0, 240, 240);
  dev::apps::set_foreground(*device, list);
  HWND panel = Place(Kind::InputPanel, 0, 240, 240, 80);
  EXPECT_TRUE(ToWindowSystem(Drag(120, 200)));
  EXPECT_TRUE(ToWindowSystem(Flick(120, 200)));
  // Decided at the pen-down: the panel going away halfway leaves the stroke to the window system.
  auto drag = Drag(120, 200);
  EXPECT_EQ(PlaySplit(drag, [&] { dev::apps::show(*device, panel, false); }), drag.size());
  EXPECT_EQ(Pos(list), 0);
  EXPECT_FALSE(ToWindowSystem(Drag(120, 200)));
  EXPECT_EQ(Pos(list), 10);
}

TEST_F(ProxyTargetTest, OperaInFrontGetsTheWholeStroke) {
  for (const std::u16string cls : {u"OperaMobileMain", u"XOperaY", u"operamobile", u"OPERA"}) {
    SCOPED_TRACE(dev::to_utf8(cls));
    bool opera = cls.find(u"Opera") != std::u16string::npos;
    HWND frame = Front(Kind::Opera, cls);
    HWND list = Place(Kind::List, 0, 0, 240, 320, frame);
    EXPECT_EQ(ToWindowSystem(Drag(120, 200)), opera);
    EXPECT_EQ(Pos(list), opera ? 0 : 10);
    if (!opera) {
      EXPECT_EQ(EngineTarget(Flick(120, 200)), list);
    }
    dev::apps::destroy(*device, frame);
  }
  // Decided at the pen-down: another window coming to the front halfway changes nothing.
  HWND list = Place(Kind::List, 0, 0, 240, 320, Front(Kind::Opera));
  HWND other = Place(Kind::List, 0, 0, 240, 320);
  auto drag = Drag(120, 200);
  EXPECT_EQ(PlaySplit(drag, [&] { dev::apps::set_foreground(*device, other); }), drag.size());
  EXPECT_EQ(Pos(list) + Pos(other), 0);
}

TEST_F(ProxyTargetTest, InTheBrowserTheInnermostViewUnderTheFingerIsTheTarget) {
  // A frame with a page view and a toolbar in front of it; in the page a nested view with a
  // picture at its top.
  HWND frame = Front(Kind::Browser);
  HWND outer = Place(Kind::BrowserView, 0, 40, 240, 280, frame);
  Place(Kind::Plain, 0, 0, 240, 40, frame);
  HWND inner = Place(Kind::BrowserView, 0, 100, 240, 150, outer);
  Place(Kind::Plain, 0, 0, 240, 50, inner);

  EXPECT_EQ(EngineTarget(Flick(120, 180)), inner) << "finger on the picture in the inner view";
  const Gestures* engine = Engine();
  ASSERT_NE(engine, nullptr);
  EXPECT_TRUE(engine->TargetIsPIEHTML);
  EXPECT_EQ(EngineTarget(Flick(120, 260)), inner) << "finger on the inner view itself";
  // The toolbar below the top band, whose strokes go to the window system.
  EXPECT_EQ(EngineTarget(Samples(120, 30, 120, 160, 120)), outer) << "finger on the toolbar";
  // A pan moves the inner view alone: 100 pixels up in steps of 5, ten steps of 10 pixels.
  EXPECT_FALSE(ToWindowSystem(Pan(120, 260, 120, 160, 200, 0, -24)));
  EXPECT_EQ(HandOvers(), 3u) << "a pan is not handed over";
  EXPECT_EQ(Pos(inner), 100);
  EXPECT_EQ(Pos(outer), 0);

  // Without any view the target stays null, and the stroke is ordinary input.
  dev::apps::destroy(*device, outer);
  EXPECT_TRUE(ToWindowSystem(Samples(120, 30, 120, 160, 120)));
  EXPECT_EQ(engine->TargetWnd, nullptr);
}

TEST_F(ProxyTargetTest, MovesAfterTheFirstKeepTheTarget) {
  HWND frame = Front(Kind::Plain);
  HWND left = Place(Kind::List, 0, 0, 120, 320, frame);
  HWND right = Place(Kind::List, 120, 0, 120, 320, frame);
  EXPECT_EQ(EngineTarget(Samples(60, 250, 200, 100, 150)), left);
  Play(Pan(60, 250, 200, 170, 160));  // a pan in sixteen steps of about 10 pixels
  EXPECT_EQ(Pos(left), 16);
  EXPECT_EQ(Pos(right), 0);
}

TEST_F(ProxyTargetTest, ARightAngleAtRunTimeTurnsTheScreen) {
  // A small list in the top left corner of a wide background. Panel (80, 280) -> (20, 280): at 0
  // degrees a sideways drag on the background; at 90, with the screen 320 wide, a drag upwards
  // from (40, 80) on the list, landing at (40, 56): 60 pixels, 7 lines.
  Place(Kind::Plain, 0, 0, 320, 320);
  HWND list = Place(Kind::List, 0, 0, 100, 100);
  const int steps[][2] = {{0, 0}, {90, 7}, {0, 7}};  // angle, lines afterwards
  for (const auto& [angle, lines] : steps) {
    Set(vt::kRotationKey, "Angle", angle);
    EXPECT_EQ(ToWindowSystem(Pan(80, 280, 20, 280, 150, -24, 0)), angle == 0) << angle;
    EXPECT_EQ(Pos(list), lines) << angle;
  }
}

// The proxy makes the settings key at load (it holds the published engine), so a switch written
// later under a key absent at boot is seen.
TEST_F(ProxyTargetTest, ASettingsKeyAbsentAtBootIsMadeAtLoadAndWatched) {
  Start("[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH]\n\"DriverName\"=\"Pallux.dll\"\n", false);
  HWND list = Place(Kind::List, 0, 0, 240, 160);
  HWND aware = Place(Kind::GestureAware, 0, 160, 240, 160);
  dev::apps::set_foreground(*device, list);
  EXPECT_TRUE(ToWindowSystem(Drag(120, 110))) << "off until switched on";
  EXPECT_EQ(Pos(list), 0);
  Set(vt::kGestureKey, "Activate", 1);
  EXPECT_FALSE(ToWindowSystem(Drag(120, 110))) << "the switch written later is seen";
  EXPECT_GT(Pos(list), 0);
  dev::apps::set_foreground(*device, aware);
  EXPECT_EQ(EngineTarget(Flick(120, 280)), aware);
}

}  // namespace
