#include "Replay.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

namespace sim {

RecordedStroke load_recorded_stroke(const std::string& path) {
  pugi::xml_document doc;
  pugi::xml_parse_result ok = doc.load_file(path.c_str());
  if (!ok) {
    // The parser tells where in the file it stopped; an error names the line.
    int line = 0;
    std::ifstream in(path, std::ios::binary);
    if (in && ok.offset >= 0) {
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      size_t end = std::min(text.size(), static_cast<size_t>(ok.offset));
      line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + end, '\n'));
    }
    throw dev::InputError(path, line, std::string("not a stroke file: ") + ok.description());
  }
  pugi::xml_node gesture = doc.child("Gesture");
  if (!gesture) throw dev::InputError(path, 0, "no <Gesture> element");
  RecordedStroke stroke;
  stroke.name = gesture.attribute("Name").as_string();
  bool first = true;
  long long t0 = 0;
  for (pugi::xml_node p : gesture.children("Point")) {
    long long t = p.attribute("T").as_llong();
    if (first) t0 = t;
    first = false;
    long long rel = t - t0;
    if (rel < 0 ||
        (!stroke.points.empty() && static_cast<uint32_t>(rel) < stroke.points.back().t)) {
      throw dev::InputError(path, 0, "point times go backwards");
    }
    stroke.points.push_back(
        {static_cast<uint32_t>(rel), p.attribute("X").as_int(), p.attribute("Y").as_int()});
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
