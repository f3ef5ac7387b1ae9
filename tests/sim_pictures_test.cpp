// The simulator's pictures: screenshots of dialogs and of the stand-in applications, the stroke
// picture and the timeline, read back as a person would look at them, pixel by pixel.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "Runner.h"
#include "StrokeLog.h"
#include "TimelineLog.h"
#include "draw/Screen.h"
#include "draw/Steps.h"

namespace {
namespace fs = std::filesystem;

// The pictures stay in the build folder for a person to look at.
const fs::path kOut = VEXORI_PICTURES_DIR;

const uint32_t kDark = 0x404040;  // no channel above: a bar, a check mark

struct Png {
  explicit Png(const fs::path& path)
      : s(cairo_image_surface_create_from_png(path.string().c_str())) {}
  ~Png() { cairo_surface_destroy(s); }
  bool ok() const { return cairo_surface_status(s) == CAIRO_STATUS_SUCCESS; }
  int width() const { return cairo_image_surface_get_width(s); }
  int height() const { return cairo_image_surface_get_height(s); }
  // The pixel under screen pixel (x, y), as 0xRRGGBB.
  uint32_t at(int x, int y) const {
    cairo_surface_flush(s);
    const unsigned char* row =
        cairo_image_surface_get_data(s) + cairo_image_surface_get_stride(s) * y * draw::kScale;
    return reinterpret_cast<const uint32_t*>(row)[x * draw::kScale] & 0xFFFFFF;
  }
  cairo_surface_t* s;
};

bool darker_than(uint32_t c, uint32_t limit) {
  return ((c >> 16) & 0xFF) <= (limit & 0xFF) && ((c >> 8) & 0xFF) <= (limit & 0xFF) &&
         (c & 0xFF) <= (limit & 0xFF);
}

bool near(uint32_t c, uint32_t want) {
  for (int shift : {0, 8, 16}) {
    if (std::abs(static_cast<int>((c >> shift) & 0xFF) - static_cast<int>((want >> shift) & 0xFF)) >
        24)
      return false;
  }
  return true;
}

// The settings program's dialogs as the device shows them, drawn by a run of the simulator: the
// settings dialog clear and ticked, the About box with its logo, a message box.
TEST(SimPictures, TheSettingsProgramsDialogsLookAsOnThePhone) {
  fs::create_directories(kOut);
  const std::string start = "wait 100\nstart Corvane.exe\n";
  struct Shot {
    const char* name;
    std::string scenario;
  } shots[] = {
      {"settings-clear", start + "screenshot settings-clear.png\nclose\n"},
      {"settings-ticked", start + "tick 1000\ntick 1001\nscreenshot settings-ticked.png\nclose\n"},
      {"about", start + "press About\nscreenshot about.png\npress Done\nclose\n"},
      {"message-box", "fail RegCreateKeyExW 1 HKLM\\Software\\Quob\\Gesture\n" + start +
                          "screenshot message-box.png\nanswer\nclose\n"},
  };
  for (const auto& shot : shots) {
    sim::Scenario s =
        sim::parse_scenario(shot.scenario, std::string(shot.name) + ".scn", kOut.string());
    sim::RunOptions options;
    options.keep_log = false;
    ASSERT_TRUE(sim::run_scenario(s, options).failures.empty()) << shot.name;
  }
  Png clear(kOut / "settings-clear.png"), ticked(kOut / "settings-ticked.png"),
      about(kOut / "about.png"), box(kOut / "message-box.png");
  ASSERT_TRUE(clear.ok() && ticked.ok() && about.ok() && box.ok());
  EXPECT_EQ(ticked.width(), 240 * draw::kScale);
  EXPECT_EQ(ticked.height(), 320 * draw::kScale);
  struct Pixel {
    const Png& png;
    int x, y;
    uint32_t want;  // kDark: at most that dark in each channel
    const char* what;
  } pixels[] = {
      {ticked, 120, 5, kDark, "task bar"},
      {ticked, 209, 13, 0xFFFFFF, "the Done button's frame"},
      {ticked, 15, 74, kDark, "the first box's check mark"},
      {ticked, 15, 163, kDark, "the second box's check mark"},
      {clear, 15, 74, 0xFFFFFF, "the first box's inside"},
      {clear, 180, 43, 0x000000, "the heading's line"},
      {clear, 180, 250, 0xFFFFFF, "the dialog's client"},
      {clear, 60, 316, kDark, "menu bar"},
      {about, 150, 170, 0x2F5FD8, "the logo"},
      {box, 8, 150, kDark, "the message box's frame"},
      {box, 180, 150, 0xFFFFFF, "the message box's client"},
      {box, 97, 188, kDark, "the OK button's frame"},
  };
  for (const auto& p : pixels) {
    uint32_t got = p.png.at(p.x, p.y);
    EXPECT_TRUE(p.want == kDark ? darker_than(got, kDark) : near(got, p.want))
        << p.what << ": " << std::hex << got;
  }
}

std::vector<std::pair<char, int>> Codes(std::initializer_list<std::pair<char, int>> c) {
  return c;
}

// The hand-over's debug line gives the codes with their lengths, and they are laid along the
// stroke by their lengths.
TEST(SimPictures, CodesOfAHandOverAreReadAndLaidAlongTheStroke) {
  struct {
    const char* text;
    std::vector<std::pair<char, int>> codes;
  } lines[] = {
      {"Gesture handed over: 2 code(s): Z34 Q40", Codes({{'Z', 34}, {'Q', 40}})},
      {"Gesture handed over: 1 code(s)", {}},
      {"Gesture handed over: 1 code(s): Z", {}},
      {"Gesture tick: behaviour 100, momentum 3", {}},
  };
  for (const auto& l : lines) EXPECT_EQ(sim::handed_over_codes(l.text), l.codes) << l.text;

  // Only a scroll's ticks carry a momentum; a rotation's tick logs its first code's length.
  sim::TimelineLog timeline;
  uint64_t t = 0;
  for (const char* tick :
       {"Gesture tick: behaviour 108, momentum 112", "Gesture tick: behaviour 100, momentum 40",
        "Gesture tick: behaviour 101, momentum 39"}) {
    dev::LogEntry e;
    e.time = t += 40;
    e.kind = "debug";
    e.fields["text"] = tick;
    timeline.add(e);
  }
  auto momentum = timeline.data().momentum.points;
  ASSERT_EQ(momentum.size(), 2u);
  EXPECT_EQ(momentum[0].value, 40);

  std::vector<draw::StrokePoint> path;
  for (int i = 0; i <= 10; ++i) path.push_back({0, 10.0 * i});
  auto segments = sim::place_codes(path, Codes({{'D', 30}, {'R', 10}}));
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].first, 0u);
  EXPECT_EQ(segments[0].last, 7u);
  EXPECT_EQ(segments[1].first, 7u);
  EXPECT_EQ(segments[1].last, 10u);
}

// Strokes made on a turned screen are drawn where the finger touched the glass, on the screen the
// picture shows: a run that turns the screen and back keeps every sample inside the upright one,
// and the turned stroke's codes still follow its own samples.
TEST(SimPictures, StrokesOfATurnedScreenLandOnTheScreenDrawn) {
  sim::Scenario s = sim::parse_scenario(
      "preset HKLM\\Software\\Quob\\Gesture Activate dword 1\n"
      "preset HKLM\\Software\\Quob\\Gesture Rotation dword 1\n"
      "window list list 0 26 240 268 lines 200 page 12\nforeground list\nwait 100\n"
      "stroke 60 60 60 200 200 212 300\nwait 600\n"
      "stroke 260 60 260 200 120 212 300\nwait 600\n",
      "turn.scn", "");
  sim::RunResult r = sim::run_scenario(s, {});
  sim::StrokeLog log(240, 320);
  for (const auto& e : r.log) log.add(e);
  for (int angle : {0, 90}) {
    SCOPED_TRACE(angle);
    double w = angle == 0 ? 240 : 320, h = angle == 0 ? 320 : 240;
    auto strokes = log.strokes(angle);
    ASSERT_EQ(strokes.size(), 2u);
    for (const auto& v : strokes) {
      for (const auto& p : v.points) {
        EXPECT_TRUE(p.x >= 0 && p.x < w && p.y >= 0 && p.y < h) << p.x << "," << p.y;
      }
    }
  }
  // The second stroke, made at 90 degrees, starts at (260, 60) of the turned screen: the panel's
  // (60, 60), which is where the upright picture draws it.
  auto upright = log.strokes(0);
  ASSERT_FALSE(upright[1].points.empty());
  EXPECT_NEAR(upright[1].points[0].x, 60, 1);
  EXPECT_NEAR(upright[1].points[0].y, 60, 1);
  EXPECT_NE(upright[1].label.find("turned to 90"), std::string::npos) << upright[1].label;
  ASSERT_EQ(upright[1].segments.size(), 2u);
  EXPECT_EQ(upright[1].segments[0].code, 'D');
  EXPECT_GT(upright[1].segments[0].last, upright[1].points.size() / 3);
}

// Scenarios with their pictures at moments and at the end: the files are what they claim, of
// the screen's size turned as the screen is, and show what the run did.
TEST(SimPictures, RunsDrawTheScreenTheStrokesAndTheTimeline) {
  fs::create_directories(kOut);
  const std::string list =
      "reg HKLM\\DebugZones QUOBUpdater dword 0xC004\n"
      "reg HKLM\\Software\\Quob\\Gesture Activate dword 1\n"
      "reg HKLM\\Software\\Quob\\Gesture Sound dword 1\n"
      "window list list 0 26 240 268 lines 400 page 12\n"
      "foreground list\nwait 100\n";
  struct Case {
    const char* name;
    std::string scenario;
    int width, height;  // of the screenshot, in screen pixels
    int x, y;           // a screen pixel of the stroke picture (or the screenshot)
    uint32_t want;      // its colour
  } cases[] = {
      {"list", list + "flick 120 200 120 140 150\nscreenshot list-moment.png\nwait 3000\n", 240,
       320, 120, 180, 0xD81B60},
      {"input-panel",
       "window sip sip 0 214 240 80\nforeground sip\nwait 100\ntap 120 60\nwait 200\n", 240, 320,
       120, 60, 0x1F9D55},
      {"turned",
       "preset HKLM\\Software\\Quob\\Gesture Activate dword 1\n"
       "preset HKLM\\Software\\Quob\\Gesture Rotation dword 1\n"
       "window list list 0 26 240 268 lines 200 page 12\nforeground list\nwait 100\n"
       "stroke 60 60 60 200 200 212 300\nwait 600\ntimeline turned-moment.svg\n",
       320, 240, 260, 60, 0xD81B60},  // the upright (60, 60) on the screen turned to 90
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string name = c.name;
    sim::Scenario s = sim::parse_scenario(c.scenario, name + ".scn", kOut.string());
    sim::RunOptions options;
    options.keep_log = false;
    options.pictures = {(kOut / (name + "-screen.png")).string(),
                        (kOut / (name + "-timeline.png")).string(),
                        (kOut / (name + "-strokes.png")).string()};
    sim::run_scenario(s, options);
    Png screen(kOut / (name + "-screen.png")), strokes(kOut / (name + "-strokes.png")),
        timeline(kOut / (name + "-timeline.png"));
    ASSERT_TRUE(screen.ok() && strokes.ok() && timeline.ok());
    EXPECT_EQ(screen.width(), c.width * draw::kScale);
    EXPECT_EQ(screen.height(), c.height * draw::kScale);
    EXPECT_EQ(strokes.width(), c.width * draw::kScale);
    EXPECT_GT(strokes.height(), c.height * draw::kScale);  // the legend below
    EXPECT_EQ(timeline.width(), draw::kTimelineWidth);
    EXPECT_TRUE(darker_than(screen.at(c.width / 2, 5), kDark)) << "task bar";
    EXPECT_TRUE(near(strokes.at(c.x, c.y), c.want)) << std::hex << strokes.at(c.x, c.y);
  }
  // A list's lines are white between their text, and the moment's screenshot is the list's.
  Png moment(kOut / "list-moment.png");
  ASSERT_TRUE(moment.ok());
  EXPECT_TRUE(near(moment.at(150, 40), 0xFFFFFF));
  bool ink = false;
  for (int x = 4; x < 60; ++x) ink = ink || darker_than(moment.at(x, 37), 0x808080);
  EXPECT_TRUE(ink) << "the first line's text";
  std::ifstream svg(kOut / "turned-moment.svg");
  std::string text((std::istreambuf_iterator<char>(svg)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.rfind("<?xml", 0), 0u);
  EXPECT_NE(text.find("width=\"1000px\""), std::string::npos);
}

// A picture per step (the tour's) draws a panel for each note's step, with that step's strokes
// only, over the screen the step left.
TEST(SimPictures, APicturePerStepDrawsEachStepInItsOwnPanel) {
  fs::create_directories(kOut);
  sim::Scenario s = sim::parse_scenario(
      "window list list 0 26 240 268 lines 200 page 12\nforeground list\nwait 100\n"
      "note first\ntap 60 100\nwait 300\nnote second\ntap 180 250\nwait 300\n",
      "steps.scn", "");
  sim::RunOptions options;
  options.keep_log = false;
  options.pictures.picture = (kOut / "steps.png").string();
  options.pictures.picture_per_step = true;
  sim::run_scenario(s, options);
  Png png(kOut / "steps.png");
  ASSERT_TRUE(png.ok());
  std::vector<draw::StepPanel> panels(2);
  panels[0].title = "1. first";
  panels[1].title = "2. second";
  for (auto& p : panels) {
    p.view.width = 240;
    p.view.height = 320;
  }
  draw::StepLayout layout = draw::step_layout(panels);
  EXPECT_EQ(png.width(), layout.width);
  auto raw = [&](double x, double y) {
    cairo_surface_flush(png.s);
    const unsigned char* row = cairo_image_surface_get_data(png.s) +
                               cairo_image_surface_get_stride(png.s) * static_cast<int>(y);
    return reinterpret_cast<const uint32_t*>(row)[static_cast<int>(x)] & 0xFFFFFF;
  };
  const auto &a = layout.screens[0], &b = layout.screens[1];
  EXPECT_TRUE(near(raw(a.x + 60, a.y + 100), 0x1F9D55)) << "the first step's tap";
  EXPECT_TRUE(near(raw(b.x + 180, b.y + 250), 0x1F9D55)) << "the second's";
  EXPECT_FALSE(near(raw(a.x + 180, a.y + 250), 0x1F9D55)) << "not the second's in the first";
  EXPECT_FALSE(near(raw(b.x + 60, b.y + 100), 0x1F9D55)) << "nor the first's in the second";
}

// A picture file of another kind, or one that cannot be written, is refused before anything
// runs, as every output is.
TEST(SimPictures, PictureFilesAreCheckedBeforeTheRun) {
  EXPECT_THROW(sim::parse_scenario("screenshot shot.bmp\n", "a.scn", ""), dev::InputError);
  sim::Scenario s = sim::parse_scenario("wait 10\n", "a.scn", "");
  for (const char* bad : {"/no/such/folder/x.png", "x.jpg"}) {
    sim::RunOptions options;
    options.pictures.picture = bad;
    EXPECT_THROW(sim::run_scenario(s, options), dev::InputError) << bad;
  }
}

}  // namespace
