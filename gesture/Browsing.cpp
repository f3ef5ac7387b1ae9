// Page navigation and zoom in the web browser: the gesture is made on the browser's HTML view,
// and the command goes, posted, to its frame, which carries it out itself.
#include "gesture/Browser.h"
#include "gesture/Gestures.h"

// Time of the previous NavPage call, whether or not it posted: calls that keep coming faster than
// the hold-back post nothing after the first.
DWORD lastNavTick = 0;

const WORD kNavCommandLeftward = 2205;
const WORD kNavCommandRightward = 2200;
const DWORD kNavHoldBackMs = 500;

static const WCHAR kZoomKey[] = TEXT("Software\\Microsoft\\Internet Explorer\\Main");
static const WCHAR kZoomValue[] = TEXT("ZoomSetting");
// The level assumed when the browser's own cannot be read, and the highest it has.
const DWORD kDefaultZoomLevel = 2;
const DWORD kTopZoomLevel = 4;
// The command for level n is this less n.
const WORD kZoomCommandBase = 5677;

// The browser's frame, when the window is a view inside one, however deep among its views (the
// proxy aims at the innermost view under the finger); null otherwise.
static HWND BrowserFrameOf(HWND window) {
  HWND parent = GetParent(window);
  while (parent != nullptr && WindowClassIs(parent, kBrowserViewClass)) parent = GetParent(parent);
  if (parent == nullptr || !WindowClassIs(parent, kBrowserFrameClass)) return nullptr;
  return parent;
}

static void PostCommand(HWND frame, WORD command) {
  PostMessageW(frame, WM_COMMAND, MAKEWPARAM(command, 0), reinterpret_cast<LPARAM>(frame));
}

bool Gestures::NavPage(HWND window, bool leftward) {
  DWORD now = GetTickCount();
  HWND frame = BrowserFrameOf(window);
  // Compared unsigned: read as a signed number, a call more than 24.8 days after the last would
  // seem to come before it and be held back.
  if (frame != nullptr && (lastNavTick == 0 || now - lastNavTick >= kNavHoldBackMs)) {
    PostCommand(frame, leftward ? kNavCommandLeftward : kNavCommandRightward);
  }
  lastNavTick = now;
  return true;
}

bool Gestures::ZoomContent(HWND window, bool lowerLevel) {
  DWORD level = kDefaultZoomLevel;
  HWND frame = BrowserFrameOf(window);
  if (frame == nullptr) return true;

  // Each step starts from the level the browser has stored by now; the engine never writes it.
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kZoomKey, 0, 0, &key) == ERROR_SUCCESS) {
    DWORD stored = 0;
    if (SUCCEEDED(RegistryGetDWORD(key, nullptr, kZoomValue, &stored))) level = stored;
    RegCloseKey(key);
  }
  if (lowerLevel) {
    if (level != 0) --level;
  } else {
    ++level;
  }
  if (level > kTopZoomLevel) level = kTopZoomLevel;
  PostCommand(frame, static_cast<WORD>(kZoomCommandBase - level));
  return true;
}
