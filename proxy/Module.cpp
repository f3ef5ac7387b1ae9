// Pallux.dll: loaded by the window system as its touch driver, in place of the stock driver that
// "DriverName.bk" names.
#include <regext.h>
#include <wchar.h>

#include <new>

#include "gesture/DebugZones.h"
#include "proxy/Driver.h"
#include "gesture/PanReport.h"
#include "proxy/ProxySettings.h"
#include "proxy/Stages.h"

DBGPARAM dpCurSettings = QUOB_DEBUG_ZONES(0x8000);

ProxyDriver Driver;

static const WCHAR kStockDriver[] = TEXT("touch.dll");
static const WCHAR kTouchKey[] = TEXT("HARDWARE\\DEVICEMAP\\TOUCH");
static const WCHAR kStockNameValue[] = TEXT("DriverName.bk");
const UINT kFileNameChars = MAX_PATH;

BOOL LoadProxy(HMODULE self) {
  Driver.ProxyEngine = new (std::nothrow) Gestures();
  if (Driver.ProxyEngine == nullptr) return FALSE;  // the pipeline relies on the engine
  PannedStrokeWord = &PannedStroke;
  // Made before the settings are registered for changes, so that the settings key exists and a
  // setting written later is seen. The engine is published only by the window system's enable.
  CreateHandOverKey();

  WCHAR fileName[kFileNameChars] = {0};
  wcscpy(fileName, kStockDriver);
  Driver.TouchModule = LoadLibraryW(fileName);
  if (Driver.TouchModule == nullptr) return FALSE;
  ResolveStockEntries();

  RegistryGetString(HKEY_LOCAL_MACHINE, kTouchKey, kStockNameValue, fileName, kFileNameChars);
  if (fileName[0] == 0) wcscpy(fileName, kStockDriver);
  Driver.EnableModule = LoadLibraryW(fileName);
  if (Driver.EnableModule == self && self != nullptr) {
    // "DriverName.bk" names this driver (its own name and the stock one swapped): its enable
    // would call itself for ever, and the window system would hang at its start.
    DEBUGMSG(ZONE_ERROR,
             (TEXT("DriverName.bk names the gesture driver itself: touch.dll used\r\n")));
    FreeLibrary(Driver.EnableModule);
    Driver.EnableModule = LoadLibraryW(kStockDriver);
  }
  if (Driver.EnableModule == nullptr) return FALSE;
  ResolveEnableEntry();

  LoadProxySettings(nullptr, kInitialSettingsLoad, nullptr, 0);
  return Driver.StockTouchPanelEnable != nullptr ? TRUE : FALSE;
}

void UnloadProxy() {
  // The module goes while its process stays: nothing may call back into it afterwards.
  CloseProxySettingsWatch();
  WithdrawHandOverSource(Driver.ProxyEngine);
  delete Driver.ProxyEngine;
  Driver.ProxyEngine = nullptr;
  PannedStrokeWord = nullptr;
}

extern "C" BOOL WINAPI DllMain(HANDLE module, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      SetProcPermissions(0xFFFFFFFF);
      SetKMode(TRUE);
      DisableThreadLibraryCalls(static_cast<HMODULE>(module));
      return LoadProxy(static_cast<HMODULE>(module));
    case DLL_PROCESS_DETACH:
      if (Driver.TouchModule != nullptr) FreeLibrary(Driver.TouchModule);
      if (Driver.EnableModule != nullptr) FreeLibrary(Driver.EnableModule);
      Driver.TouchModule = nullptr;
      Driver.EnableModule = nullptr;
      ForgetHeldRecords();
      if (reserved == nullptr) UnloadProxy();
      return TRUE;
    default:
      return TRUE;
  }
}
