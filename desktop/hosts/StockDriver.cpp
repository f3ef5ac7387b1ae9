// touch.dll for Wine: a stand-in for the phone's stock touch driver. Its TouchPanelEnable starts a
// thread that plays the samples of the file VEXORI_SAMPLES names, each at its time after the
// first, to the callback it was given, and then sets the event "VexoriSamplesPlayed".
// A line of the file: the time in ms, the flags in hex, x and y in quarter pixels of the panel; or
// the time, "reg", a key under HKEY_LOCAL_MACHINE, a value name and a number, for a registry write
// the scenario makes at that time while the system runs.
#include <windows.h>

#include <stdio.h>

#include <vector>

typedef BOOL (*SampleCallback)(UINT32 flags, INT x, INT y);

namespace {

struct Sample {
  double ms;
  unsigned flags;
  int x;
  int y;
  bool write;  // a registry write instead of a sample
  WCHAR key[260];
  WCHAR value[64];
  DWORD data;
};

SampleCallback Callback = nullptr;
std::vector<Sample> Samples;

bool ReadSamples() {
  char path[MAX_PATH] = {0};
  if (GetEnvironmentVariableA("VEXORI_SAMPLES", path, MAX_PATH) == 0) return false;
  FILE* file = fopen(path, "r");
  if (file == nullptr) return false;
  char line[600];
  while (fgets(line, sizeof(line), file) != nullptr) {
    Sample s = {};
    char key[260], value[64];
    unsigned long data = 0;
    if (sscanf(line, "%lf reg %259s %63s %lu", &s.ms, key, value, &data) == 4) {
      s.write = true;
      MultiByteToWideChar(CP_UTF8, 0, key, -1, s.key, 260);
      MultiByteToWideChar(CP_UTF8, 0, value, -1, s.value, 64);
      s.data = static_cast<DWORD>(data);
      Samples.push_back(s);
    } else if (sscanf(line, "%lf %x %d %d", &s.ms, &s.flags, &s.x, &s.y) == 4) {
      Samples.push_back(s);
    }
  }
  fclose(file);
  return true;
}

DWORD WINAPI Player(LPVOID) {
  HANDLE played = CreateEventW(nullptr, TRUE, FALSE, L"VexoriSamplesPlayed");
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  double first = Samples.empty() ? 0 : Samples.front().ms;
  for (const Sample& s : Samples) {
    // Each sample at its own time: a late one goes at once, and those after it keep their times.
    for (;;) {
      QueryPerformanceCounter(&now);
      double elapsed = 1000.0 * (now.QuadPart - start.QuadPart) / frequency.QuadPart;
      double wait = (s.ms - first) - elapsed;
      if (wait <= 0) break;
      Sleep(wait > 2 ? static_cast<DWORD>(wait - 1) : 0);
    }
    if (s.write) {
      RegSetKeyValueW(HKEY_LOCAL_MACHINE, s.key, s.value, REG_DWORD, &s.data, sizeof(s.data));
    } else {
      Callback(s.flags, s.x, s.y);
    }
  }
  SetEvent(played);
  return 0;
}

}  // namespace

#define STOCK extern "C" __declspec(dllexport)

STOCK UINT_PTR TouchPanelEnable(SampleCallback callback, UINT_PTR) {
  Callback = callback;
  if (callback == nullptr || !ReadSamples()) return FALSE;
  HANDLE thread = CreateThread(nullptr, 0, Player, nullptr, 0, nullptr);
  if (thread == nullptr) return FALSE;
  SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);  // as the phone's touch thread runs
  CloseHandle(thread);
  return TRUE;
}

// The table entries the proxy forwards to: nothing to do with a panel that only plays a file.
#define ENTRY2(name)                        \
  STOCK UINT_PTR name(UINT_PTR, UINT_PTR) { \
    return 0;                               \
  }
ENTRY2(TouchCreateEvent)
ENTRY2(TouchGetFocusWnd)
ENTRY2(TouchGetLastTouchFocusWnd)
ENTRY2(TouchGetQueuePtr)
ENTRY2(TouchGetValue)
ENTRY2(TouchPanelDisable)
ENTRY2(TouchPanelGetDeviceCaps)
ENTRY2(TouchPanelPowerHandler)
ENTRY2(TouchPanelReadCalibrationAbort)
ENTRY2(TouchPanelReadCalibrationPoint)
ENTRY2(TouchPanelSetMode)
ENTRY2(TouchRegisterWindow)
ENTRY2(TouchReset)
ENTRY2(TouchSetValue)
ENTRY2(TouchUnregisterWindow)
STOCK void TouchPanelCalibrateAPoint(UINT_PTR, UINT_PTR, UINT_PTR, UINT_PTR) {}
STOCK UINT_PTR TouchPanelSetCalibration(UINT_PTR, UINT_PTR, UINT_PTR, UINT_PTR, UINT_PTR) {
  return 0;
}
