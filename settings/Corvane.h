// The settings program: its program-wide state and the routines its files share.
#pragma once

#include <windows.h>
#include <aygshell.h>

struct CorvaneState {
  HINSTANCE Instance;
  HWND MenuBar;         // the most recently created one: first the main window's, then the dialog's
  HWND SettingsDialog;  // owns the message boxes shown while saving
  SHACTIVATEINFO ActivateInfo;
};

extern CorvaneState Corvane;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);

// Runs a dialog of the program's resources modally; -1 when its template cannot be found.
INT_PTR RunDialogTemplate(HWND owner, int id, DLGPROC procedure);
// Creates the menu bar of menu resource 102 for a window; on failure tells the user and returns
// FALSE.
BOOL CreateMenuBar(HWND owner);
void LoadSwitches(HWND dialog);
void SaveSwitches(HWND dialog);
void PaintHeading(HWND dialog);
void LaunchHelp();
