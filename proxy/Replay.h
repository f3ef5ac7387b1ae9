// The way back to the window system: a sample as the panel reported it, or a record rebuilt into
// one.
#pragma once

#include <windows.h>
#include <tchddi.h>

// Hands a sample to the window system's callback, if it has given one.
void ToSystem(TOUCH_PANEL_SAMPLE_FLAGS flags, INT x, INT y);
// Hands a record back to the window system as a touch sample.
void ReplayRecord(const MSG& record);
