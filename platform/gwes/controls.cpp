// The window system's controls, "BUTTON" and "STATIC", and window text. What changes on a
// dialog's control (its check, text, font, visibility) is logged with the control's id.
#include <fmt/format.h>

#include <algorithm>

#include "../core/kernel.hpp"

namespace dev {
namespace {

HWND handle_of(const Window* w) {
  return reinterpret_cast<HWND>(w->handle);
}

LRESULT common(Window* w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_SETFONT) {
    log_control_change(w, "font", wp == 0 ? Fields("system") : Fields(hex(wp)));
    return 0;
  }
  return DefWindowProcW(handle_of(w), m, wp, lp);
}

LRESULT CALLBACK button_proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  Window* w = window_of(h);
  if (w == nullptr) return 0;
  switch (m) {
    case BM_GETCHECK:
      return w->check;
    case BM_SETCHECK:
      w->check = static_cast<int>(wp);
      log_control_change(w, "check", w->check);
      return 0;
    case BM_CLICK: {
      // A tap on the control: an automatic check box turns over first, then its parent hears.
      if ((w->style & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
        w->check = w->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        log_control_change(w, "check", w->check);
      }
      if (w->parent != nullptr) {
        SendMessageW(handle_of(w->parent), WM_COMMAND,
                     MAKEWPARAM(static_cast<WORD>(w->id), BN_CLICKED), reinterpret_cast<LPARAM>(h));
      }
      return 0;
    }
    default:
      return common(w, m, wp, lp);
  }
}

LRESULT CALLBACK static_proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  Window* w = window_of(h);
  return w == nullptr ? 0 : common(w, m, wp, lp);
}

LRESULT CALLBACK dialog_proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  Window* w = window_of(h);
  if (w == nullptr || w->dialog == nullptr) return 0;
  if (w->dialog->message_box) {
    if ((m == WM_COMMAND && LOWORD(wp) == IDOK) || m == WM_CLOSE) {
      w->dialog->ended = true;
      w->dialog->result = IDOK;
    }
    return 0;
  }
  // The dialog's own procedure first; a dialog is closed only by EndDialog, never by default.
  DLGPROC proc = w->dialog->proc;
  return proc != nullptr ? proc(h, m, wp, lp) : 0;
}

LRESULT CALLBACK menu_bar_proc(HWND h, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_CLOSE) return 0;
  return DefWindowProcW(h, m, wp, lp);
}

}  // namespace

const char16_t kDialogClass[] = u"Dialog";
const char16_t kMenuBarClass[] = u"menu_worker";

void register_system_classes() {
  auto& d = impl();
  const std::pair<const char16_t*, WNDPROC> kClasses[] = {{kDialogClass, dialog_proc},
                                                          {u"BUTTON", button_proc},
                                                          {u"STATIC", static_proc},
                                                          {kMenuBarClass, menu_bar_proc}};
  for (const auto& entry : kClasses) {
    const char16_t* name = entry.first;
    bool known = std::any_of(d.classes.begin(), d.classes.end(), [&](const WindowClass& c) {
      return c.process == nullptr && c.name == name;
    });
    if (!known) d.classes.push_back({name, entry.second, nullptr});
  }
}

bool is_dialog_control(const Window* w) {
  return w->parent != nullptr && w->parent->dialog != nullptr;
}

void log_control_change(const Window* control, const char* what, const Fields& value) {
  if (!is_dialog_control(control)) return;
  log_event("control",
            {{"dialog", window_name(control->parent)}, {"id", control->id}, {what, value}});
}

}  // namespace dev

using dev::impl;

extern "C" {

BOOL WINAPI SetWindowTextW(HWND h, LPCWSTR text) {
  DEVICE_CALL_POINT("SetWindowTextW");
  dev::Window* w = dev::window_of(h, "SetWindowTextW");
  if (w == nullptr) return FALSE;
  w->title = text ? text : u"";
  dev::log_control_change(w, "text", dev::to_utf8(w->title));
  return TRUE;
}

int WINAPI GetWindowTextW(HWND h, LPWSTR out, int max) {
  dev::Window* w = dev::window_of(h);
  if (w == nullptr || out == nullptr || max <= 0) return 0;
  size_t n = std::min<size_t>(w->title.size(), static_cast<size_t>(max) - 1);
  std::copy(w->title.begin(), w->title.begin() + static_cast<long>(n), out);
  out[n] = 0;
  return static_cast<int>(n);
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
  DEVICE_CALL_POINT("GetDlgItem");
  dev::Window* w = dev::window_of(dialog, "GetDlgItem");
  if (w == nullptr) return nullptr;
  for (dev::Window* c : w->children) {
    if (c->id == id) return reinterpret_cast<HWND>(c->handle);
  }
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return nullptr;
}

}  // extern "C"
