// The scenario's applications, on a thread of their own.
#pragma once

#include <windows.h>

// Places the windows of the scenario file's "window" lines and makes its "foreground" window the
// foreground one; false when a window could not be placed.
bool StartApps(const char* scene, DWORD timeout);
// Carries out a window command (window, foreground, show, hide, destroy) on their thread; false
// when it could not.
bool AppsCommand(const char* line);
// The window placed under the label, or null.
HWND AppsWindow(const char* label);
// Ends them after what is queued for them, printing every vertical scroll position.
void EndApps();
