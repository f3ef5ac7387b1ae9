#include "Explain.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "OutcomeText.h"
#include "StrokeLog.h"
#include "draw/Canvas.h"

namespace sim {
namespace {

// The panel sample's flag for the pen being down.
const uint32_t kDownFlag = 0x2;
// The screen the replay windows fill, in pixels.
const int kScreenW = 240, kScreenH = 320;
const double kScale = 2;

bool starts_with(const std::string& s, const char* prefix, std::string* rest = nullptr) {
  std::string p(prefix);
  if (s.compare(0, p.size(), p) != 0) return false;
  if (rest) *rest = s.substr(p.size());
  return true;
}

std::string settings_text(const ReplaySetup& setup) {
  std::string out = fmt::format("on a {} window", replay_window_name(setup.window));
  for (const auto& s : setup.settings) out += fmt::format(", {}={}", s.name, s.value);
  out +=
      setup.native ? ", at the recorded times" : fmt::format(", sampled at {} Hz", setup.rate_hz);
  return out;
}

std::string codes_text(const std::vector<std::pair<char, int>>& codes) {
  std::string out;
  for (const auto& [c, n] : codes) out += fmt::format("{}{}{}", out.empty() ? "" : " ", c, n);
  return out;
}

// What became of the stroke, in a line: "handed over: \"D\", 101 scroll back with momentum".
std::string decision_line(const StrokeOutcome& o) {
  if (o.decision == "passed through") return "passed through: " + o.reason;
  if (o.decision != "handed over") return o.decision.empty() ? "undecided" : o.decision;
  if (o.behaviour == 0) return fmt::format("handed over: \"{}\", no behaviour", o.filtered);
  return fmt::format("handed over: \"{}\", {} {}", o.filtered, o.behaviour, o.meaning);
}

// Runs of segments with one code, each the handed-over code it made: [first, last] indexes.
struct Run {
  size_t first = 0, last = 0;
  char code = '?';
  int length = 0;
};
std::vector<Run> runs_of(const Explanation& x) {
  std::vector<Run> runs;
  for (size_t i = 0; i < x.segments.size(); ++i) {
    const auto& s = x.segments[i];
    if (s.code == '-') continue;
    if (runs.empty() || runs.back().code != s.code) {
      runs.push_back({i, i, s.code, 0});
    }
    runs.back().last = i;
    runs.back().length += s.length;
  }
  return runs;
}

}  // namespace

bool read_explain_line(const std::string& text, Explanation& x) {
  std::string rest;
  char code = 0, word[16] = {0}, share_cmp[4] = {0}, length_cmp[4] = {0};
  if (starts_with(text, "Gesture capture: ", &rest)) {
    int ignored = 0, count = 0, sx = 0, sy = 0;
    if (std::sscanf(rest.c_str(),
                    "%d move(s) ignored (IgnoreCount %d), the stroke starts at (%d, %d)", &ignored,
                    &count, &sx, &sy) != 4)
      return false;
    x.captured = true;
    x.ignored = ignored;
    x.ignore_count = count;
    x.start_x = sx;
    x.start_y = sy;
    x.start_at_up = rest.find(", its pen-up") != std::string::npos;
    return true;
  }
  if (starts_with(text, "Gesture segment: ", &rest)) {
    ExplainedSegment s;
    if (std::sscanf(rest.c_str(),
                    "(%d, %d) to (%d, %d), distance %d (GRIDSIZE %d), code %c, length %d (Amp %d)",
                    &s.x0, &s.y0, &s.x1, &s.y1, &s.distance, &s.grid, &code, &s.length,
                    &s.amp) != 9)
      return false;
    s.code = code;
    x.segments.push_back(s);
    return true;
  }
  if (starts_with(text, "Gesture filter: ", &rest)) {
    FilterStep f;
    int whole = 0, tenth = 0, length = 0;
    if (std::sscanf(
            rest.c_str(),
            "%c%d %15[a-z]: share %d.%d%% %3s FilterValue %d, length %d %3s FilterDistance %d",
            &code, &f.length, word, &whole, &tenth, share_cmp, &f.filter_value, &length, length_cmp,
            &f.filter_distance) != 10)
      return false;
    f.code = code;
    f.kept = std::string(word) == "kept";
    f.share = fmt::format("{}.{}", whole, tenth);
    f.by_share = std::string(share_cmp) == ">";
    f.by_length = std::string(length_cmp) == ">";
    x.filter.push_back(f);
    return true;
  }
  if (starts_with(text, "Gesture handed over:")) {
    if (x.handed_over.empty()) x.handed_over = handed_over_codes(text);
    return true;
  }
  if (starts_with(text, "Gesture pan")) {
    x.pan.push_back(text);
    return true;
  }
  if (starts_with(text, "Gesture pattern: ")) {
    x.pattern = text;
    return true;
  }
  if (x.behaviour.empty() && (starts_with(text, "Gesture behaviour ") ||
                              (starts_with(text, "Gesture \"") &&
                               text.find("stands for no behaviour") != std::string::npos))) {
    x.behaviour = text;
    return true;
  }
  if (starts_with(text, "Stroke decision") || starts_with(text, "Stroke passes through: ")) {
    x.decisions.push_back(text);
    return true;
  }
  return false;
}

Explanation explain_stroke(const NamedStroke& stroke, const ReplaySetup& setup,
                           const RunOptions& base) {
  Explanation x;
  x.file = stroke.file;
  x.setup = setup;
  if (!stroke.stroke.points.empty()) x.duration_ms = stroke.stroke.points.back().t;
  RunOptions options = stroke_run_options(base);
  options.verbose = true;
  bool down = false, stroke_done = false;
  options.live = [&](const dev::LogEntry& e) {
    if (e.kind == "panel" && !stroke_done) {
      auto flags = static_cast<uint32_t>(std::strtoul(e.str("flags").c_str(), nullptr, 0));
      bool now_down = (flags & kDownFlag) != 0;
      if (now_down)
        x.samples.push_back(
            {static_cast<double>(e.num("screen_x")), static_cast<double>(e.num("screen_y"))});
      if (down && !now_down) stroke_done = true;
      down = now_down;
    } else if (e.kind == "debug") {
      read_explain_line(e.str("text"), x);
    }
  };
  try {
    RunResult run = run_scenario(replay_scenario(stroke, setup), options);
    if (run.outcomes.size() != 1) {
      x.error = fmt::format("the run gave {} outcomes for one stroke", run.outcomes.size());
    } else {
      x.outcome = run.outcomes.front();
    }
  } catch (const dev::InputError&) {
    throw;
  } catch (const std::exception& e) {
    x.error = e.what();
  }
  return x;
}

std::vector<bool> dropped_segments(const Explanation& x) {
  std::vector<bool> out(x.segments.size(), false);
  auto runs = runs_of(x);
  for (size_t r = 0; r < runs.size() && r < x.filter.size(); ++r)
    for (size_t i = runs[r].first; i <= runs[r].last; ++i)
      if (x.segments[i].code != '-') out[i] = !x.filter[r].kept;
  return out;
}

std::string explanation_text(const Explanation& x) {
  std::string out =
      fmt::format("{} (stroke {} of {}): {} samples with the pen down over {} ms, {}\n", x.file,
                  x.index, x.of, x.samples.size(), x.duration_ms, settings_text(x.setup));
  if (!x.error.empty()) return out + "not replayed: " + x.error + "\n";
  int step = 0;
  auto heading = [&](const std::string& text) { out += fmt::format("{}. {}\n", ++step, text); };

  if (!x.decisions.empty() || x.outcome.decision == "passed through") {
    heading("The proxy's pass-through decision:");
    for (const auto& d : x.decisions) out += "   " + d + "\n";
    if (x.decisions.empty()) out += "   (the proxy reported no decision)\n";
  }
  if (x.captured) {
    heading(
        fmt::format("First moves: the engine ignored {} move(s) (IgnoreCount {}); its stroke "
                    "starts at ({}, {}){}.",
                    x.ignored, x.ignore_count, x.start_x, x.start_y,
                    x.start_at_up ? ", the pen-up, as every move was ignored" : ""));
  } else if (x.outcome.decision != "passed through") {
    heading("First moves: the engine reported no start of its stroke.");
  }
  if (!x.pan.empty()) {
    heading("Pan:");
    for (const auto& p : x.pan) out += "   " + p + "\n";
  }
  if (!x.segments.empty()) {
    const auto& s0 = x.segments.front();
    heading(fmt::format("Segments (GRIDSIZE {}, a code's length Amp {} x the distance):", s0.grid,
                        s0.amp));
    auto dropped = dropped_segments(x);
    out += "    #  from        to          distance  code  length\n";
    for (size_t i = 0; i < x.segments.size(); ++i) {
      const auto& s = x.segments[i];
      out += fmt::format("   {:>2}  {:<10}  {:<10}  {:>8}  {:^4}  {:>6}{}\n", i + 1,
                         fmt::format("({},{})", s.x0, s.y0), fmt::format("({},{})", s.x1, s.y1),
                         s.distance, s.code, s.length, dropped[i] ? "  (dropped)" : "");
    }
  }
  if (!x.handed_over.empty()) {
    heading(fmt::format("Handed over to the broker: {} (one code per run of one direction)",
                        codes_text(x.handed_over)));
  }
  if (!x.filter.empty()) {
    heading(fmt::format("Filter (FilterValue {}, FilterDistance {}):", x.filter[0].filter_value,
                        x.filter[0].filter_distance));
    for (const auto& f : x.filter) {
      out += fmt::format(
          "   {:<6} {:<8} share {:>5}% {} FilterValue {}, length {} {} "
          "FilterDistance {}{}\n",
          fmt::format("{}{}", f.code, f.length), f.kept ? "kept:" : "dropped:", f.share,
          f.by_share ? ">" : "<=", f.filter_value, f.length,
          f.by_length ? ">" : "<=", f.filter_distance,
          !f.kept      ? ""
          : f.by_share ? (f.by_length ? " (by both)" : " (by its share)")
                       : " (by its length)");
    }
  }
  if (x.outcome.decision == "handed over") {
    heading(fmt::format("After the filter: \"{}\"", x.outcome.filtered));
    if (!x.pattern.empty()) out += "   " + x.pattern + "\n";
    if (!x.behaviour.empty()) out += "   " + x.behaviour + "\n";
  }
  out += "Decision: " + decision_line(x.outcome) + "\n   " + outcome_text(x.outcome) + "\n";
  return out;
}

void write_explanation_picture(const Explanation& x, const std::string& path) {
  draw::Format format;
  if (!draw::format_of(path, &format))
    throw dev::InputError(path, 0, "a picture is a .png or .svg file");
  const double w = kScreenW * kScale;
  std::string caption = "Decision: " + decision_line(x.outcome);
  for (const auto& d : x.decisions) caption += "\n" + d;
  if (!x.filter.empty()) {
    std::string dropped;
    for (const auto& f : x.filter)
      if (!f.kept) dropped += fmt::format(" {}{} ({}%)", f.code, f.length, f.share);
    if (!dropped.empty())
      caption += fmt::format(
          "\nDropped by the filter, share <= FilterValue {} and length <= "
          "FilterDistance {}:{}",
          x.filter[0].filter_value, x.filter[0].filter_distance, dropped);
  }
  if (x.captured)
    caption += fmt::format(
        "\nGrey: the {} first move(s) ignored (IgnoreCount {}); circled: where "
        "the engine's stroke starts",
        x.ignored, x.ignore_count);
  draw::Measure measure;
  draw::set_font(measure.cr(), 12);
  double caption_h = 16;
  for (const auto& line : draw::wrapped_lines(measure.cr(), caption, w - 16)) {
    (void)line;
    caption_h += 15;
  }

  draw::Canvas canvas(static_cast<int>(w), static_cast<int>(kScreenH * kScale + caption_h), format,
                      path);
  cairo_t* cr = canvas.cr();
  draw::fill_rect(cr, 0, 0, canvas.width(), canvas.height(), draw::rgb(0xFFFFFF));
  draw::fill_rect(cr, 0, 0, w, kScreenH * kScale, draw::rgb(0xF4F4F4));
  draw::frame_rect(cr, 0, 0, w, kScreenH * kScale, draw::rgb(0x9E9E9E));

  cairo_save(cr);
  cairo_scale(cr, kScale, kScale);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  // The samples up to the one where the engine's stroke starts are the ignored first moves.
  size_t first_taken = 0;
  if (x.captured) {
    double best = 1e18;
    for (size_t i = 0; i < x.samples.size(); ++i) {
      double dx = x.samples[i].x - x.start_x, dy = x.samples[i].y - x.start_y;
      if (dx * dx + dy * dy < best) {
        best = dx * dx + dy * dy;
        first_taken = i;
      }
    }
  }
  for (size_t i = 0; i < x.samples.size(); ++i) {
    bool ignored = x.captured && i < first_taken;
    draw::set_colour(cr, ignored ? draw::rgb(0x9E9E9E) : draw::rgb(0x424242));
    if (i > 0) {
      cairo_set_line_width(cr, ignored ? 3 : 1);
      cairo_move_to(cr, x.samples[i - 1].x, x.samples[i - 1].y);
      cairo_line_to(cr, x.samples[i].x, x.samples[i].y);
      cairo_stroke(cr);
    }
    cairo_arc(cr, x.samples[i].x, x.samples[i].y, ignored ? 1.8 : 1.3, 0, 2 * M_PI);
    cairo_fill(cr);
  }
  auto dropped = dropped_segments(x);
  const draw::Colour kept_colour = draw::decision_colour(draw::Decision::kHandedOver);
  const draw::Colour dropped_colour = draw::rgb(0xE65100);
  for (size_t i = 0; i < x.segments.size(); ++i) {
    const auto& s = x.segments[i];
    if (s.code == '-') continue;
    const draw::Colour& c = dropped[i] ? dropped_colour : kept_colour;
    draw::set_colour(cr, draw::Colour{c.r, c.g, c.b, 0.7});
    cairo_set_line_width(cr, 2.5);
    if (dropped[i]) {
      double dash[] = {4, 3};
      cairo_set_dash(cr, dash, 2, 0);
    }
    cairo_move_to(cr, s.x0, s.y0);
    cairo_line_to(cr, s.x1, s.y1);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
  }
  if (x.captured) {
    draw::set_colour(cr, kept_colour);
    cairo_set_line_width(cr, 1.5);
    cairo_arc(cr, x.start_x, x.start_y, 4, 0, 2 * M_PI);
    cairo_stroke(cr);
  }
  cairo_restore(cr);

  // Each code beside the middle of its run of segments, in picture pixels.
  draw::set_font(cr, 12, true);
  auto runs = runs_of(x);
  for (size_t r = 0; r < runs.size(); ++r) {
    const auto& s = x.segments[(runs[r].first + runs[r].last) / 2];
    bool gone = r < x.filter.size() && !x.filter[r].kept;
    double mx = (s.x0 + s.x1) / 2.0 * kScale, my = (s.y0 + s.y1) / 2.0 * kScale;
    // On the left of the segment's direction.
    double dx = s.x1 - s.x0, dy = s.y1 - s.y0, n = std::hypot(dx, dy);
    if (n > 0) {
      mx += dy / n * 18;
      my -= dx / n * 18;
    }
    std::string label = fmt::format("{}{}{}", runs[r].code, runs[r].length, gone ? " \u2717" : "");
    draw::text_centred(cr, mx, my, label, gone ? dropped_colour : kept_colour);
  }
  draw::set_font(cr, 12);
  draw::text_wrapped(cr, 8, kScreenH * kScale + 8, w - 16, caption_h - 8, caption,
                     draw::rgb(0x212121));
  canvas.finish();
}

int explain_command(const ExplainArgs& args, const RunOptions& base) {
  if (args.replay.paths.size() != 1)
    throw dev::InputError("explain", 0, "explain takes one stroke file");
  const std::string& path = args.replay.paths.front();
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec))
    throw dev::InputError(path, 0, "explain takes one stroke file, not a folder");
  if (!args.picture.empty()) {
    draw::Format format;
    if (!draw::format_of(args.picture, &format))
      throw dev::InputError(args.picture, 0, "a picture is a .png or .svg file");
  }
  ReplaySetup setup = setup_of(args.replay);
  std::vector<NamedStroke> strokes = load_stroke_set({path});
  if (args.stroke == 0 || args.stroke > strokes.size())
    throw dev::InputError(
        path, 0,
        fmt::format("--stroke {} is not a stroke of the file: it has {} ({} to {})", args.stroke,
                    strokes.size(), 1, strokes.size()));
  Explanation x = explain_stroke(strokes[args.stroke - 1], setup, base);
  x.index = args.stroke;
  x.of = strokes.size();
  std::cout << explanation_text(x);
  if (!x.error.empty()) return kExitDeviceDown;
  if (!args.picture.empty()) write_explanation_picture(x, args.picture);
  return kExitOk;
}

}  // namespace sim
