// Stages of the sample pipeline that classify the target window and decide what reaches the
// window system.
#pragma once

#include <windows.h>

#include "gesture/Gestures.h"

// Sets the engine's target window and whether it is gesture-aware, from the pen-down point.
void SearchTarget(Gestures& engine, POINT penDown);
// May move the target to the browser's HTML view under the finger.
void RefineBrowserTarget(Gestures& engine, const MSG& record);
// True when the record was replayed to the window system and the pipeline stops.
bool OperaStage(Gestures& engine, const MSG& record);
bool InputPanelStage(Gestures& engine, const MSG& record);
// Travel of the current stroke as the pass-through decision counts it; only the sample thread
// writes it.
extern int PathLength;
// The engine's count of button-downs at its last panning step; only the engine writes it.
extern DWORD PannedStroke;
// Button-downs handed to the worker, whose engine counts them too; only the sample thread writes
// it.
extern DWORD PostedDowns;

// Holds the record until its stroke is decided; true when the stroke passes through to the window
// system (its held records then reach it, oldest first, and the record is not for the engine).
bool PassThroughDecision(Gestures& engine, const MSG& record, HWND target);
// Lets go of the records still held (a stroke whose pen-up never came) as the module goes.
void ForgetHeldRecords();
