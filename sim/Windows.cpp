#include "Windows.h"

#include <fmt/format.h>

namespace sim {
namespace {

using namespace cmd;

// Windows of other device processes (the broker's hidden window) have no label: they are found
// by their class.
const std::string kClassPrefix = "class:";

HWND place(const Window& k, int line, const std::string& file, dev::Device& device,
           std::map<std::string, HWND>& windows) {
  dev::apps::WindowSpec spec;
  spec.kind = k.kind;
  spec.x = k.x;
  spec.y = k.y;
  spec.width = k.width;
  spec.height = k.height;
  if (k.parent) spec.parent = windows[*k.parent];
  if (k.lines) spec.lines = *k.lines;
  if (k.page) spec.page = *k.page;
  if (k.hidden) spec.visible = !*k.hidden;
  if (k.ink) spec.ink = *k.ink;
  if (k.cls) spec.cls = dev::to_utf16(*k.cls);
  if (k.title) spec.title = dev::to_utf16(*k.title);
  if (k.pages) spec.history = *k.pages;
  if (k.at) spec.history_at = *k.at;
  if (k.no_zoom_store) spec.stores_zoom = !*k.no_zoom_store;
  if (k.refuses_close) spec.refuses_close = *k.refuses_close;
  HWND placed = dev::apps::place(device, spec);
  if (placed == nullptr) throw CommandError(file, line, "the window could not be created");
  return placed;
}

// The window a command names: by its label, or by its class.
HWND target(const std::string& name, int line, const std::string& file,
            std::map<std::string, HWND>& windows) {
  if (name.rfind(kClassPrefix, 0) == 0) {
    HWND w = FindWindowW(dev::to_utf16(name.substr(kClassPrefix.size())).c_str(), nullptr);
    if (w == nullptr) throw CommandError(file, line, "no window of " + name + " is on the device");
    return w;
  }
  HWND w = windows[name];
  // The checks follow `destroy`; a window can still go by itself (WM_CLOSE, its thread ending).
  if (!IsWindow(w)) throw CommandError(file, line, "window '" + name + "' no longer exists");
  return w;
}

}  // namespace

bool is_window_command(const Command& c) {
  return std::visit(
      [](const auto& k) {
        using T = std::decay_t<decltype(k)>;
        return std::is_same_v<T, Window> || std::is_same_v<T, Foreground> ||
               std::is_same_v<T, Show> || std::is_same_v<T, Hide> || std::is_same_v<T, Destroy> ||
               std::is_same_v<T, ExpectScroll> || std::is_base_of_v<Message, T>;
      },
      c.kind);
}

std::string run_window_command(const Command& c, const std::string& file, dev::Device& device,
                               std::map<std::string, HWND>& windows) {
  auto at = [&](const std::string& name) { return target(name, c.line, file, windows); };
  auto message = [&](const Message& m, bool post) {
    HWND w = at(m.window);
    // Zero-extended, as MAKELPARAM and MAKEWPARAM make them.
    WPARAM wp = m.wparam;
    auto lp = static_cast<LPARAM>(m.lparam);
    if (post) {
      if (!PostMessageW(w, m.msg, wp, lp)) {
        throw CommandError(file, c.line, "the window of " + m.window + " takes no more messages");
      }
    } else {
      LRESULT answer = SendMessageW(w, m.msg, wp, lp);
      dev::log_event("send-answer", {{"target", m.window},
                                     {"msg", m.msg},
                                     {"result", dev::hex(static_cast<uint64_t>(answer))}});
    }
  };
  std::string failure;
  std::visit(
      overloaded{
          [&](const Window& k) { windows[k.label] = place(k, c.line, file, device, windows); },
          [&](const Foreground& k) { dev::apps::set_foreground(device, at(k.label)); },
          [&](const Show& k) { dev::apps::show(device, at(k.label), true); },
          [&](const Hide& k) { dev::apps::show(device, at(k.label), false); },
          [&](const Destroy& k) { dev::apps::destroy(device, at(k.label)); },
          [&](const ExpectScroll& k) {
            HWND w = at(k.label);
            device.settle();
            int pos = dev::apps::scroll_pos(device, w);
            if (pos != k.pos) {
              failure = fmt::format("{}:{}: expected '{}' at scroll position {}, it is at {}", file,
                                    c.line, k.label, k.pos, pos);
            }
          },
          [&](const Post& k) { message(k, true); },
          [&](const Send& k) { message(k, false); },
          [](const auto&) {},
      },
      c.kind);
  return failure;
}

}  // namespace sim
