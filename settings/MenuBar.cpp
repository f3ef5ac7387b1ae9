// The soft-key bar of the main window and of the settings dialog, built from menu 102.
#include "settings/Corvane.h"

#include "settings/Resources.h"

BOOL CreateMenuBar(HWND owner) {
  SHMENUBARINFO info = {};
  info.cbSize = sizeof(SHMENUBARINFO);
  info.hwndParent = owner;
  info.dwFlags = SHCMBF_HMENU;
  info.nToolBarId = IDM_MENUBAR;
  info.hInstRes = Corvane.Instance;
  if (!SHCreateMenuBar(&info)) {
    MessageBoxW(owner, TEXT("Cannot create menu bar"), TEXT("ERROR"), MB_OK);
    return FALSE;
  }
  Corvane.MenuBar = info.hwndMB;
  return TRUE;
}
