#include "draw/Timeline.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "draw/Legend.h"

namespace draw {
namespace {

const double kLeft = 150, kRight = 24, kTop = 34;
const double kPlotLane = 110, kBarLane = 44, kAxis = 34, kLegendLine = 22;
const Colour kInk = rgb(0x202020);
const Colour kGrid = rgb(0xE4E4E4);
const Colour kSeriesColours[] = {rgb(0x1565C0), rgb(0x2E7D32), rgb(0x6A1B9A), rgb(0xEF6C00),
                                 rgb(0x00838F)};
const Colour kMomentum = rgb(0xC62828);
const Colour kSoundColours[] = {rgb(0xF9A825), rgb(0x8D6E63), rgb(0x26A69A), rgb(0x7E57C2)};

const Colour& series_colour(size_t i) {
  return kSeriesColours[i % (sizeof kSeriesColours / sizeof kSeriesColours[0])];
}

// A tick step of 1, 2 or 5 times a power of ten milliseconds giving at most ten ticks.
double tick_step(double span) {
  double step = 1;
  while (span / step > 10) {
    for (double f : {2.0, 2.5, 2.0}) {
      step *= f;
      if (span / step <= 10) break;
    }
  }
  return step;
}

std::string time_label(double ms) {
  if (ms < 1000 || std::fmod(ms, 100) != 0) return fmt::format("{} ms", ms);
  return fmt::format("{} s", ms / 1000);
}

// Each sound of its own colour, in the order they first played.
std::vector<std::pair<std::string, Colour>> colour_sounds(std::vector<TimeSpan>& sounds) {
  std::vector<std::pair<std::string, Colour>> key;
  const size_t colours = sizeof kSoundColours / sizeof kSoundColours[0];
  for (auto& s : sounds) {
    auto known = std::find_if(key.begin(), key.end(), [&](auto& k) { return k.first == s.label; });
    if (known == key.end()) {
      key.emplace_back(s.label, kSoundColours[key.size() % colours]);
      known = key.end() - 1;
    }
    s.colour = known->second;
  }
  return key;
}

// A row of the legend below the axis: its title at the left, its entries beside it in as many
// lines as they need.
struct LegendRow {
  std::string title;
  std::vector<LegendEntry> entries;
  LegendLayout layout;
};

std::vector<LegendRow> legend_rows(cairo_t* cr, const TimelineData& d) {
  std::vector<LegendRow> rows;
  auto row = [&](const std::string& title, const std::vector<std::pair<std::string, Colour>>& key) {
    LegendRow r{title, {}, {}};
    for (const auto& [name, colour] : key) r.entries.push_back({name, colour});
    r.layout = lay_out_legend(cr, r.entries, LegendStyle{}, kTimelineWidth - kLeft - kRight);
    rows.push_back(std::move(r));
  };
  std::vector<std::pair<std::string, Colour>> lines;
  for (size_t i = 0; i < d.scroll.size(); ++i)
    lines.emplace_back(d.scroll[i].name + " position", series_colour(i));
  lines.emplace_back("momentum", kMomentum);
  row("lines", lines);
  std::vector<TimeSpan> sounds = d.sounds;
  if (!d.sounds.empty()) row("sounds", colour_sounds(sounds));
  if (!d.stroke_key.empty()) row("strokes", d.stroke_key);
  return rows;
}

double legend_height(const std::vector<LegendRow>& rows) {
  double h = 0;
  for (const auto& r : rows) h += std::max(kLegendLine, r.layout.height);
  return h;
}

class Plot {
 public:
  Plot(cairo_t* cr, uint64_t end) : cr_(cr), end_(std::max<uint64_t>(end, 1)) {}
  double x(uint64_t t) const {
    return kLeft + (kTimelineWidth - kLeft - kRight) * static_cast<double>(t) / end_;
  }
  double right() const { return kTimelineWidth - kRight; }

  void lane_label(double y, double h, const std::string& name, const Colour& c) {
    // A long name wraps in the lane's height, left of the range's figures, in a smaller font
    // when one of its words is wider than the room.
    const double room = kLeft - 56;
    double size = 12;
    set_font(cr_, size, true);
    for (const auto& word : wrapped_lines(cr_, name, 0)) {
      double w = text_width(cr_, word);
      if (w > room) size = std::min(size, std::max(7.0, 11.5 * room / w));
    }
    set_font(cr_, size, true);
    text_wrapped(cr_, 8, y, room, h, name, c, Align::kLeft, true);
    frame_rect(cr_, kLeft, y, right() - kLeft, h, kGrid);
  }

  // A value that holds until the next as steps, with its range at the lane's left.
  void series(double y, double h, const TimeSeries& s, const Colour& c) {
    lane_label(y, h, s.name, c);
    if (s.points.empty()) {
      set_font(cr_, 11);
      text_at(cr_, kLeft + 8, y + h / 2 - 6, "none in the log", rgb(0x909090));
      return;
    }
    double lo = 0, hi = 1;
    for (const auto& p : s.points) {
      lo = std::min(lo, p.value);
      hi = std::max(hi, p.value);
    }
    auto vy = [&](double v) { return y + h - 6 - (h - 12) * (v - lo) / (hi - lo); };
    set_font(cr_, 10);
    text_at(cr_, kLeft - 48, y + 2, fmt::format("{:>6}", hi), rgb(0x707070));
    text_at(cr_, kLeft - 48, y + h - 14, fmt::format("{:>6}", lo), rgb(0x707070));
    set_colour(cr_, c);
    cairo_set_line_width(cr_, 1.5);
    if (!s.holds) {
      for (size_t i = 0; i < s.points.size(); ++i) {
        const TimePoint& p = s.points[i];
        cairo_arc(cr_, x(p.t), vy(p.value), 1.8, 0, 2 * M_PI);
        cairo_fill(cr_);
        if (i > 0 && p.t - s.points[i - 1].t <= kJoinMs) {
          cairo_move_to(cr_, x(s.points[i - 1].t), vy(s.points[i - 1].value));
          cairo_line_to(cr_, x(p.t), vy(p.value));
          cairo_stroke(cr_);
        }
      }
      return;
    }
    cairo_move_to(cr_, x(s.points[0].t), vy(s.points[0].value));
    for (size_t i = 1; i < s.points.size(); ++i) {
      cairo_line_to(cr_, x(s.points[i].t), vy(s.points[i - 1].value));
      cairo_line_to(cr_, x(s.points[i].t), vy(s.points[i].value));
    }
    cairo_line_to(cr_, x(end_), vy(s.points.back().value));
    cairo_stroke(cr_);
  }

  void spans(double y, double h, const std::string& name, const std::vector<TimeSpan>& spans) {
    lane_label(y, h, name, kInk);
    for (const auto& s : spans) {
      double x1 = x(s.start), x2 = std::max(x(s.end), x1 + 1.5);
      fill_rect(cr_, x1, y + h * 0.2, x2 - x1, h * 0.6, s.colour);
    }
  }

  void axis(double y) {
    double step = tick_step(static_cast<double>(end_));
    set_font(cr_, 11);
    set_colour(cr_, kInk);
    cairo_set_line_width(cr_, 1);
    cairo_move_to(cr_, kLeft, y + 0.5);
    cairo_line_to(cr_, right(), y + 0.5);
    cairo_stroke(cr_);
    for (double t = 0; t <= static_cast<double>(end_) + 0.5; t += step) {
      double tx = x(static_cast<uint64_t>(t));
      fill_rect(cr_, tx, y, 1, 5, kInk);
      text_centred(cr_, tx, y + 14, time_label(t), kInk);
    }
    text_at(cr_, 8, y + 8, "device time", kInk);
  }

 private:
  cairo_t* cr_;
  uint64_t end_;
};

}  // namespace

int timeline_height(const TimelineData& d) {
  Measure measure;
  double lanes = kPlotLane * static_cast<double>(d.scroll.size() + 1) + kBarLane * 2;
  return static_cast<int>(
      std::ceil(kTop + lanes + kAxis + legend_height(legend_rows(measure.cr(), d)) + 8));
}

void write_timeline(const TimelineData& d, const std::string& path, Format format) {
  Canvas canvas(kTimelineWidth, timeline_height(d), format, path);
  cairo_t* cr = canvas.cr();
  fill_rect(cr, 0, 0, canvas.width(), canvas.height(), rgb(0xFFFFFF));
  set_font(cr, 14, true);
  text_at(cr, 8, 8, "Scroll positions, momentum, sounds and strokes against device time", kInk);
  Plot plot(cr, d.end);
  double y = kTop;
  for (size_t i = 0; i < d.scroll.size(); ++i, y += kPlotLane)
    plot.series(y, kPlotLane - 6, d.scroll[i], series_colour(i));
  TimeSeries momentum = d.momentum;
  momentum.name = "momentum";
  plot.series(y, kPlotLane - 6, momentum, kMomentum);
  y += kPlotLane;
  std::vector<TimeSpan> sounds = d.sounds;
  colour_sounds(sounds);
  plot.spans(y, kBarLane - 6, "sounds", sounds);
  y += kBarLane;
  plot.spans(y, kBarLane - 6, "strokes", d.strokes);
  y += kBarLane;
  plot.axis(y);
  y += kAxis;
  for (const auto& row : legend_rows(cr, d)) {
    set_font(cr, 12, true);
    text_at(cr, 8, y + 3, row.title, kInk);
    draw_legend(cr, row.layout, row.entries, LegendStyle{}, kLeft, y);
    y += std::max(kLegendLine, row.layout.height);
  }
  canvas.finish();
}

}  // namespace draw
