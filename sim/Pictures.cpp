#include "Pictures.h"

#include "draw/Screen.h"
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
