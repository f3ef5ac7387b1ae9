// The built-in tour: the device boots with the gesture system installed, and a person's strokes
// go through the touch driver proxy to the window system. One device throughout, so that each
// step starts where the one before left the screen; each step puts up the windows it needs.
#include "Tour.h"

#include <fmt/format.h>

#include <algorithm>

#include "OutcomeText.h"
#include "Terminal.h"

namespace sim {
namespace {

const char kGesture[] = "HKLM\\Software\\Quob\\Gesture";

std::string on(const char* name, int value) {
  return fmt::format("reg {} {} dword {}\n", kGesture, name, value);
}

std::vector<TourStep> make_steps() {
  const std::string list = "window list list 0 26 240 268 lines 200 page 12\nforeground list\n";
  std::vector<TourStep> s = {
      {"Gesture function off: a flick reaches the list unchanged; then it is switched on",
       list + "wait 100\nflick 120 200 120 140 150\nwait 300\n" + on("Activate", 1) + "wait 100\n",
       {{"passed through: gesture function off", ""}}},
      {"The power manager reports idle: the pen-down goes straight through",
       "power idle 0x00100000\ntap 120 150\npower on 0x00010000\nwait 300\n",
       {{"passed through: the device is idle", ""}}},
      {"A quick tap on the list reaches it as ordinary input, all of it at the pen-up",
       "tap 120 150\nwait 300\n",
       {{"passed through: tap at the pen-up", "10 of 10 samples"}}},
      {"Press and hold: the finger stays put past 250 ms and the list gets the stroke",
       "drag 120 150 126 150 200 rest 300\nwait 300\n",
       {{"passed through: press-and-hold at", ""}}},
      {"A finger that lands, settles, rests and drags pans the list: a line for every 10 pixels",
       "drag 120 250 120 100 300 rest 600 settle 24\nwait 300\n",
       {{"panned", "vert 0 to 15"}}},
      {"A flick up: the broker carries it on with momentum, slowing, and a fading sound ends it",
       on("Sound", 1) + "flick 120 200 120 140 150\nwait 3500\n",
       {{"handed over: 100 scroll forward with momentum", "VEXORISNDATTENUATE x1"}}},
      {"A quick tap in the middle of a momentum stops it at once and does not reach the list",
       "flick 120 200 120 140 150\nwait 500\ntap 120 200\nwait 300\n" + on("Sound", 0),
       {{"handed over: 100", "cut short"}, {"handed over: no codes (stopped a momentum)", ""}}},
      {"The end of the content: on a list of 30 lines the momentum stops at its last screenful",
       "window short list 0 26 240 268 lines 30 page 12\nforeground short\n"
       "flick 120 200 120 140 150\nwait 3000\n",
       {{"handed over: 100 scroll forward with momentum", "0 to 18"}}},
      {"A flick down goes back to the top",
       "flick 120 140 120 200 150\nwait 3000\n",
       {{"handed over: 101 scroll back with momentum", "18 to 0"}}},
      {"A stroke that starts on the list's scroll bar reaches the list from its pen-down",
       "flick 236 200 236 120 150\nwait 300\n",
       {{"passed through: vertical scroll-bar strip", "17 of 17"}}},
      {"So does one that starts in the bottom band of the screen",
       "window tall list 0 0 240 320 lines 200 page 14\nforeground tall\n"
       "flick 120 312 120 232 150\nwait 300\n",
       {{"passed through: bottom band", ""}}},
      {"The input panel is up: strokes reach the window system unchanged",
       "window sip sip 0 214 240 80\nflick 120 200 120 140 150\nwait 300\nhide sip\nwait 100\n",
       {{"passed through: input panel shown", ""}}},
      {"Opera in front: its strokes reach it unchanged",
       "window opera opera 0 26 240 268\nforeground opera\nflick 120 200 120 140 150\nwait 300\n",
       {{"passed through: Opera in front", ""}}},
      {"A window without scroll bars takes no gestures",
       "window label plain 20 60 200 200\nforeground label\nflick 120 200 120 140 150\nwait 300\n",
       {{"passed through: window takes no gestures", ""}}},
      {"A gesture-aware application receives a stroke to the left as a message instead",
       "window viewer aware 0 26 240 268\nforeground viewer\nflick 200 150 60 165 150\nwait 300\n",
       {{"handed over: 102 page navigation leftward", "notified viewer"}}},
      {"In the browser the same pan moves its HTML view by position",
       "window web browser 0 0 240 320 pages 5 at 3\n"
       "window page view 0 26 240 268 parent web lines 2000\nforeground web\nwait 100\n"
       "drag 120 250 120 100 300 rest 600 settle 24\nwait 300\n",
       {{"panned", "page vert 0 to 150"}}},
      {"On the third of five pages a stroke to the right goes a page back, one to the left forward",
       "wait 300\nflick 60 150 200 165 150\nwait 600\nflick 200 150 60 165 150\nwait 600\n",
       {{"handed over: 103 page navigation rightward", "page 2 of 5"},
        {"handed over: 102 page navigation leftward", "page 3 of 5"}}},
      {"Up and to the right zooms in a step, down and to the left zooms out",
       "flick 80 180 180 80 150\nwait 600\nflick 180 80 80 180 150\nwait 600\n",
       {{"handed over: 106 zoom level up", "zoom level"},
        {"handed over: 105 zoom level down", "zoom level"}}},
      {"With Rotation on, down then right turns the screen, a flick on it scrolls, down then left "
       "turns it back",
       on("Rotation", 1) +
           "window turned list 0 26 240 268 lines 200 page 12\nforeground turned\n"
           "stroke 60 60 60 200 200 212 300\nwait 600\nflick 160 180 160 120 150\nwait 3000\n"
           "stroke 260 60 260 200 120 212 300\nwait 600\n" +
           on("Rotation", 0),
       {{"handed over: 108 turn the screen", "screen turned from 0 to 90 degrees"},
        {"handed over: 100", ""},
        {"handed over: 110 turn the screen", "screen turned from 90 to 0 degrees"}}},
      {"The settings program switches the function off and on again: each takes effect at the next "
       "flick",
       "foreground list\nwait 100\nstart Corvane.exe\ntick \"Enable Vexori Function\"\n"
       "press Done\nwait 300\nflick 120 200 120 140 150\nwait 300\nstart Corvane.exe\n"
       "tick \"Enable Vexori Function\"\npress Done\nwait 300\nflick 120 200 120 140 150\n"
       "wait 3000\n",
       {{"passed through: gesture function off", ""},
        {"handed over: 100 scroll forward with momentum", ""}}},
      {"Switched off again, the list gets every stroke as it is",
       on("Activate", 0) + "foreground list\nwait 100\nflick 120 200 120 140 150\nwait 300\n",
       {{"passed through: gesture function off", ""}}},
  };
  return s;
}

// The scenario's text, and the first and last line of each step in it.
struct TourText {
  std::string text;
  std::vector<std::pair<int, int>> lines;
};

TourText tour_text() {
  TourText t;
  t.text = "# The built-in tour.\n";
  int line = 1;
  for (const TourStep& step : tour_steps()) {
    std::string body = fmt::format("note \"{}\"\n", step.caption) + step.commands;
    int first = line + 1;
    for (char c : body) line += c == '\n';
    t.lines.emplace_back(first, line);
    t.text += body;
  }
  return t;
}

}  // namespace

const std::vector<TourStep>& tour_steps() {
  static const std::vector<TourStep> steps = make_steps();
  return steps;
}

Scenario tour_scenario() {
  // The same wherever the tree is built or installed: the tour names no file.
  return parse_scenario(tour_text().text, "<tour>", "");
}

std::string tour_scenario_text() {
  return tour_text().text;
}

std::vector<TourRow> tour_rows(const std::vector<StrokeOutcome>& outcomes) {
  std::vector<TourRow> rows;
  TourText t = tour_text();
  const auto& steps = tour_steps();
  for (size_t i = 0; i < steps.size(); ++i) {
    std::vector<const StrokeOutcome*> mine;
    for (const auto& o : outcomes)
      if (o.line >= t.lines[i].first && o.line <= t.lines[i].second) mine.push_back(&o);
    const auto& expect = steps[i].strokes;
    for (size_t k = 0; k < std::max(mine.size(), expect.size()); ++k) {
      TourRow row;
      row.step = i + 1;
      if (k < mine.size()) {
        // The stroke's path is enough here; its timing is on its outcome line.
        row.drawn = mine[k]->drawn.substr(0, mine[k]->drawn.find(" in "));
        row.did = mine[k]->did();
      } else {
        row.did = "(no outcome)";
      }
      if (k < mine.size() && k < expect.size()) {
        row.as_expected = row.did.rfind(expect[k].did, 0) == 0 &&
                          outcome_text(*mine[k]).find(expect[k].shows) != std::string::npos;
      }
      rows.push_back(row);
    }
  }
  return rows;
}

std::string tour_table(const std::vector<TourRow>& rows, bool colour) {
  size_t drawn = 5, did = 19, missed = 0;
  for (const auto& r : rows) {
    drawn = std::max(drawn, r.drawn.size());
    did = std::max(did, r.did.size());
  }
  std::string out = fmt::format("{:>4}  {:<{}}  {:<{}}  {}\n", "step", "drawn", drawn,
                                "what the system did", did, "expected");
  for (const auto& r : rows) {
    // Padded before it is coloured: the colour takes no columns.
    std::string did_cell = fmt::format("{:<{}}", r.did, did);
    out += fmt::format("{:>4}  {:<{}}  {}  {}\n", r.step, r.drawn, drawn,
                       colour ? colour_decision(did_cell) : did_cell, r.as_expected ? "yes" : "NO");
    missed += !r.as_expected;
  }
  out += missed == 0
             ? fmt::format("All {} strokes of the tour did as expected.\n", rows.size())
             : fmt::format("{} of {} strokes did not do as expected.\n", missed, rows.size());
  return out;
}

dev::Fields tour_json(const std::vector<TourRow>& rows) {
  dev::Fields list = dev::Fields::array();
  for (const auto& r : rows)
    list.push_back(
        {{"step", r.step}, {"drawn", r.drawn}, {"did", r.did}, {"as_expected", r.as_expected}});
  return {{"kind", "tour"}, {"rows", list}};
}

}  // namespace sim
