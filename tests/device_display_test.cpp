// The display turns: metrics swap, what filled the work area is laid out again and told, and the
// touch panel keeps its orientation.
#include <string.h>

#include "device/apps.hpp"
#include "support/DeviceFixture.h"

namespace {

std::string Rect(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

using DeviceDisplayTest = vt::DeviceTest;

TEST_F(DeviceDisplayTest, ATurnSwapsTheMetricsLaysOutWhatFilledTheWorkAreaAndLeavesThePanel) {
  vt::BootOptions options;
  options.install = false;  // the stock driver: samples reach the window system as reported
  Boot(options);
  HWND filling = Place(dev::apps::Kind::Plain, 0, 26, 240, 268);
  HWND small = Place(dev::apps::Kind::Plain, 10, 40, 100, 100);
  const struct {
    DWORD orientation;
    int angle, width, height;
    const char* filled;
    const char* sample;  // the screen pixel of panel pixel (40, 100); "" when upright
  } turns[] = {{DMDO_90, 90, 320, 240, "0,26,320,214", "220,40"},
               {DMDO_0, 0, 240, 320, "0,26,240,294", ""},
               {DMDO_270, 270, 320, 240, "0,26,320,214", "100,200"},
               {DMDO_180, 180, 240, 320, "0,26,240,294", ""}};
  for (const auto& t : turns) {
    SCOPED_TRACE(t.angle);
    ClearLog();
    DEVMODEW mode;
    memset(&mode, 0, sizeof(mode));
    mode.dmSize = sizeof(mode);
    mode.dmFields = DM_DISPLAYORIENTATION;
    mode.dmDisplayOrientation = t.orientation;
    EXPECT_EQ(ChangeDisplaySettingsExW(nullptr, &mode, nullptr, CDS_RESET, nullptr),
              DISP_CHANGE_SUCCESSFUL);
    device->settle();
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), t.width);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), t.height);
    auto changes = Log("display-change");
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].num("angle"), t.angle);
    EXPECT_EQ(Rect(filling), t.filled);
    EXPECT_EQ(Rect(small), "10,40,110,140");
    auto sizes = Log("send", "msg", "WM_SIZE");
    ASSERT_EQ(sizes.size(), 1u) << "only the window that filled the work area is told";
    EXPECT_EQ(sizes[0].str("lParam"), dev::hex(t.width | (t.height - 52) << 16));
    EXPECT_TRUE(Log("reg-write").empty()) << "CDS_RESET writes nothing to the registry";

    Play({{device->now() + 10, 0x3, 160, 400}});
    auto samples = Log("sample");
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_EQ(samples[0].num("x"), 160) << "panel coordinates as reported";
    EXPECT_EQ(samples[0].str("screen"), t.sample);
  }
}

}  // namespace
