// devmgr.exe: the device manager's process. It starts the built-in drivers and then serves its
// thread's messages until it is told to quit or killed.
#include <windows.h>

#include "DeviceManager.h"

int main() {
  StartBuiltInDrivers();
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0)) DispatchMessageW(&msg);
  return 0;
}
