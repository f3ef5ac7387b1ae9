// Window timers: WM_TIMER reaches the window's thread every period of device time, through the
// window procedure or the timer procedure, and stops when the timer is killed or the window goes.
#include <gtest/gtest.h>

#include "device/apps.hpp"
#include "support/DeviceFixture.h"

namespace {

std::vector<uint64_t> g_proc_ticks;

void CALLBACK TimerProc(HWND, UINT message, UINT_PTR id, DWORD) {
  if (message == WM_TIMER && id == 9) g_proc_ticks.push_back(dev::current_device()->now());
}

class DeviceTimerTest : public vt::DeviceTest {
 protected:
  // Times at which the gesture-aware application received WM_TIMER with the given id.
  std::vector<uint64_t> TimerTimes(UINT_PTR id) const {
    std::vector<uint64_t> times;
    for (const auto& e : Log("app-received")) {
      if (e.num("msg") == WM_TIMER && e.str("wParam") == dev::hex(id)) times.push_back(e.time);
    }
    return times;
  }
};

TEST_F(DeviceTimerTest, TicksEveryPeriodUntilKilledOrTheWindowIsGone) {
  Boot();
  dev::apps::WindowSpec spec;
  spec.kind = dev::apps::Kind::GestureAware;
  HWND app = dev::apps::place(*device, spec);
  uint64_t start = device->now();

  EXPECT_EQ(SetTimer(app, 5, 80, nullptr), 5u);
  ASSERT_EQ(SetTimer(app, 9, 0, TimerProc), 9u);  // below the resolution: every 10 ms
  device->run_for(400);
  std::vector<uint64_t> expected;
  for (uint64_t t = 80; t <= 400; t += 80) expected.push_back(start + t);
  EXPECT_EQ(TimerTimes(5), expected);
  EXPECT_EQ(g_proc_ticks.size(), 40u) << "the timer procedure, not the window, gets its ticks";
  EXPECT_TRUE(TimerTimes(9).empty());

  // Setting a timer again restarts its period, and the log shows it; killing it stops it; a
  // second kill fails.
  device->run_for(40);
  SetTimer(app, 5, 80, nullptr);
  device->run_for(100);
  EXPECT_EQ(TimerTimes(5).back(), start + 520);
  auto sets = Log("timer-set", "id", "5");
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_TRUE(sets[0].str("restart") == "false" && sets[1].str("restart") == "true");
  EXPECT_EQ(sets[1].time, start + 440);
  EXPECT_TRUE(KillTimer(app, 5));
  EXPECT_FALSE(KillTimer(app, 5));
  device->run_for(200);
  EXPECT_EQ(TimerTimes(5).back(), start + 520);

  // A destroyed window takes its timers with it; its handle then fails.
  size_t ticks = g_proc_ticks.size();
  dev::apps::destroy(*device, app);
  device->run_for(100);
  EXPECT_EQ(g_proc_ticks.size(), ticks);
  EXPECT_EQ(SetTimer(app, 5, 80, nullptr), 0u);
  EXPECT_FALSE(Log("bad-handle", "call", "SetTimer").empty());
}

}  // namespace
