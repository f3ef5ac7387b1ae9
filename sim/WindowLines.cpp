#include "WindowLines.h"

#include "device/device.hpp"

namespace sim {
namespace {

using namespace cmd;

// Commands that put stand-in applications' windows on the screen and change them.
const std::set<std::string> kLabelVerbs = {"foreground", "show", "hide", "destroy",
                                           "expect-scroll"};
const std::set<std::string> kMessageVerbs = {"post", "send"};
// Windows of other device processes (the broker's hidden window) have no label: they are found
// by their class.
const std::string kClassPrefix = "class:";

}  // namespace

bool is_window_verb(const std::string& verb) {
  return verb == "window" || kLabelVerbs.count(verb) > 0 || kMessageVerbs.count(verb) > 0;
}

namespace {

// window LABEL KIND X Y W H [parent LABEL] [lines N] [page N] [hidden 1] [ink 1] [class NAME]
//   [refuses-close 1], and for a browser [pages N] [at K] [no-zoom-store 1]
// foreground LABEL | show LABEL | hide LABEL | destroy LABEL | expect-scroll LABEL POS
// post WINDOW MSG WPARAM LPARAM | send WINDOW MSG WPARAM LPARAM, WINDOW a label or class:NAME
// Each names only windows placed before it.
class WindowChecks {
 public:
  WindowChecks(std::set<std::string>& placed, std::map<std::string, int>& destroyed,
               const std::string& file)
      : placed_(placed), destroyed_(destroyed), file_(file) {}

  Kind parse(const Line& c) {
    const auto& a = c.args;
    if (kMessageVerbs.count(c.verb)) {
      if (a.size() != 4) {
        throw dev::InputError(file_, c.line, c.verb + " takes WINDOW MSG WPARAM LPARAM");
      }
      if (a[0].rfind(kClassPrefix, 0) != 0) {
        need_label(c, a[0]);
      } else if (a[0].size() == kClassPrefix.size()) {
        throw dev::InputError(file_, c.line, "class: needs a class name");
      }
      Message m;
      m.window = a[0];
      m.msg = static_cast<uint32_t>(number(c, 1, 0, 0xFFFFFFFFLL, file_));
      // The platform's message parameters are 32-bit words; either sign reads naturally.
      m.wparam = static_cast<uint32_t>(number(c, 2, -2147483648LL, 0xFFFFFFFFLL, file_));
      m.lparam = static_cast<uint32_t>(number(c, 3, -2147483648LL, 0xFFFFFFFFLL, file_));
      if (c.verb == "post") return Post{m};
      return Send{m};
    }
    if (c.verb != "window") {
      if (a.size() != (c.verb == "expect-scroll" ? 2u : 1u)) {
        throw dev::InputError(file_, c.line, "wrong number of arguments for " + c.verb);
      }
      need_label(c, a[0]);
      if (c.verb == "expect-scroll")
        return ExpectScroll{a[0], static_cast<int>(number(c, 1, 0, 0x7FFFFFFF, file_))};
      if (c.verb == "foreground") return Foreground{a[0]};
      if (c.verb == "show") return Show{a[0]};
      if (c.verb == "hide") return Hide{a[0]};
      placed_.erase(a[0]);
      destroyed_[a[0]] = c.line;
      return Destroy{a[0]};
    }
    return window(c);
  }

 private:
  void need_label(const Line& c, const std::string& label) {
    if (placed_.count(label) > 0) return;
    auto gone = destroyed_.find(label);
    if (gone != destroyed_.end()) {
      throw dev::InputError(
          file_, c.line,
          "the window '" + label + "' was destroyed on line " + std::to_string(gone->second));
    }
    throw dev::InputError(file_, c.line, "no window named '" + label + "' was placed before");
  }

  Window window(const Line& c) {
    const auto& a = c.args;
    if (a.size() < 6 || a.size() % 2 != 0) {
      throw dev::InputError(file_, c.line,
                            "window takes LABEL KIND X Y W H and options given as name value");
    }
    Window w;
    w.label = a[0];
    w.kind_name = a[1];
    if (!dev::apps::kind_from_name(a[1], &w.kind)) {
      throw dev::InputError(
          file_, c.line,
          "unknown window kind '" + a[1] + "' (list, browser, view, sip, opera, aware, plain)");
    }
    int* place[] = {&w.x, &w.y, &w.width, &w.height};
    for (size_t i = 2; i < 6; ++i)
      *place[i - 2] = static_cast<int>(number(c, i, i < 4 ? -4096 : 1, 4096, file_));
    for (size_t i = 6; i < a.size(); i += 2) {
      const std::string& key = a[i];
      auto value = [&](long long lo, long long hi) {
        return static_cast<int>(number(c, i + 1, lo, hi, file_));
      };
      bool history = key == "pages" || key == "at" || key == "no-zoom-store";
      if (history && w.kind != dev::apps::Kind::Browser) {
        throw dev::InputError(file_, c.line, "only a browser takes the option '" + key + "'");
      }
      if (key == "parent") {
        need_label(c, a[i + 1]);
        w.parent = a[i + 1];
      } else if (key == "lines") {
        w.lines = value(0, 10000000);
      } else if (key == "page") {
        w.page = value(0, 10000000);
      } else if (key == "pages") {
        w.pages = value(1, 1000);
      } else if (key == "at") {
        w.at = value(0, 1000);
      } else if (key == "hidden") {
        w.hidden = value(0, 1) != 0;
      } else if (key == "ink") {
        w.ink = value(0, 1) != 0;
      } else if (key == "no-zoom-store") {
        w.no_zoom_store = value(0, 1) != 0;
      } else if (key == "refuses-close") {
        w.refuses_close = value(0, 1) != 0;
      } else if (key == "class") {
        w.cls = a[i + 1];
      } else if (key == "title") {
        w.title = a[i + 1];
      } else {
        throw dev::InputError(file_, c.line, "unknown window option '" + key + "'");
      }
    }
    int pages = w.pages.value_or(1), at = w.at.value_or(0);
    if (at > pages) {
      throw dev::InputError(
          file_, c.line,
          "the browser is to show page " + std::to_string(at) + " of " + std::to_string(pages));
    }
    destroyed_.erase(a[0]);
    if (!placed_.insert(a[0]).second) {
      throw dev::InputError(file_, c.line, "a window named '" + a[0] + "' is already placed");
    }
    return w;
  }

  std::set<std::string>& placed_;
  std::map<std::string, int>& destroyed_;
  const std::string& file_;
};

}  // namespace

Kind parse_window_line(const Line& c, const std::string& file, std::set<std::string>& placed,
                       std::map<std::string, int>& destroyed) {
  return WindowChecks(placed, destroyed, file).parse(c);
}

}  // namespace sim
