// Corvane.exe: the user's switchboard for the gesture function and its sounds. The process lives
// as long as its settings dialog; the hidden main window only owns the dialogs.
#include "settings/Corvane.h"

#include "gesture/DebugZones.h"
#include "settings/Resources.h"

DBGPARAM dpCurSettings = QUOB_DEBUG_ZONES(0xC000);

CorvaneState Corvane;

namespace {

const int kTextChars = 100;

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  Corvane.Instance = instance;
  WCHAR title[kTextChars] = {0};
  WCHAR class_name[kTextChars] = {0};
  LoadStringW(instance, IDS_TITLE, title, kTextChars);
  LoadStringW(instance, IDS_CLASS, class_name, kTextChars);

  // A second start brings the open dialog forward: the low bit asks for the main window's last
  // active pop-up.
  HWND running = FindWindowW(class_name, title);
  if (running != NULL) {
    SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<ULONG_PTR>(running) | 1));
    return 0;
  }

  WNDCLASSW wc = {};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCE(IDI_CORVANE));
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = class_name;
  if (!RegisterClassW(&wc)) return 0;

  HWND main_window = CreateWindowExW(0, class_name, title, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                                     CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, instance, NULL);
  if (main_window == NULL) return 0;
  ShowWindow(main_window, SW_HIDE);

  RunDialogTemplate(main_window, IDD_SETTINGS, SettingsDialogProc);
  return 0;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      // Without its menu bar the program cannot go on; -1 has the window destroyed.
      if (!CreateMenuBar(window)) return -1;
      Corvane.ActivateInfo = SHACTIVATEINFO();
      Corvane.ActivateInfo.cbSize = sizeof(SHACTIVATEINFO);
      return 0;
    case WM_ACTIVATE:
      SHHandleWMActivate(window, wParam, lParam, &Corvane.ActivateInfo, 0);
      return 0;
    case WM_SETTINGCHANGE:
      SHHandleWMSettingChange(window, wParam, lParam, &Corvane.ActivateInfo);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(window, &ps);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_DESTROY:
      // The dialog's bar goes with the dialog it belongs to; only one still there is destroyed.
      if (Corvane.MenuBar != NULL && IsWindow(Corvane.MenuBar)) DestroyWindow(Corvane.MenuBar);
      PostQuitMessage(0);
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDM_EXIT:
          SendMessageW(window, WM_CLOSE, 0, 0);
          return 0;
        case IDM_ABOUT:
          RunDialogTemplate(window, IDD_ABOUT, AboutBoxProc);
          return 0;
        default:
          break;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
