// The platform browser's windows, recognised by exact class name, and the class-name test that
// the engine and the proxy share.
#pragma once

#include <windows.h>
#include <wchar.h>

static const WCHAR kBrowserFrameClass[] = TEXT("IExplore");
static const WCHAR kBrowserViewClass[] = TEXT("PIEHTML");

// Class names are read into a buffer of this many characters.
const int kClassNameChars = 50;

// True when the window's class name is exactly `name`; false for a window that is gone.
inline bool WindowClassIs(HWND window, const WCHAR* name) {
  WCHAR cls[kClassNameChars] = {0};
  GetClassNameW(window, cls, kClassNameChars);
  return wcscmp(cls, name) == 0;
}

// Time of the previous page navigation call of this module (the browser's hold-back).
extern DWORD lastNavTick;
