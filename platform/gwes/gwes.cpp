// The window system's process: at boot it loads the touch driver that the registry names and
// enables it with its own sample callback, which records every sample it receives.
#include <regext.h>
#include <tchddi.h>

#include <fmt/format.h>

#include "../core/kernel.hpp"

namespace dev {
namespace {

using TouchPanelEnableFn = UINT_PTR (*)(PFN_TOUCH_PANEL_CALLBACK, UINT_PTR);

// Where a sample in the panel's quarter pixels lies on a turned screen: the panel keeps its
// orientation, so the window system maps it as the touch driver proxy does.
Fields turned_position(INT x, INT y) {
  int px = x / 4, py = y / 4;
  int angle = impl().display_angle;
  if (angle == 90) return fmt::format("{},{}", GetSystemMetrics(SM_CXSCREEN) - py, px);
  return fmt::format("{},{}", py, GetSystemMetrics(SM_CYSCREEN) - px);
}

BOOL window_system_sample(TOUCH_PANEL_SAMPLE_FLAGS flags, INT x, INT y) {
  auto& d = impl();
  d.received.push_back({d.clock, flags, x, y});
  if (!log_on()) return TRUE;
  Fields fields = {{"flags", hex(flags)}, {"x", x}, {"y", y}};
  if (d.display_angle == 90 || d.display_angle == 270) fields["screen"] = turned_position(x, y);
  log_event("sample", std::move(fields));
  return TRUE;
}

}  // namespace

DWORD gwes_main() {
  WCHAR driver[MAX_PATH] = u"touch.dll";
  RegistryGetString(HKEY_LOCAL_MACHINE, u"HARDWARE\\DEVICEMAP\\TOUCH", u"DriverName", driver,
                    MAX_PATH);
  log_event("touch-driver", dev::fields("name", to_utf8(driver)));
  HMODULE module = LoadLibraryW(driver);
  if (module == nullptr) {
    log_event("touch-driver-failed", dev::fields("name", to_utf8(driver), "error", GetLastError()));
  } else if (auto enable = reinterpret_cast<TouchPanelEnableFn>(
                 reinterpret_cast<void (*)()>(GetProcAddressW(module, u"TouchPanelEnable")))) {
    UINT_PTR result = enable(window_system_sample, 0);
    log_event("touch-enabled", dev::fields("name", to_utf8(driver), "result", result));
  } else {
    log_event("touch-driver-failed",
              dev::fields("name", to_utf8(driver), "error", "no TouchPanelEnable"));
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0)) {
  }
  return 0;
}

}  // namespace dev
