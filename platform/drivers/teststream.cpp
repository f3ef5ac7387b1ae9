// A stream driver for the device manager's tests (teststream.dll).
//
// One library serves several registry entries through its prefixes: "TST" has Init and Deinit,
// no prefix has Init only, "FAIL" has an Init that refuses. Every entry point records its call
// and arguments in the log. Its debug-zone table is exported, so the loader can set its zones
// from the registry; zone 0 ("Init", off by default) prints when the library attaches.
#include <windows.h>

#include "device/device.hpp"

#define EXPORT extern "C" __attribute__((visibility("default")))

__attribute__((visibility("default"))) DBGPARAM dpCurSettings = {
    TEXT("TestStream"),
    {TEXT("Init"), TEXT(""), TEXT(""), TEXT(""), TEXT(""), TEXT(""), TEXT(""), TEXT(""), TEXT(""),
     TEXT(""), TEXT(""), TEXT(""), TEXT(""), TEXT(""), TEXT("Warnings"), TEXT("Errors")},
    0x8000};

#define ZONE_INIT DEBUGZONE(0)

namespace {

// Device contexts handed out, counted per instance of the library.
const DWORD kContextBase = 0x5700;
DWORD g_inits = 0;

void record(const char* entry, dev::Fields args, dev::Fields result) {
  dev::log_event("stream-call", dev::fields("driver", "teststream.dll", "entry", entry, "args",
                                            std::move(args), "result", std::move(result)));
}

DWORD init(const char* entry, LPCWSTR active_key, LPCVOID bus_context) {
  DWORD context = kContextBase + ++g_inits;
  record(entry, {dev::to_utf8(active_key), dev::hex(reinterpret_cast<uintptr_t>(bus_context))},
         dev::hex(context));
  return context;
}

}  // namespace

EXPORT BOOL WINAPI DllMain(HANDLE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DEBUGMSG(ZONE_INIT, (TEXT("teststream: attach, zones %x\r\n"), dpCurSettings.ulZoneMask));
  }
  return TRUE;
}

EXPORT DWORD TST_Init(LPCWSTR active_key, LPCVOID bus_context) {
  return init("TST_Init", active_key, bus_context);
}

EXPORT BOOL TST_Deinit(DWORD context) {
  record("TST_Deinit", {dev::hex(context)}, TRUE);
  return TRUE;
}

EXPORT DWORD Init(LPCWSTR active_key, LPCVOID bus_context) {
  return init("Init", active_key, bus_context);
}

EXPORT DWORD FAIL_Init(LPCWSTR active_key, LPCVOID bus_context) {
  record("FAIL_Init",
         {dev::to_utf8(active_key), dev::hex(reinterpret_cast<uintptr_t>(bus_context))}, 0);
  return 0;
}
