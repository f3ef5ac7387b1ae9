// The proxy's worker thread, which feeds gesture samples to the proxy engine, and the link to the
// broker: its window, and whether it is still carrying out a gesture.
#pragma once

#include <windows.h>

struct BrokerLink {
  HWND BrokerWnd;      // the "MSGBROKER" window, looked up once and kept while it exists
  HANDLE ScrollEvent;  // "InGestureScrolling"
  DWORD LastEventData;
  bool LastScrolling;
};

extern BrokerLink Broker;

DWORD WINAPI WorkerRoutine(LPVOID);

// The broker window, looked up until it is found and then kept while it exists; null while there
// is none.
HWND FindBroker();

// True while the broker is carrying out a gesture.
bool BrokerIsScrolling();
