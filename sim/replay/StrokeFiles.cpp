#include "StrokeFiles.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>

#include "InputFiles.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

const char kHeader[] = "t_ms,x,y,down";

std::string lower(std::string s) {
  for (auto& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

long long field(const std::string& s, const char* name, long long lo, long long hi,
                const std::string& path, int line) {
  long long v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec == std::errc::invalid_argument || end != s.data() + s.size()) {
    throw dev::InputError(path, line, std::string(name) + " \"" + s + "\" is not a whole number");
  }
  if (ec == std::errc::result_out_of_range || v < lo || v > hi) {
    throw dev::InputError(path, line,
                          std::string(name) + " " + s + " is out of range (" + std::to_string(lo) +
                              " to " + std::to_string(hi) + ")");
  }
  return v;
}

std::vector<std::string> split(const std::string& row) {
  std::vector<std::string> out(1);
  for (char ch : row) {
    if (ch == ',') {
      out.emplace_back();
    } else {
      out.back() += ch;
    }
  }
  return out;
}

void add_file(const fs::path& p, std::vector<NamedStroke>& out) {
  std::string path = p.string(), ext = lower(p.extension().string());
  std::string gesture = gesture_class(path);
  if (ext == ".xml") {
    out.push_back({path, gesture, load_recorded_stroke(path)});
    return;
  }
  auto strokes = parse_csv_strokes(read_input_file(path, "stroke file"), path);
  for (size_t i = 0; i < strokes.size(); ++i) {
    // Each stroke of a file keeps the file's class; its name tells them apart.
    strokes[i].name =
        strokes.size() == 1 ? p.stem().string() : p.stem().string() + "#" + std::to_string(i + 1);
    out.push_back({path, gesture, std::move(strokes[i])});
  }
}

// Strokes from standard input: a stroke log when its first mark is '<', else a trace. They are of
// the class "stdin".
void add_standard_input(std::vector<NamedStroke>& out) {
  std::string text = read_input_file(kStandardInput, "stroke file");
  std::string name = input_name(kStandardInput);
  size_t first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
  if (first != std::string::npos && text[first] == '<') {
    out.push_back({name, "stdin", parse_recorded_stroke(text, name)});
    return;
  }
  auto strokes = parse_csv_strokes(text, name);
  for (size_t i = 0; i < strokes.size(); ++i) {
    strokes[i].name = strokes.size() == 1 ? "stdin" : "stdin#" + std::to_string(i + 1);
    out.push_back({name, "stdin", std::move(strokes[i])});
  }
}

}  // namespace

std::string gesture_class(const std::string& path) {
  std::string stem = fs::path(path).stem().string();
  if (lower(fs::path(path).extension().string()) == ".csv") return stem;
  size_t digit = stem.find_first_of("0123456789");
  std::string name = stem.substr(0, digit);
  return name.empty() ? stem : name;
}

std::vector<RecordedStroke> parse_csv_strokes(const std::string& text, const std::string& path) {
  size_t bad = first_bad_utf8(text);
  if (bad != std::string::npos) throw dev::InputError(path, line_of(text, bad), "not valid UTF-8");
  std::vector<RecordedStroke> strokes;
  bool open = false;  // the last stroke still takes rows
  long long t0 = 0;
  size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  int line = 0;
  bool blank_seen = false;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    std::string row = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    pos = nl == std::string::npos ? text.size() : nl + 1;
    ++line;
    if (!row.empty() && row.back() == '\r') row.pop_back();
    if (row.empty()) {
      blank_seen = true;
      continue;
    }
    // Only the end of the file may be blank: a blank line inside is a file cut and pasted wrong.
    if (blank_seen) throw dev::InputError(path, line - 1, "a blank line before more rows");
    if (line == 1) {
      if (row != kHeader) {
        throw dev::InputError(path, line, std::string("the header must be \"") + kHeader + "\"");
      }
      continue;
    }
    auto f = split(row);
    if (f.size() != 4) {
      throw dev::InputError(path, line,
                            "a row has 4 fields (t_ms,x,y,down), not " + std::to_string(f.size()));
    }
    long long t = field(f[0], "t_ms", 0, 0xFFFFFFFFLL, path, line);
    int x = static_cast<int>(field(f[1], "x", -kMaxPanelCoord, kMaxPanelCoord, path, line));
    int y = static_cast<int>(field(f[2], "y", -kMaxPanelCoord, kMaxPanelCoord, path, line));
    long long down = field(f[3], "down", 0, 1, path, line);
    if (down == 0) {
      if (!open) throw dev::InputError(path, line, "a pen-up with no stroke before it");
      if (t - t0 < strokes.back().points.back().t) {
        throw dev::InputError(path, line, "times go backwards");
      }
      open = false;
      continue;
    }
    if (!open) {
      strokes.emplace_back();
      open = true;
      t0 = t;
    }
    auto& pts = strokes.back().points;
    long long rel = t - t0;
    if (rel < 0 || (!pts.empty() && rel < pts.back().t)) {
      throw dev::InputError(path, line, "times go backwards");
    }
    if (rel > kMaxStrokeMs) {
      throw dev::InputError(path, line,
                            "the stroke lasts longer than " + std::to_string(kMaxStrokeMs) + " ms");
    }
    if (pts.size() == kMaxStrokePoints) {
      throw dev::InputError(
          path, line, "a stroke of more than " + std::to_string(kMaxStrokePoints) + " samples");
    }
    pts.push_back({static_cast<uint32_t>(rel), x, y});
  }
  if (line == 0) throw dev::InputError(path, 0, "empty: no header");
  if (strokes.empty()) throw dev::InputError(path, line, "no stroke: no row with down 1");
  return strokes;
}

std::vector<NamedStroke> load_stroke_set(const std::vector<std::string>& paths) {
  std::vector<NamedStroke> out;
  if (std::count(paths.begin(), paths.end(), kStandardInput) > 1)
    throw dev::InputError(kStandardInput, 0, "standard input is given twice");
  for (const auto& path : paths) {
    if (path == kStandardInput) {
      add_standard_input(out);
      continue;
    }
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
      std::vector<fs::path> files;
      for (const auto& e : fs::recursive_directory_iterator(path, ec)) {
        std::string ext = lower(e.path().extension().string());
        if (e.is_regular_file() && (ext == ".xml" || ext == ".csv")) files.push_back(e.path());
      }
      if (ec) throw dev::InputError(path, 0, "cannot read the folder: " + ec.message());
      if (files.empty()) throw dev::InputError(path, 0, "the folder holds no .xml or .csv file");
      std::sort(files.begin(), files.end());
      for (const auto& f : files) add_file(f, out);
      continue;
    }
    std::string ext = lower(fs::path(path).extension().string());
    if (!fs::exists(path, ec)) throw dev::InputError(path, 0, "no such file or folder");
    if (ext != ".xml" && ext != ".csv") {
      throw dev::InputError(path, 0, "not a stroke file (.xml or .csv) nor a folder");
    }
    add_file(path, out);
  }
  return out;
}

}  // namespace sim
