// devmgr.exe: the device manager's process, the broker's own as on the phone. It starts the
// built-in drivers and then serves its thread's messages until the window system's scene ends
// (the named event "VexoriSceneEnd") or --timeout ms have passed.
//   devmgr.exe [--timeout MS]
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "DeviceManager.h"

int main(int argc, char** argv) {
  DWORD timeout = 120000;
  for (int i = 1; i + 1 < argc; ++i) {
    if (!strcmp(argv[i], "--timeout")) timeout = strtoul(argv[i + 1], nullptr, 10);
  }
  // Made before the drivers start, so that a scene that ends early is not missed.
  HANDLE end = CreateEventW(nullptr, TRUE, FALSE, L"VexoriSceneEnd");
  StartBuiltInDrivers();
  DWORD start = GetTickCount();
  for (;;) {
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeout) break;
    if (MsgWaitForMultipleObjects(1, &end, FALSE, timeout - elapsed, QS_ALLINPUT) ==
        WAIT_OBJECT_0) {
      break;
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  printf("device manager: scene ended\n");
  fflush(stdout);
  return 0;
}
