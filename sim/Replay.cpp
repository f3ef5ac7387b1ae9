#include "Replay.h"

#include <pugixml.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "InputFiles.h"

namespace sim {
namespace {

// A number attribute of a point, read whole: "12abc", "" or a value out of [lo, hi] is an error,
// never a silent 0 or a wrapped value.
long long attribute(const pugi::xml_node& p, const char* name, long long lo, long long hi,
                    const std::string& path, int line) {
  pugi::xml_attribute a = p.attribute(name);
  if (!a) throw dev::InputError(path, line, std::string("the point has no ") + name);
  std::string_view s = a.value();
  long long v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec == std::errc::result_out_of_range || (ec == std::errc() && (v < lo || v > hi))) {
    throw dev::InputError(path, line,
                          std::string(name) + "=\"" + std::string(s) + "\" is out of range (" +
                              std::to_string(lo) + " to " + std::to_string(hi) + ")");
  }
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) {
    throw dev::InputError(path, line,
                          std::string(name) + "=\"" + std::string(s) + "\" is not a whole number");
  }
  return v;
}

}  // namespace

RecordedStroke load_recorded_stroke(const std::string& path) {
  return parse_recorded_stroke(read_input_file(path, "stroke file"), input_name(path));
}

RecordedStroke parse_recorded_stroke(const std::string& text, const std::string& path) {
  size_t bad = first_bad_utf8(text);
  if (bad != std::string::npos) throw dev::InputError(path, line_of(text, bad), "not valid UTF-8");
  pugi::xml_document doc;
  pugi::xml_parse_result ok = doc.load_buffer(text.data(), text.size());
  if (!ok) {
    throw dev::InputError(path,
                          line_of(text, static_cast<size_t>(std::max<ptrdiff_t>(0, ok.offset))),
                          std::string("not a stroke file: ") + ok.description());
  }
  pugi::xml_node gesture = doc.child("Gesture");
  if (!gesture) throw dev::InputError(path, 0, "no <Gesture> element");
  if (pugi::xml_node second = gesture.next_sibling("Gesture")) {
    throw dev::InputError(path, line_of(text, static_cast<size_t>(second.offset_debug())),
                          "a second <Gesture>: a stroke file holds one stroke");
  }
  RecordedStroke stroke;
  stroke.name = gesture.attribute("Name").as_string();
  stroke.subject = gesture.attribute("Subject").as_string();
  stroke.speed = gesture.attribute("Speed").as_string();
  long long t0 = 0;
  // Points come in the order of the text: the line is counted on from the point before.
  LineCounter lines(text);
  for (pugi::xml_node p : gesture.children("Point")) {
    int line = lines.at(static_cast<size_t>(p.offset_debug()));
    if (stroke.points.size() == kMaxStrokePoints) {
      throw dev::InputError(path, line,
                            "more than " + std::to_string(kMaxStrokePoints) + " points");
    }
    int x = static_cast<int>(attribute(p, "X", -kMaxPanelCoord, kMaxPanelCoord, path, line));
    int y = static_cast<int>(attribute(p, "Y", -kMaxPanelCoord, kMaxPanelCoord, path, line));
    long long t = attribute(p, "T", 0, 0xFFFFFFFFLL, path, line);
    if (stroke.points.empty()) t0 = t;
    long long rel = t - t0;
    if (rel < 0 || (!stroke.points.empty() && rel < stroke.points.back().t)) {
      throw dev::InputError(path, line, "point times go backwards");
    }
    if (rel > kMaxStrokeMs) {
      throw dev::InputError(path, line,
                            "the stroke lasts longer than " + std::to_string(kMaxStrokeMs) + " ms");
    }
    stroke.points.push_back({static_cast<uint32_t>(rel), x, y});
  }
  if (stroke.points.empty()) throw dev::InputError(path, 0, "the stroke has no points");
  return stroke;
}

std::vector<StrokePoint> resample(const RecordedStroke& stroke, uint32_t rate_hz,
                                  uint32_t max_gap_ms) {
  std::vector<StrokePoint> out;
  const auto& pts = stroke.points;
  uint32_t period = 1000 / (rate_hz == 0 ? 100 : rate_hz);
  if (period == 0) period = 1;
  size_t i = 0;
  // The last sample falls on or after the last recorded point, so the stroke ends where it did.
  for (uint32_t t = 0;; t += period) {
    while (i + 1 < pts.size() && pts[i + 1].t <= t) ++i;
    const StrokePoint& a = pts[i];
    StrokePoint p{t, a.x, a.y};
    if (i + 1 < pts.size()) {
      const StrokePoint& b = pts[i + 1];
      uint32_t gap = b.t - a.t;
      if (gap > 0 && gap <= max_gap_ms) {
        double f = static_cast<double>(t - a.t) / gap;
        p.x = a.x + static_cast<int>(std::lround((b.x - a.x) * f));
        p.y = a.y + static_cast<int>(std::lround((b.y - a.y) * f));
      }
    }
    out.push_back(p);
    if (t >= pts.back().t) break;
  }
  return out;
}

}  // namespace sim
