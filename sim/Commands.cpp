#include "Commands.h"

#include <fmt/format.h>

#include <filesystem>

namespace sim {
namespace {

using namespace cmd;

std::string num(long long v) {
  return std::to_string(v);
}

void add_point(std::vector<std::string>& w, const Point& p) {
  w.push_back(num(p.x));
  w.push_back(num(p.y));
}

template <typename T>
void add_option(std::vector<std::string>& w, const char* key, const std::optional<T>& v) {
  if (!v) return;
  w.push_back(key);
  if constexpr (std::is_same_v<T, std::string>) {
    w.push_back(*v);
  } else {
    w.push_back(num(static_cast<long long>(*v)));
  }
}

void add_stroke_options(std::vector<std::string>& w, const StrokeOptions& o) {
  add_option(w, "rest", o.rest);
  add_option(w, "rate", o.rate);
  add_option(w, "settle", o.settle);
}

void add_value(std::vector<std::string>& w, const RegValue& v) {
  w.insert(w.end(), {v.key, v.name});
  if (v.dword) {
    w.insert(w.end(), {"dword", num(v.number)});
  } else {
    w.insert(w.end(), {"string", v.text});
  }
}

// A word as the scenario's reader takes it back: quoted when it is empty or holds a space or a
// '#'. A word the reader made never holds both such a character and a quote.
std::string quoted(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\r#") == std::string::npos && word[0] != '"')
    return word;
  return "\"" + word + "\"";
}

// A note's text: one word when it can be quoted whole, else its words as they were given.
std::vector<std::string> note_words(const std::string& text) {
  if (text.find('"') == std::string::npos) return {text};
  std::vector<std::string> out;
  size_t from = 0;
  for (;;) {
    size_t space = text.find(' ', from);
    out.push_back(text.substr(from, space - from));
    if (space == std::string::npos) return out;
    from = space + 1;
  }
}

// The words after the verb, unquoted.
std::vector<std::string> args_of(const Command& c) {
  std::vector<std::string> w;
  std::visit(overloaded{
                 [&](const Screen& k) {
                   w = {num(k.width), num(k.height)};
                   add_option(w, "dpi", k.dpi);
                 },
                 [&](const BootTick& k) { w = {num(k.tick)}; },
                 [&](const Install& k) { w = {k.on ? "on" : "off"}; },
                 [&](const Preset& k) { add_value(w, k.value); },
                 [&](const RegDeleteKey& k) { w = {k.key}; },
                 [&](const TouchDriver& k) { w = {k.file}; },
                 [&](const Broker& k) {
                   w = k.off ? std::vector<std::string>{"off"}
                             : std::vector<std::string>{"late", num(k.late_ms)};
                 },
                 [&](const Fail& k) {
                   w = {k.call, num(k.nth)};
                   if (!k.subject.empty()) w.push_back(k.subject);
                   w.insert(w.end(), {"error", num(k.error)});
                 },
                 [&](const LeaveOut& k) { w = {k.file}; },
                 [&](const Boot&) {},
                 [&](const RegFile& k) { w = {k.file}; },
                 [&](const Reg& k) { add_value(w, k.value); },
                 [&](const RegDelete& k) {
                   w = {k.key, k.name};
                 },
                 [&](const Power& k) {
                   w = {k.device, num(k.state)};
                   add_option(w, "fail", k.fail);
                 },
                 [&](const Wait& k) { w = {num(static_cast<long long>(k.ms))}; },
                 [&](const Sample& k) {
                   w = {fmt::format("{:#x}", k.flags), num(k.x), num(k.y)};
                 },
                 [&](const Note& k) { w = note_words(k.text); },
                 [&](const Expect& k) {
                   w = {k.kind, num(k.count)};
                 },
                 [&](const Tap& k) {
                   add_point(w, k.at);
                   add_option(w, "hold", k.hold);
                   add_option(w, "rate", k.rate);
                 },
                 [&](const Drag& k) {
                   add_point(w, k.from);
                   add_point(w, k.to);
                   w.push_back(num(k.ms));
                   add_stroke_options(w, k.options);
                 },
                 [&](const Flick& k) {
                   add_point(w, k.from);
                   add_point(w, k.to);
                   w.push_back(num(k.ms));
                   add_option(w, "rate", k.rate);
                 },
                 [&](const Stroke& k) {
                   for (const Point& p : k.points) add_point(w, p);
                   w.push_back(num(k.ms));
                   add_stroke_options(w, k.options);
                 },
                 [&](const Replay& k) {
                   w = {k.file};
                   add_option(w, "rate", k.rate);
                   add_option(w, "native", k.native);
                 },
                 [&](const Screenshot& k) { w = {k.file}; },
                 [&](const Timeline& k) { w = {k.file}; },
                 [&](const Picture& k) { w = {k.file}; },
                 [&](const Window& k) {
                   w = {k.label, k.kind_name, num(k.x), num(k.y), num(k.width), num(k.height)};
                   add_option(w, "parent", k.parent);
                   add_option(w, "lines", k.lines);
                   add_option(w, "page", k.page);
                   add_option(w, "hidden", k.hidden);
                   add_option(w, "ink", k.ink);
                   add_option(w, "class", k.cls);
                   add_option(w, "title", k.title);
                   add_option(w, "pages", k.pages);
                   add_option(w, "at", k.at);
                   add_option(w, "no-zoom-store", k.no_zoom_store);
                   add_option(w, "refuses-close", k.refuses_close);
                 },
                 [&](const Foreground& k) { w = {k.label}; },
                 [&](const Show& k) { w = {k.label}; },
                 [&](const Hide& k) { w = {k.label}; },
                 [&](const Destroy& k) { w = {k.label}; },
                 [&](const ExpectScroll& k) {
                   w = {k.label, num(k.pos)};
                 },
                 [&](const Message& k) {
                   w = {k.window, num(k.msg), num(k.wparam), num(k.lparam)};
                 },
                 [&](const Start& k) {
                   w = {k.program};
                   if (k.command_line) w.push_back(*k.command_line);
                 },
                 [&](const Tick& k) { w = {k.control}; },
                 [&](const Press& k) { w = {k.key}; },
                 [&](const Answer&) {},
                 [&](const Close&) {},
                 [&](const Help&) {},
             },
             c.kind);
  return w;
}

}  // namespace

std::string verb_of(const Command& c) {
  return std::visit([](const auto& k) -> std::string { return k.kVerb; }, c.kind);
}

std::vector<std::string> command_words(const Command& c) {
  std::vector<std::string> w = args_of(c);
  w.insert(w.begin(), verb_of(c));
  return w;
}

std::string scenario_line(const Command& c) {
  std::string out;
  for (const std::string& w : command_words(c)) out += (out.empty() ? "" : " ") + quoted(w);
  return out;
}

std::vector<Point> stroke_corners(const Command& c) {
  return std::visit(overloaded{[](const Tap& k) { return std::vector<Point>{k.at}; },
                               [](const Drag& k) {
                                 return std::vector<Point>{k.from, k.to};
                               },
                               [](const Flick& k) {
                                 return std::vector<Point>{k.from, k.to};
                               },
                               [](const Stroke& k) { return k.points; },
                               [](const auto&) { return std::vector<Point>{}; }},
                    c.kind);
}

std::string describe_stroke(const Command& c) {
  if (auto r = std::get_if<Replay>(&c.kind))
    return "replay " + std::filesystem::path(r->file).filename().string();
  std::vector<Point> points = stroke_corners(c);
  std::string out = verb_of(c);
  for (size_t p = 0; p < points.size(); ++p)
    out += fmt::format("{}{},{}", p == 0 ? " " : " to ", points[p].x, points[p].y);
  // The move's length, and the options that change what a person would see the finger do.
  std::visit(overloaded{[&](const Tap& k) {
                          if (k.hold) out += fmt::format(" held {} ms", *k.hold);
                        },
                        [&](const Flick& k) { out += fmt::format(" in {} ms", k.ms); },
                        [&](const auto& k) {
                          using T = std::decay_t<decltype(k)>;
                          if constexpr (std::is_same_v<T, Drag> || std::is_same_v<T, Stroke>) {
                            out += fmt::format(" in {} ms", k.ms);
                            if (k.options.rest)
                              out += fmt::format(" after a {} ms rest", *k.options.rest);
                            if (k.options.settle)
                              out += fmt::format(" settled from {} px below", *k.options.settle);
                          }
                        }},
             c.kind);
  return out;
}

}  // namespace sim
