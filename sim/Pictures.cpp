#include "Pictures.h"

#include <fmt/format.h>

#include <algorithm>

#include "draw/Screen.h"
#include "draw/Steps.h"
#include "draw/Strokes.h"
#include "draw/Timeline.h"

namespace sim {

struct Pictures::Output {
  std::string verb;
  int line = 0;  // the command's; 0 for one of the end
  draw::Format format = draw::Format::kPng;
  OutputFile file;
  bool drawn = false;  // one whose moment never came is not put in place
  Output(std::string v, int l, draw::Format f, const std::string& destination)
      : verb(std::move(v)), line(l), format(f), file(destination) {}
};

bool is_picture_verb(const std::string& verb) {
  return verb == "screenshot" || verb == "timeline" || verb == "picture";
}

void check_picture_command(const Command& c, const std::string& file) {
  draw::Format format;
  if (c.args.size() != 1 || !draw::format_of(c.args[0], &format))
    throw dev::InputError(file, c.line, c.verb + " takes FILE, a .png or .svg file");
}

Pictures::Pictures(const Scenario& s, const PictureFiles& at_end, bool commands)
    : strokes_(s.screen.width, s.screen.height) {
  auto make = [&](const std::string& verb, int line, const std::string& destination) {
    draw::Format format;
    if (!draw::format_of(destination, &format))
      throw dev::InputError(destination, 0, "a picture is a .png or .svg file");
    outputs_.push_back(std::make_unique<Output>(verb, line, format, destination));
    reads_log_ = reads_log_ || verb != "screenshot";
  };
  if (!at_end.screenshot.empty()) make("screenshot", 0, at_end.screenshot);
  if (!at_end.timeline.empty()) make("timeline", 0, at_end.timeline);
  if (!at_end.picture.empty()) make("picture", 0, at_end.picture);
  per_step_ = !at_end.picture.empty() && at_end.picture_per_step;
  if (!commands) return;
  for (const Command& c : s.commands) {
    if (is_picture_verb(c.verb)) make(c.verb, c.line, resolve_path(s.dir, c.args[0]));
  }
}

Pictures::~Pictures() = default;

void Pictures::add(const dev::LogEntry& e) {
  strokes_.add(e);
  timeline_.add(e);
}

void Pictures::draw(const std::string& verb, Output& out, dev::Device& device) {
  try {
    draw_to(verb, out, device);
  } catch (const dev::InputError& e) {
    // The message names the file as given, not the one of its own the run writes first.
    throw dev::InputError(out.file.destination(), 0, e.reason);
  }
}

void Pictures::draw_to(const std::string& verb, Output& out, dev::Device& device) {
  const std::string& path = out.file.path();
  out.drawn = true;
  if (verb == "screenshot") {
    draw::write_screenshot(device.screen(), path, out.format);
  } else if (verb == "picture" && per_step_ && out.line == 0 && !strokes_.steps().empty()) {
    draw_steps(path, out.format, device);
  } else if (verb == "picture") {
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
    if (out->line == c.line) draw(out->verb, *out, device);
  }
}

void Pictures::finish(dev::Device& device) {
  for (auto& out : outputs_) {
    if (out->line == 0) draw(out->verb, *out, device);
  }
  for (auto& out : outputs_) {
    if (out->drawn) out->file.commit();
  }
}

}  // namespace sim
