#include "WinePlan.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>

namespace sim {

WinePlan::WinePlan(const Scenario& s) : file_(s.file) {
  const dev::Screen stock;
  if (s.screen.width != stock.width || s.screen.height != stock.height || s.screen.dpi != stock.dpi)
    unplayable_.push_back(fmt::format("{}: screen {} {} dpi {}: Wine's screen is its own", s.file,
                                      s.screen.width, s.screen.height, s.screen.dpi));
  if (s.boot_tick != 0)
    unplayable_.push_back(
        fmt::format("{}: boot-tick {}: Wine's tick count is the machine's", s.file, s.boot_tick));
  if (!s.install)
    unplayable_.push_back(
        fmt::format("{}: install off: the hosts always install the system", s.file));
}

void WinePlan::cannot(const Command& c, const std::string& why) {
  unplayable_.push_back(fmt::format("{}:{}: {}: {}", file_, c.line, scenario_line(c), why));
}

void WinePlan::command(const Command& c, uint64_t time) {
  // The setup before boot comes at 0; the scenario's first command starts the plan's own clock.
  bool before_boot = std::holds_alternative<cmd::Preset>(c.kind) ||
                     std::holds_alternative<cmd::RegDeleteKey>(c.kind) ||
                     std::holds_alternative<cmd::Fail>(c.kind) ||
                     std::holds_alternative<cmd::LeaveOut>(c.kind) ||
                     std::holds_alternative<cmd::TouchDriver>(c.kind) ||
                     std::holds_alternative<cmd::Broker>(c.kind);
  if (!before_boot && !any_) any_ = true, first_ = time;
  if (!before_boot && time > first_) timed_ = true;
  bool played = std::visit(
      cmd::overloaded{
          [&](const cmd::Fail&) {
            cannot(c, "only the simulated device fails a platform call on purpose");
            return false;
          },
          [&](const cmd::Power&) {
            cannot(c, "the power manager's state is the simulated device's");
            return false;
          },
          [&](const cmd::Broker&) {
            cannot(c, "the hosts start the broker with the device manager");
            return false;
          },
          [&](const cmd::LeaveOut&) {
            cannot(c, "the hosts' folder holds every library");
            return false;
          },
          [&](const cmd::TouchDriver&) {
            cannot(c, "the hosts have one stock driver, touch.dll");
            return false;
          },
          [&](const cmd::RegFile&) {
            cannot(c, "the hosts install no .reg file of the scenario's");
            return false;
          },
          [&](const cmd::Screenshot&) {
            cannot(c, "pictures are the simulator's");
            return false;
          },
          [&](const cmd::Picture&) {
            cannot(c, "pictures are the simulator's");
            return false;
          },
          [&](const cmd::Timeline&) {
            cannot(c, "pictures are the simulator's");
            return false;
          },
          // The simulator's own checks and captions: the comparison sets outcomes side by side.
          [](const cmd::Expect&) { return false; },
          [](const cmd::ExpectScroll&) { return false; },
          [](const cmd::Note&) { return false; },
          [](const cmd::Boot&) { return false; },
          [](const auto&) { return true; },
      },
      c.kind);
  if (!played) return;
  // Only registry values and windows are put in place before the hosts start.
  bool setup_kind = std::holds_alternative<cmd::Preset>(c.kind) ||
                    std::holds_alternative<cmd::RegDeleteKey>(c.kind) ||
                    std::holds_alternative<cmd::Reg>(c.kind) ||
                    std::holds_alternative<cmd::RegDelete>(c.kind) ||
                    std::holds_alternative<cmd::Window>(c.kind) ||
                    std::holds_alternative<cmd::Foreground>(c.kind);
  if (!setup_kind) timed_ = true;
  lines_.push_back({before_boot || !timed_, time, scenario_line(c)});
}

void WinePlan::entry(const dev::LogEntry& e) {
  if (e.kind != "panel") return;
  timed_ = true;
  uint32_t flags = static_cast<uint32_t>(std::strtoul(e.str("flags").c_str(), nullptr, 0));
  lines_.push_back(
      {false, e.time, fmt::format("sample {:x} {} {}", flags, e.num("x"), e.num("y"))});
}

void WinePlan::finish(uint64_t end_time) {
  end_ = end_time;
}

std::string WinePlan::text() const {
  std::vector<Line> lines = lines_;
  std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) {
    return a.setup != b.setup ? a.setup : (!a.setup && a.time < b.time);
  });
  uint64_t zero = std::numeric_limits<uint64_t>::max();
  for (const Line& l : lines)
    if (!l.setup) zero = std::min(zero, l.time);
  if (zero == std::numeric_limits<uint64_t>::max()) zero = end_;
  std::string out = fmt::format("# what the Wine hosts play for {}\n", file_);
  for (const auto& u : unplayable_) out += "# cannot play " + u + "\n";
  for (const Line& l : lines)
    out += (l.setup ? std::string("setup") : std::to_string(l.time - zero)) + " " + l.text + "\n";
  out += fmt::format("{} end\n", end_ > zero ? end_ - zero : 0);
  return out;
}

}  // namespace sim
