#include "ScenarioFuzz.h"

#include <stdlib.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "Runner.h"

namespace fuzz {
namespace {
namespace fs = std::filesystem;

// The scratch folder of this process, made once and removed at its end.
class Scratch {
 public:
  Scratch() {
    std::string tmpl = (fs::temp_directory_path() / "vexori-fuzz-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("no scratch folder: " + tmpl);
    dir_ = tmpl;
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  // Empties the folder for the next input.
  const fs::path& fresh() {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir_, ec)) fs::remove_all(e.path(), ec);
    return dir_;
  }

 private:
  fs::path dir_;
};

bool good_name(const std::string& name) {
  if (name.empty() || name.size() > 32 || name == "." || name == "..") return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

bool run_one(const uint8_t* data, size_t size) {
  static Scratch scratch;
  const fs::path& dir = scratch.fresh();
  std::string text(reinterpret_cast<const char*>(data), size);

  // The scenario, then the files, each from its "--- NAME" line.
  std::string scenario;
  std::string* into = &scenario;
  std::vector<std::pair<std::string, std::string>> files;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(at, end - at);
    at = end;
    std::string bare = line.substr(0, line.find_last_not_of("\r\n") + 1);
    if (bare.rfind("--- ", 0) == 0 && good_name(bare.substr(4))) {
      files.emplace_back(bare.substr(4), "");
      into = &files.back().second;
      continue;
    }
    *into += line;
  }
  for (const auto& [name, body] : files) {
    std::ofstream(dir / name, std::ios::binary) << body;
  }

  sim::RunOptions options;
  options.keep_log = false;
  options.max_device_ms = kMaxDeviceMs;
  options.picture_commands = false;  // an input may name any place to write to
  try {
    sim::Scenario s = sim::parse_scenario(scenario, (dir / "fuzz.scn").string(), dir.string());
    sim::run_scenario(s, options);
    return true;
  } catch (const dev::InputError&) {
  } catch (const sim::CommandError&) {
  } catch (const sim::DeviceDownError&) {
  }
  return false;
}

std::string mutate(const std::string& text, std::mt19937& rng) {
  static const std::string kNoise =
      "\"<>/=\\:-#@ \t0x9Fdword\r\n\xEF\xBB\xBF\xFF\xC3\x28"
      "0123456789";
  std::string out = text;
  int edits = 1 + static_cast<int>(rng() % 6);
  for (int i = 0; i < edits && !out.empty(); ++i) {
    size_t at = rng() % out.size();
    size_t op = rng() % 5;
    if (op == 0) out.erase(at, 1 + rng() % 8);
    if (op == 1) out.insert(at, 1, kNoise[rng() % kNoise.size()]);
    if (op == 2) out.insert(at, out.substr(rng() % out.size(), rng() % 12));
    if (op == 3) out[at] = static_cast<char>(rng() % 256);
    if (op == 4 && std::isdigit(static_cast<unsigned char>(out[at])))
      out.insert(at, std::to_string(rng()));  // a number far out of range
  }
  return out;
}

}  // namespace fuzz
