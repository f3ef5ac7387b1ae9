// The word through which a pan tells the module that hosts the engine which stroke panned: at
// each panning scroll step the engine writes its count of button-downs there. The touch driver
// proxy points it at a word of its own, which only the engine writes, and compares it with its
// own count of the button-downs it handed to the engine; elsewhere the pointer stays null.
#pragma once

#include <windows.h>

extern DWORD* PannedStrokeWord;
