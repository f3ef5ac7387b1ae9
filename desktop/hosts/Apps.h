// The scenario's applications, on a thread of their own.
#pragma once

#include <windows.h>

// Places the windows of the scenario file's "window" lines and makes its "foreground" window the
// foreground one; false when a window could not be placed.
bool StartApps(const char* scene, DWORD timeout);
// Ends them after what is queued for them, printing every vertical scroll position.
void EndApps();
