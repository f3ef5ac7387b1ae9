// The two hand-over means on the device: the phone's, by the engine's address, and desktop's, by
// a copy in a named section (the libraries built with it). Both carry the same gestures to the
// broker; where processes have address spaces of their own, only the section's does.
#include <string>
#include <vector>

#include "device/apps.hpp"
#include "support/DeviceFixture.h"
#include "support/PageFault.h"

namespace {

using dev::apps::Kind;

const std::string kGesturesOn =
    std::string(vt::kGesturesOn) +
    "[HKEY_LOCAL_MACHINE\\DebugZones]\n\"QUOBUpdater\"=dword:0000C004\n";
const UINT kHandOver = WM_USER + 250;

struct Means {
  const char* what;
  bool section;
  bool desktopSpaces;
};

class HandOverMeansTest : public vt::DeviceTest {
 protected:
  void Start(const Means& means) {
    vt::BootOptions options;
    options.reg = kGesturesOn;
    options.desktop_address_spaces = means.desktopSpaces;
    if (means.section) {
      for (auto& file : options.files) {
        if (file.first == "Pallux.dll") file.second = "palluxsection.dll";
        if (file.first == "Quenza.dll") file.second = "quenzasection.dll";
      }
    }
    Boot(options);
    broker = FindWindowW(u"MSGBROKER", nullptr);
  }
  HWND FrontOf(Kind kind) { return Front(kind, 0, 26, 240, 268, 400, 12); }
  void FlickUp(uint32_t thenMs) {
    device->run_for(100);
    Stroke(120, 200, 120, 140, 150);
    device->run_for(thenMs);
  }
  uint64_t LastHandOver() const {
    auto posts = PostsTo(broker, std::to_string(kHandOver));
    return posts.empty() ? 0 : std::stoull(posts.back().str("wParam"), nullptr, 16);
  }

  HWND broker = nullptr;
};

// What reaches the list and a gesture-aware application, tick by tick.
struct Carried {
  std::vector<int> momenta;
  size_t lines = 0;
  std::string notified;
};

TEST_F(HandOverMeansTest, BothMeansCarryTheSameGesturesToTheBroker) {
  const Means kMeans[] = {{"the phone's, on the phone's rules", false, false},
                          {"the section's, on the phone's rules", true, false},
                          {"the section's, under desktop address spaces", true, true}};
  std::vector<Carried> carried;
  for (const Means& means : kMeans) {
    SCOPED_TRACE(means.what);
    Start(means);
    ASSERT_NE(broker, nullptr);
    Carried c;
    HWND list = FrontOf(Kind::List);
    FlickUp(5000);
    for (const auto& tick : GestureTicks()) c.momenta.push_back(tick.momentum);
    c.lines = PostsTo(list, "WM_VSCROLL").size();
    FrontOf(Kind::GestureAware);
    device->run_for(100);
    Stroke(200, 150, 60, 165, 150);
    device->run_for(1000);
    for (const auto& e : Log("app-received", "msg", "1274"))
      c.notified += e.str("wParam") + " " + e.str("lParam") + ";";
    EXPECT_EQ(ScrollStates(), "2121");
    carried.push_back(c);
  }
  ASSERT_GT(carried[0].lines, 20u);
  ASSERT_FALSE(carried[0].notified.empty());
  for (size_t i = 1; i < carried.size(); ++i) {
    SCOPED_TRACE(kMeans[i].what);
    EXPECT_EQ(carried[i].momenta, carried[0].momenta);
    EXPECT_EQ(carried[i].lines, carried[0].lines);
    EXPECT_EQ(carried[i].notified, carried[0].notified);
  }
}

// As under Wine, where the broker's process died with a page fault at the first flick.
TEST_F(HandOverMeansTest, ThePhonesMeansFaultsWhereProcessesHaveAddressSpacesOfTheirOwn) {
  Start({"the phone's, under desktop address spaces", false, true});
  FrontOf(Kind::List);
  EXPECT_PAGE_FAULT(FlickUp(1000));
}

// Anybody can post the broker a hand-over; with the section's means it reads the section alone,
// and only the copy that the last hand-over of the published engine named.
TEST_F(HandOverMeansTest, TheSectionsBrokerTakesOnlyTheLastCopyOfThePublishedEngine) {
  Start({"the section's, under desktop address spaces", true, true});
  HWND list = FrontOf(Kind::List);
  FlickUp(3000);
  uint64_t first = LastHandOver();
  FlickUp(3000);
  uint64_t last = LastHandOver();
  ASSERT_NE(first, 0u);
  EXPECT_EQ(first % 2, 0u);
  EXPECT_EQ(last, first + 2) << "each copy numbered";
  ASSERT_GT(PostsTo(list, "WM_VSCROLL").size(), 20u);

  const struct {
    const char* what;
    uint64_t wParam;
  } kForged[] = {{"none", 0},
                 {"the first copy, overwritten since", first},
                 {"one not written yet", last + 2},
                 {"a copy being written", last - 1},
                 {"beyond 32 bits", last + (uint64_t(1) << 32)},
                 {"an address", reinterpret_cast<uintptr_t>(&first)}};
  for (const auto& row : kForged) {
    ClearLog();
    PostMessageW(broker, kHandOver, static_cast<WPARAM>(row.wParam), 0);
    device->run_for(300);
    EXPECT_TRUE(Log("timer-set").empty()) << row.what;
    EXPECT_EQ(Log("debug", "text", "Hand-over from an unknown address ignored").size(), 1u)
        << row.what;
  }
  // The last copy is the published engine's own gesture, carried out again as the phone's broker
  // would carry out the proxy's engine whenever it is handed its address.
  ClearLog();
  PostMessageW(broker, kHandOver, static_cast<WPARAM>(last), 0);
  device->run_for(300);
  EXPECT_FALSE(GestureTicks().empty());
}

}  // namespace
