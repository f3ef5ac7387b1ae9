// Scenario and registry files written by people: whatever the text, reading it either succeeds
// or fails with an InputError that names the file and line, and never crashes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "Runner.h"
#include "support/DeviceFixture.h"

namespace {

// Mutates a valid text: drops, inserts, splices and overwrites characters.
std::string Mutate(const std::string& text, std::mt19937& rng) {
  static const std::string kNoise = "\"[]=\\:-#@ \t0x9Fdword\r\n\xEF\xBB\xBF\xFF";
  std::string out = text;
  int edits = 1 + static_cast<int>(rng() % 6);
  for (int i = 0; i < edits && !out.empty(); ++i) {
    size_t at = rng() % out.size();
    size_t op = rng() % 4;
    if (op == 0) out.erase(at, 1 + rng() % 8);
    if (op == 1) out.insert(at, 1, kNoise[rng() % kNoise.size()]);
    if (op == 2) out.insert(at, out.substr(rng() % out.size(), rng() % 12));
    if (op == 3) out[at] = static_cast<char>(rng() % 256);
  }
  return out;
}

void ExpectNamesFile(const dev::InputError& e, const std::string& file) {
  EXPECT_EQ(e.file, file);
  EXPECT_FALSE(e.reason.empty());
  EXPECT_NE(std::string(e.what()).find(file), std::string::npos);
}

TEST(ParserFuzz, ScenarioTextNeverCrashesTheParser) {
  const std::string valid = R"(screen 240 320 dpi 96
boot-tick 0xFFFFFF00
reg HKLM\Software\Quob\Gesture Activate dword 1
reg HKLM\Software\Quob\Gesture Name string "two words"
wait 100
tap 120 160 hold 300 rate 50
drag 60 250 180 80 300 rest 600
flick 120 280 120 120 150
sample 0xB 400 800
power idle 0x00100000 fail 5
expect sample 3
note "hello # not a comment"
)";
  std::mt19937 rng(1234);
  int accepted = 0;
  for (int i = 0; i < 3000; ++i) {
    try {
      sim::parse_scenario(Mutate(valid, rng), "fuzz.scn", "");
      ++accepted;
    } catch (const dev::InputError& e) {
      ExpectNamesFile(e, "fuzz.scn");
      EXPECT_GT(e.line, 0) << e.what();
    }
  }
  EXPECT_GT(accepted, 0);
}

using RegFileFuzz = vt::DeviceTest;

TEST_F(RegFileFuzz, RegistryFilesNeverCrashTheDevice) {
  vt::BootOptions options;
  options.window_system = false;
  Boot(options);
  const std::string valid =
      "REGEDIT4\n; comment\n[HKEY_LOCAL_MACHINE\\Software\\Quob\\Gesture]\n"
      "\"Activate\"=dword:00000001\n\"Name\"=\"a \\\"quoted\\\" \\\\ value\"\n@=\"default\"\n"
      "\"Gone\"=-\n[HKCU\\Software\\Other]\n\"GRIDSIZE\"=dword:7fffffff\n";
  std::string path = (std::filesystem::path(windows_dir).parent_path() / "fuzz.reg").string();
  std::mt19937 rng(99);
  for (int i = 0; i < 600; ++i) {
    std::ofstream(path, std::ios::binary) << Mutate(valid, rng);
    try {
      device->load_reg_file(path);
    } catch (const dev::InputError& e) {
      ExpectNamesFile(e, path);
    }
  }
}

}  // namespace
