// Direction codes as the debug output shows them: each code's letter and length, "Z34 Q40".
#pragma once

#include "gesture/Gestures.h"

// Room for ten codes of the longest lengths and the terminator.
const int kCodeTextChars = 128;

// Writes the codes of `slots` up to the first free slot; `out` holds kCodeTextChars characters.
void FormatCodes(const cGesture* slots, WCHAR* out);

// A behaviour code's meaning in a few words; "none" for a number without one.
const WCHAR* BehaviourName(UINT behaviour);
