#include "Requests.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>

#include "Replay.h"
#include "replay/StrokeFiles.h"
#include "SettingsTable.h"

namespace sim::serve {
namespace {

nlohmann::json object_of(const std::string& body) {
  nlohmann::json j = nlohmann::json::parse(body, nullptr, false);
  if (j.is_discarded()) throw BadRequest("the body is not JSON");
  if (!j.is_object()) throw BadRequest("the body is not a JSON object");
  return j;
}

long long whole(const nlohmann::json& v, const std::string& what) {
  if (!v.is_number_integer()) throw BadRequest(what + " is not a whole number");
  return v.get<long long>();
}

}  // namespace

DrawnStroke parse_stroke(const std::string& body, const dev::Screen& screen) {
  nlohmann::json j = object_of(body);
  if (!j.contains("points") || !j["points"].is_array())
    throw BadRequest("\"points\" is missing or not an array");
  const nlohmann::json& points = j["points"];
  if (points.empty()) throw BadRequest("\"points\" is empty");
  if (points.size() > kMaxRequestPoints)
    throw BadRequest(fmt::format("a stroke has at most {} points", kMaxRequestPoints));
  int wide = std::max(screen.width, screen.height);
  DrawnStroke stroke;
  for (size_t i = 0; i < points.size(); ++i) {
    const nlohmann::json& p = points[i];
    std::string where = fmt::format("point {}", i);
    if (!p.is_array() || p.size() != 3) throw BadRequest(where + " is not [x, y, ms]");
    long long x = whole(p[0], where + ": x"), y = whole(p[1], where + ": y");
    long long t = whole(p[2], where + ": ms");
    // On the screen of one of its orientations; which one is in force only the device knows.
    if (x < 0 || y < 0 || x >= wide || y >= wide)
      throw BadRequest(fmt::format("{}: {},{} is off the screen", where, x, y));
    if (i == 0 && t != 0) throw BadRequest("point 0: times are counted from the first point");
    if (i > 0 && t < stroke.back().t) throw BadRequest(where + ": the time goes back");
    if (t > kMaxStrokeMs)
      throw BadRequest(fmt::format("{}: a stroke lasts at most {} ms", where, kMaxStrokeMs));
    stroke.push_back({static_cast<uint32_t>(t), static_cast<int>(x), static_cast<int>(y)});
  }
  return stroke;
}

SettingWrite parse_setting(const std::string& body) {
  nlohmann::json j = object_of(body);
  if (!j.contains("name") || !j["name"].is_string()) throw BadRequest("\"name\" is missing");
  SettingWrite w;
  w.name = j["name"].get<std::string>();
  if (find_setting(w.name) == nullptr) throw BadRequest("no setting is named '" + w.name + "'");
  if (!j.contains("value")) throw BadRequest("\"value\" is missing");
  w.value = whole(j["value"], "\"value\"");
  if (w.value < -2147483648LL || w.value > 0xFFFFFFFFLL)
    throw BadRequest("\"value\" does not fit a DWORD");
  if (w.value > 0x7FFFFFFFLL) w.value -= 0x100000000LL;
  return w;
}

std::string parse_window(const std::string& body) {
  nlohmann::json j = object_of(body);
  if (!j.contains("kind") || !j["kind"].is_string()) throw BadRequest("\"kind\" is missing");
  std::string kind = j["kind"].get<std::string>();
  const auto& kinds = window_kinds();
  if (std::find(kinds.begin(), kinds.end(), kind) == kinds.end())
    throw BadRequest("no window kind is named '" + kind + "' (list, browser, aware, plain)");
  return kind;
}

StrokeFile parse_stroke_file(const std::string& name, const std::string& text) {
  StrokeFile f;
  for (char c : name.substr(0, 100)) {
    f.name += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '_' : c;
  }
  if (f.name.empty()) f.name = "dropped";
  if (text.size() > kMaxStrokeFileBytes)
    throw BadRequest(fmt::format("a stroke file has at most {} bytes", kMaxStrokeFileBytes));
  std::string ext = f.name.size() >= 4 ? f.name.substr(f.name.size() - 4) : "";
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  try {
    if (ext == ".xml") {
      f.strokes.push_back(parse_recorded_stroke(text, f.name));
    } else if (ext == ".csv") {
      f.strokes = parse_csv_strokes(text, f.name);
    } else {
      throw BadRequest("'" + f.name + "' is not a stroke file: an .xml stroke log or a .csv trace");
    }
  } catch (const dev::InputError& e) {
    throw BadRequest(e.what());
  }
  if (f.strokes.empty()) throw BadRequest("'" + f.name + "' holds no stroke");
  if (f.strokes.size() > kMaxFileStrokes)
    throw BadRequest(
        fmt::format("'{}' holds {} strokes; a file dropped on the page plays at most {}", f.name,
                    f.strokes.size(), kMaxFileStrokes));
  return f;
}

}  // namespace sim::serve
