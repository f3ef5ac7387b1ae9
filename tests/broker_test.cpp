// The broker on a booted device: the device manager starts it, the proxy hands strokes over to its
// window, and its timer carries them out: momentum on a list, a message to a gesture-aware
// application, the reset that stops it, and what it does with hand-overs that make no sense.
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "Scenario.h"
#include "device/apps.hpp"
#include "gesture/Gestures.h"
#include "support/DeviceFixture.h"

namespace {

using dev::apps::Kind;

const std::string kGesturesOn =
    std::string(vt::kGesturesOn) +
    "[HKEY_LOCAL_MACHINE\\DebugZones]\n\"QUOBUpdater\"=dword:0000C004\n";

const UINT kScrollQuery = WM_USER + 253;

class BrokerTest : public vt::DeviceTest {
 protected:
  void SetUp() override { Start(kGesturesOn); }

  void Start(const std::string& reg, std::vector<vt::FailingCall> failing = {}) {
    vt::BootOptions options;
    options.reg = reg;
    options.failing = std::move(failing);
    Boot(options);
    broker = FindWindowW(u"MSGBROKER", nullptr);
  }

  HWND FrontOf(Kind kind) { return Front(kind, 0, 26, 240, 268, 400, 12); }

  // 60 pixels upwards in 150 ms from (120, 200), 100 ms from now; then runs for `thenMs`.
  void FlickUp(uint32_t thenMs) {
    device->run_for(100);
    Stroke(120, 200, 120, 140, 150);
    device->run_for(thenMs);
  }
  size_t Lines(HWND window) const { return PostsTo(window, "WM_VSCROLL").size(); }
  LRESULT Send(UINT message) { return SendMessageW(broker, message, 0, 0); }

  HWND broker = nullptr;
};

TEST_F(BrokerTest, TheDeviceManagerStartsAHiddenEmptyBrokerWindow) {
  auto loaded = Log("driver-loaded", "prefix", "GES");
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0].str("dll"), "Quenza.dll");
  EXPECT_EQ(loaded[0].str("context"), "0x1");
  ASSERT_NE(broker, nullptr) << "found by its class alone";
  EXPECT_EQ(FindWindowW(u"MSGBROKER", u"MsgBroker"), broker);
  EXPECT_FALSE(IsWindowVisible(broker));
  RECT r{1, 1, 1, 1};
  GetWindowRect(broker, &r);
  EXPECT_TRUE(r.right == r.left && r.bottom == r.top) << "of no size";
}

// How the lines thin out as the momentum runs down, and how the content's end stops it, the
// engine's tests show; here the broker's timer steps it every 80 ms.
TEST_F(BrokerTest, AFlickUpScrollsTheListTickByTickAsItsMomentumDecays) {
  HWND list = FrontOf(Kind::List);
  FlickUp(5000);

  auto ticks = GestureTicks();
  ASSERT_GT(ticks.size(), 25u);
  for (size_t i = 0; i < ticks.size(); ++i) {
    SCOPED_TRACE("tick " + std::to_string(i));
    EXPECT_EQ(ticks[i].behaviour, 100u);
    EXPECT_EQ(ticks[i].momentum, ticks[0].momentum - static_cast<int>(i)) << "one step per tick";
    if (i > 0) {
      EXPECT_EQ(ticks[i].time - ticks[i - 1].time, 80u);
    }
  }
  EXPECT_EQ(ticks.back().momentum, 0) << "the momentum runs out";

  auto lines = PostsTo(list, "WM_VSCROLL");
  ASSERT_GT(lines.size(), 20u);
  for (const auto& line : lines) EXPECT_EQ(line.str("wParam"), "0x1") << "SB_LINEDOWN";
  EXPECT_EQ(lines.front().time, ticks.front().time);
  EXPECT_EQ(dev::apps::scroll_pos(*device, list), static_cast<int>(lines.size()));
  EXPECT_TRUE(Log("sound").empty()) << "the sound is off unless switched on";

  EXPECT_EQ(ScrollStates(), "21");
  auto scrolling = Log("event-data", "event", "InGestureScrolling");
  EXPECT_EQ(scrolling.front().time, ticks.front().time) << "scrolling from the first tick";
  EXPECT_EQ(scrolling.back().time, ticks.back().time) << "and ended by the last";
  EXPECT_EQ(Log("timer-killed").size(), 1u);
}

TEST_F(BrokerTest, AResetInTheMiddleOfTheMomentumStopsItAtOnce) {
  HWND list = FrontOf(Kind::List);
  FlickUp(80 * 5);
  size_t before = Lines(list);
  ASSERT_GE(before, 4u);
  EXPECT_EQ(Send(kScrollQuery), 1) << "scrolling between ticks";

  // A tap: the proxy's engine cannot kill the timer of the broker's window (another thread's), so
  // its reset message is what stops the broker.
  Stroke(120, 160, 121, 161, 60);
  device->run_for(2000);
  EXPECT_EQ(Lines(list), before);
  EXPECT_EQ(ScrollStates(), "21");
  EXPECT_FALSE(Log("call-refused", "call", "KillTimer").empty());
  EXPECT_FALSE(Log("timer-killed").empty());
  EXPECT_EQ(Send(kScrollQuery), 0);
}

// A quit message from anyone ends the broker's loop; a momentum under way ends with it, and the
// state that other processes read says so.
TEST_F(BrokerTest, AForeignQuitInTheMiddleOfTheMomentumEndsItAndItsScrollingState) {
  HWND list = FrontOf(Kind::List);
  FlickUp(80 * 5);
  ASSERT_EQ(ScrollStates(), "2");
  PostMessageW(broker, WM_QUIT, 0, 0);
  device->run_for(100);
  size_t before = Lines(list);
  device->run_for(3000);
  EXPECT_EQ(Lines(list), before) << "no tick after the loop ended";
  EXPECT_EQ(ScrollStates(), "21");
  EXPECT_FALSE(IsWindow(broker));
}

// Through a timer message's lParam anyone could have the broker thread call any address. Nor
// may the broker rely on what lParam holds: on desktop it is a handle, not the procedure.
TEST_F(BrokerTest, ATimerMessageWithAForeignProcedureIsNotCalled) {
  for (bool desktop : {false, true}) {
    SCOPED_TRACE(desktop ? "desktop timer handles" : "the phone's timer messages");
    vt::BootOptions options;
    options.reg = kGesturesOn;
    options.desktop_timer_handles = desktop;
    Boot(options);
    broker = FindWindowW(u"MSGBROKER", nullptr);
    HWND list = FrontOf(Kind::List);
    PostMessageW(broker, WM_TIMER, 5, 0x10000);
    PostMessageW(broker, WM_TIMER, 7, 0x10000);
    FlickUp(1000);
    EXPECT_TRUE(IsWindow(broker));
    EXPECT_GT(Lines(list), 5u) << "the broker still carries gestures out";
  }
}

TEST_F(BrokerTest, AGestureAwareApplicationReceivesTheGestureOnce) {
  HWND viewer = FrontOf(Kind::GestureAware);
  device->run_for(100);
  Stroke(200, 150, 60, 165, 150);  // to the left and a little down
  device->run_for(1000);

  auto received = Log("app-received", "msg", "1274");
  ASSERT_EQ(received.size(), 1u);
  uint64_t wParam = std::stoull(received[0].str("wParam"), nullptr, 16);
  EXPECT_EQ(wParam & 0xFFFF, 102u) << "a page to the left";
  EXPECT_GT(wParam >> 16, 0u) << "the stroke's length";
  EXPECT_EQ(received[0].str("lParam"), dev::hex(200 + 150 * 65536)) << "where the finger came down";
  EXPECT_EQ(Log("app-received").size(), 1u) << "nothing else reaches it";
  EXPECT_EQ(Lines(viewer), 0u);
  EXPECT_EQ(ScrollStates(), "21");
}

// Closed, the broker's thread ends with code 0, and the timer of a hand-over is killed.
TEST_F(BrokerTest, TheBrokerWindowAnswersEveryMessageWithoutTheDefaultProcedure) {
  EXPECT_EQ(Send(kScrollQuery), 0) << "no gesture handed over yet";
  // Paint, get-text, a private message, a message number nobody uses.
  for (UINT message : {UINT(0x000F), UINT(WM_USER + 251), UINT(0x000D), UINT(0x7FFF)}) {
    EXPECT_EQ(Send(message), 1) << message;
  }
  for (bool handedOver : {false, true}) {
    SCOPED_TRACE(handedOver ? "after a hand-over" : "before any hand-over");
    if (handedOver) {
      Start(kGesturesOn);
      FrontOf(Kind::List);
      FlickUp(200);
    }
    EXPECT_EQ(Send(WM_CLOSE), 1);
    device->run_for(1000);
    EXPECT_EQ(Log("timer-killed").size(), handedOver ? 1u : 0u);
    auto exits = Log("thread-exit");
    ASSERT_FALSE(exits.empty());
    EXPECT_EQ(exits.back().process, "device.exe");
    EXPECT_EQ(exits.back().num("code"), 0);
  }
}

TEST_F(BrokerTest, TheStreamEntryPointsLeaveEveryBufferAlone) {
  device->as_process("device.exe", [] {
    HMODULE quenza = LoadLibraryW(u"Quenza.dll");
    ASSERT_NE(quenza, nullptr);
    using IOControl = BOOL (*)(DWORD, DWORD, PBYTE, DWORD, PBYTE, DWORD, PDWORD);
    auto io = reinterpret_cast<IOControl>(
        reinterpret_cast<void (*)()>(GetProcAddressW(quenza, u"GES_IOControl")));
    ASSERT_NE(io, nullptr);
    for (DWORD code : {0u, 1u, 0x80002000u, 0xFFFFFFFFu}) {
      BYTE in[4] = {1, 2, 3, 4};
      DWORD out = 0xDEADBEEF;
      DWORD returned = 0xDEADBEEF;
      EXPECT_TRUE(io(1, code, in, sizeof in, reinterpret_cast<PBYTE>(&out), sizeof out, &returned));
      EXPECT_EQ(out, 0xDEADBEEFu);
      EXPECT_EQ(returned, 0xDEADBEEFu);
    }
    EXPECT_TRUE(io(0, 0, nullptr, 0, nullptr, 0, nullptr));
    FreeLibrary(quenza);
  });
}

// The device manager frees the library after the deinit: the broker's threads end first, while a
// momentum ticks, and the strokes that follow reach the window system as without a broker.
TEST_F(BrokerTest, DeinitEndsTheBrokersThreadsBeforeItsLibraryGoes) {
  Start(kGesturesOn + "[HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture]\n\"Sound\"=dword:1\n");
  HWND list = FrontOf(Kind::List);
  FlickUp(400);
  ASSERT_FALSE(Log("sound").empty()) << "the sound thread ticks";
  ClearLog();
  EXPECT_TRUE(device->deinit_driver("GES"));
  EXPECT_EQ(Log("module-unload", "module", "Quenza.dll").size(), 1u);
  EXPECT_FALSE(IsWindow(broker));
  EXPECT_TRUE(Log("bad-handle").empty());
  size_t lines = Lines(list);
  device->run_for(2000);
  EXPECT_EQ(Lines(list), lines) << "the momentum ended with its thread";

  auto samples =
      sim::to_panel(sim::straight_stroke(120, 200, 120, 140, 150, 0, 100), device->now(), 10);
  EXPECT_TRUE(vt::Unchanged(Received(samples), samples));
}

// A deinit that comes before the broker thread has made its window still ends the thread, and
// one that fails keeps the library mapped under the thread it could not end.
TEST_F(BrokerTest, ADeinitRightAfterTheInitEndsTheBrokerThreadFirst) {
  ASSERT_TRUE(device->deinit_driver("GES"));
  ClearLog();
  ASSERT_TRUE(device->load_driver("Drivers\\BuiltIn\\Gesture", "Quenza.dll", "GES"));
  EXPECT_TRUE(device->deinit_driver("GES")) << "the thread had not yet made its window";
  EXPECT_EQ(Log("module-unload", "module", "Quenza.dll").size(), 1u);
  EXPECT_EQ(FindWindowW(u"MSGBROKER", nullptr), nullptr);
  device->run_for(1000);
  EXPECT_TRUE(Log("bad-handle").empty());
}

// A hand-over whose object is not a finished gesture: the broker copies what it can read as codes
// and never runs anything else.
class BrokerHandOverTest : public BrokerTest {
 protected:
  // The broker carries out hand-overs only from the one published engine: here, this object.
  void SetUp() override {
    BrokerTest::SetUp();
    PublishHandOverSource(&Source());
  }
  Gestures& Source() { return *reinterpret_cast<Gestures*>(storage); }
  void HandOver(std::initializer_list<cGesture> slots) {
    int i = 0;
    for (const cGesture& slot : slots) Source().CodeSlots[i++] = slot;
    PostMessageW(broker, WM_USER + 250, reinterpret_cast<WPARAM>(&Source()), 0);
  }

  alignas(Gestures) unsigned char storage[sizeof(Gestures)] = {};
};

TEST_F(BrokerHandOverTest, OvertakenHandOversRunNothingAndOnlyTheNineLettersAreCodes) {
  HWND list = FrontOf(Kind::List);
  Source().TargetWnd = list;
  HandOver({{u'U', 120}, {u'X', 0}});
  // Before the broker gets to it, the next stroke's pen-down resets the object and the broker.
  Source().CodeSlots[0] = {u'X', 0};
  PostMessageW(broker, WM_USER + 252, 0, 0);
  device->run_for(1000);
  EXPECT_EQ(Lines(list), 0u);
  EXPECT_TRUE(GestureTicks().empty());
  EXPECT_EQ(ScrollStates(), "");

  // After the first free slot nothing is part of the gesture.
  HandOver({{u'\0', 500}, {u'U', 90}, {u'#', 700}, {u'X', 0}, {u'D', 900}});
  device->run_for(100);
  auto ticks = GestureTicks();
  ASSERT_FALSE(ticks.empty());
  EXPECT_EQ(ticks.front().behaviour, 100u);
  EXPECT_EQ(ticks.front().momentum, 90);
}

// The broker window can be found by its class, so anybody can post it a hand-over: nothing but
// the proxy's own engine is ever read, and the real hand-overs still work afterwards.
TEST_F(BrokerTest, HandOversFromAnyOtherAddressAreIgnored) {
  HWND list = FrontOf(Kind::List);
  alignas(Gestures) unsigned char other[sizeof(Gestures)] = {};
  const struct {
    const char* what;
    uintptr_t address;
  } kAddresses[] = {{"null", 0},
                    {"a small number", 0x10},
                    {"an unmapped address", 0x7ff0dead0000},
                    {"another live object", reinterpret_cast<uintptr_t>(other)}};
  for (const auto& row : kAddresses) {
    ClearLog();
    PostMessageW(broker, WM_USER + 250, row.address, 0);
    device->run_for(300);
    EXPECT_TRUE(GestureTicks().empty()) << row.what;
    EXPECT_TRUE(Log("timer-set").empty()) << row.what;
    EXPECT_EQ(Log("debug", "text", "Hand-over from an unknown address ignored").size(), 1u)
        << row.what;
  }
  EXPECT_EQ(Lines(list), 0u);
  FlickUp(500);
  EXPECT_FALSE(GestureTicks().empty()) << "the proxy's own hand-over";
}

// The broker reads only the published engine, so whatever becomes of the published value, a
// flick either scrolls the list or reaches the window system whole: it never reaches nobody.
TEST_F(BrokerTest, NoChangeToThePublishedEngineLosesAFlick) {
  const std::string kHandOverKey = "HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture\\HandOver";
  alignas(Gestures) unsigned char forged[sizeof(Gestures)] = {};
  struct Case {
    const char* what;
    int failedCreates;  // of the hand-over key, from boot on
    std::function<void()> before;
    bool scrolls;
  } cases[] = {
      {"the publishes at load and enable failed", 2, [] {}, true},
      {"the engine cannot be published at all", 3, [] {}, false},
      {"the value was deleted", 0, [&] { device->reg_delete_value(kHandOverKey, "Source"); }, true},
      {"another engine was published", 0,
       [&] { PublishHandOverSource(reinterpret_cast<Gestures*>(forged)); }, true},
      {"another process loaded the proxy and freed it", 0,
       [&] {
         device->as_process("device.exe", [] {
           HMODULE other = LoadLibraryW(u"Pallux.dll");
           ASSERT_NE(other, nullptr);
           FreeLibrary(other);
         });
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Start(kGesturesOn,
          std::vector<vt::FailingCall>(c.failedCreates, {"RegCreateKeyExW", 1, 5, kHandOverKey}));
    HWND list = FrontOf(Kind::List);
    c.before();
    device->run_for(100);
    auto samples =
        sim::to_panel(sim::straight_stroke(120, 200, 120, 140, 150, 0, 100), device->now(), 10);
    auto received = Received(samples);
    device->run_for(3000);
    if (c.scrolls) {
      EXPECT_GT(Lines(list), 10u);
      EXPECT_TRUE(received.empty()) << "withheld as a gesture";
    } else {
      EXPECT_EQ(Lines(list), 0u);
      EXPECT_TRUE(vt::Unchanged(received, samples)) << "passed through whole";
      FlickUp(3000);
      EXPECT_GT(Lines(list), 10u) << "published again at the next pen-down";
    }
  }
}

TEST_F(BrokerTest, WithoutABrokerWindowStrokesReachTheWindowSystem) {
  Start(std::string(kGesturesOn) +
        "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Gesture]\n\"Dll\"=\"Missing.dll\"\n");
  ASSERT_EQ(broker, nullptr);
  EXPECT_EQ(Log("driver-failed").size(), 1u);
  FrontOf(Kind::List);
  device->run_for(100);
  auto samples =
      sim::to_panel(sim::straight_stroke(120, 200, 120, 140, 150, 0, 100), device->now(), 10);
  EXPECT_TRUE(vt::Unchanged(Received(samples), samples));
}

}  // namespace
