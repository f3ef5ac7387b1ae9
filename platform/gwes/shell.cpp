// The shell's dialog and menu-bar services: full-screen dialogs with a Done button, and the
// soft-key bar across the bottom band of the screen, built from a menu resource.
//
// A menu resource is a header (version, size of the rest of the header) and its items: flags,
// then for a command its id, then the text; MF_POPUP items are followed by their own items, and
// MF_END marks the last item of each level. The bar shows the top-level items as soft keys.
#include <aygshell.h>
#include <fmt/format.h>

#include "../core/kernel.hpp"

namespace dev {
namespace {

const WORD kPopup = 0x0010;
const WORD kEnd = 0x0080;

struct SoftKey {
  std::u16string text;
  UINT command = 0;
};

bool read_text(const BYTE*& p, const BYTE* end, std::u16string* text) {
  for (;;) {
    if (end - p < 2) return false;
    WORD c = read16(p);
    p += 2;
    if (c == 0) return true;
    if (c != u'&') text->push_back(static_cast<char16_t>(c));
  }
}

// Reads one level of items; the top level's become soft keys.
bool read_items(const BYTE*& p, const BYTE* end, std::vector<SoftKey>* keys) {
  for (;;) {
    if (end - p < 2) return false;
    WORD flags = read16(p);
    p += 2;
    SoftKey key;
    if (!(flags & kPopup)) {
      if (end - p < 2) return false;
      key.command = read16(p);
      p += 2;
    }
    if (!read_text(p, end, &key.text)) return false;
    if (keys != nullptr) keys->push_back(key);
    if ((flags & kPopup) && !read_items(p, end, nullptr)) return false;
    if (flags & kEnd) return true;
  }
}

bool menu_keys(HINSTANCE instance, UINT id, std::vector<SoftKey>* keys) {
  HRSRC found = FindResourceW(instance, MAKEINTRESOURCE(id), RT_MENU);
  if (found == nullptr) return false;
  auto p = static_cast<const BYTE*>(LoadResource(instance, found));
  const BYTE* end = p + SizeofResource(instance, found);
  if (end - p < 4) return false;
  p += 4 + read16(p + 2);
  return p <= end && read_items(p, end, keys);
}

Window* make_bar(HWND owner, const std::vector<SoftKey>& keys) {
  register_system_classes();
  int height = bar_height();
  int width = GetSystemMetrics(SM_CXSCREEN), bottom = GetSystemMetrics(SM_CYSCREEN);
  HWND h = CreateWindowExW(0, kMenuBarClass, u"", WS_POPUP | WS_VISIBLE, 0, bottom - height, width,
                           height, nullptr, nullptr, nullptr, nullptr);
  Window* bar = window_of(h);
  if (bar == nullptr) return nullptr;
  bar->owner = window_of(owner);
  std::string names;
  for (const SoftKey& k : keys) {
    bar->soft_keys.push_back(k.text);
    bar->soft_key_commands.push_back(k.command);
    names += (names.empty() ? "" : ",") + to_utf8(k.text);
  }
  log_event("menu-bar", dev::fields("window", window_name(bar), "owner", window_name(bar->owner),
                                    "soft_keys", names));
  return bar;
}

}  // namespace
}  // namespace dev

using dev::impl;

extern "C" {

BOOL WINAPI SHInitDialog(PSHINITDLGINFO info) {
  DEVICE_CALL_POINT("SHInitDialog");
  if (info == nullptr || !(info->dwMask & SHIDIM_FLAGS)) return FALSE;
  dev::Window* w = dev::window_of(info->hDlg, "SHInitDialog");
  if (w == nullptr) return FALSE;
  DWORD flags = info->dwFlags;
  dev::log_event("shell", dev::fields("call", "SHInitDialog", "window", dev::window_name(w),
                                      "flags", dev::hex(flags)));
  if (flags & (SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIZEDLG)) dev::place_window(w, dev::work_area());
  if (flags & SHIDIF_FULLSCREENNOMENUBAR) {
    RECT r = dev::work_area();
    r.bottom = GetSystemMetrics(SM_CYSCREEN);
    dev::place_window(w, r);
  }
  if (flags & SHIDIF_DONEBUTTON) w->done_button = true;
  if (flags & SHIDIF_SIPDOWN) {
    for (dev::Window* top : impl().top_levels) {
      if (top->cls == u"SipWndClass" && (top->style & WS_VISIBLE))
        ShowWindow(reinterpret_cast<HWND>(top->handle), SW_HIDE);
    }
  }
  if (flags & SHIDIF_EMPTYMENU) dev::make_bar(info->hDlg, {});
  return TRUE;
}

BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO* info) {
  DEVICE_CALL_POINT("SHCreateMenuBar");
  auto& d = impl();
  if (info == nullptr || info->cbSize != sizeof(SHMENUBARINFO)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (d.injected_failure("SHCreateMenuBar")) return FALSE;
  if (dev::window_of(info->hwndParent, "SHCreateMenuBar") == nullptr) return FALSE;
  std::vector<dev::SoftKey> keys;
  if (!(info->dwFlags & SHCMBF_EMPTYBAR)) {
    // Only bars built from a menu resource; tool-bar resources are not part of this device.
    if (!(info->dwFlags & SHCMBF_HMENU) ||
        !dev::menu_keys(info->hInstRes, info->nToolBarId, &keys)) {
      SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return FALSE;
    }
  }
  dev::Window* bar = dev::make_bar(info->hwndParent, keys);
  if (bar == nullptr) return FALSE;
  if (info->dwFlags & SHCMBF_HIDDEN) ShowWindow(reinterpret_cast<HWND>(bar->handle), SW_HIDE);
  info->hwndMB = reinterpret_cast<HWND>(bar->handle);
  return TRUE;
}

BOOL WINAPI SHHandleWMActivate(HWND, WPARAM, LPARAM, SHACTIVATEINFO* info, DWORD) {
  DEVICE_CALL_POINT("SHHandleWMActivate");
  return info != nullptr;
}

BOOL WINAPI SHHandleWMSettingChange(HWND, WPARAM, LPARAM, SHACTIVATEINFO* info) {
  DEVICE_CALL_POINT("SHHandleWMSettingChange");
  return info != nullptr;
}

}  // extern "C"
