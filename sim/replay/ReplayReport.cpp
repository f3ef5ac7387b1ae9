#include "ReplayReport.h"

#include <fmt/format.h>

#include <filesystem>

#include "Terminal.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : " ") + p;
  return out;
}

}  // namespace

std::string csv_field(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char ch : s) out += ch == '"' ? std::string("\"\"") : std::string(1, ch);
  return out + "\"";
}

std::string common_folder(const std::vector<std::string>& files) {
  if (files.empty()) return "";
  fs::path common = fs::path(files.front()).parent_path();
  for (const auto& f : files) {
    fs::path dir = fs::path(f).parent_path();
    fs::path shared;
    auto a = common.begin(), b = dir.begin();
    for (; a != common.end() && b != dir.end() && *a == *b; ++a, ++b) shared /= *a;
    common = shared;
  }
  return common.string();
}

std::string stroke_label(const StrokeResult& r, const std::string& folder) {
  std::string name = folder.empty() ? r.file : fs::path(r.file).lexically_relative(folder).string();
  // A file of several strokes names each by its number.
  if (fs::path(r.file).stem().string() != r.name) name += " " + r.name;
  return name;
}

std::string result_line(const StrokeResult& r, const std::string& folder, bool colour) {
  std::string name = stroke_label(r, folder);
  if (!r.error.empty()) return fmt::format("{}  NOT REPLAYED: {}", name, r.error);
  const StrokeOutcome& o = r.outcome;
  std::string line = fmt::format("{}  {}", name, colour ? colour_decision(o.did()) : o.did());
  if (!o.codes.empty()) {
    line += "; codes " + joined(o.codes);
    if (!o.filtered.empty()) line += fmt::format(" filtered \"{}\"", o.filtered);
  }
  for (const auto& s : o.scrolls)
    if (s.before != s.after)
      line += fmt::format("; {} {} {:+}", s.label.empty() ? s.window : s.label, s.bar,
                          s.after - s.before);
  for (const auto& e : o.effects) line += "; " + e;
  return line;
}

std::string results_csv(const std::vector<StrokeResult>& results) {
  std::string out =
      "file,gesture,name,decision,reason,codes,filtered,behaviour,meaning,down_x,down_y,samples,"
      "received,engine,dropped,error\n";
  for (const auto& r : results) {
    const StrokeOutcome& o = r.outcome;
    std::vector<std::string> f = {r.file,
                                  r.gesture,
                                  r.name,
                                  o.decision,
                                  o.reason,
                                  joined(o.codes),
                                  o.filtered,
                                  o.behaviour != 0 ? std::to_string(o.behaviour) : "",
                                  o.meaning,
                                  std::to_string(o.x),
                                  std::to_string(o.y),
                                  std::to_string(r.panel),
                                  std::to_string(r.unchanged + r.rebuilt),
                                  std::to_string(r.engine),
                                  std::to_string(r.dropped),
                                  r.error};
    for (size_t i = 0; i < f.size(); ++i) out += (i == 0 ? "" : ",") + csv_field(f[i]);
    out += "\n";
  }
  return out;
}

}  // namespace sim
