// The eighteen touch-driver entry points. Each is one test of its slot and one call; only
// TouchPanelEnable changes anything: it keeps the window system's sample callback, publishes the
// engine for hand-overs and hands the stock driver the proxy's own callback.
#include "proxy/Driver.h"

#include "gesture/Word.h"

#define PROXY_EXPORT extern "C"

// Casts a resolved address to its entry type; void(*)() stands between so that the compiler
// accepts the change of signature.
template <class Entry>
static Entry EntryFrom(FARPROC address) {
  return reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(address));
}

struct EntryRow {
  const WCHAR* name;
  void (*store)(FARPROC address);
};

#define ROW(entry)                                                                         \
  {                                                                                        \
    TEXT(#entry),                                                                          \
        [](FARPROC a) { Driver.Stock.entry = EntryFrom<decltype(Driver.Stock.entry)>(a); } \
  }

static const EntryRow kEntryTable[] = {
    ROW(TouchCreateEvent),
    ROW(TouchGetFocusWnd),
    ROW(TouchGetLastTouchFocusWnd),
    ROW(TouchGetQueuePtr),
    ROW(TouchGetValue),
    ROW(TouchPanelCalibrateAPoint),
    ROW(TouchPanelDisable),
    ROW(TouchPanelGetDeviceCaps),
    ROW(TouchPanelPowerHandler),
    ROW(TouchPanelReadCalibrationAbort),
    ROW(TouchPanelReadCalibrationPoint),
    ROW(TouchPanelSetCalibration),
    ROW(TouchPanelSetMode),
    ROW(TouchRegisterWindow),
    ROW(TouchReset),
    ROW(TouchSetValue),
    ROW(TouchUnregisterWindow),
};

void ResolveStockEntries() {
  for (const EntryRow& row : kEntryTable) row.store(GetProcAddressW(Driver.TouchModule, row.name));
}

void ResolveEnableEntry() {
  Driver.StockTouchPanelEnable =
      EntryFrom<EnableEntry>(GetProcAddressW(Driver.EnableModule, TEXT("TouchPanelEnable")));
}

#define FORWARD_VOID2(entry)                                     \
  PROXY_EXPORT void entry(EntryWord a, EntryWord b) {            \
    if (Driver.Stock.entry != nullptr) Driver.Stock.entry(a, b); \
  }

#define FORWARD_VALUE2(entry)                                            \
  PROXY_EXPORT EntryWord entry(EntryWord a, EntryWord b) {               \
    return Driver.Stock.entry != nullptr ? Driver.Stock.entry(a, b) : 0; \
  }

FORWARD_VOID2(TouchCreateEvent)
FORWARD_VALUE2(TouchGetFocusWnd)
FORWARD_VALUE2(TouchGetLastTouchFocusWnd)
FORWARD_VALUE2(TouchGetQueuePtr)
FORWARD_VALUE2(TouchGetValue)
FORWARD_VOID2(TouchPanelDisable)
FORWARD_VALUE2(TouchPanelGetDeviceCaps)
FORWARD_VOID2(TouchPanelPowerHandler)
FORWARD_VOID2(TouchPanelReadCalibrationAbort)
FORWARD_VALUE2(TouchPanelReadCalibrationPoint)
FORWARD_VALUE2(TouchPanelSetMode)
FORWARD_VALUE2(TouchRegisterWindow)
FORWARD_VOID2(TouchReset)
FORWARD_VOID2(TouchSetValue)
FORWARD_VOID2(TouchUnregisterWindow)

PROXY_EXPORT void TouchPanelCalibrateAPoint(EntryWord a, EntryWord b, EntryWord c, EntryWord d) {
  if (Driver.Stock.TouchPanelCalibrateAPoint != nullptr) {
    Driver.Stock.TouchPanelCalibrateAPoint(a, b, c, d);
  }
}

PROXY_EXPORT EntryWord TouchPanelSetCalibration(EntryWord a, EntryWord b, EntryWord c, EntryWord d,
                                                EntryWord e) {
  if (Driver.Stock.TouchPanelSetCalibration == nullptr) return 0;
  return Driver.Stock.TouchPanelSetCalibration(a, b, c, d, e);
}

PROXY_EXPORT EntryWord TouchPanelEnable(PFN_TOUCH_PANEL_CALLBACK systemCallback, EntryWord second) {
  // Kept first, whether or not the stock entry exists, so that samples find their way out as
  // soon as the stock driver starts delivering them.
  StoreWord(Driver.SystemCallback, systemCallback);
  // Only the engine of the process that takes the samples is the broker's source; where the
  // publish fails, each stroke's pen-down tries again.
  if (Driver.ProxyEngine != nullptr) PublishHandOverSource(Driver.ProxyEngine);
  if (Driver.StockTouchPanelEnable == nullptr) return 0;
  return Driver.StockTouchPanelEnable(ProxySampleCallback, second);
}
