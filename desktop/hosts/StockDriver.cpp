// touch.dll for Wine: a stand-in for the phone's stock touch driver. Its TouchPanelEnable starts a
// thread that plays the plan the file VEXORI_SAMPLES names (what the simulator wrote for a
// scenario, sim/WinePlan.h): each timed line at its time, the samples to the callback it was
// given, the registry writes itself, and every other command through the scene player the main
// program exports (VexoriSceneLine), waiting until it is carried out. A command that takes longer
// than the wait after it moves the rest of the plan on by as much, so that every wait of the
// scenario keeps its length. It prints a line as each stroke's pen comes down and goes up, and
// sets the event "VexoriSamplesPlayed" at the end.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

typedef BOOL (*SampleCallback)(UINT32 flags, INT x, INT y);
typedef BOOL (*SceneEntry)(const char* line);

namespace {

struct Timed {
  double ms;
  bool sample;
  unsigned flags;
  int x;
  int y;
  std::string line;  // the command, for anything but a sample
};

SampleCallback Callback = nullptr;
std::vector<Timed> Plan;

bool ReadPlan() {
  char path[MAX_PATH] = {0};
  if (GetEnvironmentVariableA("VEXORI_SAMPLES", path, MAX_PATH) == 0) return false;
  FILE* file = fopen(path, "r");
  if (file == nullptr) return false;
  char line[1024];
  while (fgets(line, sizeof(line), file) != nullptr) {
    line[strcspn(line, "\r\n")] = 0;
    Timed t = {};
    int used = 0;
    if (line[0] == '#' || sscanf(line, "%lf %n", &t.ms, &used) != 1) continue;  // setup, comments
    const char* rest = line + used;
    t.sample = sscanf(rest, "sample %x %d %d", &t.flags, &t.x, &t.y) == 3;
    if (!t.sample) t.line = rest;
    Plan.push_back(t);
  }
  fclose(file);
  return true;
}

// The words of a command, double quotes keeping spaces.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i >= line.size() || line[i] == '#') break;
    std::string w;
    if (line[i] == '"') {
      for (++i; i < line.size() && line[i] != '"'; ++i) w += line[i];
      ++i;
    } else {
      while (i < line.size() && line[i] != ' ') w += line[i++];
    }
    words.push_back(w);
  }
  return words;
}

std::wstring Wide(const std::string& text) {
  WCHAR buffer[600];
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, buffer, 600);
  return buffer;
}

// reg KEY NAME dword N | reg KEY NAME string TEXT | reg-delete KEY NAME: true when it was one.
bool RegistryLine(const std::string& line) {
  std::vector<std::string> w = Words(line);
  if (w.empty() || (w[0] != "reg" && w[0] != "reg-delete") || w.size() < 3) return false;
  HKEY root = HKEY_LOCAL_MACHINE;
  std::string key = w[1];
  size_t slash = key.find('\\');
  std::string rootName = key.substr(0, slash);
  if (rootName == "HKCU" || rootName == "HKEY_CURRENT_USER") root = HKEY_CURRENT_USER;
  key = slash == std::string::npos ? "" : key.substr(slash + 1);
  std::wstring wkey = Wide(key), name = Wide(w[2]);
  // The plan's own write, said before the registry watch can report it as any other.
  printf("touch: %s %s %s\n", w[0].c_str(), w[1].c_str(), w[2].c_str());
  fflush(stdout);
  if (w[0] == "reg-delete") {
    RegDeleteKeyValueW(root, wkey.c_str(), name.c_str());
  } else if (w.size() >= 5 && w[3] == "dword") {
    DWORD data = strtoul(w[4].c_str(), nullptr, 0);
    RegSetKeyValueW(root, wkey.c_str(), name.c_str(), REG_DWORD, &data, sizeof(data));
  } else if (w.size() >= 5) {
    std::wstring text = Wide(w[4]);
    RegSetKeyValueW(root, wkey.c_str(), name.c_str(), REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
  }
  return true;
}

double Now(const LARGE_INTEGER& start, const LARGE_INTEGER& frequency) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * (now.QuadPart - start.QuadPart) / frequency.QuadPart;
}

DWORD WINAPI Player(LPVOID) {
  HANDLE played = CreateEventW(nullptr, TRUE, FALSE, L"VexoriSamplesPlayed");
  SceneEntry scene = reinterpret_cast<SceneEntry>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(nullptr), "VexoriSceneLine")));
  LARGE_INTEGER frequency, start;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  double shift = 0;  // how far commands that took long moved the plan on
  bool down = false;
  int stroke = 0;
  for (const Timed& t : Plan) {
    // Each line at its own time: a late sample goes at once, and those after it keep their times.
    for (;;) {
      double wait = (t.ms + shift) - Now(start, frequency);
      if (wait <= 0) break;
      Sleep(wait > 2 ? static_cast<DWORD>(wait - 1) : 0);
    }
    if (t.sample) {
      bool pen = (t.flags & 0x01) && (t.flags & 0x02);
      if (pen != down) {
        if (pen) ++stroke;
        printf("touch: stroke %d %s\n", stroke, pen ? "down" : "up");
        fflush(stdout);
        down = pen;
      }
      Callback(t.flags, t.x, t.y);
    } else if (!RegistryLine(t.line) && t.line != "end") {
      if (scene == nullptr || !scene(t.line.c_str())) {
        printf("touch: not played: %s\n", t.line.c_str());
        fflush(stdout);
      }
      double late = Now(start, frequency) - (t.ms + shift);
      if (late > 0) shift += late;
    }
  }
  SetEvent(played);
  return 0;
}

}  // namespace

#define STOCK extern "C" __declspec(dllexport)

STOCK UINT_PTR TouchPanelEnable(SampleCallback callback, UINT_PTR) {
  Callback = callback;
  if (callback == nullptr || !ReadPlan()) return FALSE;
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
