#include "Outcome.h"

#include <fmt/format.h>

#include <cstdlib>
#include <sstream>

namespace sim {
namespace {

const uint32_t kDown = 0x2;

bool starts(const std::string& s, const char* prefix, std::string* rest = nullptr) {
  size_t n = std::char_traits<char>::length(prefix);
  if (s.compare(0, n, prefix) != 0) return false;
  if (rest != nullptr) *rest = s.substr(n);
  return true;
}

bool is_momentum(int behaviour) {
  return behaviour == 100 || behaviour == 101;
}

// The two behaviours that turn the screen a quarter, each between two of its angles: their own
// names say which two, and what a stroke did is which way it turned the screen from where it was.
bool is_turn(int behaviour) {
  return behaviour == 108 || behaviour == 110;
}

}  // namespace

std::string StrokeOutcome::did() const {
  std::string out;
  if (decision.empty()) {
    out = "undecided";
  } else if (decision == "passed through") {
    out = decision + ": " + reason;
  } else if (decision == "handed over") {
    out = decision + ": ";
    if (is_turn(behaviour)) {
      out += fmt::format("{} turn the screen", behaviour);
    } else if (behaviour != 0) {
      out += fmt::format("{} {}", behaviour, meaning);
    } else if (!filtered.empty()) {
      out += fmt::format("\"{}\" stands for no behaviour", filtered);
    } else {
      out += codes.empty() ? "no codes" : "no behaviour";
    }
  } else {
    out = decision;
  }
  if (stopped_momentum) out += " (stopped a momentum)";
  return out;
}

// A stroke still being read: its outcome so far and what the reader needs to decide the rest.
struct OutcomeReader::Open {
  StrokeOutcome o;
  size_t pan_moves = 0;     // scroll messages of the proxy's own worker during the stroke
  bool superseded = false;  // a later pen-down came while the broker still carried it out
  bool turned = false;      // it turned the screen
};

void OutcomeReader::expect_stroke(uint64_t time, int line, const std::string& drawn) {
  expected_.emplace(time, std::make_pair(line, drawn));
}

void OutcomeReader::add(const dev::LogEntry& e) {
  const std::string& k = e.kind;
  if (broker_ending_ && e.time > broker_end_at_) end_broker(broker_end_at_);
  if (current_ && !down_ && e.time > up_at_) release(current_, 0);
  if (k == "panel") {
    uint32_t flags = static_cast<uint32_t>(std::strtoul(e.str("flags").c_str(), nullptr, 0));
    bool down = (flags & kDown) != 0;
    if (down && !down_) pen_down(e);
    if (!down) up_at_ = e.time;
    down_ = down;
    if (current_) ++current_->o.samples, current_->o.end = e.time;
    return;
  }
  if (k == "sample") {
    if (current_) ++current_->o.received, current_->o.end = e.time;
    return;
  }
  if (k == "debug") {
    std::string text = e.str("text");
    if (e.process == "gwes.exe") proxy_line(text, e.time);
    if (e.process == "device.exe") broker_line(text);
    return;
  }
  Ref to = owner(e);
  static const char* const kEffects[] = {"post",         "send",           "scroll-pos",
                                         "browser",      "display-change", "app-close",
                                         "app-received", "sound",          "window-resized"};
  for (const char* effect : kEffects)
    if (to && k == effect) to->o.end = std::max(to->o.end, e.time);
  if (k == "post" || k == "send") {
    std::string name = e.str("name"), msg = e.str("msg");
    if (name == "hand-over" && e.process == "gwes.exe") {
      Ref stroke = withheld_ ? withheld_ : current_;
      withheld_.reset();
      if (!stroke) return;
      stroke->o.decision = "handed over";
      if (broker_ && broker_ != stroke) end_broker(e.time);
      broker_ = stroke;
    } else if (name == "gesture notification" && to) {
      ++to->o.notifications;
      to->o.effects.push_back(fmt::format(
          "notified {}: {} {}, length {}, down at {},{}", shown(e.str("window")),
          e.num("behaviour"), e.str("meaning"), e.num("length"), e.num("down_x"), e.num("down_y")));
    } else if (msg == "WM_VSCROLL" || msg == "WM_HSCROLL") {
      if (e.process == "gwes.exe" && e.thread == "Pallux" && current_) ++current_->pan_moves;
      if (to) scrolled_by_[e.str("window")] = to;
    }
    return;
  }
  if (k == "scroll-pos") {
    scrolled(e, to);
  } else if (k == "browser" && to) {
    to->o.effects.push_back(e.str("did"));
  } else if (k == "display-change") {
    int angle = static_cast<int>(e.num("angle"));
    if (to) {
      to->o.effects.push_back(fmt::format("screen turned from {} to {} degrees", angle_, angle));
      to->turned = true;
    }
    angle_ = angle;
  } else if (k == "app-close" && to) {
    to->o.effects.push_back(fmt::format("{} {}", shown(e.str("window")), e.str("did")));
  } else if (k == "sound" && to) {
    std::string resource = e.str("resource");
    ++to->o.sounds[resource.empty() ? "a sound in memory" : resource];
  } else if (e.process == "device.exe" &&
             ((k == "event-data" && e.str("event") == "InGestureScrolling" && e.num("data") == 1) ||
              (k == "timer-killed" && e.str("window").rfind("MSGBROKER", 0) == 0))) {
    if (broker_ && !broker_ending_) broker_ending_ = true, broker_end_at_ = e.time;
  }
}

void OutcomeReader::finish(uint64_t time) {
  end_broker(broker_ending_ ? broker_end_at_ : time);  // or still at work when the run ended
  release(current_, 0);
}

void OutcomeReader::pen_down(const dev::LogEntry& e) {
  withheld_.reset();
  if (broker_) broker_->superseded = true;
  release(current_, 0);
  current_ = std::make_shared<Open>();
  StrokeOutcome& o = current_->o;
  o.start = o.end = e.time;
  if (e.fields.contains("screen_x")) {
    o.x = static_cast<int>(e.num("screen_x"));
    o.y = static_cast<int>(e.num("screen_y"));
  } else {
    o.x = static_cast<int>(e.num("x") / 4);
    o.y = static_cast<int>(e.num("y") / 4);
  }
  while (!expected_.empty() && expected_.begin()->first < e.time)
    expected_.erase(expected_.begin());
  if (!expected_.empty() && expected_.begin()->first == e.time) {
    o.line = expected_.begin()->second.first;
    o.drawn = expected_.begin()->second.second;
    expected_.erase(expected_.begin());
  }
}

void OutcomeReader::proxy_line(const std::string& text, uint64_t time) {
  if (!current_) return;
  std::string rest;
  StrokeOutcome& o = current_->o;
  if (starts(text, "Stroke passes through: ", &rest)) {
    o.decision = "passed through";
    o.reason = rest;
  } else if (starts(text, "Stroke withheld: ")) {
    o.decision = current_->pan_moves > 0 ? "panned" : "withheld";
    withheld_ = current_;
  } else {
    return;
  }
  o.end = std::max(o.end, time);
}

void OutcomeReader::broker_line(const std::string& text) {
  if (!broker_) return;
  StrokeOutcome& o = broker_->o;
  std::string rest;
  if (starts(text, "Gesture handed over: ", &rest)) {
    size_t colon = rest.find(':');
    std::istringstream codes(colon == std::string::npos ? "" : rest.substr(colon + 1));
    o.codes.clear();
    for (std::string c; codes >> c;) o.codes.push_back(c);
  } else if (starts(text, "Gesture filtered: \"", &rest)) {
    o.filtered = rest.substr(0, rest.find('"'));
  } else if (starts(text, "Gesture behaviour ", &rest)) {
    o.behaviour = std::atoi(rest.c_str());
    size_t colon = rest.find(": ");
    o.meaning = colon == std::string::npos ? "" : rest.substr(colon + 2);
  } else if (starts(text, "Gesture tick: ")) {
    ++o.ticks;
  }
}

void OutcomeReader::scrolled(const dev::LogEntry& e, const Ref& to) {
  std::string window = e.str("window"), bar = e.str("bar");
  int64_t pos = e.num("pos");
  int64_t& last = positions_[window + " " + bar];  // a window starts at 0
  if (to) {
    auto& scrolls = to->o.scrolls;
    auto it = scrolls.begin();
    while (it != scrolls.end() && !(it->window == window && it->bar == bar)) ++it;
    if (it == scrolls.end())
      it = scrolls.insert(it, {window, bar, last, pos, names ? names->label(window) : ""});
    it->after = pos;
  }
  last = pos;
}

// The broker's own doings belong to the stroke it carries out; the proxy's worker's to the
// latest stroke; an application's scrolling to whoever asked it to scroll last; anything else
// to the broker's stroke while there is one.
OutcomeReader::Ref OutcomeReader::owner(const dev::LogEntry& e) const {
  if (e.process == "device.exe") return broker_ ? broker_ : current_;
  if (e.process == "gwes.exe") return current_;
  if (e.kind == "scroll-pos") {
    auto it = scrolled_by_.find(e.str("window"));
    if (it != scrolled_by_.end() && (it->second == broker_ || it->second == current_))
      return it->second;
    return current_;
  }
  return broker_ ? broker_ : current_;
}

void OutcomeReader::end_broker(uint64_t time) {
  broker_ending_ = false;
  release(broker_, time);
}

void OutcomeReader::release(Ref& slot, uint64_t time) {
  Ref r = std::move(slot);
  slot.reset();
  if (!r || r == current_ || r == broker_) return;
  if (withheld_ == r) withheld_.reset();
  StrokeOutcome& o = r->o;
  if (r->superseded) {
    o.cut_short = true;
    if (is_momentum(o.behaviour) && current_) current_->o.stopped_momentum = true;
  }
  if (is_turn(o.behaviour) && !r->turned)
    o.effects.push_back(fmt::format("the screen stayed at {} degrees", angle_));
  o.end = std::max(o.end, time);
  if (on_outcome) on_outcome(o);
}

std::string OutcomeReader::shown(const std::string& window) const {
  return names ? names->shown(window) : window;
}

}  // namespace sim
