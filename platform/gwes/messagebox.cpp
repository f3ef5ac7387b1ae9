// Message boxes: a small dialog with the text and an OK button, which blocks its thread until
// someone answers it (a scenario, a test).
#include "../core/kernel.hpp"

namespace dev {
namespace {

const int kMargin96 = 8;
const int kBoxHeight96 = 96;
const int kButtonWidth96 = 48;
const int kButtonHeight96 = 24;

int scaled(int pixels96) {
  return pixels96 * impl().config.screen.dpi / 96;
}

}  // namespace
}  // namespace dev

using dev::impl;

extern "C" {

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  DEVICE_CALL_POINT("MessageBoxW");
  auto& d = impl();
  std::u16string message = text ? text : u"";
  std::u16string title = caption ? caption : u"Error";
  // Only OK is offered; other button sets are not part of this device.
  if ((type & MB_TYPEMASK) != MB_OK) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  RECT area = dev::work_area();
  int margin = dev::scaled(dev::kMargin96), height = dev::scaled(dev::kBoxHeight96);
  LONG top = (area.top + area.bottom - height) / 2;
  RECT rect = {area.left + margin, top, area.right - margin, top + height};
  uintptr_t before = d.foreground ? d.foreground->handle : 0;
  dev::Window* box = dev::create_dialog_window(0, WS_POPUP | WS_CAPTION, title, rect, owner);
  if (box == nullptr) return 0;
  box->dialog->message_box = true;
  HWND h = reinterpret_cast<HWND>(box->handle);
  LONG width = rect.right - rect.left;
  int button_w = dev::scaled(dev::kButtonWidth96), button_h = dev::scaled(dev::kButtonHeight96);
  CreateWindowExW(0, u"STATIC", message.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT, margin, margin,
                  width - 2 * margin, height - button_h - 3 * margin, h, nullptr, nullptr, nullptr);
  CreateWindowExW(0, u"BUTTON", u"OK", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON,
                  (width - button_w) / 2, height - button_h - margin, button_w, button_h, h,
                  reinterpret_cast<HMENU>(static_cast<uintptr_t>(IDOK)), nullptr, nullptr);
  dev::log_event("message-box",
                 dev::fields("window", dev::window_name(box), "text", dev::to_utf8(message),
                             "caption", dev::to_utf8(title), "owner",
                             dev::window_name(owner ? dev::window_of(owner) : nullptr)));
  ShowWindow(h, SW_SHOW);
  SetForegroundWindow(h);
  dev::modal_loop(h);
  dev::finish_dialog(h, IDOK, before);
  return IDOK;
}

}  // extern "C"
