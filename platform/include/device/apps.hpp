// Stand-in applications that a test or scenario puts on the device's screen. They run in the
// process "apps.exe" on one thread and behave as real applications would.
#pragma once

#include <windows.h>

#include <string>

#include "device/device.hpp"

namespace dev::apps {

enum class Kind {
  List,          // "VexoriList": a vertical scroll bar, one line per SB_LINEDOWN/SB_LINEUP
  Browser,       // "IExplore": the browser's frame
  BrowserView,   // "PIEHTML": the browser's HTML view, moved by SB_THUMBPOSITION
  InputPanel,    // "SipWndClass": the soft input panel
  Opera,         // "OperaMobileMain"
  GestureAware,  // "GST_Viewer" (or the class given): records every message it receives
  Plain,         // "VexoriPlain": no scroll bar
};

struct WindowSpec {
  Kind kind = Kind::Plain;
  int x = 0, y = 0, width = 240, height = 320;  // relative to the parent's client area
  HWND parent = nullptr;
  int lines = 100;  // list: number of lines; view: height of the page in pixels
  int page = 10;    // list: lines on screen
  bool visible = true;
  bool ink = false;    // sets the extended style bit that makes a window not scrollable
  std::u16string cls;  // overrides the kind's class name
  std::u16string title;
  bool refuses_close = false;  // WM_CLOSE is logged and ignored; otherwise the window closes
  // Browser frame: the pages of its history and the one shown (1 to history, 0 for the last).
  int history = 1;
  int history_at = 0;
  bool stores_zoom = true;  // false: a browser that never writes "ZoomSetting"
};

// Kind names as scenarios write them: list, browser, view, sip, opera, aware, plain.
bool kind_from_name(const std::string& name, Kind* kind);

// Creates a window on the applications' thread and returns it (null if it could not be made).
HWND place(Device& device, const WindowSpec& spec);
// Makes a window (its top-level ancestor) the foreground window.
void set_foreground(Device& device, HWND window);
void show(Device& device, HWND window, bool visible);
void destroy(Device& device, HWND window);
// A window's vertical scroll position (0 if it has none).
int scroll_pos(Device& device, HWND window);

}  // namespace dev::apps
