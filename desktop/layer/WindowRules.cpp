// Two of the phone's window rules, kept on desktop for the windows and dialogs of code built
// against the layer's header.
//
// Window text: the phone gives a window the name it was created with whatever its procedure does;
// desktop sets it only when WM_NCCREATE reaches DefWindowProcW. Every class registered through
// the layer gets a procedure in front of its own that, after WM_NCCREATE, gives the window its
// name through the default procedure when it is still nameless.
//
// Dialog frames: the phone's shell draws a dialog's frame and caption itself, so a dialog
// procedure may report every message handled; desktop then draws no frame. The non-client
// messages of a dialog run through the layer go on to the default dialog procedure.
#include <windows.h>

#include <wctype.h>

#include <map>
#include <mutex>
#include <string>

namespace {

std::mutex Lock;
using Text = std::basic_string<WCHAR>;
std::map<Text, WNDPROC> ClassProcedures;  // by class name, folded to upper case

Text Folded(LPCWSTR name) {
  Text s(name);
  for (WCHAR& c : s) c = static_cast<WCHAR>(towupper(c));
  return s;
}

WNDPROC ProcedureOf(HWND window) {
  WCHAR name[256] = {0};
  GetClassNameW(window, name, 256);
  std::lock_guard<std::mutex> hold(Lock);
  auto found = ClassProcedures.find(Folded(name));
  return found != ClassProcedures.end() ? found->second : nullptr;
}

LRESULT CALLBACK NamingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC own = ProcedureOf(window);
  LRESULT result = own != nullptr ? CallWindowProcW(own, window, message, wParam, lParam)
                                  : DefWindowProcW(window, message, wParam, lParam);
  // Whether it is still nameless is asked of the default procedure: GetWindowTextLengthW would
  // send WM_GETTEXTLENGTH to the window's own procedure, which may answer anything.
  if (message == WM_NCCREATE && result != 0 &&
      DefWindowProcW(window, WM_GETTEXTLENGTH, 0, 0) == 0) {
    const CREATESTRUCTW* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    if (create->lpszName != nullptr && !IS_INTRESOURCE(create->lpszName) &&
        create->lpszName[0] != 0) {
      DefWindowProcW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(create->lpszName));
    }
  }
  return result;
}

const WCHAR kDialogProcedureProp[] = TEXT("VexoriDialogProcedure");
thread_local DLGPROC PendingDialogProcedure = nullptr;

bool IsNonClient(UINT message) {
  return (message >= WM_NCCREATE && message <= WM_NCACTIVATE) ||
         (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK) ||
         message == WM_NCMOUSEHOVER || message == WM_NCMOUSELEAVE;
}

INT_PTR CALLBACK FramingProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  DLGPROC own = reinterpret_cast<DLGPROC>(GetPropW(dialog, kDialogProcedureProp));
  if (own == nullptr) {
    // The first message of a new dialog: it belongs to the dialog this thread is creating.
    own = PendingDialogProcedure;
    if (own == nullptr) return FALSE;
    SetPropW(dialog, kDialogProcedureProp, reinterpret_cast<HANDLE>(own));
  }
  if (message == WM_NCDESTROY) RemovePropW(dialog, kDialogProcedureProp);
  INT_PTR handled = own(dialog, message, wParam, lParam);
  return IsNonClient(message) ? FALSE : handled;
}

}  // namespace

extern "C" ATOM WINAPI DesktopRegisterClassW(const WNDCLASSW* wc) {
  if (wc == nullptr || wc->lpszClassName == nullptr || IS_INTRESOURCE(wc->lpszClassName)) {
    return RegisterClassW(wc);
  }
  WNDCLASSW named = *wc;
  named.lpfnWndProc = NamingProcedure;
  ATOM atom = RegisterClassW(&named);
  if (atom != 0) {
    std::lock_guard<std::mutex> hold(Lock);
    ClassProcedures[Folded(wc->lpszClassName)] = wc->lpfnWndProc;
  }
  return atom;
}

extern "C" INT_PTR WINAPI DesktopDialogBoxIndirectParamW(HINSTANCE instance,
                                                         LPCDLGTEMPLATEW dialogTemplate, HWND owner,
                                                         DLGPROC procedure, LPARAM initParam) {
  if (procedure == nullptr) {
    return DialogBoxIndirectParamW(instance, dialogTemplate, owner, procedure, initParam);
  }
  DLGPROC outer = PendingDialogProcedure;
  PendingDialogProcedure = procedure;
  INT_PTR result =
      DialogBoxIndirectParamW(instance, dialogTemplate, owner, FramingProcedure, initParam);
  PendingDialogProcedure = outer;
  return result;
}
