// The stream-driver entry points through which the device manager starts the broker.
#include "broker/Broker.h"

static const WCHAR kBrokerClass[] = TEXT("MSGBROKER");

// The device context handed back to the device manager.
const DWORD kDeviceContext = 1;

extern "C" DWORD GES_Init(LPCWSTR, LPCVOID) {
  Broker.BrokerThread = CreateThread(nullptr, 0, BrokerThreadRoutine, nullptr, 0, nullptr);
  // Without a thread there is no broker window; the proxy then finds none and the stock
  // behaviour stays.
  return kDeviceContext;
}

// Longest the deinit waits for each of the module's threads to end, in ms.
const DWORD kThreadStopWaitMs = 5000;

// A thread still running in this module's code: a load of its own keeps the module mapped
// under it, whatever the device manager frees.
static void PinModule() {
  WCHAR path[MAX_PATH];
  if (GetModuleFileNameW(Broker.Module, path, MAX_PATH) != 0) LoadLibraryW(path);
}

// The device manager frees this library once its driver is deinitialised, whatever the deinit
// answers: no thread it started may go on in its code. A thread that does not end in time makes
// the deinit fail, and keeps the library loaded for the rest of the process's life.
extern "C" BOOL GES_Deinit(DWORD) {
  if (!StopBrokerThreads(kThreadStopWaitMs)) {
    PinModule();
    return FALSE;
  }
  if (Broker.BrokerThread != nullptr) CloseHandle(Broker.BrokerThread);
  Broker.BrokerThread = nullptr;
  UnregisterClassW(kBrokerClass, Broker.Module);
  return TRUE;
}

extern "C" BOOL GES_IOControl(DWORD, DWORD, PBYTE, DWORD, PBYTE, DWORD, PDWORD) {
  return TRUE;
}
