// The program as a script and a person use it: standard input and output as files, machine-
// readable outputs that hold one value per cell.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {
namespace fs = std::filesystem;

struct Ran {
  int code = -1;
  std::string out, err;
};

class SimCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(sim_)) GTEST_SKIP() << "vexori-sim is not built";
    dir_ = fs::temp_directory_path() / ("vexori-command-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    Write("ok.xml",
          "<Gesture Name=\"v\">\n<Point X=\"1\" Y=\"1\" T=\"0\"/>\n"
          "<Point X=\"40\" Y=\"60\" T=\"200\"/>\n<Point X=\"80\" Y=\"1\" T=\"400\"/></Gesture>\n");
    Write("s.scn", "wait 10\ntap 120 160\nwait 300\n");
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  }
  // Runs the program in the scratch folder with `args` (a shell's words, redirections too).
  Ran Run(const std::string& args) {
    std::string at = dir_.string() + "/";
    int status = std::system(("cd " + at + " && TMPDIR=" + at + " " + sim_ + " " + args + " >" +
                              at + "stdout.txt 2>" + at + "stderr.txt")
                                 .c_str());
    Ran r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = Read("stdout.txt");
    r.err = Read("stderr.txt");
    return r;
  }

  std::string sim_ = VEXORI_WINDOWS_DIR "/../vexori-sim";
  fs::path dir_;
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// "-" stands for standard input and output; an output there has standard output to itself, and
// what it writes is whole records a script can read line by line.
TEST_F(SimCommand, StandardInputAndOutput) {
  const struct {
    std::string args;
    int code;
    std::string first;      // the first line of standard output (a prefix), or of stderr on error
    std::string json_kind;  // every line is JSON, the last of this kind ("" for no JSON)
  } cases[] = {
      {"run - --log brief < s.scn", 0, "[", ""},
      {"run s.scn --jsonl -", 0, "{", "summary"},
      {"demo --jsonl - --json", 2, "vexori-sim: --jsonl: standard output takes", ""},
      {"replay - --quiet < ok.xml", 0, "Replaying 1 strokes", ""},
      {"replay - --jsonl - < ok.xml", 0, "{", "replay"},
      {"replay ok.xml --csv - --jsonl -", 2, "vexori-sim: -: standard output takes one", ""},
      {"replay - - < ok.xml", 2, "vexori-sim: -: standard input is given twice", ""},
      {"tune ok.xml --vary LenThres=5,200 --jsonl -", 0, "{", "tune"},
      {"tune ok.xml --vary LenThres=5,200 --csv -", 0, "LenThres,gesture,strokes,", ""},
      {"run - --jsonl s.scn < s.scn", 2, "vexori-sim: s.scn: is the input standard input", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    Ran r = Run(c.args);
    EXPECT_EQ(r.code, c.code) << r.err;
    const std::string& shown = c.code == 0 ? r.out : r.err;
    EXPECT_EQ(shown.substr(0, c.first.size()), c.first) << shown;
    if (c.code != 0) {
      EXPECT_EQ(r.out, "");
    }
    if (c.json_kind.empty()) continue;
    auto lines = lines_of(r.out);
    ASSERT_FALSE(lines.empty());
    for (const auto& line : lines) EXPECT_TRUE(nlohmann::json::accept(line)) << line;
    EXPECT_EQ(nlohmann::json::parse(lines.back())["kind"], c.json_kind);
  }
  // A scenario from standard input plays as the same file would.
  EXPECT_EQ(Run("run - --log brief < s.scn").out, Run("run s.scn --log brief").out);
}

// What the Wine hosts play: the panel's samples at their times after the setup, and the commands
// only the simulated device carries out named with their line. compare-wine names what is missing
// before it starts anything.
TEST_F(SimCommand, WinePlanAndWhatCompareWineNeeds) {
  Write("p.scn",
        "fail CreateThread 1\nreg HKLM\\Software\\Quob\\Gesture Activate dword 1\n"
        "window list list 0 26 240 268 lines 400\nwait 100\ntap 120 160\nwait 200\n"
        "start Corvane.exe\nscreenshot p.png\n");
  Ran plan = Run("run p.scn --log brief --wine-plan plan.txt");
  ASSERT_EQ(plan.code, 0) << plan.err;
  std::string text = Read("plan.txt");
  for (const char* line :
       {"# cannot play p.scn:1: fail CreateThread 1 error 8: only the simulated device fails",
        "# cannot play p.scn:8: screenshot p.png: pictures are the simulator's",
        "setup reg HKLM\\Software\\Quob\\Gesture Activate dword 1\n",
        "setup window list list 0 26 240 268 lines 400\n", "\n0 sample 3 480 640\n",
        " start Corvane.exe\n", " end\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " not in\n" << text;

  fs::create_directories(dir_ / "empty");
  const struct {
    std::string args;
    int code;
    std::string err;
  } cases[] = {
      {"compare-wine missing.scn", 2, "vexori-sim: missing.scn: no such scenario file"},
      {"compare-wine", 2, "no scenario given"},
      {"compare-wine p.scn --wine /nonexistent/wine64", 69,
       "compare-wine: no Wine loader /nonexistent/wine64"},
      {"compare-wine p.scn --wine /bin/true --win32 empty", 69,
       "needs the desktop build: no wsys.exe in empty (make build-win32 makes it)"},
  };
  for (const auto& c : cases) {
    Ran r = Run(c.args);
    EXPECT_EQ(r.code, c.code) << c.args;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.args << ": " << r.err;
  }
}

// The tuning's table for a spreadsheet: a row per value and class with as many cells as the
// header, each a single number or word; the JSON carries every count by name.
TEST_F(SimCommand, TuneTablesHoldOneValuePerCell) {
  Ran csv = Run("tune ok.xml --vary LenThres=5,200 --csv -");
  ASSERT_EQ(csv.code, 0) << csv.err;
  auto rows = lines_of(csv.out);
  ASSERT_EQ(rows.size(), 1u + 2 * 2) << csv.out;  // header, then the class and "all" per value
  auto cells = [](const std::string& row) {
    std::vector<std::string> out(1);
    for (char ch : row) {
      if (ch == ',') {
        out.emplace_back();
      } else {
        out.back().push_back(ch);
      }
    }
    return out;
  };
  auto header = cells(rows[0]);
  for (size_t i = 1; i < rows.size(); ++i) {
    auto row = cells(rows[i]);
    ASSERT_EQ(row.size(), header.size()) << rows[i];
    for (const auto& cell : row) {
      EXPECT_EQ(cell.find(' '), std::string::npos) << rows[i];
      EXPECT_EQ(cell.find(':'), std::string::npos) << rows[i];
    }
    EXPECT_EQ(row[0], i <= 2 ? "5" : "200");
    EXPECT_EQ(row[1], i % 2 == 1 ? "ok" : "all");
  }
  Ran json = Run("tune ok.xml --vary LenThres=5,200 --jsonl -");
  auto lines = lines_of(json.out);
  ASSERT_EQ(lines.size(), 4u);
  auto all = nlohmann::json::parse(lines[1]);
  EXPECT_EQ(all["settings"]["LenThres"], 5);
  EXPECT_EQ(all["gesture"], "all");
  EXPECT_EQ(all["strokes"], 1);
  size_t outcomes =
      all["passed"].get<size_t>() + all["panned"].get<size_t>() + all["handed_over"].get<size_t>();
  EXPECT_LE(outcomes, 1u);
  size_t behaviours = 0;
  for (const auto& [b, n] : all["behaviours"].items()) behaviours += n.get<size_t>();
  EXPECT_EQ(behaviours, all["handed_over"].get<size_t>());
}

// The stock value is marked in every output, and the window kind varies like a setting: on a
// plain window every stroke passes through.
TEST_F(SimCommand, TuneMarksTheStockValueAndVariesTheWindowKind) {
  Ran csv = Run("tune ok.xml --vary LenThres=5,10 --vary window=list,plain --csv -");
  ASSERT_EQ(csv.code, 0) << csv.err;
  auto rows = lines_of(csv.out);
  ASSERT_EQ(rows.size(), 1u + 4 * 2) << csv.out;
  EXPECT_EQ(rows[0].rfind("LenThres,window,gesture,", 0), 0u) << rows[0];
  EXPECT_EQ(rows[0].substr(rows[0].size() - 9), ",at_stock");
  for (size_t i = 1; i < rows.size(); ++i) {
    bool stock = rows[i].rfind("10,", 0) == 0;
    EXPECT_EQ(rows[i].back(), stock ? '1' : '0') << rows[i];
    EXPECT_NE(rows[i].find(i <= 2 || (i > 4 && i <= 6) ? ",list," : ",plain,"), std::string::npos)
        << rows[i];
    if (rows[i].find(",plain,all,1,") != std::string::npos) continue;  // passed: 1 of 1
    EXPECT_EQ(rows[i].find(",plain,all,"), std::string::npos) << rows[i];
  }
  Ran text = Run("tune ok.xml --vary LenThres=5,10 --vary window=list,plain");
  ASSERT_EQ(text.code, 0) << text.err;
  EXPECT_NE(text.out.find("on each window kind"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\nLenThres=10* window=plain "), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("*: the stock value"), std::string::npos) << text.out;
  Ran json = Run("tune ok.xml --vary window=aware --jsonl -");
  ASSERT_EQ(json.code, 0) << json.err;
  auto first = nlohmann::json::parse(lines_of(json.out).at(0));
  EXPECT_EQ(first["window"], "aware");
  EXPECT_TRUE(first["settings"].empty());
  // With an intent, how many of the class's strokes had one and did it.
  Ran meant = Run("tune ok.xml --vary LenThres=10 --intent ok=tap --csv -");
  ASSERT_EQ(meant.code, 0) << meant.err;
  rows = lines_of(meant.out);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_NE(rows[0].find(",intended,as_meant,at_stock"), std::string::npos) << rows[0];
  EXPECT_NE(rows[2].find(",1,0,1"), std::string::npos) << rows[2];  // a flick is no tap
  EXPECT_EQ(Run("tune ok.xml --vary window=list,list").err,
            "vexori-sim: window=list,list: list is given twice\n");
}

}  // namespace
