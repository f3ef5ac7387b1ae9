// The proxy's link to the stock touch driver and to the window system: module-wide state written
// during process attach and by TouchPanelEnable.
#pragma once

#include <windows.h>
#include <tchddi.h>

#include "gesture/Gestures.h"

// Every entry-point argument and result is a word that the proxy passes on without looking at it.
typedef UINT_PTR EntryWord;

typedef void (*VoidEntry2)(EntryWord, EntryWord);
typedef EntryWord (*ValueEntry2)(EntryWord, EntryWord);
typedef void (*VoidEntry4)(EntryWord, EntryWord, EntryWord, EntryWord);
typedef EntryWord (*ValueEntry5)(EntryWord, EntryWord, EntryWord, EntryWord, EntryWord);
typedef EntryWord (*EnableEntry)(PFN_TOUCH_PANEL_CALLBACK, EntryWord);

// Slots of the stock entry points, in the order they are resolved from the stock driver.
struct StockEntries {
  VoidEntry2 TouchCreateEvent;
  ValueEntry2 TouchGetFocusWnd;
  ValueEntry2 TouchGetLastTouchFocusWnd;
  ValueEntry2 TouchGetQueuePtr;
  ValueEntry2 TouchGetValue;
  VoidEntry4 TouchPanelCalibrateAPoint;
  VoidEntry2 TouchPanelDisable;
  ValueEntry2 TouchPanelGetDeviceCaps;
  VoidEntry2 TouchPanelPowerHandler;
  VoidEntry2 TouchPanelReadCalibrationAbort;
  ValueEntry2 TouchPanelReadCalibrationPoint;
  ValueEntry5 TouchPanelSetCalibration;
  ValueEntry2 TouchPanelSetMode;
  ValueEntry2 TouchRegisterWindow;
  VoidEntry2 TouchReset;
  VoidEntry2 TouchSetValue;
  VoidEntry2 TouchUnregisterWindow;
};

struct ProxyDriver {
  HMODULE TouchModule;   // "touch.dll": source of the 17 table entries
  HMODULE EnableModule;  // named by "DriverName.bk": source of TouchPanelEnable
  StockEntries Stock;
  EnableEntry StockTouchPanelEnable;
  PFN_TOUCH_PANEL_CALLBACK SystemCallback;  // the window system's sample callback
  Gestures* ProxyEngine;
};

extern ProxyDriver Driver;

// Resolves the table entries from TouchModule, in table order.
void ResolveStockEntries();
// Resolves TouchPanelEnable from EnableModule.
void ResolveEnableEntry();

// Runs at process attach of `self`; false leaves the window system without this driver.
BOOL LoadProxy(HMODULE self);
// Runs when the module is unloaded while its process goes on.
void UnloadProxy();

// The sample callback handed to the stock driver.
BOOL ProxySampleCallback(TOUCH_PANEL_SAMPLE_FLAGS flags, INT x, INT y);
