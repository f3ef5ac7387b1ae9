// Quenza.dll: the broker stream driver of the device manager. Module-wide state.
#pragma once

#include <windows.h>

#include "gesture/Gestures.h"

struct BrokerModule {
  HINSTANCE Module;
  HANDLE BrokerThread;     // owns the broker window; its identifier is not kept
  Gestures* BrokerEngine;  // created at load, kept for the life of the process
  UINT_PTR BrokerTimer;    // what SetTimer returned at the last hand-over; 0 before the first
  HWND BrokerWnd;          // this module's broker window; null before it exists and once it is gone
};

extern BrokerModule Broker;

// The broker thread: creates the hidden "MSGBROKER" window and serves its messages.
DWORD WINAPI BrokerThreadRoutine(LPVOID);
// Ends the broker thread and the sound thread before the module goes, waiting for each at most
// `waitMs`; false when one of them is still running.
bool StopBrokerThreads(DWORD waitMs);
