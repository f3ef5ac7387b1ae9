// The desktop Win32 headers, with what the phone's core library has beyond them: event data,
// pointer mapping between processes, process permissions, kernel mode, GetProcAddressW, and the
// phone's rules where desktop's differ (registry access, window text, dialog frames, the scroll
// bars of other processes' windows), which the desktop layer keeps for the code built against
// this header.
#ifndef VEXORI_DESKTOP_WINDOWS_H
#define VEXORI_DESKTOP_WINDOWS_H

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

#include_next <windows.h>
#include <mmsystem.h>
#include <winver.h>
// The phone's windows.h also declares the core library's wide string routines.
#include <stdio.h>
#include <wchar.h>

// Window styles that only the phone's shell knows: nothing on desktop.
#define WS_EX_CAPTIONOKBTN 0
#define WS_EX_INK 0
// The phone takes a colour index with this flag set; desktop takes the index alone.
#define SYS_COLOR_INDEX_FLAG 0
// The phone names the upright orientation DMDO_0; desktop names it DMDO_DEFAULT.
#ifndef DMDO_0
#define DMDO_0 DMDO_DEFAULT
#endif
#ifndef DM_DISPLAYQUERYORIENTATION
#define DM_DISPLAYQUERYORIENTATION 0x01000000L
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Event data: a word kept with an event, seen by every process that opens the event by name.
BOOL WINAPI SetEventData(HANDLE hEvent, DWORD dwData);
DWORD WINAPI GetEventData(HANDLE hEvent);

// Memory between processes, permissions and kernel mode: nothing to do on desktop, where each
// process has an address space of its own.
LPVOID WINAPI MapPtrToProcess(LPVOID lpv, HANDLE hProc);
DWORD WINAPI SetProcPermissions(DWORD newperms);
DWORD WINAPI GetCurrentPermissions(void);
BOOL WINAPI SetKMode(BOOL fMode);

// An entry point looked up by its wide name.
FARPROC WINAPI GetProcAddressW(HMODULE hModule, LPCWSTR lpProcName);

// Scroll bars of any process's window, as the phone's window system keeps them: a window of
// another process is asked through that process, where it answers (DesktopAnswerScrollQueries).
BOOL WINAPI DesktopGetScrollInfo(HWND hwnd, int nBar, LPSCROLLINFO lpsi);
int WINAPI DesktopSetScrollPos(HWND hWnd, int nBar, int nPos, BOOL bRedraw);
BOOL WINAPI DesktopAnswerScrollQueries(void);

#ifdef __cplusplus
}
#endif

// A phone program's entry point takes its command line wide; the desktop program's wWinMain
// (in the layer) calls it under this name.
int WINAPI PhoneWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine,
                        int nShowCmd);

// The phone's rules where desktop's differ, kept by the layer.
#include "PhoneRules.h"

#ifndef VEXORI_DESKTOP_LAYER
#define GetScrollInfo DesktopGetScrollInfo
#define SetScrollPos DesktopSetScrollPos
#define WinMain PhoneWinMain
#endif

#include <dbgapi.h>

#endif  // VEXORI_DESKTOP_WINDOWS_H
