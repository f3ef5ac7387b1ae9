// The ticking of momentum scrolling on a booted device: the broker's sound thread plays a tick per
// step with pauses that grow by 20 ms up to 300 ms, the fading sound once after the first fade
// request, nothing when the content's end stops the scroll or the sound is off, and scrolling goes
// on when the sounds cannot be played.
#include <string.h>

#include <string>
#include <vector>

#include "device/apps.hpp"
#include "gesture/Gestures.h"
#include "gesture/Sound.h"
#include "support/DeviceFixture.h"

namespace {

using dev::apps::Kind;

const uint64_t kTickMs = 101;  // 4460 frames at 44100 Hz
const uint64_t kFadeMs = 300;
const int kAnyCount = -1000;
const DWORD kTickLength = 17896, kFadeLength = 52988;

uint64_t Pause(size_t step) {
  return std::min<uint64_t>(20 * step, 300);
}

class SoundTest : public vt::DeviceTest {
 protected:
  // Gestures and the engines' Verbose zone on, the sound as asked; `broker` stands in for the
  // broker's library.
  void Start(int sound, const char* broker = "Quenza.dll") {
    vt::BootOptions options;
    options.reg = std::string(vt::kGesturesOn) + "\"Sound\"=dword:" + std::to_string(sound) +
                  "\n[HKEY_LOCAL_MACHINE\\DebugZones]\n\"QUOBUpdater\"=dword:0000C004\n";
    for (auto& file : options.files)
      if (file.first == "Quenza.dll") file.second = broker;
    Boot(options);
  }

  // A list of `lines` in front, flicked 60 pixels upwards, then `ms` of momentum.
  HWND Flick(int lines, uint32_t ms = 8000) {
    HWND list = Front(Kind::List, 0, 26, 240, 268, lines, 12);
    device->run_for(100);
    Stroke(120, 200, 120, 140, 150);
    device->run_for(ms);
    return list;
  }

  // Time of the broker's first tick at a momentum count, or at any (0 if none).
  uint64_t TickAt(int momentum) const {
    for (const auto& t : GestureTicks())
      if (t.momentum == momentum || momentum == kAnyCount) return t.time;
    return 0;
  }

  std::vector<dev::LogEntry> Sounds(DWORD length) const {
    std::vector<dev::LogEntry> out;
    for (const auto& e : Log("sound"))
      if (e.num("length") == length) out.push_back(e);
    return out;
  }
};

TEST_F(SoundTest, AFlickTicksSlowerAndSlowerAndFadesOnceAfterTheFirstFadeRequest) {
  Start(1);
  Flick(400);
  auto ticks = Sounds(kTickLength), fades = Sounds(kFadeLength);
  ASSERT_GT(ticks.size(), 5u);
  EXPECT_EQ(Log("sound").size(), ticks.size() + fades.size());
  EXPECT_EQ(ticks.front().time, TickAt(kAnyCount)) << "ticking starts at the first step";
  for (size_t i = 1; i < ticks.size(); ++i) {
    EXPECT_EQ(ticks[i].time - ticks[i - 1].time, kTickMs + Pause(i)) << "after tick " << i;
  }
  ASSERT_EQ(fades.size(), 1u) << "the fading sound once";
  EXPECT_EQ(fades[0].num("ms"), static_cast<int64_t>(kFadeMs));
  uint64_t fadeRequest = TickAt(10);
  ASSERT_NE(fadeRequest, 0u);
  uint64_t lastPauseEnd = ticks.back().time + kTickMs + Pause(ticks.size());
  EXPECT_LE(ticks.back().time, fadeRequest) << "no tick after the fade request";
  EXPECT_GE(lastPauseEnd, fadeRequest) << "the ticking ends with the pause it was in";
  EXPECT_EQ(fades[0].time, lastPauseEnd) << "then the fading sound";
}

// Near the end of the list the momentum stops at the second unchanged reading, long before it
// runs out: no tick after the stop, and no fading sound.
TEST_F(SoundTest, TheEndOfTheContentStopsTheScrollAndTheTicksWithoutTheFadingSound) {
  Start(1);
  HWND list = Flick(16);  // 12 lines on screen: four lines to go
  EXPECT_EQ(dev::apps::scroll_pos(*device, list), 4);
  // Lines are posted, so each reading lags a line behind: four lines, one more whose reading
  // still shows the last move, then two unchanged readings.
  EXPECT_EQ(Log("post", "msg", "WM_VSCROLL").size(), 7u);
  ASSERT_NE(TickAt(kAnyCount), 0u);
  EXPECT_EQ(TickAt(20), 0u) << "ended early, not by running out";
  auto states = Log("event-data", "event", "InGestureScrolling");
  ASSERT_EQ(states.size(), 2u);
  EXPECT_TRUE(states[0].num("data") == 2 && states[1].num("data") == 1);
  ASSERT_FALSE(Sounds(kTickLength).empty());
  EXPECT_LE(Sounds(kTickLength).back().time, states[1].time) << "no tick after the stop";
  EXPECT_TRUE(Sounds(kFadeLength).empty());
}

TEST_F(SoundTest, SoundsThatCannotBePlayedAreRefusedAndScrollingGoesOn) {
  Start(1, "quenzafaulty.dll");
  HWND list = Flick(400);
  auto sounds = Log("sound");
  ASSERT_GT(sounds.size(), 5u);
  for (const auto& s : sounds) EXPECT_EQ(s.str("played"), "false");
  EXPECT_EQ(sounds.front().str("reason"), "truncated");
  EXPECT_EQ(sounds.back().str("reason"), "not PCM") << "the fading sound is asked for all the same";
  // A refused tick takes no time: only the pauses are left.
  EXPECT_EQ(sounds[2].time - sounds[1].time, Pause(2));
  EXPECT_NE(TickAt(0), 0u) << "the momentum runs out";
  EXPECT_GT(dev::apps::scroll_pos(*device, list), 10);
}

// The sound thread ends only when its wait fails. It forgets its handles as it closes them, so no
// request touches a closed handle and the next start makes a new thread. A failed start keeps the
// wake event and the start request made on it, so the thread of the next start ticks at once.
TEST_F(SoundTest, TheSoundThreadStartsAfreshAfterItEndedOrFailedToStart) {
  BootForEngine();
  Gestures engine;
  engine.Sound = 1;
  size_t before = device->open_handles();

  // Without its wake event a thread would end at once: none starts, and the next start tries the
  // event again.
  device->fail_call("CreateEventW", 1, ERROR_NOT_ENOUGH_MEMORY, "VexoriSnd");
  ClearLog();
  StartSoundThread();
  EXPECT_FALSE(SoundThreadStarted());
  EXPECT_TRUE(Log("thread-start").empty());
  StartSoundThread();
  ASSERT_TRUE(SoundThreadStarted());
  CloseHandle(Snd.sndWakeEvent);  // before the thread first waits: its wait fails
  device->settle();
  EXPECT_FALSE(SoundThreadStarted());
  EXPECT_EQ(Snd.sndWakeEvent, nullptr);
  EXPECT_EQ(device->open_handles(), before) << "both handles closed";

  device->fail_call("CreateThread", 1, ERROR_NOT_ENOUGH_MEMORY);
  StartSoundThread();
  EXPECT_FALSE(SoundThreadStarted());
  SoundStartRequest(engine);
  StartSoundThread();
  ASSERT_TRUE(SoundThreadStarted());
  device->run_for(500);
  EXPECT_GT(Snd.tickStep, 1) << "the new thread ticks (silently: this engine has no sounds)";
  EXPECT_TRUE(Log("bad-handle", "call", "SetEvent").empty());
  SoundStopRequest(engine);
  device->run_for(1000);
}

// Switching the sound off mid-momentum ends the ticking within a tick and a pause, with no
// fading sound; switched on again, the next flick ticks.
TEST_F(SoundTest, SwitchingTheSoundOffStopsTheTicksAtOnce) {
  Start(1);
  Flick(400, 600);
  ASSERT_FALSE(Sounds(kTickLength).empty());
  uint64_t off = device->now();
  device->reg_set_dword(vt::kGestureKey, "Sound", 0);
  device->run_for(8000);
  EXPECT_LE(Sounds(kTickLength).back().time, off + kTickMs + 300) << "switched off at " << off;
  EXPECT_TRUE(Sounds(kFadeLength).empty());

  device->reg_set_dword(vt::kGestureKey, "Sound", 1);
  size_t ticks = Sounds(kTickLength).size();
  Flick(400, 1000);
  EXPECT_GT(Sounds(kTickLength).size(), ticks);
}

}  // namespace
