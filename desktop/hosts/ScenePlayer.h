// The plan's commands other than samples and registry writes, played in the window system's
// process: the stock driver stand-in calls VexoriSceneLine (exported by the program) for each.
#pragma once

#include <windows.h>

extern "C" __declspec(dllexport) BOOL VexoriSceneLine(const char* line);
// Ends the programs the plan started that still run.
void EndScene();
