#include "Intent.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "replay/ClassTable.h"

namespace sim {
namespace {

const char kWhat[] = "a behaviour from 100 to 111, pan, tap or hold";

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

bool is_file(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string checked_what(const std::string& what, const std::string& where) {
  if (what == "pan" || what == "tap" || what == "hold") return what;
  if (what.size() == 3 && std::all_of(what.begin(), what.end(), ::isdigit)) {
    int code = std::stoi(what);
    if (code >= 100 && code <= 111) return what;
  }
  throw dev::InputError(where, 0, "\"" + what + "\" is not " + kWhat);
}

// The order the columns of what was done come in: passing through, panning, the behaviours by
// number, then nothing and failures.
int column_rank(const std::string& did) {
  if (did == "tap") return 0;
  if (did == "hold") return 1;
  if (did == "passed") return 2;
  if (did == "pan") return 3;
  if (did == "nothing") return 1000;
  if (did == "failed") return 1001;
  return std::stoi(did);
}

std::string percent(size_t n, size_t of) {
  return of == 0 ? "-"
                 : fmt::format("{:.0f}%", 100.0 * static_cast<double>(n) / static_cast<double>(of));
}

}  // namespace

Intent parse_intent(const std::string& text) {
  std::string body = text, where = "--intent";
  if (is_file(text)) {
    std::ifstream in(text);
    std::stringstream ss;
    ss << in.rdbuf();
    if (!in && !in.eof())
      throw dev::InputError(text, 0, std::string("cannot read: ") + strerror(errno));
    body = ss.str();
    where = text;
  } else if (text.find('=') == std::string::npos) {
    throw dev::InputError(where, 0,
                          "\"" + text + "\" is neither CLASS=WHAT,... nor a file that can be read");
  }
  Intent intent;
  std::istringstream lines(body);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    line = line.substr(0, line.find('#'));
    std::istringstream pairs(line);
    std::string pair;
    std::string here = where == "--intent" ? where : fmt::format("{}:{}", where, number);
    while (std::getline(pairs, pair, ',')) {
      pair = trimmed(pair);
      if (pair.empty()) continue;
      size_t eq = pair.find('=');
      if (eq == std::string::npos)
        throw dev::InputError(here, 0, "\"" + pair + "\" is not CLASS=WHAT, WHAT " + kWhat);
      std::string cls = trimmed(pair.substr(0, eq)), what = trimmed(pair.substr(eq + 1));
      if (cls.empty()) throw dev::InputError(here, 0, "\"" + pair + "\" names no class");
      if (intent.count(cls)) throw dev::InputError(here, 0, cls + " is given twice");
      intent[cls] = checked_what(what, here);
    }
  }
  if (intent.empty()) throw dev::InputError(where, 0, "names no class");
  return intent;
}

Intent intent_for(const Intent& intent, const std::vector<std::string>& classes, bool only_some) {
  Intent kept;
  std::vector<std::string> unknown;
  for (const auto& [cls, what] : intent) {
    if (std::find(classes.begin(), classes.end(), cls) != classes.end()) {
      kept[cls] = what;
    } else {
      unknown.push_back(cls);
    }
  }
  if ((!unknown.empty() && !only_some) || kept.empty()) {
    std::string there;
    for (const auto& c : classes) there += (there.empty() ? "" : ", ") + c;
    throw dev::InputError(
        "--intent", 0,
        fmt::format("no stroke of class {}; the strokes replayed are of {}",
                    (unknown.empty() ? intent.begin()->first : unknown[0]), there));
  }
  return kept;
}

std::string did_of(const StrokeResult& r) {
  if (!r.error.empty()) return "failed";
  const StrokeOutcome& o = r.outcome;
  if (o.decision == "passed through") {
    std::string kind = reason_kind(o.reason);
    if (kind == "tap") return "tap";
    if (kind == "press-and-hold") return "hold";
    return "passed";
  }
  if (o.decision == "panned") return "pan";
  if (o.decision == "handed over" && o.behaviour != 0) return std::to_string(o.behaviour);
  return "nothing";
}

std::vector<DidRow> did_by_class(const std::vector<StrokeResult>& results) {
  std::vector<DidRow> rows;
  DidRow all;
  all.gesture = "all";
  for (const auto& r : results) {
    auto it = std::find_if(rows.begin(), rows.end(),
                           [&](const DidRow& row) { return row.gesture == r.gesture; });
    if (it == rows.end()) {
      rows.push_back({r.gesture, {}, 0});
      it = rows.end() - 1;
    }
    std::string did = did_of(r);
    ++it->did[did];
    ++it->strokes;
    ++all.did[did];
    ++all.strokes;
  }
  rows.push_back(std::move(all));
  return rows;
}

Accuracy accuracy_of(const DidRow& row, const Intent& intent) {
  auto meant = intent.find(row.gesture);
  if (meant == intent.end()) return {};
  auto did = row.did.find(meant->second);
  return {row.strokes, did == row.did.end() ? 0 : did->second};
}

Accuracy overall_accuracy(const std::vector<DidRow>& rows, const Intent& intent) {
  Accuracy a;
  for (const auto& row : rows) {
    if (row.gesture == "all") continue;
    Accuracy here = accuracy_of(row, intent);
    a.intended += here.intended;
    a.as_meant += here.as_meant;
  }
  return a;
}

std::string confusion_table(const std::vector<DidRow>& rows, const Intent& intent) {
  if (rows.empty()) return "";
  std::vector<std::string> columns;
  for (const auto& [did, n] : rows.back().did) columns.push_back(did);
  std::sort(columns.begin(), columns.end(), [](const std::string& a, const std::string& b) {
    return column_rank(a) < column_rank(b);
  });
  size_t name_width = 5;
  for (const auto& row : rows) name_width = std::max(name_width, row.gesture.size());
  std::string out = fmt::format("{:<{}}  {:>5}  {:>8}", "", name_width, "meant", "as meant");
  for (const auto& c : columns) out += fmt::format("  {:>7}", c);
  out += "\n";
  for (const auto& row : rows) {
    bool all = &row == &rows.back();
    auto meant = intent.find(row.gesture);
    Accuracy a = all ? overall_accuracy(rows, intent) : accuracy_of(row, intent);
    out += fmt::format("{:<{}}  {:>5}  {:>8}", row.gesture, name_width,
                       meant == intent.end() ? "-" : meant->second,
                       a.intended == 0 ? "-" : percent(a.as_meant, a.intended));
    for (const auto& c : columns) {
      auto it = row.did.find(c);
      out += fmt::format("  {:>7}", it == row.did.end() ? 0 : it->second);
    }
    out += "\n";
  }
  return out +
         "strokes by what they did: tap, hold: passed through as such; passed: for another "
         "reason; pan;\na behaviour's number; nothing: no effect. as meant: the share of the class "
         "that did what was meant\n(in the row all, of every class with an intent)\n";
}

}  // namespace sim
