// The settings dialog: two switches, saved only when the user presses Done.
#include "settings/Corvane.h"

#include "settings/Resources.h"

namespace {

// The dialog ends with these results.
const INT_PTR kSaved = 0;
const INT_PTR kNoMenuBar = -1;
const INT_PTR kClosed = 16;

}  // namespace

// Every message counts as handled, those it does not act on included.
INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      Corvane.SettingsDialog = dialog;
      SHINITDLGINFO info = {SHIDIM_FLAGS, dialog,
                            SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
      SHInitDialog(&info);
      LoadSwitches(dialog);
      if (!CreateMenuBar(dialog)) EndDialog(dialog, kNoMenuBar);
      break;
    }
    case WM_PAINT:
      PaintHeading(dialog);
      break;
    case WM_CLOSE:
      EndDialog(dialog, kClosed);
      break;
    case WM_HELP:
      LaunchHelp();
      break;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          SaveSwitches(dialog);
          EndDialog(dialog, kSaved);
          break;
        case IDM_QUIT_UNSAVED:
          SendMessageW(GetParent(dialog), WM_CLOSE, 0, 0);
          break;
        case IDM_ABOUT:
          SendMessageW(GetParent(dialog), WM_COMMAND, IDM_ABOUT, 0);
          break;
        default:
          break;
      }
      break;
    default:
      break;
  }
  return TRUE;
}
