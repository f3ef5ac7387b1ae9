// The window system's process: at boot it loads the touch driver that the registry names and
// enables it with its own sample callback, which records every sample it receives.
#include <regext.h>
#include <tchddi.h>

#include "../core/kernel.hpp"

namespace dev {
namespace {

using TouchPanelEnableFn = UINT_PTR (*)(PFN_TOUCH_PANEL_CALLBACK, UINT_PTR);

BOOL window_system_sample(TOUCH_PANEL_SAMPLE_FLAGS flags, INT x, INT y) {
  auto& d = impl();
  d.received.push_back({d.clock, flags, x, y});
  log_event("sample", {{"flags", hex(flags)}, {"x", x}, {"y", y}});
  return TRUE;
}

}  // namespace

DWORD gwes_main() {
  WCHAR driver[MAX_PATH] = u"touch.dll";
  RegistryGetString(HKEY_LOCAL_MACHINE, u"HARDWARE\\DEVICEMAP\\TOUCH", u"DriverName", driver,
                    MAX_PATH);
  log_event("touch-driver", {{"name", to_utf8(driver)}});
  HMODULE module = LoadLibraryW(driver);
  if (module == nullptr) {
    log_event("touch-driver-failed", {{"name", to_utf8(driver)}, {"error", GetLastError()}});
  } else if (auto enable = reinterpret_cast<TouchPanelEnableFn>(
                 reinterpret_cast<void (*)()>(GetProcAddressW(module, u"TouchPanelEnable")))) {
    UINT_PTR result = enable(window_system_sample, 0);
    log_event("touch-enabled", {{"name", to_utf8(driver)}, {"result", result}});
  } else {
    log_event("touch-driver-failed", {{"name", to_utf8(driver)}, {"error", "no TouchPanelEnable"}});
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0)) {
  }
  return 0;
}

}  // namespace dev
