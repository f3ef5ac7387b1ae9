// The behaviours that act on the browser and the device: drawn strokes turn the browser's pages
// and zoom it, turn the screen (and the proxy maps the next strokes for it), and the engine's
// members that close the window in front, stop the timer and write the registry.
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "device/apps.hpp"
#include "gesture/Browser.h"
#include "gesture/Gestures.h"
#include "gesture/Sound.h"
#include "support/DeviceFixture.h"

namespace {

using dev::apps::Kind;

const char kZoomKey[] = "HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\Main";

// The two tables a rotation follows: the angle code 108 asks for at each "Angle" (-1: none), and
// what each argument requests and writes.
int Code108Argument(uint32_t angle) {
  return angle == 270 ? 0 : angle == 0 ? 270 : -1;
}
struct Turn {
  int argument;
  DWORD orientation, written;
};
const Turn kTurns[] = {{0, DMDO_0, 0}, {90, DMDO_270, 270}, {270, DMDO_90, 90}};
const Turn* TurnFor(int argument) {
  for (const Turn& t : kTurns)
    if (t.argument == argument) return &t;
  return nullptr;
}

// The protected registry write, reached as a caller of the exported class would.
struct Writer : Gestures {
  using Gestures::SetRegistryValue;
};

class BehavioursTest : public vt::DeviceTest {
 protected:
  // Gestures on, and Rotation as given.
  void Start(int rotation) {
    vt::BootOptions options;
    options.reg =
        std::string(vt::kGesturesOn) + "\"Rotation\"=dword:" + std::to_string(rotation) + "\n";
    Boot(options);
  }
  // An engine of the test program, as the broker's would be, for the members called directly.
  void Engine(dev::Screen screen = {}) {
    vt::BootOptions options;
    options.screen = screen;
    BootForEngine(options);
    g = std::make_unique<Gestures>();
  }
  void TearDown() override {
    g.reset();
    DeviceTest::TearDown();
  }

  HWND Place(Kind kind, HWND parent = nullptr, int y = 26, int height = 268) {
    dev::apps::WindowSpec spec;
    spec.kind = kind;
    spec.parent = parent;
    spec.y = parent ? 0 : y, spec.height = height;
    spec.lines = 400, spec.page = 12;
    spec.history = 5, spec.history_at = 3;
    spec.stores_zoom = storesZoom;
    HWND w = dev::apps::place(*device, spec);
    if (parent == nullptr) dev::apps::set_foreground(*device, w);
    return w;
  }

  // A stroke through screen points of the orientation at `angle`, turned into panel samples by
  // the inverse of the proxy's mapping, 150 ms a segment, after `gap` ms.
  size_t Draw(std::vector<POINT> points, int angle = 0, uint32_t gap = 400) {
    for (POINT& p : points) {
      if (angle == 90) p = {p.y, 320 - p.x};
      if (angle == 270) p = {240 - p.y, p.x};
    }
    std::vector<sim::StrokePoint> path;
    for (size_t i = 1; i < points.size(); ++i) {
      uint32_t t0 = path.empty() ? 0 : path.back().t;
      auto seg = sim::straight_stroke(points[i - 1].x, points[i - 1].y, points[i].x, points[i].y,
                                      150, 0, 100);
      for (size_t k = path.empty() ? 0 : 1; k < seg.size(); ++k)
        path.push_back({t0 + seg[k].t, seg[k].x, seg[k].y});
    }
    device->run_for(gap);
    auto samples = sim::to_panel(path, device->now(), 10);
    Play(samples);
    device->run_for(100);  // the broker's first tick
    return samples.size();
  }

  std::string Did() const {
    std::string out;
    for (const auto& e : Log("browser"))
      out += std::to_string(e.num("command")) + " " + e.str("did") + ";";
    return out;
  }

  std::unique_ptr<Gestures> g;
  bool storesZoom = true;
};

TEST_F(BehavioursTest, BothLibrariesExportEveryMemberFunction) {
  BootForEngine();
  // Mangled names of the member list, in its order.
  std::istringstream members(
      "C1Ev C1EP6HWND__ D1Ev aSERKS_ 12SetMsgBrokerEP6HWND__ 14SetSndInstanceEP11HINSTANCE__ "
      "14GetSndInstanceEv 9ResetDataEv 15ProcessMouseMsgEjjiP6HWND__ "
      "13MsgToBehaviorEP6HWND__jjiS1_ 10AddGestureEDsi 12GetGesLengthEv 14CheckIsPanningEi "
      "15CheckIsPanningTEi 9IsPanningEv 6AddMsgEjji 8FlushMsgEP6HWND__ 12GetMsgLengthEv "
      "12ProcessTimerEP6HWND__jji 14ProcessGestureEP6HWND__jb 15CopyGestureDataEP8cGesture "
      "20DuplicateGestureDataEPS_ 16CleanGestureDataEv 20IsInGestureScrollingEv "
      "13ScrollContentEP6HWND__ii 12GetScrollPosEP6HWND__iPi 15IsScrollableWndEP6HWND__ "
      "11ZoomContentEP6HWND__b 7NavPageEP6HWND__b 12RotateScreenEi 11IsLandscapeEv 8CloseWndEv "
      "4QuitEP6HWND__ 4QuitEv 16SetRegistryValueEPKDsS1_j ");
  for (const WCHAR* library : {u"Pallux.dll", u"Quenza.dll"}) {
    HMODULE module = LoadLibraryW(library);
    ASSERT_NE(module, nullptr);
    members.clear();
    members.seekg(0);
    for (std::string member; members >> member;) {
      std::string name = "_ZN8Gestures" + member;
      EXPECT_NE(GetProcAddressW(module, dev::to_utf16(name).c_str()), nullptr)
          << dev::to_utf8(library) << " " << name;
    }
  }
}

// Left and right strokes on the page turn it, held back while calls come less than 500 ms after
// the previous call; down-left and up-right strokes step the zoom from the level stored.
TEST_F(BehavioursTest, BrowserStrokesTurnPagesAndStepTheZoom) {
  Start(0);
  HWND frame = Place(Kind::Browser);
  Place(Kind::BrowserView, frame);
  const std::vector<POINT> kLeft = {{200, 150}, {60, 165}}, kRight = {{60, 150}, {200, 165}};
  const struct {
    const std::vector<POINT>* stroke;
    uint32_t gap;
    const char* did;
  } pages[] = {{&kLeft, 100, "2205 page 4 of 5;"},  // the first call since loading posts
               {&kRight, 150, ""},                  // 310 ms after it
               {&kRight, 150, ""},                  // 310 ms after the one held back
               {&kRight, 400, "2200 page 3 of 5;"},
               {&kLeft, 400, "2205 page 4 of 5;"},
               {&kRight, 25u * 24 * 3600 * 1000, "2200 page 3 of 5;"}};  // 25 days later
  for (const auto& p : pages) {
    ClearLog();
    Draw(*p.stroke, 0, p.gap);
    EXPECT_EQ(Did(), p.did) << p.gap;
    EXPECT_EQ(ScrollStates(), "21");
  }

  const std::vector<POINT> kDownLeft = {{180, 80}, {80, 180}}, kUpRight = {{80, 180}, {180, 80}};
  const struct {
    int64_t stored;  // -1: no value
    const std::vector<POINT>* stroke;
    const char* did;
  } zooms[] = {
      {0, &kDownLeft, "5677 zoom level 0;"},  {4, &kUpRight, "5673 zoom level 4;"},
      {9, &kDownLeft, "5673 zoom level 4;"},  {0xFFFFFFFF, &kUpRight, "5677 zoom level 0;"},
      {-1, &kDownLeft, "5676 zoom level 1;"}, {-1, &kUpRight, "5674 zoom level 3;"}};
  for (const auto& z : zooms) {
    if (z.stored < 0) {
      device->reg_delete_value(kZoomKey, "ZoomSetting");
    } else {
      device->reg_set_dword(kZoomKey, "ZoomSetting", static_cast<uint32_t>(z.stored));
    }
    ClearLog();
    Draw(*z.stroke);
    EXPECT_EQ(Did(), z.did) << z.stored;
  }

  // From level 2, twice up: a browser that stores its level goes on from it, one that never
  // does is asked for the same level again.
  for (bool stores : {true, false}) {
    storesZoom = stores;
    frame = Place(Kind::Browser);
    Place(Kind::BrowserView, frame);
    device->reg_set_dword(kZoomKey, "ZoomSetting", 2);
    ClearLog();
    Draw(kUpRight);
    Draw(kUpRight);
    EXPECT_EQ(Did(), stores ? "5674 zoom level 3;5673 zoom level 4;"
                            : "5674 zoom level 3;5674 zoom level 3;");
  }
}

// The proxy aims at the innermost view under the finger: a view inside a view is the browser's
// as much as the outer one.
TEST_F(BehavioursTest, StrokesOverANestedViewTurnPagesAndZoomToo) {
  Start(0);
  HWND frame = Place(Kind::Browser);
  HWND outer = Place(Kind::BrowserView, frame);
  Place(Kind::BrowserView, outer, 0, 140);  // the top of the outer view
  device->reg_set_dword(kZoomKey, "ZoomSetting", 2);
  const struct {
    const char* over;
    std::vector<POINT> stroke;
    const char* did;
  } cases[] = {{"the inner view", {{200, 100}, {60, 110}}, "2205 page 4 of 5;"},
               {"the outer view", {{60, 230}, {200, 240}}, "2200 page 3 of 5;"},
               {"the inner view", {{80, 150}, {180, 50}}, "5674 zoom level 3;"}};
  for (const auto& c : cases) {
    ClearLog();
    Draw(c.stroke, 0, 600);
    EXPECT_EQ(Did(), c.did) << c.over;
  }
}

// Down then right turns the screen as the tables say; the proxy reloads its settings through its
// notification, so the next strokes are mapped for the turned screen.
TEST_F(BehavioursTest, DownThenRightTurnsTheScreenAndTheNextStrokesFollowIt) {
  const std::vector<POINT> kDownRight = {
      {60, 60}, {60, 200}, {200, 212}};  // the right arm falls a little, as a finger's does
  for (int rotation : {1, 0}) {
    SCOPED_TRACE(rotation);
    Start(rotation);
    Place(Kind::List, nullptr, 0, 320);  // the whole upright screen: it keeps its rectangle
    HWND list = Place(Kind::List);
    uint32_t angle = 0;
    ASSERT_TRUE(device->reg_get_dword(vt::kRotationKey, "Angle", &angle));
    const Turn* turn = rotation ? TurnFor(Code108Argument(angle)) : nullptr;
    ClearLog();
    Draw(kDownRight);
    EXPECT_EQ(ScrollStates(), "21") << "the gesture ends either way";
    auto written = Log("reg-write", "value", "Angle");
    auto changes = Log("display-change");
    if (turn == nullptr) {
      EXPECT_TRUE(written.empty() && changes.empty());
      continue;
    }
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].num("data"), turn->written);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].num("orientation"), turn->orientation);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 320);
    EXPECT_FALSE(Log("reg-notify", "value", "angle").empty()) << "the proxy's settings reload";
    EXPECT_EQ(Log("send", "msg", "WM_SIZE").size(), 1u) << "the list filled the work area";

    // Again, drawn on the turned screen: the tables say what the new angle does.
    angle = turn->written;
    const Turn* second = TurnFor(Code108Argument(angle));
    ClearLog();
    Draw(kDownRight, static_cast<int>(angle));
    EXPECT_EQ(ScrollStates(), "21");
    EXPECT_EQ(Log("display-change").size(), second ? 1u : 0u);

    // A flick up the list, mapped for the turn, scrolls it (mapped upright, it would be a
    // stroke to the left).
    Draw({{160, 180}, {160, 120}}, static_cast<int>(angle));
    EXPECT_GT(dev::apps::scroll_pos(*device, list), 0);
    // The bands follow the turned screen: a stroke from the new bottom band reaches the window
    // system whole.
    size_t before = device->received_samples().size();
    size_t drawn = Draw({{160, 230}, {160, 120}}, static_cast<int>(angle));
    EXPECT_EQ(device->received_samples().size() - before, drawn);
  }
}

TEST_F(BehavioursTest, RotateScreenWritesTheAngleAndTurnsOnlyANonSquareScreen) {
  const struct {
    int width, height, argument;
    bool result;
    int64_t written, orientation;  // -1: none
    int landscape;
    bool displayRefuses = false;  // "Angle" is then written back as it was
  } cases[] = {
      {240, 240, 90, false, -1, -1, 1},      {240, 240, 0, false, -1, -1, 1},
      {320, 320, 270, false, -1, -1, 1},     {240, 320, 90, true, 270, DMDO_270, 1},
      {240, 320, 270, true, 90, DMDO_90, 1}, {240, 320, 0, true, 0, DMDO_0, 0},
      {240, 320, 180, false, -1, -1, 0},     {240, 320, 90, false, 270, -1, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " " +
                 std::to_string(c.argument));
    if (device == nullptr ||
        GetSystemMetrics(SM_CXSCREEN) + GetSystemMetrics(SM_CYSCREEN) != c.width + c.height) {
      Engine({c.width, c.height, 96});
      device->reg_set_dword(vt::kRotationKey, "Angle", 45);  // so that every write shows
    }
    uint32_t before = 0, after = 0;
    ASSERT_TRUE(device->reg_get_dword(vt::kRotationKey, "Angle", &before));
    if (c.displayRefuses) device->fail_call("ChangeDisplaySettingsExW", 1, 8);
    ClearLog();
    EXPECT_EQ(g->RotateScreen(c.argument), c.result);
    device->settle();
    ASSERT_TRUE(device->reg_get_dword(vt::kRotationKey, "Angle", &after));
    EXPECT_EQ(after, c.written < 0 || c.displayRefuses ? before : c.written);
    auto written = Log("reg-write", "value", "Angle");
    auto changes = Log("display-change");
    EXPECT_EQ(written.empty() ? -1 : written[0].num("data"), c.written);
    EXPECT_EQ(changes.empty() ? -1 : changes[0].num("orientation"), c.orientation);
    EXPECT_EQ(Log("reg-flush").size(), written.size());
    EXPECT_EQ(written.size(), c.displayRefuses ? 2u : c.written < 0 ? 0u : 1u);
    EXPECT_EQ(g->IsLandscape(), c.landscape);
  }
}

// The window in front gets WM_CLOSE and waits for the answer; a window that declines to close
// (its user kept unsaved data) is left alone, from whichever thread it is asked.
TEST_F(BehavioursTest, CloseWndClosesOnlyAWindowThatClosesItself) {
  Engine();
  EXPECT_FALSE(g->CloseWnd()) << "no window in front";
  const struct {
    bool refuses, fromOtherThread, result, stays;
  } cases[] = {{false, true, true, false},
               {true, true, false, true},
               {true, false, false, true}};  // the host stands in for the window's own thread
  for (const auto& c : cases) {
    dev::apps::WindowSpec spec;
    spec.refuses_close = c.refuses;
    HWND w = dev::apps::place(*device, spec);
    dev::apps::set_foreground(*device, w);
    ClearLog();
    bool result = false;
    std::function<void()> close = [&] { result = g->CloseWnd(); };
    if (c.fromOtherThread) {
      HANDLE t = CreateThread(
          nullptr, 0,
          [](LPVOID p) -> DWORD {
            (*static_cast<std::function<void()>*>(p))();
            return 0;
          },
          &close, 0, nullptr);
      device->settle();
      CloseHandle(t);
    } else {
      close();
    }
    EXPECT_EQ(result, c.result) << c.refuses << c.fromOtherThread;
    EXPECT_EQ(IsWindow(w) != FALSE, c.stays);
    ASSERT_EQ(Log("app-close").size(), 1u);
    EXPECT_EQ(Log("app-close")[0].str("did"), c.refuses ? "stays" : "closes");
    EXPECT_TRUE(Log("call-refused", "call", "DestroyWindow").empty());
    EXPECT_TRUE(Log("bad-handle").empty()) << "a closed window's handle is not used again";
  }
}

TEST_F(BehavioursTest, SetRegistryValueCreatesTheKeyAndQuitStopsTimerFive) {
  Engine();
  Writer writer;
  EXPECT_EQ(writer.SetRegistryValue(u"Software\\Fresh\\Key", u"Depth", 7), 0u);
  uint32_t value = 0;
  EXPECT_TRUE(device->reg_get_dword("HKEY_LOCAL_MACHINE\\Software\\Fresh\\Key", "Depth", &value));
  EXPECT_EQ(value, 7u);
  EXPECT_EQ(Log("reg-flush", "key", "HKEY_LOCAL_MACHINE").size(), 1u);

  HWND w = Place(Kind::Plain);
  SetTimer(w, kGestureTimer, kGestureTimerPeriodMs, nullptr);
  SetTimer(w, 7, 100, nullptr);
  EXPECT_TRUE(g->Quit(w));
  EXPECT_TRUE(g->Quit(w)) << "whatever KillTimer reports";
  EXPECT_TRUE(g->Quit());
  auto killed = Log("timer-killed");
  ASSERT_EQ(killed.size(), 1u);
  EXPECT_EQ(killed[0].num("id"), 5);
}

}  // namespace
