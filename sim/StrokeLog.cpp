#include "StrokeLog.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace sim {
namespace {

const uint32_t kDownFlag = 0x2;
const int64_t kHandOverMessage = 1274;
const char kHandedOver[] = "Gesture handed over:";
const char kTick[] = "Gesture tick: behaviour ";

bool is_message(const dev::LogEntry& e, int64_t number, const char* name) {
  return e.num("msg") == number || e.str("msg") == name;
}

bool starts_with(const std::string& s, const std::string& prefix) {
  return s.rfind(prefix, 0) == 0;
}

}  // namespace

std::vector<std::pair<char, int>> handed_over_codes(const std::string& text) {
  std::vector<std::pair<char, int>> codes;
  if (!starts_with(text, kHandedOver)) return codes;
  size_t colon = text.find(':', sizeof kHandedOver - 1);
  if (colon == std::string::npos) return codes;
  std::istringstream words(text.substr(colon + 1));
  std::string w;
  while (words >> w) {
    char* end = nullptr;
    long length = w.size() > 1 ? std::strtol(w.c_str() + 1, &end, 10) : 0;
    if (w.size() < 2 || end == nullptr || *end != '\0' || length < 0) return {};
    codes.emplace_back(w[0], static_cast<int>(length));
  }
  return codes;
}

namespace {

// The direction letter of a step between samples, with the engine's stock slope bounds (2.414 and
// 0.414); 0 for no movement.
char step_code(const draw::StrokePoint& a, const draw::StrokePoint& b) {
  double dx = b.x - a.x, dy = b.y - a.y;
  if (dx == 0 && dy == 0) return 0;
  double ratio = dx == 0 ? 1e9 : std::fabs(dy) / std::fabs(dx);
  if (ratio > 2.414) return dy > 0 ? 'D' : 'U';
  if (ratio < 0.414) return dx > 0 ? 'R' : 'L';
  if (dy > 0) return dx > 0 ? 'Q' : 'E';
  return dx > 0 ? 'Z' : 'C';
}

}  // namespace

std::vector<draw::StrokeSegment> place_codes(const std::vector<draw::StrokePoint>& points,
                                             const std::vector<std::pair<char, int>>& codes) {
  std::vector<draw::StrokeSegment> out;
  if (points.size() < 2 || codes.empty()) return out;
  std::vector<double> along = {0};
  for (size_t i = 1; i < points.size(); ++i)
    along.push_back(along.back() +
                    std::hypot(points[i].x - points[i - 1].x, points[i].y - points[i - 1].y));
  double total = 0;
  for (const auto& c : codes) total += c.second;
  double done = 0;
  size_t first = 0;
  for (size_t k = 0; k < codes.size(); ++k) {
    done += codes[k].second;
    size_t last = first;
    if (k + 1 == codes.size()) {
      last = points.size() - 1;
    } else {
      // A code ends where the samples turn to the next code's direction, after going its own;
      // where they never do, its share of the path by its length.
      char next = codes[k + 1].first;
      bool own = false;
      size_t turn = first;
      for (size_t i = first; i + 1 < points.size(); ++i) {
        char c = step_code(points[i], points[i + 1]);
        own = own || c == codes[k].first;
        if (own && c == next) {
          turn = i;
          break;
        }
      }
      if (turn > first) {
        last = turn;
      } else {
        double target =
            total > 0 ? along.back() * done / total : along.back() * (k + 1) / codes.size();
        while (last + 1 < points.size() && along[last + 1] <= target + 1e-9) ++last;
      }
    }
    out.push_back({first, last, codes[k].first, codes[k].second});
    first = last;
  }
  return out;
}

StrokeLog::StrokeLog(int width, int height) : panel_w_(width), panel_h_(height) {}

// The panel keeps its orientation; the proxy turns its points for a turned screen, and a picture
// turns them the same way for the screen it shows.
draw::StrokePoint StrokeLog::on_screen(const draw::StrokePoint& p, int angle) const {
  switch (angle) {
    case 90:
      return {panel_h_ - p.y, p.x};
    case 180:
      return {panel_w_ - p.x, panel_h_ - p.y};
    case 270:
      return {p.y, panel_w_ - p.x};
    default:
      return p;
  }
}

void StrokeLog::add(const dev::LogEntry& e) {
  if (e.kind == "display-change") {
    angle_ = static_cast<int>(e.num("angle"));
    return;
  }
  if (e.kind == "note") {
    steps_.push_back({e.str("text"), earlier_ + strokes_.size()});
    return;
  }
  if (e.kind == "panel") {
    auto flags = static_cast<uint32_t>(std::strtoul(e.str("flags").c_str(), nullptr, 0));
    bool down = (flags & kDownFlag) != 0;
    if (down && !down_) {
      if (strokes_.size() == kKept) {
        strokes_.pop_front();
        ++earlier_;
      }
      strokes_.emplace_back();
      strokes_.back().down = e.time;
      strokes_.back().angle = angle_;
    }
    if (!strokes_.empty() && (down || down_)) ++strokes_.back().samples;
    if (!strokes_.empty() && down)
      strokes_.back().points.push_back({e.num("x") / 4.0, e.num("y") / 4.0});
    if (!strokes_.empty() && down_ && !down) {
      strokes_.back().up = e.time;
      strokes_.back().pen_up = true;
    }
    down_ = down;
    return;
  }
  if (strokes_.empty()) return;
  Stroke& s = strokes_.back();
  if (e.kind == "sample") {
    ++s.received;
  } else if (e.kind == "post" && e.process == "gwes.exe") {
    if (is_message(e, kHandOverMessage, "") && starts_with(e.str("window"), "MSGBROKER"))
      s.handed_over = true;
    if (is_message(e, 0x115, "WM_VSCROLL") || is_message(e, 0x114, "WM_HSCROLL")) s.panned = true;
  } else if (e.kind == "post" && s.handed_over && s.behaviour < 0 &&
             is_message(e, kHandOverMessage, "") && starts_with(e.str("window"), "GST_")) {
    // The notification to a gesture-aware window carries the behaviour in its low word.
    s.behaviour = static_cast<int>(std::strtoul(e.str("wParam").c_str(), nullptr, 0) & 0xFFFF);
  } else if (e.kind == "debug" && s.handed_over) {
    std::string text = e.str("text");
    auto codes = handed_over_codes(text);
    if (!codes.empty() && s.codes.empty()) s.codes = codes;
    if (starts_with(text, kTick) && s.behaviour < 0)
      s.behaviour = std::atoi(text.c_str() + sizeof kTick - 1);
  }
}

draw::Decision StrokeLog::decision_of(const Stroke& s) {
  if (s.received > 0) return draw::Decision::kPassed;
  if (s.handed_over) return draw::Decision::kHandedOver;
  if (s.panned) return draw::Decision::kPanned;
  return draw::Decision::kKept;
}

std::string StrokeLog::label_of(const Stroke& s, int angle) {
  std::string out = fmt::format("at {} ms, {} samples: {}", s.down, s.samples,
                                draw::decision_name(decision_of(s)));
  if (decision_of(s) == draw::Decision::kPassed) out += fmt::format(" ({} received)", s.received);
  // Its codes are of the screen it was made on, which a picture of another shows turned.
  std::string turned =
      s.angle != angle ? fmt::format(", made on the screen turned to {} degrees", s.angle) : "";
  if (decision_of(s) != draw::Decision::kHandedOver) return out + turned;
  std::string codes;
  for (const auto& [code, length] : s.codes) codes += fmt::format(" {}{}", code, length);
  if (!codes.empty()) out += ":" + codes;
  if (s.behaviour >= 0) out += fmt::format(", behaviour {}", s.behaviour);
  return out + turned;
}

std::vector<draw::StrokeView> StrokeLog::strokes(int angle) const {
  std::vector<draw::StrokeView> out;
  for (const Stroke& s : strokes_) {
    draw::StrokeView v;
    // The codes are laid along the samples as the engine saw them, on the stroke's own screen.
    std::vector<draw::StrokePoint> own;
    for (const auto& p : s.points) own.push_back(on_screen(p, s.angle));
    v.segments = place_codes(own, s.codes);
    for (const auto& p : s.points) v.points.push_back(on_screen(p, angle));
    v.decision = decision_of(s);
    v.label = label_of(s, angle);
    out.push_back(std::move(v));
  }
  return out;
}

std::vector<draw::TimeSpan> StrokeLog::spans() const {
  std::vector<draw::TimeSpan> out;
  for (const Stroke& s : strokes_) {
    // A stroke still down at the picture's moment runs to its last sample.
    out.push_back({s.down, s.pen_up ? s.up : s.down, draw::decision_name(decision_of(s)),
                   draw::decision_colour(decision_of(s))});
  }
  return out;
}

}  // namespace sim
