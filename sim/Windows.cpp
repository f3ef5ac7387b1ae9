// window LABEL KIND X Y W H [parent LABEL] [lines N] [page N] [hidden 1] [ink 1] [class NAME]
// foreground LABEL | show LABEL | hide LABEL | destroy LABEL | expect-scroll LABEL POS
#include "Windows.h"

#include <fmt/format.h>

namespace sim {
namespace {

const std::set<std::string> kLabelVerbs = {"foreground", "show", "hide", "destroy",
                                           "expect-scroll"};

void need_label(const Command& c, const std::string& label, const std::string& file,
                const std::set<std::string>& labels) {
  if (labels.count(label) == 0) {
    throw dev::InputError(file, c.line, "no window named '" + label + "' was placed before");
  }
}

}  // namespace

bool is_window_verb(const std::string& verb) {
  return verb == "window" || kLabelVerbs.count(verb) > 0;
}

void check_window_command(const Command& c, const std::string& file,
                          std::set<std::string>& labels) {
  const auto& a = c.args;
  if (c.verb != "window") {
    if (a.size() != (c.verb == "expect-scroll" ? 2u : 1u)) {
      throw dev::InputError(file, c.line, "wrong number of arguments for " + c.verb);
    }
    need_label(c, a[0], file, labels);
    if (c.verb == "expect-scroll") number(c, 1, 0, 0x7FFFFFFF, file);
    if (c.verb == "destroy") labels.erase(a[0]);
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
  for (size_t i = 6; i < a.size(); i += 2) {
    const std::string& key = a[i];
    if (key == "parent") {
      need_label(c, a[i + 1], file, labels);
    } else if (key == "lines" || key == "page") {
      number(c, i + 1, 0, 10000000, file);
    } else if (key == "hidden" || key == "ink") {
      number(c, i + 1, 0, 1, file);
    } else if (key != "class" && key != "title") {
      throw dev::InputError(file, c.line, "unknown window option '" + key + "'");
    }
  }
  if (!labels.insert(a[0]).second) {
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
    }
    windows[a[0]] = dev::apps::place(device, spec);
    return "";
  }
  HWND w = windows[a[0]];
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
