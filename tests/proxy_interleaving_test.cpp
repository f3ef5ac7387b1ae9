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

const char kNoBroker[] =
    "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Gesture]\n\"Dll\"=\"Missing.dll\"\n";

class ProxyInterleavingTest : public vt::DeviceTest {
 protected:
  void Start(const std::string& reg, bool desktopQueues = false) {
    vt::BootOptions options;
    options.reg = std::string(vt::kGesturesOn) + reg;
    options.desktop_thread_queues = desktopQueues;
    Boot(options);
    Front(Kind::List, 0, 26, 240, 268, 400, 12);
  }
  void Flick(int x, int y) {
    device->run_for(400);
    Stroke(x, y, x, y - 60, 150);
  }
  size_t HandOvers() const { return Log("post", "msg", "1274").size(); }
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
  size_t before = device->received_samples().size();
  Flick(120, 200);
  EXPECT_EQ(device->received_samples().size(), before) << "a flick never reaches the window system";
  EXPECT_TRUE(Log("post-refused").empty());
  EXPECT_EQ(HandOvers(), 1u);
}

// A rotation reloads the settings while the bands are being computed from the old screen size, at
// either side of the reload: the next stroke still finds the bands of the new orientation.
TEST_F(ProxyInterleavingTest, ABandUpdateNeverLosesAReload) {
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
      device->reg_set_dword(vt::kRotationKey, "Angle", 90);
      device->run_for(200);
    }
    ASSERT_EQ(Log("preempted").size(), 1u);
    device->run_for(200);
    // Landscape 320x240: the bottom band starts at y 215. Panel (230, 160) is screen (160, 230).
    auto flick = sim::to_panel(sim::straight_stroke(230, 160, 170, 160, 150, 0, 100),
                               device->now() + 100, 10);
    EXPECT_EQ(Received(flick).size(), flick.size())
        << "a stroke from the bottom band passes through";
  }
}

}  // namespace
