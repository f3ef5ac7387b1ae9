#include "replay/ResultLine.h"

#include <charconv>
#include <stdexcept>
#include <string_view>

namespace sim {
namespace {

class Writer {
 public:
  void text(const std::string& s) {
    sep();
    for (char ch : s) {
      switch (ch) {
        case '\\':
          out_ += "\\\\";
          break;
        case '\t':
          out_ += "\\t";
          break;
        case '\n':
          out_ += "\\n";
          break;
        case '\r':
          out_ += "\\r";
          break;
        default:
          out_ += ch;
      }
    }
  }
  template <typename Number>
  void number(Number v) {
    sep();
    char buf[24];
    out_.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
  }
  std::string take() { return std::move(out_); }

 private:
  void sep() {
    if (started_) out_ += '\t';
    started_ = true;
  }
  std::string out_;
  bool started_ = false;
};

class Reader {
 public:
  explicit Reader(const std::string& line) : rest_(line) {}
  std::string text() {
    std::string_view field = next();
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
      if (field[i] != '\\') {
        out += field[i];
        continue;
      }
      if (++i == field.size()) fail();
      switch (field[i]) {
        case '\\':
          out += '\\';
          break;
        case 't':
          out += '\t';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        default:
          fail();
      }
    }
    return out;
  }
  template <typename Number>
  Number number() {
    std::string_view field = next();
    Number v{};
    auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), v);
    if (ec != std::errc() || end != field.data() + field.size()) fail();
    return v;
  }
  bool flag() { return number<int>() != 0; }
  // A count of items to come, each at least one field: no more than the fields left.
  size_t count() {
    auto n = number<size_t>();
    if (n > rest_.size() + 1) fail();
    return n;
  }
  void end() {
    if (!done_) fail();
  }

 private:
  std::string_view next() {
    if (done_) fail();
    size_t tab = rest_.find('\t');
    std::string_view field = rest_.substr(0, tab);
    if (tab == std::string_view::npos) {
      done_ = true;
      rest_ = {};
    } else {
      rest_.remove_prefix(tab + 1);
    }
    return field;
  }
  [[noreturn]] static void fail() {
    throw std::runtime_error("a worker's result line that is not one");
  }
  std::string_view rest_;
  bool done_ = false;
};

}  // namespace

std::string result_line(const StrokeResult& r) {
  Writer w;
  w.text(r.file);
  w.text(r.gesture);
  w.text(r.name);
  for (size_t n : {r.panel, r.unchanged, r.rebuilt, r.engine, r.dropped}) w.number(n);
  w.number(int{r.partial});
  w.text(r.error);
  const StrokeOutcome& o = r.outcome;
  w.number(o.start);
  w.number(o.end);
  w.number(o.line);
  w.text(o.drawn);
  w.number(o.x);
  w.number(o.y);
  w.text(o.decision);
  w.text(o.reason);
  w.number(int{o.stopped_momentum});
  w.number(o.codes.size());
  for (const auto& c : o.codes) w.text(c);
  w.text(o.filtered);
  w.number(o.behaviour);
  w.text(o.meaning);
  w.number(int{o.cut_short});
  w.number(o.scrolls.size());
  for (const auto& s : o.scrolls) {
    w.text(s.window);
    w.text(s.bar);
    w.number(s.before);
    w.number(s.after);
    w.text(s.label);
  }
  w.number(o.effects.size());
  for (const auto& e : o.effects) w.text(e);
  w.number(o.notifications);
  w.number(o.ticks);
  w.number(o.sounds.size());
  for (const auto& [sound, times] : o.sounds) {
    w.text(sound);
    w.number(times);
  }
  w.number(o.samples);
  w.number(o.received);
  return w.take();
}

StrokeResult result_from_line(const std::string& line) {
  Reader in(line);
  StrokeResult r;
  r.file = in.text();
  r.gesture = in.text();
  r.name = in.text();
  for (size_t* n : {&r.panel, &r.unchanged, &r.rebuilt, &r.engine, &r.dropped})
    *n = in.number<size_t>();
  r.partial = in.flag();
  r.error = in.text();
  StrokeOutcome& o = r.outcome;
  o.start = in.number<uint64_t>();
  o.end = in.number<uint64_t>();
  o.line = in.number<int>();
  o.drawn = in.text();
  o.x = in.number<int>();
  o.y = in.number<int>();
  o.decision = in.text();
  o.reason = in.text();
  o.stopped_momentum = in.flag();
  for (size_t n = in.count(); n > 0; --n) o.codes.push_back(in.text());
  o.filtered = in.text();
  o.behaviour = in.number<int>();
  o.meaning = in.text();
  o.cut_short = in.flag();
  for (size_t n = in.count(); n > 0; --n) {
    StrokeOutcome::Scroll s;
    s.window = in.text();
    s.bar = in.text();
    s.before = in.number<int64_t>();
    s.after = in.number<int64_t>();
    s.label = in.text();
    o.scrolls.push_back(std::move(s));
  }
  for (size_t n = in.count(); n > 0; --n) o.effects.push_back(in.text());
  o.notifications = in.number<size_t>();
  o.ticks = in.number<size_t>();
  for (size_t n = in.count(); n > 0; --n) {
    std::string sound = in.text();
    o.sounds[sound] = in.number<size_t>();
  }
  o.samples = in.number<size_t>();
  o.received = in.number<size_t>();
  in.end();
  return r;
}

}  // namespace sim
