#include "Pictures.h"

#include <fmt/format.h>

#include <algorithm>

#include "draw/Screen.h"
#include "draw/Steps.h"
#include "draw/Strokes.h"
#include "draw/Timeline.h"

namespace sim {

struct Pictures::Output {
  What what;
  int line = 0;  // the command's; 0 for one of the end
  draw::Format format = draw::Format::kPng;
  OutputFile file;
  bool drawn = false;  // one whose moment never came is not put in place
  Output(What w, int l, draw::Format f, const std::string& destination)
      : what(w), line(l), format(f), file(destination) {}
};

bool is_picture_command(const Command& c) {
  return std::holds_alternative<cmd::Screenshot>(c.kind) ||
         std::holds_alternative<cmd::Timeline>(c.kind) ||
         std::holds_alternative<cmd::Picture>(c.kind);
}

Pictures::Pictures(const Scenario& s, const PictureFiles& at_end, bool commands)
    : strokes_(s.screen.width, s.screen.height) {
  auto make = [&](What what, int line, const std::string& destination) {
    draw::Format format;
    if (!draw::format_of(destination, &format))
      throw dev::InputError(destination, 0, "a picture is a .png or .svg file");
    outputs_.push_back(std::make_unique<Output>(what, line, format, destination));
    reads_log_ = reads_log_ || what != What::kScreen;
  };
  if (!at_end.screenshot.empty()) make(What::kScreen, 0, at_end.screenshot);
  if (!at_end.timeline.empty()) make(What::kTimeline, 0, at_end.timeline);
  if (!at_end.picture.empty()) make(What::kStrokes, 0, at_end.picture);
  per_step_ = !at_end.picture.empty() && at_end.picture_per_step;
  if (!commands) return;
  for (const Command& c : s.commands) {
    auto at = [&](What what, const std::string& file) {
      make(what, c.line, resolve_path(s.dir, file));
    };
    std::visit(cmd::overloaded{[&](const cmd::Screenshot& k) { at(What::kScreen, k.file); },
                               [&](const cmd::Timeline& k) { at(What::kTimeline, k.file); },
                               [&](const cmd::Picture& k) { at(What::kStrokes, k.file); },
                               [](const auto&) {}},
               c.kind);
  }
}

Pictures::~Pictures() = default;

void Pictures::add(const dev::LogEntry& e) {
  strokes_.add(e);
  timeline_.add(e);
}

void Pictures::draw(Output& out, dev::Device& device) {
  try {
    draw_to(out, device);
  } catch (const dev::InputError& e) {
    // The message names the file as given, not the one of its own the run writes first.
    throw dev::InputError(out.file.destination(), 0, e.reason);
  }
}

void Pictures::draw_to(Output& out, dev::Device& device) {
  const std::string& path = out.file.path();
  out.drawn = true;
  if (out.what == What::kScreen) {
    draw::write_screenshot(device.screen(), path, out.format);
  } else if (out.what == What::kStrokes && per_step_ && out.line == 0 &&
             !strokes_.steps().empty()) {
    draw_steps(path, out.format, device);
  } else if (out.what == What::kStrokes) {
    dev::ScreenView view = device.screen();
    draw::write_stroke_picture(view, strokes_.strokes(view.angle), strokes_.earlier(), path,
                               out.format);
  } else {
    draw::TimelineData data = timeline_.data();
    data.strokes = strokes_.spans();
    for (auto d : {draw::Decision::kPassed, draw::Decision::kPanned, draw::Decision::kHandedOver,
                   draw::Decision::kKept})
      data.stroke_key.emplace_back(draw::decision_name(d), draw::decision_colour(d));
    data.end = device.now();
    draw::write_timeline(data, path, out.format);
  }
}

void Pictures::note(dev::Device& device) {
  if (per_step_) step_screens_.push_back(device.screen());
}

void Pictures::draw_steps(const std::string& path, draw::Format format, dev::Device& device) {
  const auto& steps = strokes_.steps();
  std::vector<draw::StepPanel> panels;
  size_t earlier = strokes_.earlier();
  size_t kept = earlier + strokes_.strokes(0).size();
  for (size_t k = 0; k < steps.size(); ++k) {
    draw::StepPanel p;
    p.title = fmt::format("{}. {}", k + 1, steps[k].caption);
    // The screen at the step's end: at the next note, or now for the last.
    p.view = k + 1 < step_screens_.size() ? step_screens_[k + 1] : device.screen();
    size_t from = steps[k].first, to = k + 1 < steps.size() ? steps[k + 1].first : kept;
    std::vector<draw::StrokeView> all = strokes_.strokes(p.view.angle);
    // Strokes let go before the picture (more than StrokeLog::kKept) are not drawn.
    for (size_t n = std::max(from, earlier); n < to && n - earlier < all.size(); ++n)
      p.strokes.push_back(all[n - earlier]);
    p.first = std::max(from, earlier) + 1;
    panels.push_back(std::move(p));
  }
  draw::write_step_picture(panels, path, format);
}

void Pictures::take(const Command& c, dev::Device& device) {
  for (auto& out : outputs_) {
    if (out->line == c.line) draw(*out, device);
  }
}

void Pictures::finish(dev::Device& device) {
  for (auto& out : outputs_) {
    if (out->line == 0) draw(*out, device);
  }
  for (auto& out : outputs_) {
    if (out->drawn) out->file.commit();
  }
}

}  // namespace sim
