// The display turns: metrics swap, what filled the work area is laid out again, the touch panel
// keeps its orientation.
#include <string.h>

#include "device/apps.hpp"
#include "support/DeviceFixture.h"

namespace {

using dev::apps::Kind;

LONG Turn(DWORD orientation, DWORD flags = CDS_RESET, DWORD fields = DM_DISPLAYORIENTATION,
          WORD size = sizeof(DEVMODEW)) {
  DEVMODEW mode;
  memset(&mode, 0, sizeof(mode));
  mode.dmSize = size;
  mode.dmFields = fields;
  mode.dmDisplayOrientation = orientation;
  return ChangeDisplaySettingsExW(nullptr, &mode, nullptr, flags, nullptr);
}

std::string Rect(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

class DeviceDisplayTest : public vt::DeviceTest {
 protected:
  void SetUp() override {
    vt::BootOptions options;
    options.install = false;  // the stock driver: samples reach the window system as reported
    Boot(options);
  }
  HWND Place(int x, int y, int w, int h) {
    dev::apps::WindowSpec spec;
    spec.x = x, spec.y = y, spec.width = w, spec.height = h;
    return dev::apps::place(*device, spec);
  }
};

TEST_F(DeviceDisplayTest, ATurnSwapsTheMetricsAndLaysOutWhatFilledTheWorkArea) {
  HWND filling = Place(0, 26, 240, 268);
  HWND small = Place(10, 40, 100, 100);
  const struct {
    DWORD orientation;
    int angle, width, height;
    const char* filled;
  } turns[] = {{DMDO_90, 90, 320, 240, "0,26,320,214"},
               {DMDO_0, 0, 240, 320, "0,26,240,294"},
               {DMDO_270, 270, 320, 240, "0,26,320,214"},
               {DMDO_180, 180, 240, 320, "0,26,240,294"}};
  for (const auto& t : turns) {
    SCOPED_TRACE(t.angle);
    ClearLog();
    EXPECT_EQ(Turn(t.orientation), DISP_CHANGE_SUCCESSFUL);
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
  }

  // Requests that change nothing: a test, the mode in force without CDS_RESET, and bad ones.
  const struct {
    LONG result;
    DWORD orientation, flags, fields;
    WORD size;
  } unchanged[] = {
      {DISP_CHANGE_SUCCESSFUL, DMDO_90, CDS_TEST, DM_DISPLAYORIENTATION, sizeof(DEVMODEW)},
      {DISP_CHANGE_SUCCESSFUL, DMDO_180, 0, DM_DISPLAYORIENTATION, sizeof(DEVMODEW)},
      {DISP_CHANGE_BADFLAGS, DMDO_90, CDS_UPDATEREGISTRY, DM_DISPLAYORIENTATION, sizeof(DEVMODEW)},
      {DISP_CHANGE_BADMODE, 3, CDS_RESET, DM_DISPLAYORIENTATION, sizeof(DEVMODEW)},
      {DISP_CHANGE_BADMODE, DMDO_90, CDS_RESET, 0, sizeof(DEVMODEW)},
      {DISP_CHANGE_BADPARAM, DMDO_90, CDS_RESET, DM_DISPLAYORIENTATION, 12},
  };
  ClearLog();
  for (const auto& u : unchanged) {
    EXPECT_EQ(Turn(u.orientation, u.flags, u.fields, u.size), u.result) << u.orientation;
  }
  EXPECT_TRUE(Log("display-change").empty());
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 240);
}

TEST_F(DeviceDisplayTest, ThePanelKeepsItsOrientationAndTheWindowSystemMapsItsSamples) {
  const struct {
    DWORD orientation;
    const char* screen;  // of panel pixel (40, 100); "" on an upright screen
  } cases[] = {{DMDO_0, ""}, {DMDO_90, "220,40"}, {DMDO_270, "100,200"}};
  for (const auto& c : cases) {
    Turn(c.orientation);
    ClearLog();
    Play({{device->now() + 10, 0x3, 160, 400}});
    auto samples = Log("sample");
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_EQ(samples[0].num("x"), 160) << "panel coordinates as reported";
    EXPECT_EQ(samples[0].str("screen"), c.screen);
  }
}

}  // namespace
