// The display: its orientation, turned with ChangeDisplaySettingsEx, and the layout of the
// top-level windows that filled the work area before the turn.
//
// The touch panel does not turn with the display: its samples stay in the panel's own
// coordinates, and whoever reads them maps them to the screen.
#include <fmt/format.h>
#include <regext.h>

#include <vector>

#include "../core/kernel.hpp"

namespace dev {

namespace {

// The task bar across the top and the menu bar across the bottom, each this high at 96 dpi.
const int kBarHeight96 = 26;
const int kDpiBase = 96;

const DWORD kKnownFlags = CDS_RESET | CDS_TEST;

bool angle_of(DWORD orientation, int* angle) {
  switch (orientation) {
    case DMDO_0:
      *angle = 0;
      return true;
    case DMDO_90:
      *angle = 90;
      return true;
    case DMDO_180:
      *angle = 180;
      return true;
    case DMDO_270:
      *angle = 270;
      return true;
    default:
      return false;
  }
}

DWORD orientation_of(int angle) {
  switch (angle) {
    case 90:
      return DMDO_90;
    case 180:
      return DMDO_180;
    case 270:
      return DMDO_270;
    default:
      return DMDO_0;
  }
}

std::string rect_text(const RECT& r) {
  return fmt::format("{},{},{},{}", r.left, r.top, r.right, r.bottom);
}

bool same_rect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// As the shell does on the phone: what filled the old work area fills the new one and is told
// so; every other window keeps its rectangle.
void lay_out(const RECT& before, const RECT& after) {
  auto& d = impl();
  std::vector<uintptr_t> resized;
  for (Window* w : d.top_levels) {
    if (!same_rect(w->rect, before)) continue;
    w->rect = after;
    log_event("window-resized", dev::fields("window", window_name(w), "rect", rect_text(after)));
    resized.push_back(w->handle);
  }
  LPARAM size = MAKELPARAM(after.right - after.left, after.bottom - after.top);
  for (uintptr_t h : resized) {
    // The window may have gone while an earlier one handled its message.
    if (window_of(reinterpret_cast<HWND>(h)) != nullptr)
      SendMessageW(reinterpret_cast<HWND>(h), WM_SIZE, SIZE_RESTORED, size);
  }
}

}  // namespace

int bar_height() {
  return impl().config.screen.dpi * kBarHeight96 / kDpiBase;
}

RECT work_area() {
  int bar = bar_height();
  return {0, bar, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN) - bar};
}

}  // namespace dev

using dev::impl;

extern "C" {

LONG WINAPI ChangeDisplaySettingsExW(LPCWSTR, LPDEVMODEW mode, HWND, DWORD flags, LPVOID) {
  DEVICE_CALL_POINT("ChangeDisplaySettingsExW");
  auto& d = impl();
  // A display driver that cannot take the mode (as a test or scenario asks) changes nothing.
  if (d.injected_failure("ChangeDisplaySettingsExW")) return DISP_CHANGE_FAILED;
  if (flags & ~dev::kKnownFlags) return DISP_CHANGE_BADFLAGS;
  int angle = 0;
  if (mode == nullptr) {
    // The documented way back to the mode the registry holds.
    DWORD stored = 0;
    RegistryGetDWORD(HKEY_LOCAL_MACHINE, u"System\\GDI\\Rotation", u"Angle", &stored);
    dev::angle_of(dev::orientation_of(static_cast<int>(stored)), &angle);
  } else {
    if (mode->dmSize != sizeof(DEVMODEW)) return DISP_CHANGE_BADPARAM;
    if (!(mode->dmFields & DM_DISPLAYORIENTATION)) return DISP_CHANGE_BADMODE;
    if (!dev::angle_of(mode->dmDisplayOrientation, &angle)) return DISP_CHANGE_BADMODE;
  }
  if (flags & CDS_TEST) return DISP_CHANGE_SUCCESSFUL;
  // Without CDS_RESET a request for the mode in force changes nothing.
  if (angle == d.display_angle && !(flags & CDS_RESET)) return DISP_CHANGE_SUCCESSFUL;

  RECT before = dev::work_area();
  d.display_angle = angle;
  dev::log_event("display-change", dev::fields("orientation", dev::orientation_of(angle), "angle",
                                               angle, "width", GetSystemMetrics(SM_CXSCREEN),
                                               "height", GetSystemMetrics(SM_CYSCREEN)));
  dev::lay_out(before, dev::work_area());
  return DISP_CHANGE_SUCCESSFUL;
}

}  // extern "C"
