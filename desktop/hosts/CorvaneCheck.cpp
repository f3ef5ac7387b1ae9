// corvane-check.exe: does to the settings program's dialogs what a user does, under Wine, and
// prints what it saw: the settings dialog and its two switches, the registry values its opening
// created, the switches after a tap on each, the About box's version, and what Done saved.
#include <windows.h>

#include <stdio.h>

namespace {

const int kGestureSwitch = 1000;
const int kSoundSwitch = 1001;
const int kVersion = 205;
const UINT kAboutCommand = 40002;
const WCHAR kSwitchesKey[] = L"Software\\Quob\\Gesture";

struct Search {
  int control;
  HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM data) {
  Search* search = reinterpret_cast<Search*>(data);
  WCHAR cls[16] = {0};
  GetClassNameW(window, cls, 16);
  if (IsWindowVisible(window) && lstrcmpW(cls, L"#32770") == 0 &&
      GetDlgItem(window, search->control) != nullptr) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// The visible dialog that has the control, waited for up to 10 s.
HWND WaitForDialog(int control) {
  for (int i = 0; i < 1000; ++i) {
    Search search = {control, nullptr};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    Sleep(10);
  }
  return nullptr;
}

bool WaitGone(HWND window) {
  for (int i = 0; i < 1000 && IsWindow(window); ++i) Sleep(10);
  return !IsWindow(window);
}

const char* Checked(HWND dialog, int control) {
  return SendMessageW(GetDlgItem(dialog, control), BM_GETCHECK, 0, 0) == BST_CHECKED ? "on" : "off";
}

void SayValue(const WCHAR* name) {
  DWORD data = 0, size = sizeof(data);
  LONG read =
      RegGetValueW(HKEY_LOCAL_MACHINE, kSwitchesKey, name, RRF_RT_REG_DWORD, nullptr, &data, &size);
  if (read == ERROR_SUCCESS) {
    printf(" %ls=%lu", name, static_cast<unsigned long>(data));
  } else {
    printf(" %ls=missing", name);
  }
}

void SayValues(const char* when) {
  printf("settings: registry %s:", when);
  SayValue(L"Activate");
  SayValue(L"Default");
  SayValue(L"Sound");
  printf("\n");
  fflush(stdout);
}

}  // namespace

int main() {
  HWND settings = WaitForDialog(kGestureSwitch);
  if (settings == nullptr) {
    printf("settings: no settings dialog\n");
    return 1;
  }
  WCHAR caption[64] = {0};
  SendMessageW(settings, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(caption));
  RECT outer, inner;
  GetWindowRect(settings, &outer);
  GetClientRect(settings, &inner);
  printf("settings: dialog \"%ls\" open, window %ldx%ld, client %ldx%ld, switches %s %s\n", caption,
         outer.right - outer.left, outer.bottom - outer.top, inner.right, inner.bottom,
         Checked(settings, kGestureSwitch), Checked(settings, kSoundSwitch));
  SayValues("after opening");

  SendMessageW(GetDlgItem(settings, kGestureSwitch), BM_CLICK, 0, 0);
  SendMessageW(GetDlgItem(settings, kSoundSwitch), BM_CLICK, 0, 0);
  printf("settings: after a tap on each, switches %s %s\n", Checked(settings, kGestureSwitch),
         Checked(settings, kSoundSwitch));
  fflush(stdout);

  PostMessageW(settings, WM_COMMAND, kAboutCommand, 0);
  HWND about = WaitForDialog(kVersion);
  if (about == nullptr) {
    printf("settings: no About box\n");
  } else {
    WCHAR version[64] = {0};
    SendMessageW(GetDlgItem(about, kVersion), WM_GETTEXT, 64, reinterpret_cast<LPARAM>(version));
    printf("settings: About box version \"%ls\"\n", version);
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    printf("settings: About box %s\n", WaitGone(about) ? "closed" : "still open");
  }
  fflush(stdout);

  PostMessageW(settings, WM_COMMAND, IDOK, 0);
  printf("settings: Done, dialog %s\n", WaitGone(settings) ? "closed" : "still open");
  SayValues("after Done");
  return 0;
}
