// The phone shell's dialog and menu-bar calls. Desktop has no soft-key bar: the bar's menu becomes
// the owner's own menu, so its commands still reach the owner as WM_COMMAND, and a hidden window
// owned by it stands for the bar.
#include <aygshell.h>

extern "C" BOOL WINAPI SHInitDialog(PSHINITDLGINFO info) {
  return info != nullptr && IsWindow(info->hDlg);
}

extern "C" BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO* info) {
  if (info == nullptr || info->cbSize != sizeof(SHMENUBARINFO) || !IsWindow(info->hwndParent)) {
    return FALSE;
  }
  HMENU menu = nullptr;
  if (!(info->dwFlags & SHCMBF_EMPTYBAR)) {
    menu = LoadMenuW(info->hInstRes, MAKEINTRESOURCEW(info->nToolBarId));
    if (menu == nullptr) return FALSE;
  }
  HWND bar = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, info->hwndParent, nullptr,
                             info->hInstRes, nullptr);
  if (bar == nullptr) {
    if (menu != nullptr) DestroyMenu(menu);
    return FALSE;
  }
  if (menu != nullptr) SetMenu(info->hwndParent, menu);
  info->hwndMB = bar;
  return TRUE;
}

extern "C" BOOL WINAPI SHHandleWMActivate(HWND, WPARAM, LPARAM, SHACTIVATEINFO* info, DWORD) {
  return info != nullptr;
}

extern "C" BOOL WINAPI SHHandleWMSettingChange(HWND, WPARAM, LPARAM, SHACTIVATEINFO* info) {
  return info != nullptr;
}
