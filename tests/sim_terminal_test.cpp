// Text at a terminal: lines wrapped to its width without losing a word, colour that takes no
// columns, and vexori-sim itself at a terminal and through a pipe.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "OutcomeText.h"
#include "Runner.h"
#include "Terminal.h"
#include "Tour.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// Every line the demo prints, wrapped to 100 columns: none wider, every word kept in order, and
// each continuation indented under the text of its line.
TEST(Terminal, TheDemosLinesFitOneHundredColumns) {
  auto r = sim::run_scenario(sim::tour_scenario());
  std::vector<std::string> printed;
  for (const auto& o : r.outcomes) printed.push_back(sim::outcome_text(o, true));
  for (const auto& step : sim::tour_steps())
    printed.push_back("[   22040 ms] note     " + step.caption);
  for (const auto& line : lines_of(r.summary())) printed.push_back(line);
  for (const auto& line : lines_of(sim::tour_table(sim::tour_rows(r.outcomes), true)))
    printed.push_back(line);
  size_t wrapped = 0;
  for (const auto& line : printed) {
    SCOPED_TRACE(line);
    std::string fitted = sim::wrap_line(line, 100);
    auto parts = lines_of(fitted);
    wrapped += parts.size() > 1;
    for (size_t i = 0; i < parts.size(); ++i) {
      EXPECT_LE(sim::columns(parts[i]), 100u) << parts[i];
      if (i > 0 && line[0] == '[') {
        EXPECT_EQ(parts[i].find_first_not_of(' '), 23u) << parts[i];
      }
    }
    EXPECT_EQ(words_of(fitted), words_of(line));
  }
  EXPECT_GT(wrapped, 10u) << "the outcome lines are longer than 100 columns";
}

TEST(Terminal, WrapsAtWordsAndCountsCharactersNotBytesOrColour) {
  EXPECT_EQ(sim::wrap_line("short line", 80), "short line");
  EXPECT_EQ(sim::wrap_line("aaaa bbbb cccc dddd eeee ffff", 20),
            "aaaa bbbb cccc dddd\n  eeee ffff");
  // A word wider than the room stays whole.
  std::string long_word(30, 'x');
  EXPECT_EQ(sim::wrap_line("a " + long_word + " b", 20), "a\n  " + long_word + "\n  b");
  // A table row keeps its own indent and continues past it.
  EXPECT_EQ(sim::wrap_line("   1  flick 120,200 to 120,140  passed through", 28),
            "   1  flick 120,200 to\n     120,140  passed through");
  EXPECT_EQ(sim::columns("\xE2\x80\x94 x"), 3u);  // an em dash is one column
  std::string coloured = sim::colour_decision("handed over: 100 scroll forward");
  EXPECT_NE(coloured, "handed over: 100 scroll forward");
  EXPECT_EQ(sim::columns(coloured), std::string("handed over: 100 scroll forward").size());
  EXPECT_EQ(sim::colour_decision("withheld"), "withheld");
}

// The program itself: at a terminal 100 columns wide no line is wider, and the decisions are in
// colour unless NO_COLOR or --no-color says otherwise; through a pipe one line per outcome, as
// before, and no colour.
TEST(Terminal, DemoAtATerminalAndThroughAPipe) {
  std::string sim = VEXORI_WINDOWS_DIR "/../vexori-sim";
  if (!std::filesystem::exists(sim)) GTEST_SKIP() << "vexori-sim is not built";
  if (std::system("script -qc true /dev/null >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no script(1) to give the program a terminal";
  auto output = [](const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    char buf[4096];
    for (size_t n; p != nullptr && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    if (p != nullptr) pclose(p);
    return out;
  };
  auto at_terminal = [&](const std::string& env, const std::string& args) {
    // Standard error left out: a sanitizer's own warnings are no output of the program's.
    return output("script -qc '" + env + " stty cols 100; " + sim + " demo " + args +
                  " 2>/dev/null' /dev/null");
  };
  std::string shown = at_terminal("", "");
  size_t widest = 0;
  for (auto line : lines_of(shown)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    widest = std::max(widest, sim::columns(line));
  }
  EXPECT_LE(widest, 100u);
  EXPECT_GT(widest, 80u);
  EXPECT_NE(shown.find("\033["), std::string::npos);
  EXPECT_EQ(at_terminal("export NO_COLOR=1;", "").find("\033["), std::string::npos);
  EXPECT_EQ(at_terminal("", "--no-color").find("\033["), std::string::npos);

  std::string piped = output(sim + " demo");
  EXPECT_EQ(piped.find("\033["), std::string::npos);
  size_t outcomes = 0, longer = 0;
  for (const auto& line : lines_of(piped)) {
    outcomes += line.find("] outcome  line ") != std::string::npos;
    longer += sim::columns(line) > 100;
  }
  EXPECT_EQ(outcomes, 27u);
  EXPECT_GT(longer, 10u) << "a pipe gets every outcome on one line";
}

}  // namespace
