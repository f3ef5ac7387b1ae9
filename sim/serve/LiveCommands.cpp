#include "LiveCommands.h"

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

Commands wait_commands(uint64_t ms) {
  if (ms == 0) return {};
  return {{0, cmd::Wait{ms}}};
}

namespace {

// Panel points played as raw samples at the panel's rate, the pen-down `wait_ms` after the
// cursor; the cursor ends at the pen-up, `up_ms` after the pen-down.
Commands sample_commands(const std::vector<StrokePoint>& points, uint64_t wait_ms,
                         uint64_t* up_ms) {
  Commands out = wait_commands(wait_ms);
  uint64_t at = 0;
  for (const dev::PanelSample& s : to_panel(points, 0, kPeriodMs)) {
    for (Command& wait : wait_commands(s.time - at)) out.push_back(std::move(wait));
    out.push_back({0, cmd::Sample{s.flags, s.x, s.y}});
    at = s.time;
  }
  *up_ms = at;
  return out;
}

}  // namespace

Commands stroke_commands(const DrawnStroke& stroke, uint64_t wait_ms, uint32_t angle,
                         const dev::Screen& screen, uint64_t* up_ms) {
  RecordedStroke drawn;
  drawn.points = stroke;
  std::vector<StrokePoint> points = resample(drawn, kPanelRateHz);
  for (StrokePoint& p : points) screen_to_panel_point(p.x, p.y, angle, screen, &p.x, &p.y);
  return sample_commands(points, wait_ms, up_ms);
}

Commands recorded_stroke_commands(const std::vector<StrokePoint>& stroke, uint64_t wait_ms,
                                  uint32_t angle, const dev::Screen& screen, uint64_t* up_ms,
                                  DrawnStroke* points) {
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
  return sample_commands(resampled, wait_ms, up_ms);
}

Command setting_command(const std::string& name, long long value) {
  cmd::RegValue v;
  v.key = kGestureKey;
  v.name = name;
  v.number = static_cast<uint32_t>(value);
  return {0, cmd::Reg{v}};
}

const std::vector<std::string>& window_kinds() {
  static const std::vector<std::string> kinds = {"list", "browser", "aware", "plain"};
  return kinds;
}

namespace {

cmd::Window window(const std::string& label, const std::string& kind, int x, int y, int w, int h) {
  cmd::Window k;
  k.label = label;
  k.kind_name = kind;
  dev::apps::kind_from_name(kind, &k.kind);
  k.x = x;
  k.y = y;
  k.width = w;
  k.height = h;
  return k;
}

}  // namespace

Commands window_commands(const std::string& kind, const std::string& label,
                         const std::string& previous) {
  Commands out;
  if (!previous.empty()) out.push_back({0, cmd::Destroy{previous}});
  if (kind == "list") {
    cmd::Window list = window(label, "list", 0, 26, 240, 268);
    list.lines = 400;
    list.page = 12;
    out.push_back({0, list});
  } else if (kind == "browser") {
    cmd::Window frame = window(label, "browser", 0, 0, 240, 320);
    frame.pages = 5;
    frame.at = 3;
    cmd::Window view = window(label + "-page", "view", 0, 26, 240, 268);
    view.parent = label;
    view.lines = 2000;
    out.push_back({0, frame});
    out.push_back({0, view});
  } else if (kind == "aware") {
    out.push_back({0, window(label, "aware", 0, 26, 240, 268)});
  } else if (kind == "plain") {
    out.push_back({0, window(label, "plain", 20, 60, 200, 200)});
  } else {
    return {};
  }
  out.push_back({0, cmd::Foreground{label}});
  return out;
}

Commands start_commands(const std::string& label) {
  Commands out = {setting_command("Activate", 1)};
  for (Command& c : window_commands("list", label, "")) out.push_back(std::move(c));
  return out;
}

Commands trail_commands(uint64_t ms) {
  return wait_commands(ms);
}

Command settings_program_command() {
  return {0, cmd::Start{"Corvane.exe", std::nullopt}};
}

std::string scenario_lines(const Commands& commands, const Comments& comments) {
  std::string out;
  for (size_t i = 0; i <= commands.size(); ++i) {
    for (const Comment& c : comments) {
      if (c.before == i) out += "# " + c.text + "\n";
    }
    if (i < commands.size()) out += scenario_line(commands[i]) + "\n";
  }
  return out;
}

}  // namespace sim::serve
