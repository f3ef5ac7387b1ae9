// What the screen shows, for the host's pictures: a copy of the visible window tree.
#include "../core/kernel.hpp"

namespace dev {

namespace {

bool shown(const Window* w) {
  return (w->style & WS_VISIBLE) != 0;
}

WindowView view_of(const Window* w) {
  WindowView v;
  v.handle = w->handle;
  v.process = w->thread && w->thread->process ? w->thread->process->name : "";
  v.cls = to_utf8(w->cls);
  v.title = to_utf8(w->title);
  v.style = w->style;
  v.ex_style = w->ex_style;
  v.id = static_cast<int>(w->id);
  v.rect = w->rect;
  v.hbar = w->bars[SB_HORZ];
  v.vbar = w->bars[SB_VERT];
  v.check = w->check;
  v.done_button = w->done_button;
  for (const auto& key : w->soft_keys) v.soft_keys.push_back(to_utf8(key));
  v.bitmap.assign(w->bitmap.begin(), w->bitmap.end());
  v.painted = w->painted;
  for (const Window* child : w->children) {
    if (shown(child)) v.children.push_back(view_of(child));
  }
  return v;
}

}  // namespace

ScreenView Device::screen() const {
  // The host reads the device between its runs, while every device thread waits.
  auto& d = *impl_;
  ScreenView s;
  s.width = GetSystemMetrics(SM_CXSCREEN);
  s.height = GetSystemMetrics(SM_CYSCREEN);
  s.angle = d.display_angle;
  s.dpi = d.config.screen.dpi;
  s.work_area = work_area();
  s.foreground = d.foreground ? d.foreground->handle : 0;
  for (const Window* w : d.top_levels) {
    if (shown(w)) s.windows.push_back(view_of(w));
  }
  return s;
}

}  // namespace dev
