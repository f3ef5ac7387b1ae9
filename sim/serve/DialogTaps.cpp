#include "DialogTaps.h"

#include <fmt/format.h>

namespace sim::serve {
namespace {

// The task bar's "ok" takes about this much of its right end (as the screenshot draws it).
const int kDoneWidth = 44;

}  // namespace

std::vector<DialogTarget> dialog_targets(const dev::ScreenView& view) {
  std::vector<DialogTarget> out;
  const dev::WindowView* dialog = nullptr;
  for (const dev::WindowView& w : view.windows) {
    if (w.cls == "Dialog" || w.done_button) {
      dialog = &w;
      break;
    }
  }
  if (dialog == nullptr) return out;
  for (const dev::WindowView& c : dialog->children) {
    if (c.cls == "BUTTON" && (c.style & WS_VISIBLE))
      out.push_back({c.rect, {0, cmd::Tick{fmt::format("{}", c.id)}}});
  }
  if (dialog->done_button && view.work_area.top > 0)
    out.push_back(
        {{view.width - kDoneWidth, 0, view.width, view.work_area.top}, {0, cmd::Press{"Done"}}});
  for (const dev::WindowView& bar : view.windows) {
    if (bar.soft_keys.empty()) continue;
    LONG slot = (bar.rect.right - bar.rect.left) / static_cast<LONG>(bar.soft_keys.size());
    for (size_t i = 0; i < bar.soft_keys.size(); ++i) {
      LONG left = bar.rect.left + slot * static_cast<LONG>(i);
      out.push_back(
          {{left, bar.rect.top, left + slot, bar.rect.bottom}, {0, cmd::Press{bar.soft_keys[i]}}});
    }
    break;
  }
  return out;
}

std::optional<Command> dialog_command(const std::vector<DialogTarget>& targets, int x, int y) {
  for (const DialogTarget& t : targets) {
    if (x >= t.rect.left && x < t.rect.right && y >= t.rect.top && y < t.rect.bottom)
      return t.command;
  }
  return std::nullopt;
}

}  // namespace sim::serve
