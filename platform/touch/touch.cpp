// The stock touch-panel driver of the simulated device.
//
// Exports the eighteen entry points that the window system binds by name. Each records its call
// and arguments in the device log and returns a value of its own, so that a caller in between can
// be checked for passing arguments and results through unchanged. TouchPanelEnable starts the
// driver's sample thread, which plays the panel's samples to the callback it was given.
//
// Built in several variants for the tests: TOUCH_NAME names the file, TOUCH_RESULT_BASE sets the
// results, TOUCH_OMIT_VALUE leaves out TouchGetValue and TouchReset, TOUCH_OMIT_ENABLE leaves out
// TouchPanelEnable, TOUCH_QUIET records nothing and hands out the callback it was given (for the
// benchmarks).
#include <tchddi.h>

#include "device/hardware.hpp"
#include "device/log.hpp"

#ifndef TOUCH_NAME
#define TOUCH_NAME "touch.dll"
#endif
#ifndef TOUCH_RESULT_BASE
#define TOUCH_RESULT_BASE 0x7000
#endif

typedef UINT_PTR Word;

namespace {

bool g_enabled = false;

#ifdef TOUCH_QUIET
inline void record(const char*, std::initializer_list<Word>, bool = false, Word = 0) {}
#else
void record(const char* entry, std::initializer_list<Word> args, bool has_result = false,
            Word result = 0) {
  if (!dev::log_on()) return;
  dev::Fields list = dev::Fields::array();
  for (Word a : args) list.push_back(dev::hex(a));
  dev::Fields f = {{"driver", TOUCH_NAME}, {"entry", entry}, {"args", list}};
  if (has_result) f["result"] = dev::hex(result);
  dev::log_event("touch-call", std::move(f));
}
#endif

Word result(int index) {
  return TOUCH_RESULT_BASE + index;
}

#ifndef TOUCH_OMIT_ENABLE
PFN_TOUCH_PANEL_CALLBACK g_callback = nullptr;
HANDLE g_sample_thread = nullptr;

DWORD WINAPI sample_thread(LPVOID) {
  dev::set_thread_name("touch-ist");
  for (;;) {
    dev::PanelSample s = dev::hw::panel_next();
    bool log = dev::log_on();
    if (!g_enabled || g_callback == nullptr) {
      if (log) {
        dev::log_event("panel-dropped",
                       dev::fields("flags", dev::hex(s.flags), "x", s.x, "y", s.y));
      }
      continue;
    }
    if (log) dev::log_event("panel", dev::fields("flags", dev::hex(s.flags), "x", s.x, "y", s.y));
    g_callback(s.flags, s.x, s.y);
  }
}
#endif

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

#define VOID_ENTRY2(name)            \
  EXPORT void name(Word a, Word b) { \
    record(#name, {a, b});           \
  }
#define VALUE_ENTRY2(name, index)    \
  EXPORT Word name(Word a, Word b) { \
    Word r = result(index);          \
    record(#name, {a, b}, true, r);  \
    return r;                        \
  }

VOID_ENTRY2(TouchCreateEvent)
VALUE_ENTRY2(TouchGetFocusWnd, 2)
VALUE_ENTRY2(TouchGetLastTouchFocusWnd, 3)
VALUE_ENTRY2(TouchGetQueuePtr, 4)
#ifndef TOUCH_OMIT_VALUE
VALUE_ENTRY2(TouchGetValue, 5)
VOID_ENTRY2(TouchReset)
#endif
VALUE_ENTRY2(TouchPanelGetDeviceCaps, 8)
VOID_ENTRY2(TouchPanelPowerHandler)
VOID_ENTRY2(TouchPanelReadCalibrationAbort)
VALUE_ENTRY2(TouchPanelReadCalibrationPoint, 11)
VALUE_ENTRY2(TouchPanelSetMode, 13)
VALUE_ENTRY2(TouchRegisterWindow, 14)
VOID_ENTRY2(TouchSetValue)
VOID_ENTRY2(TouchUnregisterWindow)

EXPORT void TouchPanelCalibrateAPoint(Word a, Word b, Word c, Word d) {
  record("TouchPanelCalibrateAPoint", {a, b, c, d});
}

EXPORT Word TouchPanelSetCalibration(Word a, Word b, Word c, Word d, Word e) {
  Word r = result(12);
  record("TouchPanelSetCalibration", {a, b, c, d, e}, true, r);
  return r;
}

EXPORT void TouchPanelDisable(Word a, Word b) {
  record("TouchPanelDisable", {a, b});
  g_enabled = false;
}

#ifndef TOUCH_OMIT_ENABLE
EXPORT Word TouchPanelEnable(PFN_TOUCH_PANEL_CALLBACK callback, Word b) {
  dev::Fields f = {{"driver", TOUCH_NAME},
                   {"entry", "TouchPanelEnable"},
                   {"callback", dev::hw::module_of_address(reinterpret_cast<void*>(callback))},
                   {"args", {dev::hex(b)}},
                   {"result", TRUE}};
  dev::log_event("touch-call", f);
  g_callback = callback;
  g_enabled = callback != nullptr;
  if (g_sample_thread == nullptr) {
    g_sample_thread = CreateThread(nullptr, 0, sample_thread, nullptr, 0, nullptr);
  }
  return TRUE;
}
#endif

#ifdef TOUCH_QUIET
EXPORT PFN_TOUCH_PANEL_CALLBACK TouchBenchCallback() {
  return g_callback;
}
#endif
