// The proxy's threads share words without locks. These cases pre-empt one thread at the worst
// moment, as a busy device would, and check that no stroke, reload or broker handle is lost.
#include <regext.h>

#include <string>
#include <vector>

#include "Scenario.h"
#include "device/apps.hpp"
#include "support/DeviceFixture.h"

namespace {

using dev::apps::Kind;

const char kGesturesOn[] =
    "[HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture]\n\"Activate\"=dword:00000001\n";
const char kNoBroker[] =
    "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Gesture]\n\"Dll\"=\"Missing.dll\"\n";

class ProxyInterleavingTest : public vt::DeviceTest {
 protected:
  void Start(const std::string& reg, bool desktopQueues = false) {
    vt::BootOptions options;
    options.reg = std::string(kGesturesOn) + reg;
    options.desktop_thread_queues = desktopQueues;
    Boot(options);
    dev::apps::WindowSpec win;
    win.kind = Kind::List;
    win.y = 26, win.height = 268, win.lines = 400, win.page = 12;
    list = dev::apps::place(*device, win);
    dev::apps::set_foreground(*device, list);
  }
  void Flick(int x, int y) {
    device->run_for(400);
    Stroke(x, y, x, y - 60, 150);
  }
  size_t Received() const { return device->received_samples().size(); }
  size_t HandOvers() const { return Log("post", "msg", "1274").size(); }

  HWND list = nullptr;
};

// The broker window appears between the scrolling check's lookup and the pass-through's: the
// engine gets it all the same, so its button-down resets the broker.
TEST_F(ProxyInterleavingTest, WhoeverFindsTheBrokerFirstGivesItToTheEngine) {
  Start(kNoBroker);
  // A pen-down looks for the input panel twice, then for the broker twice.
  device->preempt_at("FindWindowW", "gwes.exe", "touch-ist", 4, [] {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = u"MSGBROKER";
    RegisterClassW(&wc);
    CreateWindowExW(0, u"MSGBROKER", u"MsgBroker", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                    nullptr);
  });
  Flick(120, 200);
  ASSERT_EQ(Log("preempted").size(), 1u);
  EXPECT_EQ(Log("post", "msg", "1276").size(), 1u) << "the engine's reset at its button-down";
  EXPECT_EQ(HandOvers(), 1u);
}

// On a platform where a new thread has no message queue until it asks for messages, the first
// stroke still reaches the engine whole.
TEST_F(ProxyInterleavingTest, TheFirstStrokeReachesTheEngineWholeWhereQueuesComeLate) {
  Start("", true);
  size_t before = Received();
  Flick(120, 200);
  EXPECT_TRUE(Log("post-refused").empty());
  EXPECT_EQ(HandOvers(), 1u);
  EXPECT_EQ(Received(), before) << "a flick never reaches the window system";
}

// A rotation reloads the settings while the bands are being computed from the old screen size, at
// either side of the reload: the next stroke still finds the bands of the new orientation.
TEST_F(ProxyInterleavingTest, ABandUpdateNeverLosesAReload) {
  const char kRotation[] = "HKEY_LOCAL_MACHINE\\System\\GDI\\Rotation";
  for (bool duringBands : {true, false}) {
    SCOPED_TRACE(duringBands ? "reload during the band update" : "bands during the reload");
    Start("");
    auto tap =
        sim::to_panel(sim::straight_stroke(120, 160, 120, 160, 0, 0, 100), device->now() + 100, 10);
    if (duringBands) {
      device->preempt_at("GetDC", "gwes.exe", "touch-ist", 1, [] {
        RegistrySetDWORD(HKEY_LOCAL_MACHINE, u"System\\GDI\\Rotation", u"Angle", 90);
      });
      Play(tap);
    } else {
      // The reload's first read comes right after it marks the bands; the tap lands then.
      device->preempt_at("RegistryGetDWORD", "gwes.exe", "regnotify", 1, [this, tap] {
        auto now = tap;
        for (auto& s : now) s.time = s.time - tap[0].time + device->now();
        device->queue_samples(now);
      });
      device->reg_set_dword(kRotation, "Angle", 90);
      device->run_for(200);
    }
    ASSERT_EQ(Log("preempted").size(), 1u);
    device->run_for(200);
    // Landscape 320x240: the bottom band starts at y 215. Panel (230, 160) is screen (160, 230).
    size_t before = Received();
    std::vector<sim::StrokePoint> pts;
    for (int i = 0; i <= 15; ++i) pts.push_back({static_cast<uint32_t>(i * 10), 230 - i * 4, 160});
    auto flick = sim::to_panel(pts, device->now() + 100, 10);
    Play(flick);
    EXPECT_EQ(Received() - before, flick.size()) << "a stroke from the bottom band passes through";
  }
}

}  // namespace
