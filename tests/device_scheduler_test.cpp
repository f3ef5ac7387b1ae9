// The device CPU and clock, events, thread handles and thread message queues.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <functional>

#include "support/DeviceFixture.h"

namespace {

const uint32_t kNearWrap = 0xFFFFFF00u;  // GetTickCount at boot, 256 ms before the wrap

// Busy for a little while without giving up the host CPU.
void Spin() {
  for (volatile int k = 0; k < 100000; k = k + 1) {
  }
}

std::vector<int64_t> Nums(const std::vector<dev::LogEntry>& entries, const char* key) {
  std::vector<int64_t> out;
  for (const auto& e : entries) out.push_back(e.num(key));
  return out;
}

class DeviceCpu : public vt::DeviceTest {
 protected:
  void BootBare(uint32_t boot_tick = 0) {
    vt::BootOptions o;
    o.install = false;
    o.window_system = false;
    o.boot_tick = boot_tick;
    Boot(o);
  }

  // Starts a device thread in the calling thread's process; the body lives as long as the test.
  HANDLE Spawn(std::function<DWORD()> body, DWORD* id = nullptr) {
    bodies_.push_back(std::make_unique<std::function<DWORD()>>(std::move(body)));
    auto start = [](LPVOID p) -> DWORD { return (*static_cast<std::function<DWORD()>*>(p))(); };
    return CreateThread(nullptr, 0, start, bodies_.back().get(), 0, id);
  }

  // A thread named `name` that waits for `h` and logs "woke" with the result and the time waited.
  void Waiter(HANDLE h, const std::string& name, DWORD timeout = INFINITE) {
    Spawn([=] {
      dev::set_thread_name(name);
      DWORD t0 = GetTickCount();
      DWORD r = WaitForSingleObject(h, timeout);
      dev::log_event("woke", {{"result", r}, {"waited", GetTickCount() - t0}});
      return DWORD{0};
    });
  }

  std::string Woken() const {
    std::string out;
    for (const auto& e : Log("woke")) out += e.thread + " ";
    return out;
  }

 private:
  std::vector<std::unique_ptr<std::function<DWORD()>>> bodies_;
};

TEST_F(DeviceCpu, OneThreadRunsAtATimeAndTheClockMovesOnlyWhenAllWait) {
  BootBare();
  std::atomic<int> inside{0}, most{0}, steps{0};
  std::atomic<bool> clock_moved{false};
  for (int n = 0; n < 3; ++n) {
    Spawn([&, n] {
      for (int i = 0; i < 20; ++i) {
        most = std::max(most.load(), ++inside);
        DWORD t0 = GetTickCount();
        Spin();  // a chance for a rogue thread to run alongside
        clock_moved = clock_moved || GetTickCount() != t0;
        ++steps;
        --inside;
        Sleep(static_cast<DWORD>((i + n) % 3));  // includes Sleep(0)
      }
      return DWORD{0};
    });
  }
  // Sleeps end in deadline order; equal deadlines in the order the threads began to sleep.
  const DWORD sleeps[] = {30, 10, 20, 10};
  for (int i = 0; i < 4; ++i) {
    Spawn([i, ms = sleeps[i]] {
      Sleep(ms);
      dev::log_event("slept", {{"i", i}});
      return DWORD{0};
    });
  }
  for (int k = 0; k < 10; ++k) Spin();
  EXPECT_EQ(steps, 0) << "a device thread ran while the host held the CPU";
  device->settle();
  EXPECT_EQ(device->now(), 0u) << "settling does not move the clock";
  device->run_for(100);
  EXPECT_EQ(steps, 60);
  EXPECT_EQ(most, 1) << "two device threads ran at once";
  EXPECT_FALSE(clock_moved);
  std::string slept;
  for (const auto& e : Log("slept"))
    slept += std::to_string(e.num("i")) + "@" + std::to_string(e.time) + " ";
  EXPECT_EQ(slept, "1@10 3@10 2@20 0@30 ");
}

TEST_F(DeviceCpu, EventsWakeOneOrAllWaitersAndTimeOutOnTime) {
  BootBare();
  HANDLE autoev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Waiter(autoev, "a1");
  Waiter(autoev, "a2");
  for (const char* name : {"m1", "m2", "m3"}) Waiter(manual, name);
  device->settle();
  SetEvent(autoev);
  device->settle();
  EXPECT_EQ(Woken(), "a1 ") << "one signal wakes one waiter";
  EXPECT_EQ(WaitForSingleObject(autoev, 0), WAIT_TIMEOUT) << "the wake reset the event";
  SetEvent(autoev);
  device->settle();
  SetEvent(manual);
  device->settle();
  EXPECT_EQ(Woken(), "a1 a2 m1 m2 m3 ");
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0) << "a manual event stays set";
  ResetEvent(manual);

  // A timeout ends at the right device time; a zero timeout does not move the clock.
  Waiter(manual, "timed", 40);
  uint64_t t0 = device->now();
  EXPECT_EQ(WaitForSingleObject(autoev, 0), WAIT_TIMEOUT);
  EXPECT_EQ(device->now(), t0);
  device->run_for(100);
  EXPECT_EQ(Log("woke").back().num("result"), WAIT_TIMEOUT);
  EXPECT_EQ(Log("woke").back().time, t0 + 40);
  CloseHandle(autoev);
  CloseHandle(manual);
}

DWORD ExitDeep(DWORD code) {
  ExitThread(code);
  return 1;  // never reached
}

TEST_F(DeviceCpu, ThreadHandleIsSignalledAtExitWithItsCode) {
  BootBare();
  HANDLE returns = Spawn([] {
    Sleep(25);
    return DWORD{7};
  });
  HANDLE exits = Spawn([] {
    ExitDeep(9);
    dev::log_event("after-exit");
    return DWORD{1};
  });
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(returns, &code) && code == STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(returns, 10), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(returns, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(device->now(), 25u);
  EXPECT_TRUE(GetExitCodeThread(returns, &code) && code == 7);
  EXPECT_EQ(WaitForSingleObject(exits, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(exits, &code) && code == 9);
  EXPECT_TRUE(Log("after-exit").empty());
  for (HANDLE h : {returns, exits}) CloseHandle(h);
}

// What a thread keeps of its own across a wait: its last error, its rounding mode and the
// exception it is handling, though the one that started handling first finishes first.
TEST_F(DeviceCpu, AWaitKeepsTheThreadsLastErrorAndTheExceptionItHandles) {
  BootBare();
  const int kRounding[] = {FE_TONEAREST, FE_TOWARDZERO, FE_UPWARD};
  for (DWORD n : {1u, 2u}) {
    Spawn([n, kRounding] {
      SetLastError(n);
      std::fesetround(kRounding[n]);
      try {
        throw n;
      } catch (DWORD) {
        Sleep(10 * n);
        DWORD rethrown = 0;
        try {
          throw;
        } catch (DWORD e) {
          rethrown = e;
        }
        bool rounding_kept = std::fegetround() == kRounding[n];
        std::fesetround(FE_TONEAREST);
        dev::log_event(
            "woke",
            {{"error", GetLastError()}, {"exception", rethrown}, {"rounding_kept", rounding_kept}});
      }
      return DWORD{0};
    });
  }
  device->run_for(50);
  ASSERT_EQ(Log("woke").size(), 2u);
  for (DWORD n : {1u, 2u}) {
    EXPECT_EQ(Log("woke")[n - 1].num("error"), n);
    EXPECT_EQ(Log("woke")[n - 1].num("exception"), n);
    EXPECT_EQ(Log("woke")[n - 1].str("rounding_kept"), "true");
  }
  EXPECT_EQ(std::fegetround(), FE_TONEAREST);  // the host thread's mode is its own too
}

TEST_F(DeviceCpu, TickCountWrapsAndTimingGoesOn) {
  BootBare(kNearWrap);
  EXPECT_EQ(GetTickCount(), kNearWrap);
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD tid = 0;
  Spawn(
      [=] {
        for (int i = 0; i < 4; ++i) {
          DWORD last = GetTickCount();
          i % 2 ? Sleep(100) : void(WaitForSingleObject(never, 100));  // times out
          DWORD now = GetTickCount();
          dev::log_event("step", {{"now", now}, {"elapsed", now - last}});
        }
        MSG m;
        GetMessageW(&m, nullptr, 0, 0);
        dev::log_event("msg", {{"time", m.time}});
        return DWORD{0};
      },
      &tid);
  device->run_for(450);
  PostThreadMessageW(tid, WM_USER, 0, 0);
  device->settle();
  EXPECT_EQ(Nums(Log("step"), "elapsed"), (std::vector<int64_t>{100, 100, 100, 100}));
  EXPECT_EQ(Nums(Log("step"), "now"), (std::vector<int64_t>{0xFFFFFF64, 0xFFFFFFC8, 0x2C, 0x90}));
  EXPECT_EQ(Nums(Log("msg"), "time"), std::vector<int64_t>{450 - 256});
  EXPECT_EQ(device->tick(), 450u - 256u);
  CloseHandle(never);
}

TEST_F(DeviceCpu, NamedEventsAndClosedHandles) {
  BootBare();
  HANDLE a = CreateEventW(nullptr, FALSE, FALSE, u"QuobReady");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  HANDLE b = CreateEventW(nullptr, TRUE, TRUE, u"QuobReady");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b) << "a new handle";
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_TIMEOUT) << "the first creation's state holds";
  EXPECT_TRUE(SetEventData(a, 0x1234));
  EXPECT_EQ(GetEventData(b), 0x1234u);
  EXPECT_TRUE(SetEvent(b));
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_TIMEOUT) << "auto-reset, one object";
  EXPECT_EQ(Log("event-data", "event", "QuobReady").size(), 1u);
  EXPECT_TRUE(CloseHandle(a));
  EXPECT_EQ(GetEventData(b), 0x1234u) << "the object lives while a handle does";
  EXPECT_TRUE(CloseHandle(b));
  HANDLE c = CreateEventW(nullptr, FALSE, FALSE, u"QuobReady");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS)) << "the last close ended the event";

  // Closed handles and a handle of the wrong kind fail, are logged and leak nothing.
  size_t handles = device->open_handles();
  ClearLog();
  EXPECT_FALSE(CloseHandle(a));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(SetEvent(a));
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_FAILED);
  EXPECT_FALSE(SetEventData(b, 1));
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeThread(c, &code));
  std::string calls;
  for (const auto& e : Log("bad-handle")) calls += e.str("call") + " ";
  EXPECT_EQ(calls, "CloseHandle SetEvent WaitForSingleObject SetEventData GetExitCodeThread ");
  EXPECT_EQ(Log("bad-handle")[0].str("handle"), dev::hex(reinterpret_cast<uintptr_t>(a)));
  EXPECT_EQ(device->open_handles(), handles);
  CloseHandle(c);
}

// A filter skips what it does not want and leaves it queued; then queue order; WM_QUIT ends it.
TEST_F(DeviceCpu, ThreadMessageQueues) {
  BootBare();
  DWORD tid = 0;
  HANDLE h = Spawn(
      [] {
        MSG m;
        GetMessageW(&m, nullptr, WM_USER + 5, WM_USER + 9);
        dev::log_event("got", {{"w", m.wParam}});
        EXPECT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE) && m.message == WM_USER + 1);
        EXPECT_TRUE(PeekMessageW(&m, nullptr, WM_USER + 2, WM_USER + 2, PM_REMOVE));
        EXPECT_FALSE(PeekMessageW(&m, nullptr, WM_USER + 2, WM_USER + 2, PM_REMOVE));
        while (GetMessageW(&m, nullptr, 0, 0)) dev::log_event("got", {{"w", m.wParam}});
        return static_cast<DWORD>(m.wParam);
      },
      &tid);
  device->settle();
  for (UINT n : {1, 2, 3, 6, 4}) EXPECT_TRUE(PostThreadMessageW(tid, WM_USER + n, n * 10, 0));
  EXPECT_TRUE(PostThreadMessageW(tid, WM_QUIT, 3, 0));
  EXPECT_TRUE(PostThreadMessageW(tid, WM_USER + 7, 70, 0));
  device->settle();
  EXPECT_EQ(Nums(Log("got"), "w"), (std::vector<int64_t>{60, 10, 30, 40}));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(h, &code) && code == 3) << "the quit code";
  CloseHandle(h);
  for (DWORD id : {tid, DWORD{0x7777}}) {
    EXPECT_FALSE(PostThreadMessageW(id, WM_USER, 0, 0)) << "no such thread, or it has ended";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
  }
}

// A queue long in use: filtered takes from the middle, peeks that leave messages, and posts enough
// to outgrow the queue while its oldest message is not at the start of its room. The order of what
// stays is the order of posting throughout.
TEST_F(DeviceCpu, ThreadMessageQueueKeepsOrderThroughFilteredTakesAndGrowth) {
  BootBare();
  static const UINT kGo = WM_USER + 100;
  DWORD tid = 0;
  std::vector<int64_t> expected;  // what the thread should take, in order
  HANDLE h = Spawn(
      [] {
        MSG m;
        for (int round = 0; round < 3; ++round) {
          GetMessageW(&m, nullptr, kGo, kGo);  // the last one posted: the round may start
          // Each WM_USER + 3, from anywhere in the queue, then a peek that leaves the front.
          while (PeekMessageW(&m, nullptr, WM_USER + 3, WM_USER + 3, PM_REMOVE))
            dev::log_event("got", {{"w", m.wParam}});
          if (PeekMessageW(&m, nullptr, WM_USER, WM_USER + 2, PM_NOREMOVE))
            dev::log_event("peeked", {{"w", m.wParam}});
          GetMessageW(&m, nullptr, WM_USER + 2, WM_USER + 2);  // one from the middle
          dev::log_event("got", {{"w", m.wParam}});
          GetMessageW(&m, nullptr, 0, 0);
          dev::log_event("got", {{"w", m.wParam}});
        }
        while (GetMessageW(&m, nullptr, 0, 0)) dev::log_event("got", {{"w", m.wParam}});
        return DWORD{0};
      },
      &tid);
  device->settle();
  std::vector<int64_t> queued;
  auto post = [&](int count) {
    for (int i = 0; i < count; ++i) {
      int64_t w = static_cast<int64_t>(queued.size() + expected.size()) + 1000;
      ASSERT_TRUE(PostThreadMessageW(tid, WM_USER + static_cast<UINT>(w % 4), w, 0));
      queued.push_back(w);
    }
  };
  auto take = [&](auto pick) {
    auto it = std::find_if(queued.begin(), queued.end(), pick);
    if (it == queued.end()) return false;
    expected.push_back(*it);
    queued.erase(it);
    return true;
  };
  std::vector<int64_t> peeked;
  // A round as the thread plays it, on the model: a vector in posting order.
  auto round = [&] {
    while (take([](int64_t w) { return w % 4 == 3; })) {
    }
    auto front = std::find_if(queued.begin(), queued.end(), [](int64_t w) { return w % 4 != 3; });
    if (front != queued.end()) peeked.push_back(*front);
    take([](int64_t w) { return w % 4 == 2; });
    take([](int64_t) { return true; });
  };
  for (int count : {13, 21, 70}) {  // within the first room, wrapping round it, then outgrowing it
    post(count);
    ASSERT_TRUE(PostThreadMessageW(tid, kGo, 0, 0));
    device->settle();
    round();
  }
  post(5);
  ASSERT_TRUE(PostThreadMessageW(tid, WM_QUIT, 0, 0));
  device->settle();
  expected.insert(expected.end(), queued.begin(), queued.end());
  EXPECT_EQ(Nums(Log("got"), "w"), expected);
  EXPECT_EQ(Nums(Log("peeked"), "w"), peeked);
  CloseHandle(h);
}

}  // namespace
