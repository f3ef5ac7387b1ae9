// Quenza.dll module entry: creates the broker engine, whose sounds live in this module.
#include <new>

#include "broker/Broker.h"
#include "gesture/DebugZones.h"

DBGPARAM dpCurSettings = QUOB_DEBUG_ZONES(0xC000);

BrokerModule Broker = {nullptr, nullptr, nullptr, 0, nullptr};

extern "C" BOOL WINAPI DllMain(HANDLE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    Broker.Module = static_cast<HINSTANCE>(module);
    DisableThreadLibraryCalls(Broker.Module);
    Broker.BrokerEngine = new (std::nothrow) Gestures();
    if (Broker.BrokerEngine != nullptr) Broker.BrokerEngine->SetSndInstance(Broker.Module);
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr &&
             Broker.BrokerEngine != nullptr) {
    // Unloaded while the process goes on: no registry notification may reach this module again.
    delete Broker.BrokerEngine;
    Broker.BrokerEngine = nullptr;
  }
  return TRUE;
}
