// What a user does to the dialogs on screen, for the host: taps posted to the dialog's thread.
#include "device/user.hpp"

#include "../core/kernel.hpp"

namespace dev::user {
namespace {

HWND handle_of(const Window* w) {
  return reinterpret_cast<HWND>(w->handle);
}

Window* front_dialog() {
  for (Window* w : impl().top_levels) {
    if ((w->style & WS_VISIBLE) && w->dialog != nullptr) return w;
  }
  return nullptr;
}

// The dialog in front, which must not be a message box waiting for its answer.
std::string dialog_in_front(Window** out) {
  *out = front_dialog();
  if (*out == nullptr) return "no dialog is open";
  if ((*out)->dialog->message_box) return "a message box waits for an answer";
  return "";
}

std::string posted(Device& device, Window* to, UINT message, WPARAM wp, LPARAM lp) {
  if (!PostMessageW(handle_of(to), message, wp, lp)) return "the dialog takes no messages";
  device.settle();
  return "";
}

}  // namespace

std::string start(Device& device, const std::string& program, const std::string& command_line) {
  std::u16string line = to_utf16(command_line);
  line.push_back(u'\0');
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(to_utf16(program).c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, nullptr, &started)) {
    return "no program " + program + " in \\Windows";
  }
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  device.settle();
  return "";
}

std::string tick(Device& device, const std::string& control) {
  Window* dialog = nullptr;
  std::string why = dialog_in_front(&dialog);
  if (!why.empty()) return why;
  for (Window* c : dialog->children) {
    bool named = to_utf8(c->title) == control || std::to_string(c->id) == control;
    if (!named || !(c->style & WS_VISIBLE)) continue;
    if (c->cls != u"BUTTON") return "control " + control + " is not a button";
    return posted(device, c, BM_CLICK, 0, 0);
  }
  return "the dialog in front has no visible control " + control;
}

std::string press(Device& device, const std::string& key) {
  Window* dialog = nullptr;
  std::string why = dialog_in_front(&dialog);
  if (!why.empty()) return why;
  if (key == "Done") {
    if (!dialog->done_button) return "the dialog in front has no Done button";
    return posted(device, dialog, WM_COMMAND, IDOK, 0);
  }
  for (Window* bar : impl().top_levels) {
    if (bar->owner != dialog || !(bar->style & WS_VISIBLE) || bar->cls != kMenuBarClass) continue;
    for (size_t i = 0; i < bar->soft_keys.size(); ++i) {
      if (to_utf8(bar->soft_keys[i]) == key)
        return posted(device, dialog, WM_COMMAND, bar->soft_key_commands[i], 0);
    }
  }
  return "the dialog in front has no soft key " + key;
}

std::string answer(Device& device) {
  Window* box = front_dialog();
  if (box == nullptr || !box->dialog->message_box) return "no message box waits for an answer";
  for (Window* c : box->children) {
    if (c->id == IDOK) return posted(device, c, BM_CLICK, 0, 0);
  }
  return "the message box has no OK button";
}

std::string close(Device& device) {
  Window* dialog = nullptr;
  std::string why = dialog_in_front(&dialog);
  return why.empty() ? posted(device, dialog, WM_CLOSE, 0, 0) : why;
}

std::string help(Device& device) {
  Window* dialog = nullptr;
  std::string why = dialog_in_front(&dialog);
  return why.empty() ? posted(device, dialog, WM_HELP, 0, 0) : why;
}

}  // namespace dev::user
