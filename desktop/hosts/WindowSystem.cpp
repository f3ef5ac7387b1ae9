// wsys.exe: the window system's process under Wine. It loads the touch driver the registry names
// (HKLM\HARDWARE\DEVICEMAP\TOUCH "DriverName", the proxy once installed), enables it with its own
// sample callback and turns the samples that reach it into mouse input for the window under the
// point. It starts once the broker's window is there, as the phone's window system starts once
// the device manager has loaded its drivers: in devmgr.exe, its own process, or with
// --device-manager in this one. With --apps it also places the scenario's applications.
//   wsys.exe --samples FILE [--settle MS] [--device-manager] [--apps SCENARIO]
//            [--input post|inject]
// Injected input (SendInput) needs a graphics driver that delivers it; Wine's headless "null"
// driver does not, so "post" (the default) posts the mouse messages to the window under the point,
// held by the window the pen came down on until the pen-up, as mouse capture would.
// The samples file may be the plan the simulator wrote for a scenario (sim/WinePlan.h): the stock
// driver stand-in plays it, handing its commands to the scene player here; the registry writes
// the comparison looks for are printed as they happen, and programs the plan started that still
// run at the end are ended.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "Apps.h"
#include "DebugZones.h"
#include "DeviceManager.h"
#include "RegistryWatch.h"
#include "ScenePlayer.h"

typedef BOOL (*SampleCallback)(UINT32 flags, INT x, INT y);
typedef UINT_PTR (*EnableEntry)(SampleCallback, UINT_PTR);

namespace {

const UINT32 kValid = 0x01;
const UINT32 kDown = 0x02;

bool Inject = false;
volatile LONG Received = 0;
bool PenDown = false;
HWND Captured = nullptr;

void Post(UINT message, POINT screen) {
  HWND target = Captured != nullptr ? Captured : WindowFromPoint(screen);
  if (target == nullptr) return;
  POINT client = screen;
  ScreenToClient(target, &client);
  WPARAM keys = message == WM_LBUTTONUP ? 0 : MK_LBUTTON;
  PostMessageW(target, message, keys, MAKELPARAM(client.x, client.y));
  if (message == WM_LBUTTONDOWN) Captured = target;
  if (message == WM_LBUTTONUP) Captured = nullptr;
}

void Send(DWORD flags, POINT screen) {
  INPUT input = {};
  input.type = INPUT_MOUSE;
  input.mi.dx = MulDiv(screen.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
  input.mi.dy = MulDiv(screen.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
  input.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &input, sizeof(input));
}

BOOL SystemSample(UINT32 flags, INT x, INT y) {
  InterlockedIncrement(&Received);
  POINT screen = {x / 4, y / 4};
  bool down = (flags & kValid) && (flags & kDown);
  UINT message = down ? (PenDown ? WM_MOUSEMOVE : WM_LBUTTONDOWN) : WM_LBUTTONUP;
  if (!down && !PenDown) return TRUE;  // nothing pressed: a lone pen-up moves nothing
  PenDown = down;
  if (Inject) {
    Send(message == WM_LBUTTONDOWN ? MOUSEEVENTF_LEFTDOWN
         : message == WM_LBUTTONUP ? MOUSEEVENTF_LEFTUP
                                   : 0,
         screen);
  } else {
    Post(message, screen);
  }
  return TRUE;
}

// Real time: a device manager of its own process may take a while to load its drivers.
bool WaitForBroker() {
  for (int i = 0; i < 2000; ++i) {
    if (FindWindowW(L"MSGBROKER", nullptr) != nullptr) return true;
    Sleep(5);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const char* samples = nullptr;
  DWORD settle = 1000;
  bool deviceManager = false;
  const char* apps = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--samples") && i + 1 < argc)
      samples = argv[++i];
    else if (!strcmp(argv[i], "--settle") && i + 1 < argc)
      settle = strtoul(argv[++i], nullptr, 10);
    else if (!strcmp(argv[i], "--device-manager"))
      deviceManager = true;
    else if (!strcmp(argv[i], "--apps") && i + 1 < argc)
      apps = argv[++i];
    else if (!strcmp(argv[i], "--input") && i + 1 < argc)
      Inject = !strcmp(argv[++i], "inject");
  }
  if (samples == nullptr) {
    fprintf(stderr,
            "usage: wsys.exe --samples FILE [--settle MS] [--device-manager] "
            "[--apps SCENARIO] [--input post|inject]\n");
    return 2;
  }
  SetEnvironmentVariableA("VEXORI_SAMPLES", samples);
  StartRegistryWatch();
  if (apps != nullptr && !StartApps(apps, 120000)) return 3;
  if (deviceManager) StartBuiltInDrivers();
  if (!WaitForBroker()) printf("window system: no broker window\n");

  WCHAR driver[MAX_PATH] = L"touch.dll";
  DWORD size = sizeof(driver) - sizeof(WCHAR);
  RegGetValueW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\TOUCH", L"DriverName", RRF_RT_REG_SZ,
               nullptr, driver, &size);
  HMODULE module = LoadLibraryW(driver);
  if (module != nullptr) ApplyDebugZones(module);
  EnableEntry enable = module != nullptr
                           ? reinterpret_cast<EnableEntry>(reinterpret_cast<void (*)()>(
                                 GetProcAddress(module, "TouchPanelEnable")))
                           : nullptr;
  if (enable == nullptr || !enable(SystemSample, 0)) {
    printf("window system: touch driver %ls %s\n", driver,
           module == nullptr ? "did not load" : "not enabled");
    return 3;
  }
  printf("window system: touch driver %ls enabled, input %s\n", driver,
         Inject ? "injected" : "posted");
  fflush(stdout);

  HANDLE played = CreateEventW(nullptr, TRUE, FALSE, L"VexoriSamplesPlayed");
  DWORD waited = WaitForSingleObject(played, 120000);
  Sleep(settle);
  EndScene();
  EndRegistryWatch();
  printf("window system: %s, %ld samples reached the window system\n",
         waited == WAIT_OBJECT_0 ? "all samples played" : "samples not all played",
         static_cast<long>(Received));
  fflush(stdout);
  if (apps != nullptr) {
    EndApps();
  } else {
    SetEvent(CreateEventW(nullptr, TRUE, FALSE, L"VexoriSceneEnd"));
  }
  ExitProcess(waited == WAIT_OBJECT_0 ? 0 : 4);
}
