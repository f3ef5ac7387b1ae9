// The engine object: its settings as the registry gives them and as they follow registry
// changes, the reset between gestures, copying and destruction, and the engines of the two
// libraries side by side in one process.
#include <map>
#include <string>
#include <vector>

#include "gesture/Gestures.h"
#include "gesture/Sound.h"
#include "support/DeviceFixture.h"

namespace {

const char kGestureKey[] = "HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture";
const WCHAR kScrollEvent[] = u"InGestureScrolling";

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

// What a setting holds after a load that read `data`.
int Loaded(const Setting& s, uint32_t data) {
  if (s.kind == Kind::Switch) return data != 0 ? 1 : 0;
  if (s.kind == Kind::Bound && data == 0) return s.fallback;
  return static_cast<int>(data);
}

class EngineTest : public vt::DeviceTest {
 protected:
  // A device with neither the window system nor the gesture system's registry entries; the
  // values are written before any engine watches them.
  void BootEmpty(const std::map<std::string, uint32_t>& values = {}) {
    vt::BootOptions options;
    options.install = false;
    options.window_system = false;
    Boot(options);
    for (const auto& [name, data] : values) device->reg_set_dword(kGestureKey, name, data);
    CurrentGestures = nullptr;
  }

  // Writes a value and lets the notification thread deliver the change.
  void Set(const char* value, uint32_t data) {
    device->reg_set_dword(kGestureKey, value, data);
    device->run_for(50);
  }

  static void Scribble(Gestures& g) {
    for (const Setting& s : kSettings) g.*s.member = -12345;
  }

  static void ExpectSettings(const Gestures& g, const std::map<std::string, uint32_t>& stored,
                             const std::string& after) {
    for (const Setting& s : kSettings) {
      auto it = stored.find(s.name);
      int want = it == stored.end() ? s.fallback : Loaded(s, it->second);
      EXPECT_EQ(g.*s.member, want) << s.name << " after " << after;
    }
  }
};

TEST_F(EngineTest, ReadsEachStoredValueElseItsDefault) {
  BootEmpty();
  {
    Gestures g;
    EXPECT_EQ(CurrentGestures, &g);
    ExpectSettings(g, {}, "a load without the key");
  }

  std::map<std::string, uint32_t> stored;
  uint32_t data = 21;
  for (const Setting& s : kSettings) stored[s.name] = data++;
  stored["Sound"] = 7;
  stored["Rotation"] = 0x80000000u;
  stored["Bound1"] = 1;
  stored["Bound2"] = 0;
  BootEmpty(stored);
  Gestures g;
  ExpectSettings(g, stored, "construction");
}

TEST_F(EngineTest, AChangeOfAnyWatchedValueReloadsAllFifteen) {
  std::map<std::string, uint32_t> stored;
  uint32_t data = 31;
  for (const Setting& s : kSettings) stored[s.name] = data++;
  BootEmpty(stored);
  Gestures g;
  for (const Setting& s : kSettings) {
    Scribble(g);
    stored[s.name] += 100;
    ClearLog();
    Set(s.name, stored[s.name]);
    EXPECT_EQ(Log("reg-notify").size(), 1u) << s.name << " is watched once";
    ExpectSettings(g, stored, std::string("a change of ") + s.name);
  }

  // Values that are not watched reload nothing.
  Scribble(g);
  Set("Activate", 1);
  Set("LongPressTime", 900);
  for (const Setting& s : kSettings) EXPECT_EQ(g.*s.member, -12345) << s.name;
}

TEST_F(EngineTest, TakesEveryDwordAsItComes) {
  BootEmpty();
  Gestures g;
  for (uint32_t data : {0xFFFFFFFFu, 0x7FFFFFFFu, 0u, 1u, 7u, 0x80000000u}) {
    std::map<std::string, uint32_t> stored;
    for (const Setting& s : kSettings) {
      stored[s.name] = data;
      Set(s.name, data);
    }
    ExpectSettings(g, stored, "every value set to " + dev::hex(data));
  }
}

TEST_F(EngineTest, ResetDataFreesTheCodesAndKeepsTheRest) {
  BootEmpty();
  Gestures g;
  g.CodeSlots[0] = {u'D', 120}, g.CodeSlots[1] = {u'R', 40}, g.CodeCount = 2;
  g.GestureString[0] = u'D', g.GestureString[1] = u'R';
  g.Panning = g.CodeAdded = g.GestureReady = true;
  g.DownX = 5, g.CurY = 7, g.DownTick = 1000, g.UpTick = 1200, g.TravelSum = 88, g.Amp = 6;
  ClearLog();

  EXPECT_TRUE(g.ResetData());
  for (const cGesture& slot : g.CodeSlots) EXPECT_TRUE(slot.code == kFreeCode && slot.length == 0);
  EXPECT_EQ(g.CodeCount, 0);
  for (WCHAR c : g.GestureString) EXPECT_EQ(c, 0);
  EXPECT_TRUE(g.Panning && g.CodeAdded && g.GestureReady);
  EXPECT_TRUE(g.DownX == 5 && g.CurY == 7 && g.DownTick == 1000 && g.UpTick == 1200);
  EXPECT_TRUE(g.TravelSum == 88 && g.Amp == 6);
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

  // The sound stop request: only with the sound on and not panning.
  for (int sound : {0, 1}) {
    for (bool panning : {false, true}) {
      Snd.sndActive = true, Snd.sndStop = false, g.Sound = sound, g.Panning = panning;
      g.ResetData();
      bool stop = sound != 0 && !panning;
      EXPECT_TRUE(Snd.sndStop == stop && Snd.sndActive == !stop) << sound << panning;
    }
  }
  Snd.sndActive = Snd.sndStop = false;
}

TEST_F(EngineTest, ResetDataEndsTheScrollingStateOnce) {
  BootEmpty();
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, kScrollEvent);
  ASSERT_NE(event, nullptr);
  SetEventData(event, 2);
  Gestures g;
  g.GestureScrolling = TRUE;
  ClearLog();
  g.ResetData();
  EXPECT_FALSE(g.GestureScrolling);
  EXPECT_EQ(GetEventData(event), 1u);
  auto changes = Log("event-data", "event", "InGestureScrolling");
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].num("data"), 1);

  SetEventData(event, 2);
  ClearLog();
  g.ResetData();
  EXPECT_EQ(GetEventData(event), 2u) << "a second reset must leave the event alone";
  EXPECT_TRUE(Log("event-data").empty());
  CloseHandle(event);
}

TEST_F(EngineTest, AssignmentCopiesTheRecordAndSharesTheEvent) {
  BootEmpty();
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, kScrollEvent);
  Gestures a;
  a.GestureScrolling = TRUE;
  a.ResetData();  // opens the event
  ASSERT_NE(a.ScrollStateEvent, nullptr);
  a.GestureScrolling = TRUE;
  a.CodeSlots[0] = {u'U', 300}, a.CodeSlots[1] = {u'C', 45}, a.CodeCount = 2;
  a.TargetWnd = reinterpret_cast<HWND>(0x4242), a.Amp = 9, a.TargetClass[0] = u'P';

  Gestures b;
  EXPECT_EQ(&(b = a), &b);
  EXPECT_EQ(CurrentGestures, &b) << "copying does not make an engine current";
  EXPECT_TRUE(b.GestureScrolling);
  EXPECT_EQ(b.CodeCount, 2);
  for (int i = 0; i < kCodeSlots; ++i) {
    EXPECT_TRUE(b.CodeSlots[i].code == a.CodeSlots[i].code &&
                b.CodeSlots[i].length == a.CodeSlots[i].length)
        << "slot " << i;
  }
  EXPECT_TRUE(b.TargetWnd == a.TargetWnd && b.Amp == 9 && b.TargetClass[0] == u'P');
  EXPECT_EQ(b.ScrollStateEvent, a.ScrollStateEvent) << "the handle is shared, not duplicated";

  SetEventData(event, 2);
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
  Set("Amp", 3);
  EXPECT_TRUE(Log("reg-notify").empty());
  EXPECT_TRUE(Log("bad-handle").empty());

  // Destroying an engine that is no longer the newest leaves the newest current.
  auto* older = new Gestures;
  auto* newer = new Gestures;
  delete older;
  EXPECT_EQ(CurrentGestures, newer);
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
  ASSERT_NE(proxy, nullptr);
  ASSERT_NE(broker, nullptr);
  EXPECT_EQ(CurrentGestures, nullptr) << "a library bound to the test program's engine pointer";

  for (const WCHAR* name : {u"_ZN8GesturesC1Ev", u"_ZN8GesturesD1Ev", u"_ZN8Gestures9ResetDataEv",
                            u"_ZN8GesturesaSERKS_"}) {
    FARPROC inProxy = GetProcAddressW(proxy, name);
    FARPROC inBroker = GetProcAddressW(broker, name);
    EXPECT_NE(inProxy, nullptr) << dev::to_utf8(name);
    EXPECT_NE(inProxy, inBroker) << dev::to_utf8(name) << " is shared by the two libraries";
  }

  // One engine built by each library's constructor: each library's loader writes into its own.
  alignas(Gestures) unsigned char proxyStorage[sizeof(Gestures)];
  alignas(Gestures) unsigned char brokerStorage[sizeof(Gestures)];
  CallMember(proxy, u"_ZN8GesturesC1Ev", proxyStorage);
  CallMember(broker, u"_ZN8GesturesC1Ev", brokerStorage);
  const Gestures& p = *reinterpret_cast<Gestures*>(proxyStorage);
  const Gestures& q = *reinterpret_cast<Gestures*>(brokerStorage);
  EXPECT_EQ(CurrentGestures, nullptr);
  EXPECT_EQ(p.GRIDSIZE, 20);
  EXPECT_EQ(q.GRIDSIZE, 20);

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
