#include "ClassTable.h"

#include <fmt/format.h>

#include <algorithm>
#include <functional>

namespace sim {
namespace {

void count(ClassCounts& c, const StrokeResult& r) {
  ++c.strokes;
  const StrokeOutcome& o = r.outcome;
  if (!r.error.empty()) {
    ++c.other;
  } else if (o.decision == "passed through") {
    ++c.passed;
    ++c.reasons[reason_kind(o.reason)];
  } else if (o.decision == "panned") {
    ++c.panned;
  } else if (o.decision == "handed over") {
    ++c.handed;
    ++c.behaviours[o.behaviour];
    if (o.behaviour != 0) c.meanings[o.behaviour] = o.meaning;
    ++c.filtered["\"" + o.filtered + "\""];
    c.codes += o.codes.size();
  } else {
    ++c.other;
  }
}

template <typename Key>
std::string cell(const std::map<Key, size_t>& counts, size_t most,
                 const std::function<std::string(const Key&)>& name) {
  std::vector<std::pair<Key, size_t>> sorted(counts.begin(), counts.end());
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  std::string out;
  size_t shown = most == 0 ? sorted.size() : std::min(most, sorted.size());
  for (size_t i = 0; i < shown; ++i)
    out += fmt::format("{}{} x{}", i == 0 ? "" : ", ", name(sorted[i].first), sorted[i].second);
  if (shown < sorted.size()) out += fmt::format(", {} more", sorted.size() - shown);
  return out;
}

}  // namespace

std::string counts_cell(const std::map<int, size_t>& counts, size_t most) {
  return cell<int>(counts, most,
                   [](const int& b) { return b == 0 ? std::string("none") : std::to_string(b); });
}

std::string counts_cell(const std::map<std::string, size_t>& counts, size_t most) {
  return cell<std::string>(counts, most, [](const std::string& s) { return s; });
}

std::string share(size_t n, size_t of) {
  if (n == 0) return "0";
  return fmt::format("{} ({:.0f}%)", n, 100.0 * static_cast<double>(n) / static_cast<double>(of));
}

std::string reason_kind(const std::string& reason) {
  size_t at = reason.find(" at ");
  return at == std::string::npos ? reason : reason.substr(0, at);
}

std::vector<ClassCounts> count_by_class(const std::vector<StrokeResult>& results) {
  std::vector<ClassCounts> rows;
  std::map<std::string, size_t> row_of;
  ClassCounts all;
  all.gesture = "all";
  for (const auto& r : results) {
    auto [it, fresh] = row_of.emplace(r.gesture, rows.size());
    if (fresh) {
      rows.emplace_back();
      rows.back().gesture = r.gesture;
    }
    count(rows[it->second], r);
    count(all, r);
  }
  rows.push_back(all);
  return rows;
}

std::string class_table(const std::vector<ClassCounts>& rows) {
  size_t name_width = 7;
  for (const auto& r : rows) name_width = std::max(name_width, r.gesture.size());
  std::string out =
      fmt::format("{:<{}}  {:>7}  {:>10}  {:>10}  {:>10}  {}\n", "gesture", name_width, "strokes",
                  "passed", "panned", "handed", "behaviours handed over");
  std::map<std::string, size_t> reasons;
  std::map<int, std::string> meanings;
  for (const auto& r : rows) {
    if (r.gesture == "all") {
      reasons = r.reasons;
      meanings = r.meanings;
      if (rows.size() == 2) continue;  // one class: its row says it all
      out += std::string(name_width + 47, '-') + "\n";
    }
    out += fmt::format("{:<{}}  {:>7}  {:>10}  {:>10}  {:>10}  {}", r.gesture, name_width,
                       r.strokes, share(r.passed, r.strokes), share(r.panned, r.strokes),
                       share(r.handed, r.strokes), counts_cell(r.behaviours));
    if (r.other > 0) out += fmt::format("; {} with no outcome", r.other);
    out += "\n";
  }
  if (!reasons.empty()) out += "\npassed through: " + counts_cell(reasons) + "\n";
  if (!meanings.empty()) {
    out += "behaviours:";
    bool first = true;
    for (const auto& [b, m] : meanings) {
      out += fmt::format("{} {} {}", first ? "" : ",", b, m);
      first = false;
    }
    out += "\n";
  }
  bool any_filtered = false;
  for (const auto& r : rows) any_filtered = any_filtered || !r.filtered.empty();
  if (any_filtered && rows.size() > 1) {
    out += "\nstrings after the filter, the commonest first:\n";
    for (const auto& r : rows)
      if (r.gesture != "all" && !r.filtered.empty())
        out += fmt::format("{:<{}}  {}\n", r.gesture, name_width, counts_cell(r.filtered, 5));
  }
  return out;
}

}  // namespace sim
