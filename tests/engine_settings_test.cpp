// The engine object: its settings as the registry gives them and as they follow changes, the reset
// between gestures, copying and destruction, and the engines of the two libraries in one process.
#include <map>
#include <string>
#include <vector>

#include "gesture/Gestures.h"
#include "gesture/Sound.h"
#include "support/DeviceFixture.h"

namespace {

enum class Kind { Number, Switch, Bound };

// The fifteen settings in the order of the settings table, with their defaults.
struct Setting {
  const char* name;
  int Gestures::*member;
  int fallback;
  Kind kind;
};

const Setting kSettings[] = {
    {"PGRIDSIZE", &Gestures::PGRIDSIZE, 10, Kind::Number},
    {"GRIDSIZE", &Gestures::GRIDSIZE, 13, Kind::Number},
    {"NOISESIZE", &Gestures::NOISESIZE, 8, Kind::Number},
    {"Sound", &Gestures::Sound, 0, Kind::Switch},
    {"Bound1", &Gestures::Bound1, 2414, Kind::Bound},
    {"Bound2", &Gestures::Bound2, 414, Kind::Bound},
    {"FilterValue", &Gestures::FilterValue, 40, Kind::Number},
    {"FilterDistance", &Gestures::FilterDistance, 60, Kind::Number},
    {"Amp", &Gestures::Amp, 2, Kind::Number},
    {"PanTime", &Gestures::PanTime, 500, Kind::Number},
    {"LenThres", &Gestures::LenThres, 10, Kind::Number},
    {"IgnoreCount", &Gestures::IgnoreCount, 10, Kind::Number},
    {"LastUpCount", &Gestures::LastUpCount, 300, Kind::Number},
    {"Rotation", &Gestures::Rotation, 0, Kind::Switch},
    {"ScrollLimit", &Gestures::ScrollLimit, 900, Kind::Number},
};

typedef std::map<std::string, uint32_t> Stored;

// Every setting holds its stored value (a switch 0 or 1, a bound of 0 its default) or its default.
void ExpectSettings(const Gestures& g, const Stored& stored, const std::string& after) {
  for (const Setting& s : kSettings) {
    auto it = stored.find(s.name);
    int want = s.fallback;
    if (it != stored.end() && s.kind == Kind::Switch) want = it->second != 0;
    if (it != stored.end() && s.kind != Kind::Switch && (it->second != 0 || s.kind != Kind::Bound))
      want = static_cast<int>(it->second);
    EXPECT_EQ(g.*s.member, want) << s.name << " after " << after;
  }
}

class EngineTest : public vt::DeviceTest {
 protected:
  // A device without the window system or the system's registry entries; the values are
  // written before any engine watches them.
  void BootEmpty(const Stored& values = {}) {
    vt::BootOptions options;
    options.window_system = false;
    BootForEngine(options);
    for (const auto& [name, data] : values) device->reg_set_dword(vt::kGestureKey, name, data);
  }

  void Set(const char* value, uint32_t data) {
    device->reg_set_dword(vt::kGestureKey, value, data);
    device->run_for(50);
  }
};

// The settings are read at construction, each stored value else its default; a change of any one
// watched value reloads all fifteen, each taken as it comes.
TEST_F(EngineTest, ReadsEachStoredValueElseItsDefaultAndReloadsAllOnAnyChange) {
  BootEmpty();
  {
    Gestures g;
    EXPECT_EQ(CurrentGestures, &g);
    ExpectSettings(g, {}, "a load without the key");
  }
  Stored stored;
  uint32_t data = 31;
  for (const Setting& s : kSettings) stored[s.name] = data++;
  stored["Sound"] = 7, stored["Rotation"] = 0x80000000u, stored["Bound1"] = 1, stored["Bound2"] = 0;
  BootEmpty(stored);
  Gestures g;
  ExpectSettings(g, stored, "construction");
  const uint32_t kOdd[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0u, 1u, 7u, 0x80000000u};
  for (size_t round = 0; round < std::size(kOdd); ++round) {
    for (size_t i = 0; i < std::size(kSettings); ++i) {
      const Setting& s = kSettings[i];
      for (const Setting& t : kSettings) g.*t.member = -12345;
      stored[s.name] = kOdd[(i + round) % std::size(kOdd)];
      ClearLog();
      Set(s.name, stored[s.name]);
      EXPECT_EQ(Log("reg-notify").size(), 1u) << s.name << " is watched once";
      ExpectSettings(g, stored, std::string("a change of ") + s.name);
    }
  }
  // Values that are not watched reload nothing.
  for (const Setting& s : kSettings) g.*s.member = -12345;
  Set("Activate", 1);
  Set("LongPressTime", 900);
  for (const Setting& s : kSettings) EXPECT_EQ(g.*s.member, -12345) << s.name;
}

TEST_F(EngineTest, ResetDataFreesTheCodesAndKeepsTheRest) {
  BootEmpty();
  Gestures g;
  g.CodeSlots[0] = {u'D', 120}, g.CodeSlots[9] = {u'R', 40}, g.CodeCount = 2;
  g.GestureString[0] = u'D', g.GestureString[9] = u'R';
  g.Panning = g.GestureReady = true, g.UpTick = 1200, g.Amp = 6;
  ClearLog();
  EXPECT_TRUE(g.ResetData());
  for (int i = 0; i < kCodeSlots; ++i) {
    EXPECT_TRUE(g.CodeSlots[i].code == kFreeCode && g.CodeSlots[i].length == 0) << i;
    EXPECT_EQ(g.GestureString[i], 0) << i;
  }
  EXPECT_EQ(g.CodeCount, 0);
  EXPECT_TRUE(g.Panning && g.GestureReady && g.UpTick == 1200 && g.Amp == 6) << "the rest is kept";
  // Not scrolling: the event is neither opened nor touched; no broker, no timer to kill.
  EXPECT_EQ(g.ScrollStateEvent, nullptr);
  EXPECT_TRUE(Log("event-data").empty());
  EXPECT_TRUE(Log("bad-handle", "call", "KillTimer").empty());

  // With a broker, timer 5 is killed on it (the device has no windows: it logs the handle).
  g.SetMsgBroker(reinterpret_cast<HWND>(0x5670));
  g.ResetData();
  auto kills = Log("bad-handle", "call", "KillTimer");
  ASSERT_EQ(kills.size(), 1u);
  EXPECT_EQ(kills[0].str("handle"), "0x5670");

  // The sound stop request: whenever not panning, and with the sound off no fading sound follows.
  for (int sound : {0, 1}) {
    for (bool panning : {false, true}) {
      Snd.sndActive = true, Snd.sndStop = false, Snd.noAttenuate = false;
      g.Sound = sound, g.Panning = panning;
      g.ResetData();
      EXPECT_TRUE(Snd.sndStop == !panning && Snd.sndActive == panning) << sound << panning;
      EXPECT_EQ(Snd.noAttenuate, sound == 0 && !panning) << sound << panning;
    }
  }
  Snd.sndActive = Snd.sndStop = false, Snd.noAttenuate = true;
}

// The scrolling state ends once; a copy carries the record and shares the event handle.
TEST_F(EngineTest, ResetDataEndsTheScrollingStateOnceAndCopiesShareTheEvent) {
  BootEmpty();
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, u"InGestureScrolling");
  ASSERT_NE(event, nullptr);
  SetEventData(event, 2);
  Gestures a;
  a.GestureScrolling = TRUE;
  ClearLog();
  a.ResetData();
  EXPECT_FALSE(a.GestureScrolling);
  EXPECT_EQ(GetEventData(event), 1u);
  auto changes = Log("event-data", "event", "InGestureScrolling");
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].num("data"), 1);
  SetEventData(event, 2);
  ClearLog();
  a.ResetData();
  EXPECT_EQ(GetEventData(event), 2u) << "a second reset must leave the event alone";
  EXPECT_TRUE(Log("event-data").empty());

  ASSERT_NE(a.ScrollStateEvent, nullptr);
  a.GestureScrolling = TRUE;
  Gestures b;
  b = a;
  EXPECT_EQ(CurrentGestures, &b) << "copying does not make an engine current";
  EXPECT_EQ(b.ScrollStateEvent, a.ScrollStateEvent) << "the handle is shared, not duplicated";
  b.ResetData();
  EXPECT_EQ(GetEventData(event), 1u);
  CloseHandle(event);
}

TEST_F(EngineTest, DestroyingTheEngineClosesItsWatchAndLetsGoOfIt) {
  BootEmpty();
  size_t before = device->open_handles();
  auto* g = new Gestures;
  EXPECT_EQ(device->open_handles(), before + std::size(kSettings));
  delete g;
  EXPECT_EQ(device->open_handles(), before);
  EXPECT_EQ(CurrentGestures, nullptr);
  Set("GRIDSIZE", 50);
  EXPECT_TRUE(Log("reg-notify").empty());
  EXPECT_TRUE(Log("bad-handle").empty());

  auto* older = new Gestures;
  auto* newer = new Gestures;
  delete older;
  EXPECT_EQ(CurrentGestures, newer) << "the newest engine stays current";
  delete newer;
  EXPECT_EQ(CurrentGestures, nullptr);
}

// Calls one of a library's exported member functions on raw storage for an engine.
void CallMember(HMODULE module, const WCHAR* mangled, void* object) {
  FARPROC address = GetProcAddressW(module, mangled);
  ASSERT_NE(address, nullptr);
  reinterpret_cast<void (*)(void*)>(reinterpret_cast<void (*)()>(address))(object);
}

TEST_F(EngineTest, EachLibraryKeepsItsOwnEngineInOneProcess) {
  BootEmpty({{"GRIDSIZE", 20}});
  HMODULE proxy = LoadLibraryW(u"Pallux.dll");
  HMODULE broker = LoadLibraryW(u"Quenza.dll");
  ASSERT_TRUE(proxy != nullptr && broker != nullptr);
  for (const WCHAR* name : {u"_ZN8GesturesC1Ev", u"_ZN8GesturesD1Ev", u"_ZN8Gestures9ResetDataEv",
                            u"_ZN8GesturesaSERKS_"}) {
    EXPECT_NE(GetProcAddressW(proxy, name), GetProcAddressW(broker, name)) << dev::to_utf8(name);
  }

  // One engine built by each library; each library's loader writes into its own.
  alignas(Gestures) unsigned char proxyStorage[sizeof(Gestures)];
  alignas(Gestures) unsigned char brokerStorage[sizeof(Gestures)];
  CallMember(proxy, u"_ZN8GesturesC1Ev", proxyStorage);
  CallMember(broker, u"_ZN8GesturesC1Ev", brokerStorage);
  const Gestures& p = *reinterpret_cast<Gestures*>(proxyStorage);
  const Gestures& q = *reinterpret_cast<Gestures*>(brokerStorage);
  EXPECT_EQ(CurrentGestures, nullptr) << "a library bound to the test program's engine pointer";
  EXPECT_TRUE(p.GRIDSIZE == 20 && q.GRIDSIZE == 20);
  Set("GRIDSIZE", 33);
  EXPECT_EQ(p.GRIDSIZE, 33) << "the proxy library's engine missed the change";
  EXPECT_EQ(q.GRIDSIZE, 33) << "the broker library's engine missed the change";

  // The proxy library's destructor closes only that library's registrations.
  CallMember(proxy, u"_ZN8GesturesD1Ev", proxyStorage);
  Set("GRIDSIZE", 44);
  EXPECT_EQ(q.GRIDSIZE, 44);
  CallMember(broker, u"_ZN8GesturesD1Ev", brokerStorage);
  EXPECT_TRUE(Log("bad-handle").empty());
}

}  // namespace
