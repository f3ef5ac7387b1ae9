#include "LiveCommands.h"

#include <fmt/format.h>

#include <algorithm>

#include "Replay.h"

namespace sim::serve {
namespace {

const char kGestureKey[] = "HKLM\\Software\\Quob\\Gesture";
const uint32_t kPeriodMs = 1000 / kPanelRateHz;

}  // namespace

void screen_to_panel_point(int sx, int sy, uint32_t angle, const dev::Screen& screen, int* px,
                           int* py) {
  // Landscape: W x H is the screen turned, the panel's height wide.
  int wide = std::max(screen.width, screen.height), narrow = std::min(screen.width, screen.height);
  if (angle == 90) {
    *px = sy;
    *py = wide - sx;
  } else if (angle == 270) {
    *px = narrow - sy;
    *py = sx;
  } else {
    *px = sx;
    *py = sy;
  }
}

std::string wait_line(uint64_t ms) {
  return ms == 0 ? std::string() : fmt::format("wait {}\n", ms);
}

std::string stroke_lines(const DrawnStroke& stroke, uint64_t wait_ms, uint32_t angle,
                         const dev::Screen& screen, uint64_t* up_ms) {
  RecordedStroke drawn;
  drawn.points = stroke;
  std::vector<StrokePoint> points = resample(drawn, kPanelRateHz);
  for (StrokePoint& p : points) screen_to_panel_point(p.x, p.y, angle, screen, &p.x, &p.y);
  std::string out = wait_line(wait_ms);
  uint64_t at = 0;
  for (const dev::PanelSample& s : to_panel(points, 0, kPeriodMs)) {
    out += wait_line(s.time - at);
    out += fmt::format("sample {:#x} {} {}\n", s.flags, s.x, s.y);
    at = s.time;
  }
  *up_ms = at;
  return out;
}

std::string recorded_stroke_lines(const std::vector<StrokePoint>& stroke, uint64_t wait_ms,
                                  const std::string& source, uint32_t angle,
                                  const dev::Screen& screen, uint64_t* up_ms, DrawnStroke* points) {
  RecordedStroke recorded;
  recorded.points = stroke;
  std::vector<StrokePoint> resampled = resample(recorded, kPanelRateHz);
  int wide = std::max(screen.width, screen.height), narrow = std::min(screen.width, screen.height);
  if (points != nullptr) {
    // The touch driver proxy's mapping, which screen_to_panel_point inverts.
    points->clear();
    for (const StrokePoint& p : resampled) {
      StrokePoint q = p;
      if (angle == 90) {
        q.x = wide - p.y;
        q.y = p.x;
      } else if (angle == 270) {
        q.x = p.y;
        q.y = narrow - p.x;
      }
      points->push_back(q);
    }
  }
  std::string out = fmt::format("# {}\n", source) + wait_line(wait_ms);
  uint64_t at = 0;
  for (const dev::PanelSample& s : to_panel(resampled, 0, kPeriodMs)) {
    out += wait_line(s.time - at);
    out += fmt::format("sample {:#x} {} {}\n", s.flags, s.x, s.y);
    at = s.time;
  }
  *up_ms = at;
  return out;
}

std::string setting_line(const std::string& name, long long value) {
  return fmt::format("reg {} {} dword {}\n", kGestureKey, name, static_cast<uint32_t>(value));
}

const std::vector<std::string>& window_kinds() {
  static const std::vector<std::string> kinds = {"list", "browser", "aware", "plain"};
  return kinds;
}

std::string window_lines(const std::string& kind, const std::string& label,
                         const std::string& previous) {
  std::string out = previous.empty() ? "" : fmt::format("destroy {}\n", previous);
  if (kind == "list") {
    out += fmt::format("window {} list 0 26 240 268 lines 400 page 12\n", label);
  } else if (kind == "browser") {
    out += fmt::format(
        "window {0} browser 0 0 240 320 pages 5 at 3\n"
        "window {0}-page view 0 26 240 268 parent {0} lines 2000\n",
        label);
  } else if (kind == "aware") {
    out += fmt::format("window {} aware 0 26 240 268\n", label);
  } else if (kind == "plain") {
    out += fmt::format("window {} plain 20 60 200 200\n", label);
  } else {
    return "";
  }
  return out + fmt::format("foreground {}\n", label);
}

std::string start_lines(const std::string& label) {
  return setting_line("Activate", 1) + window_lines("list", label, "");
}

std::string trail_lines(uint64_t ms) {
  return "# the device runs on until the last stroke's effects have ended\n" + wait_line(ms);
}

std::string settings_program_line() {
  return "start Corvane.exe\n";
}

}  // namespace sim::serve
