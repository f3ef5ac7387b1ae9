// window LABEL KIND X Y W H [parent LABEL] [lines N] [page N] [hidden 1] [ink 1] [class NAME]
//   [refuses-close 1], and for a browser [pages N] [at K] [no-zoom-store 1]
// foreground LABEL | show LABEL | hide LABEL | destroy LABEL | expect-scroll LABEL POS
// post WINDOW MSG WPARAM LPARAM | send WINDOW MSG WPARAM LPARAM, WINDOW a label or class:NAME
#include "Windows.h"

#include <fmt/format.h>

namespace sim {
namespace {

const std::set<std::string> kLabelVerbs = {"foreground", "show", "hide", "destroy",
                                           "expect-scroll"};
const std::set<std::string> kMessageVerbs = {"post", "send"};
// Windows of other device processes (the broker's hidden window) have no label: they are found
// by their class.
const std::string kClassPrefix = "class:";

bool by_class(const std::string& window) {
  return window.rfind(kClassPrefix, 0) == 0;
}

void need_label(const Command& c, const std::string& label, const std::string& file,
                const WindowLabels& labels) {
  if (labels.placed.count(label) > 0) return;
  auto gone = labels.destroyed.find(label);
  if (gone != labels.destroyed.end()) {
    throw dev::InputError(
        file, c.line,
        "the window '" + label + "' was destroyed on line " + std::to_string(gone->second));
  }
  throw dev::InputError(file, c.line, "no window named '" + label + "' was placed before");
}

}  // namespace

bool is_window_verb(const std::string& verb) {
  return verb == "window" || kLabelVerbs.count(verb) > 0 || kMessageVerbs.count(verb) > 0;
}

void check_window_command(const Command& c, const std::string& file, WindowLabels& labels) {
  const auto& a = c.args;
  if (kMessageVerbs.count(c.verb)) {
    if (a.size() != 4) {
      throw dev::InputError(file, c.line, c.verb + " takes WINDOW MSG WPARAM LPARAM");
    }
    if (!by_class(a[0])) {
      need_label(c, a[0], file, labels);
    } else if (a[0].size() == kClassPrefix.size()) {
      throw dev::InputError(file, c.line, "class: needs a class name");
    }
    number(c, 1, 0, 0xFFFFFFFFLL, file);
    // The platform's message parameters are 32-bit words; either sign reads naturally.
    for (size_t i = 2; i < 4; ++i) number(c, i, -2147483648LL, 0xFFFFFFFFLL, file);
    return;
  }
  if (c.verb != "window") {
    if (a.size() != (c.verb == "expect-scroll" ? 2u : 1u)) {
      throw dev::InputError(file, c.line, "wrong number of arguments for " + c.verb);
    }
    need_label(c, a[0], file, labels);
    if (c.verb == "expect-scroll") number(c, 1, 0, 0x7FFFFFFF, file);
    if (c.verb == "destroy") {
      labels.placed.erase(a[0]);
      labels.destroyed[a[0]] = c.line;
    }
    return;
  }
  if (a.size() < 6 || a.size() % 2 != 0) {
    throw dev::InputError(file, c.line,
                          "window takes LABEL KIND X Y W H and options given as name value");
  }
  dev::apps::Kind kind;
  if (!dev::apps::kind_from_name(a[1], &kind)) {
    throw dev::InputError(
        file, c.line,
        "unknown window kind '" + a[1] + "' (list, browser, view, sip, opera, aware, plain)");
  }
  for (size_t i = 2; i < 6; ++i) number(c, i, i < 4 ? -4096 : 1, 4096, file);
  long long pages = 1, at = 0;
  for (size_t i = 6; i < a.size(); i += 2) {
    const std::string& key = a[i];
    bool history = key == "pages" || key == "at" || key == "no-zoom-store";
    if (history && kind != dev::apps::Kind::Browser) {
      throw dev::InputError(file, c.line, "only a browser takes the option '" + key + "'");
    }
    if (key == "parent") {
      need_label(c, a[i + 1], file, labels);
    } else if (key == "lines" || key == "page") {
      number(c, i + 1, 0, 10000000, file);
    } else if (key == "pages") {
      pages = number(c, i + 1, 1, 1000, file);
    } else if (key == "at") {
      at = number(c, i + 1, 0, 1000, file);
    } else if (key == "hidden" || key == "ink" || key == "no-zoom-store" ||
               key == "refuses-close") {
      number(c, i + 1, 0, 1, file);
    } else if (key != "class" && key != "title") {
      throw dev::InputError(file, c.line, "unknown window option '" + key + "'");
    }
  }
  if (at > pages) {
    throw dev::InputError(
        file, c.line,
        "the browser is to show page " + std::to_string(at) + " of " + std::to_string(pages));
  }
  labels.destroyed.erase(a[0]);
  if (!labels.placed.insert(a[0]).second) {
    throw dev::InputError(file, c.line, "a window named '" + a[0] + "' is already placed");
  }
}

std::string run_window_command(const Command& c, const std::string& file, dev::Device& device,
                               std::map<std::string, HWND>& windows) {
  const auto& a = c.args;
  auto num = [&](size_t i) {
    return static_cast<int>(number(c, i, -(1LL << 31), 1LL << 31, file));
  };
  if (c.verb == "window") {
    dev::apps::WindowSpec spec;
    dev::apps::kind_from_name(a[1], &spec.kind);
    spec.x = num(2);
    spec.y = num(3);
    spec.width = num(4);
    spec.height = num(5);
    for (size_t i = 6; i < a.size(); i += 2) {
      if (a[i] == "parent") spec.parent = windows[a[i + 1]];
      if (a[i] == "lines") spec.lines = num(i + 1);
      if (a[i] == "page") spec.page = num(i + 1);
      if (a[i] == "hidden") spec.visible = num(i + 1) == 0;
      if (a[i] == "ink") spec.ink = num(i + 1) != 0;
      if (a[i] == "class") spec.cls = dev::to_utf16(a[i + 1]);
      if (a[i] == "title") spec.title = dev::to_utf16(a[i + 1]);
      if (a[i] == "pages") spec.history = num(i + 1);
      if (a[i] == "at") spec.history_at = num(i + 1);
      if (a[i] == "no-zoom-store") spec.stores_zoom = num(i + 1) == 0;
      if (a[i] == "refuses-close") spec.refuses_close = num(i + 1) != 0;
    }
    HWND placed = dev::apps::place(device, spec);
    if (placed == nullptr) throw CommandError(file, c.line, "the window could not be created");
    windows[a[0]] = placed;
    return "";
  }
  HWND w = nullptr;
  if (by_class(a[0])) {
    w = FindWindowW(dev::to_utf16(a[0].substr(kClassPrefix.size())).c_str(), nullptr);
    if (w == nullptr)
      throw CommandError(file, c.line, "no window of " + a[0] + " is on the device");
  } else {
    w = windows[a[0]];
    // The checks follow `destroy`; a window can still go by itself (WM_CLOSE, its thread ending).
    if (!IsWindow(w)) throw CommandError(file, c.line, "window '" + a[0] + "' no longer exists");
  }
  if (kMessageVerbs.count(c.verb)) {
    auto msg = static_cast<UINT>(number(c, 1, 0, 0xFFFFFFFFLL, file));
    auto word = [&](size_t i) {
      return static_cast<uint32_t>(number(c, i, -2147483648LL, 0xFFFFFFFFLL, file));
    };
    // Zero-extended, as MAKELPARAM and MAKEWPARAM make them.
    WPARAM wp = word(2);
    auto lp = static_cast<LPARAM>(word(3));
    if (c.verb == "post") {
      if (!PostMessageW(w, msg, wp, lp)) {
        throw CommandError(file, c.line, "the window of " + a[0] + " takes no more messages");
      }
    } else {
      LRESULT answer = SendMessageW(w, msg, wp, lp);
      dev::log_event(
          "send-answer",
          {{"target", a[0]}, {"msg", msg}, {"result", dev::hex(static_cast<uint64_t>(answer))}});
    }
    return "";
  }
  if (c.verb == "foreground") dev::apps::set_foreground(device, w);
  if (c.verb == "show" || c.verb == "hide") dev::apps::show(device, w, c.verb == "show");
  if (c.verb == "destroy") dev::apps::destroy(device, w);
  if (c.verb == "expect-scroll") {
    device.settle();
    int pos = dev::apps::scroll_pos(device, w);
    if (pos != num(1)) {
      return fmt::format("{}:{}: expected '{}' at scroll position {}, it is at {}", file, c.line,
                         a[0], a[1], pos);
    }
  }
  return "";
}

}  // namespace sim
