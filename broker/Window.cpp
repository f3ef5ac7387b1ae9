// The broker window: hidden, found by its class, it receives the gestures that the proxy hands
// over and carries them out on its 80 ms timer, on the broker thread.
#include <string.h>

#include "broker/Broker.h"
#include "gesture/DebugZones.h"
#include "gesture/Sound.h"
#include "gesture/Word.h"

static const WCHAR kBrokerClass[] = TEXT("MSGBROKER");
static const WCHAR kBrokerName[] = TEXT("MsgBroker");

// Every message is answered with this.
const LRESULT kHandled = 1;

static void CALLBACK BrokerTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  Gestures* engine = Broker.BrokerEngine;
  if (engine != nullptr) engine->ProcessTimer(engine->TargetWnd, 0, 0, 0);
}

// Nothing here reaches the default window procedure. Without an engine (its allocation failed
// at load) every message is answered and nothing is carried out.
static LRESULT CALLBACK BrokerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  Gestures* engine = Broker.BrokerEngine;
  switch (message) {
    case WM_CREATE:
      if (engine != nullptr) engine->SetMsgBroker(window);
      break;
    case kHandOverMsg: {
      Gestures* source = HandedOverSource(wParam);
      if (source == nullptr) {
        // Not the proxy's engine: nothing is read through the address.
        DEBUGMSG(ZONE_ERROR, (TEXT("Hand-over from an unknown address ignored\r\n")));
        break;
      }
      if (engine != nullptr) {
        engine->DuplicateGestureData(source);
        Broker.BrokerTimer =
            SetTimer(window, kGestureTimer, kGestureTimerPeriodMs, BrokerTimerProc);
      }
      break;
    }
    case kResetMsg:
      if (engine != nullptr) engine->ResetData();
      break;
    case kScrollQueryMsg:
      return engine != nullptr ? engine->IsInGestureScrolling() : 0;
    case WM_CLOSE:
      if (Broker.BrokerTimer != 0) KillTimer(window, Broker.BrokerTimer);
      Broker.BrokerTimer = 0;
      if (engine != nullptr) engine->Quit();
      PostQuitMessage(0);
      break;
    default:
      break;
  }
  return kHandled;
}

static bool CreateBrokerWindow(HINSTANCE module) {
  WCHAR name[16];
  WCHAR cls[16];
  wcscpy(name, kBrokerName);
  wcscpy(cls, kBrokerClass);

  // A broker window left behind by an earlier load of this module goes first.
  HWND stale = FindWindowW(cls, name);
  if (stale != nullptr) DestroyWindow(stale);

  WNDCLASSW wc;
  memset(&wc, 0, sizeof(wc));
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = BrokerWndProc;
  wc.hInstance = module;
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = cls;
  if (RegisterClassW(&wc) == 0) return false;

  HWND window = CreateWindowExW(0, cls, name, 0, 0, 0, 0, 0, nullptr, nullptr, module, nullptr);
  if (window == nullptr) return false;
  StoreWord(Broker.BrokerWnd, window);
  ShowWindow(window, SW_HIDE);
  return true;
}

DWORD WINAPI BrokerThreadRoutine(LPVOID) {
  if (!CreateBrokerWindow(Broker.Module)) return 0;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    // A timer message's lParam is a procedure that DispatchMessage calls, and anyone can post
    // one to this window. So no timer message is dispatched: the gesture timer's procedure is
    // called here, and any other timer message is let go. (lParam cannot be compared instead: on
    // desktop it is a handle of the window system's own, not the procedure.)
    if (msg.message == WM_TIMER) {
      if (msg.hwnd != nullptr && msg.hwnd == LoadWord(Broker.BrokerWnd) &&
          msg.wParam == kGestureTimer) {
        BrokerTimerProc(msg.hwnd, WM_TIMER, msg.wParam, GetTickCount());
      } else {
        DEBUGMSG(ZONE_ERROR, (TEXT("Timer message of another timer ignored\r\n")));
      }
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  // The loop may also end by a WM_QUIT that someone else posted, in the middle of a momentum:
  // the gesture ends here, so that its timer stops and the scrolling state says it has ended
  // rather than reading "scrolling" for the rest of the process's life.
  if (Broker.BrokerEngine != nullptr) Broker.BrokerEngine->ResetData();
  Broker.BrokerTimer = 0;
  HWND window = LoadWord(Broker.BrokerWnd);
  StoreWord(Broker.BrokerWnd, nullptr);
  DestroyWindow(window);
  return static_cast<DWORD>(msg.wParam);
}

// How often a deinit that came before the broker window looks for it again, in ms.
const DWORD kWindowPollMs = 20;

bool StopBrokerThreads(DWORD waitMs) {
  HANDLE thread = Broker.BrokerThread;
  if (thread != nullptr) {
    // Closed, the window ends the thread's message loop; the thread then destroys it, so that
    // nothing can reach its window procedure once this module is gone. A thread that has not
    // made its window yet is waited for until it has (or has ended without one).
    HWND window = LoadWord(Broker.BrokerWnd);
    DWORD waited = 0;
    while (window == nullptr) {
      if (waited >= waitMs) return false;
      if (WaitForSingleObject(thread, kWindowPollMs) == WAIT_OBJECT_0) break;
      waited += kWindowPollMs;
      window = LoadWord(Broker.BrokerWnd);
    }
    if (window != nullptr) PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(thread, waitMs) != WAIT_OBJECT_0) return false;
  }
  return StopSoundThread(waitMs);
}
