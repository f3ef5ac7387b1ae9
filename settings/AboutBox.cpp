// The About box: product name, the installed proxy's file version, the maker's name, a notice
// line and a logo; a device maker's switch hides the name and the logo.
#include "settings/Corvane.h"

#include <regext.h>

#include <new>

#include "settings/FileVersion.h"
#include "settings/Resources.h"

namespace {

const INT_PTR kConfirmed = 1;
const INT_PTR kClosed = 16;
const int kStringChars = 260;

void HideMakerOnRequest(HWND box) {
  HKEY key = NULL;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE\\QUOB"), 0, 0, &key) != ERROR_SUCCESS) {
    return;
  }
  DWORD odm = 0;
  if (SUCCEEDED(RegistryGetDWORD(key, NULL, TEXT("ODM_AP"), &odm)) && odm != 0) {
    ShowWindow(GetDlgItem(box, IDC_MAKER), SW_HIDE);
    ShowWindow(GetDlgItem(box, IDC_LOGO), SW_HIDE);
  }
  RegCloseKey(key);
}

void ShowProxyVersion(HWND box) {
  FileVersion* proxy = new (std::nothrow)
      FileVersion(TEXT("\\Windows\\Pallux.dll"), TEXT("Pallux.dll"), TEXT("DLL"));
  if (proxy == NULL) return;
  WCHAR version[kVersionTextChars] = {0};
  if (proxy->GetVersionForType(version)) SetWindowTextW(GetDlgItem(box, IDC_VERSION), version);
  delete proxy;
}

void ShowStrings(HWND box) {
  const struct {
    UINT string;
    int control;
  } kTexts[] = {{IDS_VERSION, IDC_VERSION_LABEL}, {IDS_MAKER, IDC_MAKER}, {IDS_NOTICE, IDC_NOTICE}};
  WCHAR text[kStringChars];
  for (const auto& t : kTexts) {
    for (WCHAR& c : text) c = 0;
    if (LoadStringW(Corvane.Instance, t.string, text, kStringChars) != 0) {
      SetWindowTextW(GetDlgItem(box, t.control), text);
    }
  }
}

void FillAboutBox(HWND box) {
  HideMakerOnRequest(box);
  ShowProxyVersion(box);
  ShowStrings(box);
  const int kTextControls[] = {IDC_PRODUCT, IDC_VERSION_LABEL, IDC_VERSION, IDC_NOTICE, IDC_MAKER};
  for (int control : kTextControls) {
    SendMessageW(GetDlgItem(box, control), WM_SETFONT, 0, TRUE);
  }
}

}  // namespace

INT_PTR CALLBACK AboutBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: {
      SHINITDLGINFO info = {
          SHIDIM_FLAGS, box,
          SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN | SHIDIF_EMPTYMENU};
      SHInitDialog(&info);
      FillAboutBox(box);
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) != IDOK) return FALSE;
      EndDialog(box, kConfirmed);
      return TRUE;
    case WM_CLOSE:
      EndDialog(box, kClosed);
      return TRUE;
    case WM_HELP:
      LaunchHelp();
      return FALSE;
    default:
      return FALSE;
  }
}
