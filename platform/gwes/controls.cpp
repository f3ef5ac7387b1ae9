// The window system's controls, "BUTTON" and "STATIC", and window text: kept by the window system
// and, under the desktop rules, set and read through the window's procedure. What changes on a
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
  if (w == nullptr) return 0;
  // While it is being made, before it has a dialog procedure, it is a plain window.
  if (w->dialog == nullptr) return DefWindowProcW(h, m, wp, lp);
  if (w->dialog->message_box) {
    if ((m == WM_COMMAND && LOWORD(wp) == IDOK) || m == WM_CLOSE) {
      w->dialog->ended = true;
      w->dialog->result = IDOK;
      return 0;
    }
  } else if (DLGPROC proc = w->dialog->proc) {
    // The dialog's own procedure first.
    INT_PTR handled = proc(h, m, wp, lp);
    if (handled != FALSE) return handled;
  }
  // What it leaves goes to the default procedure; a dialog is closed only by EndDialog, never by
  // default.
  return m == WM_CLOSE ? 0 : DefWindowProcW(h, m, wp, lp);
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

LRESULT default_text(Window* w, UINT m, WPARAM wp, LPARAM lp, bool* handled) {
  *handled = true;
  switch (m) {
    case WM_NCCREATE: {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lp);
      if (create != nullptr && create->lpszName != nullptr && !IS_INTRESOURCE(create->lpszName))
        w->title = create->lpszName;
      return TRUE;
    }
    case WM_SETTEXT:
      w->title = lp != 0 ? reinterpret_cast<LPCWSTR>(lp) : u"";
      log_control_change(w, "text", to_utf8(w->title));
      return TRUE;
    case WM_GETTEXT: {
      auto* out = reinterpret_cast<LPWSTR>(lp);
      if (out == nullptr || wp == 0) return 0;
      size_t n = std::min<size_t>(w->title.size(), wp - 1);
      std::copy(w->title.begin(), w->title.begin() + static_cast<long>(n), out);
      out[n] = 0;
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(w->title.size());
    default:
      *handled = false;
      return 0;
  }
}

// Under the desktop rules the window text of the caller's own process goes through the window's
// procedure; another process's window is read as the window system keeps it.
static bool text_by_message(const Window* w) {
  return impl().config.desktop_window_text && w->thread->process == impl().current()->process;
}

}  // namespace dev

using dev::impl;

extern "C" {

BOOL WINAPI SetWindowTextW(HWND h, LPCWSTR text) {
  DEVICE_CALL_POINT("SetWindowTextW");
  dev::Window* w = dev::window_of(h, "SetWindowTextW");
  if (w == nullptr) return FALSE;
  if (impl().config.desktop_window_text) {
    return SendMessageW(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != FALSE;
  }
  w->title = text ? text : u"";
  dev::log_control_change(w, "text", dev::to_utf8(w->title));
  return TRUE;
}

int WINAPI GetWindowTextW(HWND h, LPWSTR out, int max) {
  dev::Window* w = dev::window_of(h);
  if (w == nullptr || out == nullptr || max <= 0) return 0;
  if (dev::text_by_message(w)) {
    out[0] = 0;
    LRESULT n =
        SendMessageW(h, WM_GETTEXT, static_cast<WPARAM>(max), reinterpret_cast<LPARAM>(out));
    return static_cast<int>(std::clamp<LRESULT>(n, 0, max - 1));
  }
  bool text = false;
  return static_cast<int>(dev::default_text(w, WM_GETTEXT, static_cast<WPARAM>(max),
                                            reinterpret_cast<LPARAM>(out), &text));
}

int WINAPI GetWindowTextLengthW(HWND h) {
  DEVICE_CALL_POINT("GetWindowTextLengthW");
  dev::Window* w = dev::window_of(h);
  if (w == nullptr) return 0;
  if (dev::text_by_message(w)) return static_cast<int>(SendMessageW(h, WM_GETTEXTLENGTH, 0, 0));
  return static_cast<int>(w->title.size());
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
