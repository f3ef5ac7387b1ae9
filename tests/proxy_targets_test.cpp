// The window a stroke acts on, as the loaded touch driver proxy decides it: the gesture-aware
// window under the finger, the browser's innermost HTML view, and the strokes that go to the
// window system as ordinary input (Opera in front, the soft input panel on screen, windows that
// take no gestures); then the proxy settings that move where strokes land or switch gestures off.
//
// What the proxy decided shows in what the engine does: the engine it hands over at a pen-up is
// read in place, as the broker reads it, and a pan scrolls the target.
#include <tchddi.h>

#include <string>
#include <vector>

#include "Scenario.h"
#include "device/apps.hpp"
#include "gesture/Gestures.h"
#include "support/DeviceFixture.h"

namespace {

using dev::apps::Kind;

const char kGestureKey[] = "HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture";
const char kRotationKey[] = "HKEY_LOCAL_MACHINE\\System\\GDI\\Rotation";
const char kPalluxOnly[] =
    "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\TOUCH]\n\"DriverName\"=\"Pallux.dll\"\n";

std::string ActivateReg(const std::string& data) {
  return std::string("[HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture]\n\"Activate\"=") + data + "\n";
}

class ProxyTargetTest : public vt::DeviceTest {
 protected:
  void SetUp() override { Start(ActivateReg("dword:00000001")); }

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
    dev::apps::WindowSpec spec;
    spec.kind = kind;
    spec.x = x, spec.y = y, spec.width = w, spec.height = h;
    spec.parent = parent;
    spec.cls = cls;
    return dev::apps::place(*device, spec);
  }
  HWND Front(Kind kind, const std::u16string& cls = u"") {
    HWND w = Place(kind, 0, 0, 240, 320, nullptr, cls);
    dev::apps::set_foreground(*device, w);
    return w;
  }

  // Panel samples of a straight stroke, starting long enough after the last one that no pan
  // carries over into it.
  std::vector<dev::PanelSample> Samples(int x1, int y1, int x2, int y2, uint32_t moveMs,
                                        uint32_t restMs = 0) {
    return sim::to_panel(sim::straight_stroke(x1, y1, x2, y2, moveMs, restMs, 100),
                         device->now() + 400, 10);
  }
  // A quick stroke upwards: codes, handed over at the pen-up.
  std::vector<dev::PanelSample> Flick(int x, int y) { return Samples(x, y, x, y - 120, 120); }
  // A rest, then a drag of 80 pixels upwards in steps of 4: a pan of ten lines on a list.
  std::vector<dev::PanelSample> Drag(int x, int y) { return Samples(x, y, x, y - 80, 200, 600); }

  // Plays a stroke; true when the window system received all of it exactly as the panel
  // reported it, false when it received none of it.
  bool ToWindowSystem(const std::vector<dev::PanelSample>& sent) {
    size_t before = device->received_samples().size();
    size_t handOvers = HandOvers();
    Play(sent);
    const auto& all = device->received_samples();
    std::vector<dev::ReceivedSample> got(all.begin() + static_cast<long>(before), all.end());
    if (got.empty()) return false;
    EXPECT_EQ(got.size(), sent.size()) << "a stroke reaches the window system whole or not at all";
    for (size_t i = 0; i < std::min(got.size(), sent.size()); ++i) {
      EXPECT_TRUE(got[i].time == sent[i].time && got[i].flags == sent[i].flags &&
                  got[i].x == sent[i].x && got[i].y == sent[i].y)
          << "sample " << i << " changed on its way";
    }
    EXPECT_EQ(HandOvers(), handOvers) << "a stroke for the window system reached the engine";
    return true;
  }

  size_t HandOvers() {
    size_t n = 0;
    for (const auto& e : Log("post")) n += e.num("msg") == 1274 ? 1 : 0;
    return n;
  }
  // The proxy's engine as the last hand-over passed it to the broker.
  const Gestures* Engine() {
    const Gestures* engine = nullptr;
    for (const auto& e : Log("post")) {
      if (e.num("msg") == 1274) {
        engine = reinterpret_cast<const Gestures*>(std::stoull(e.str("wParam"), nullptr, 16));
      }
    }
    return engine;
  }
  // Plays a stroke that must reach the engine only; returns the target it acted on.
  HWND EngineTarget(const std::vector<dev::PanelSample>& sent) {
    size_t handOvers = HandOvers();
    EXPECT_FALSE(ToWindowSystem(sent)) << "the stroke did not reach the engine";
    EXPECT_EQ(HandOvers(), handOvers + 1);
    return Engine() == nullptr ? nullptr : Engine()->TargetWnd;
  }
  int Pos(HWND window) { return dev::apps::scroll_pos(*device, window); }
};

TEST_F(ProxyTargetTest, AGestureAwareWindowTakesStrokesEvenWithGesturesOff) {
  Start(ActivateReg("dword:00000000"));
  HWND frame = Front(Kind::Plain);
  HWND child = Place(Kind::GestureAware, 0, 100, 240, 120, frame);
  EXPECT_EQ(EngineTarget(Flick(120, 200)), child);
  ASSERT_NE(Engine(), nullptr);
  EXPECT_TRUE(Engine()->GestureAwareTarget);
  EXPECT_FALSE(Engine()->TargetIsPIEHTML);
  EXPECT_EQ(Engine()->CodeSlots[0].code, u'U');
  EXPECT_TRUE(ToWindowSystem(Flick(120, 300))) << "beside the child: not gesture-aware";
  dev::apps::destroy(*device, frame);

  // Only the exact prefix counts.
  const std::pair<std::u16string, bool> classes[] = {
      {u"GST_Viewer", true},   {u"GST_", true},        {u"gst_Viewer", false},
      {u"XGST_Viewer", false}, {u"GST-Viewer", false}, {u"GST", false},
  };
  for (const auto& [cls, aware] : classes) {
    HWND w = Front(Kind::GestureAware, cls);
    if (aware) {
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

TEST_F(ProxyTargetTest, WhileTheInputPanelIsUpEveryRecordGoesToTheWindowSystem) {
  HWND list = Place(Kind::List, 0, 0, 240, 240);
  dev::apps::set_foreground(*device, list);
  HWND panel = Place(Kind::InputPanel, 0, 240, 240, 80);
  EXPECT_TRUE(ToWindowSystem(Drag(120, 200)));
  EXPECT_TRUE(ToWindowSystem(Flick(120, 200)));
  EXPECT_EQ(Pos(list), 0);

  // Decided at the pen-down: the panel going away halfway leaves the stroke to the window system.
  auto drag = Drag(120, 200);
  device->queue_samples(drag);
  device->run_until(drag[drag.size() / 2].time);
  dev::apps::show(*device, panel, false);
  size_t before = device->received_samples().size();
  device->run_until(drag.back().time);
  device->settle();
  EXPECT_EQ(device->received_samples().size() - before, drag.size() - drag.size() / 2 - 1);
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
  HWND frame = Front(Kind::Opera);
  HWND list = Place(Kind::List, 0, 0, 240, 320, frame);
  HWND other = Place(Kind::List, 0, 0, 240, 320);
  auto drag = Drag(120, 200);
  size_t before = device->received_samples().size();
  device->queue_samples(drag);
  device->run_until(drag[drag.size() / 2].time);
  dev::apps::set_foreground(*device, other);
  device->run_until(drag.back().time);
  device->settle();
  EXPECT_EQ(device->received_samples().size() - before, drag.size());
  EXPECT_EQ(Pos(list) + Pos(other), 0);
}

TEST_F(ProxyTargetTest, InTheBrowserTheInnermostViewUnderTheFingerIsTheTarget) {
  // A frame with a page view and, in front of it, a toolbar; in the page a nested view with a
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
  EXPECT_EQ(EngineTarget(Samples(120, 20, 120, 160, 120)), outer) << "finger on the toolbar";

  // Without any view the target stays null, and the stroke is ordinary input.
  dev::apps::destroy(*device, outer);
  EXPECT_TRUE(ToWindowSystem(Samples(120, 20, 120, 160, 120)));
  EXPECT_EQ(engine->TargetWnd, nullptr);
}

TEST_F(ProxyTargetTest, MovesAfterTheFirstKeepTheTarget) {
  HWND frame = Front(Kind::Plain);
  HWND left = Place(Kind::List, 0, 0, 120, 320, frame);
  HWND right = Place(Kind::List, 120, 0, 120, 320, frame);
  EXPECT_EQ(EngineTarget(Samples(60, 250, 200, 100, 150)), left);
  // A pan in sixteen steps of about 10 pixels, a line each.
  Play(Samples(60, 250, 200, 170, 160, 600));
  EXPECT_EQ(Pos(left), 16);
  EXPECT_EQ(Pos(right), 0);
}

TEST_F(ProxyTargetTest, StrokesOnWindowsThatTakeNoGesturesReachTheWindowSystemUnchanged) {
  HWND plain = Front(Kind::Plain);
  EXPECT_TRUE(ToWindowSystem(Drag(120, 200)));
  EXPECT_TRUE(ToWindowSystem(Flick(120, 200)));
  dev::apps::destroy(*device, plain);

  dev::apps::WindowSpec ink;
  ink.kind = Kind::List;
  ink.ink = true;
  HWND inked = dev::apps::place(*device, ink);
  dev::apps::set_foreground(*device, inked);
  EXPECT_TRUE(ToWindowSystem(Drag(120, 200)));
  EXPECT_EQ(Pos(inked), 0);
  dev::apps::destroy(*device, inked);

  HWND list = Front(Kind::List);
  EXPECT_FALSE(ToWindowSystem(Drag(120, 200)));
  EXPECT_EQ(Pos(list), 10);
}

class ProxyTargetSettingsTest : public ProxyTargetTest {
 protected:
  void Set(const char* key, const char* value, uint32_t data) {
    device->reg_set_dword(key, value, data);
    device->run_for(50);
  }
};

TEST_F(ProxyTargetSettingsTest, ARightAngleAtRunTimeTurnsTheScreen) {
  // A small list in the top left corner of a wide background.
  Place(Kind::Plain, 0, 0, 320, 320);
  HWND list = Place(Kind::List, 0, 0, 100, 100);
  // Panel (80, 280) -> (20, 280): at 0 degrees a sideways drag on the background; at 90 degrees,
  // with the screen 320 wide, a drag upwards from (40, 80) on the list: 60 pixels, 7 lines.
  auto drag = [&] { return Samples(80, 280, 20, 280, 150, 600); };
  EXPECT_TRUE(ToWindowSystem(drag()));
  Set(kRotationKey, "Angle", 90);
  EXPECT_FALSE(ToWindowSystem(drag()));
  EXPECT_EQ(Pos(list), 7);
  Set(kRotationKey, "Angle", 0);
  EXPECT_TRUE(ToWindowSystem(drag()));
  EXPECT_EQ(Pos(list), 7);
}

TEST_F(ProxyTargetSettingsTest, ActivateStoredAsAllOnesKeepsTheSwitch) {
  HWND list = Front(Kind::List);
  const struct {
    uint32_t data;
    bool on;
  } steps[] = {{0xFFFFFFFF, true}, {0, false}, {0xFFFFFFFF, false}, {7, true}};
  EXPECT_FALSE(ToWindowSystem(Drag(120, 200)));
  int lines = 10;
  EXPECT_EQ(Pos(list), lines);
  for (const auto& step : steps) {
    Set(kGestureKey, "Activate", step.data);
    EXPECT_EQ(ToWindowSystem(Drag(120, 200)), !step.on) << dev::hex(step.data);
    if (step.on) lines += 10;
    EXPECT_EQ(Pos(list), lines) << dev::hex(step.data);
  }
}

TEST_F(ProxyTargetSettingsTest, WithoutTheSettingsKeyOnlyGestureAwareWindowsTakeStrokes) {
  Start(kPalluxOnly, false);
  HWND list = Place(Kind::List, 0, 0, 240, 160);
  HWND aware = Place(Kind::GestureAware, 0, 160, 240, 160);
  EXPECT_TRUE(ToWindowSystem(Drag(120, 140)));
  Set(kGestureKey, "Activate", 1);
  EXPECT_TRUE(ToWindowSystem(Drag(120, 140))) << "a value under a key absent at load is not seen";
  EXPECT_EQ(Pos(list), 0);
  dev::apps::set_foreground(*device, aware);
  EXPECT_EQ(EngineTarget(Flick(120, 300)), aware);
}

}  // namespace
