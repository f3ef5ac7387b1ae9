// Painting: WM_PAINT for windows that became visible, and the drawing calls between BeginPaint
// and EndPaint. Nothing is rasterised; each call is kept as an item of what the window shows,
// in screen coordinates, and EndPaint makes the items the window's picture.
#include <fmt/format.h>

#include <map>

#include "../core/kernel.hpp"

namespace dev {
namespace {

// A paint context of BeginPaint: whose client area it draws and what was drawn so far.
struct PaintContext {
  uintptr_t window = 0;
  COLORREF text = 0;
  std::vector<PaintedItem> items;
};

std::map<uintptr_t, PaintContext>& contexts() {
  static std::map<uintptr_t, PaintContext> all;  // one device runs at a time
  return all;
}
uintptr_t next_context = 0x6D000;

// The device's colour scheme, by system colour index.
COLORREF system_colour(int index) {
  switch (index & ~SYS_COLOR_INDEX_FLAG) {
    case COLOR_ACTIVECAPTION:
      return RGB(0x2B, 0x5B, 0xD8);
    case COLOR_INACTIVECAPTION:
      return RGB(0x80, 0x80, 0x80);
    case COLOR_WINDOW:
    case COLOR_MENU:
      return RGB(0xFF, 0xFF, 0xFF);
    case COLOR_CAPTIONTEXT:
      return RGB(0xFF, 0xFF, 0xFF);
    case COLOR_BTNFACE:
      return RGB(0xD4, 0xD0, 0xC8);
    default:
      return RGB(0, 0, 0);
  }
}

COLORREF brush_colour(HBRUSH brush) {
  switch (stock_index(brush)) {
    case WHITE_BRUSH:
      return RGB(0xFF, 0xFF, 0xFF);
    case LTGRAY_BRUSH:
      return RGB(0xC0, 0xC0, 0xC0);
    case GRAY_BRUSH:
      return RGB(0x80, 0x80, 0x80);
    case DKGRAY_BRUSH:
      return RGB(0x40, 0x40, 0x40);
    default:
      return RGB(0, 0, 0);
  }
}

PaintContext* context_of(HDC dc, const char* call) {
  auto it = contexts().find(reinterpret_cast<uintptr_t>(dc));
  if (it == contexts().end()) {
    impl().bad_handle(call, reinterpret_cast<uintptr_t>(dc));
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &it->second;
}

// The screen position of a point of the context's client area.
POINT on_screen(const PaintContext& c, LONG x, LONG y) {
  Window* w = window_of(reinterpret_cast<HWND>(c.window));
  LONG ox = w ? w->rect.left : 0, oy = w ? w->rect.top : 0;
  return {x + ox, y + oy};
}

}  // namespace

bool take_paint(Thread* self, HWND hwnd, UINT lo, UINT hi, MSG* out, bool consume) {
  if (!(lo == 0 && hi == 0) && !(WM_PAINT >= lo && WM_PAINT <= hi)) return false;
  for (auto& [h, w] : impl().windows) {
    if (!w->needs_paint || w->thread != self || !(w->style & WS_VISIBLE)) continue;
    if (hwnd != nullptr && reinterpret_cast<HWND>(h) != hwnd) continue;
    if (out != nullptr) *out = queued_message(reinterpret_cast<HWND>(h), WM_PAINT, 0, 0);
    // Taken once: a procedure that does not paint is not asked again until it is shown again.
    if (consume) w->needs_paint = false;
    return true;
  }
  return false;
}

}  // namespace dev

using dev::impl;

extern "C" {

HDC WINAPI BeginPaint(HWND h, LPPAINTSTRUCT ps) {
  DEVICE_CALL_POINT("BeginPaint");
  dev::Window* w = dev::window_of(h, "BeginPaint");
  if (w == nullptr || ps == nullptr) return nullptr;
  w->needs_paint = false;
  uintptr_t dc = dev::next_context;
  dev::next_context += 4;
  dev::contexts()[dc] = {w->handle, 0, {}};
  *ps = PAINTSTRUCT{};
  ps->hdc = reinterpret_cast<HDC>(dc);
  ps->rcPaint = {0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  return ps->hdc;
}

BOOL WINAPI EndPaint(HWND h, const PAINTSTRUCT* ps) {
  DEVICE_CALL_POINT("EndPaint");
  dev::Window* w = dev::window_of(h, "EndPaint");
  if (w == nullptr || ps == nullptr) return FALSE;
  auto it = dev::contexts().find(reinterpret_cast<uintptr_t>(ps->hdc));
  if (it == dev::contexts().end() || it->second.window != w->handle) {
    impl().bad_handle("EndPaint", reinterpret_cast<uintptr_t>(ps->hdc));
    return FALSE;
  }
  w->painted = std::move(it->second.items);
  dev::contexts().erase(it);
  return TRUE;
}

BOOL WINAPI InvalidateRect(HWND h, const RECT*, BOOL) {
  dev::Window* w = dev::window_of(h, "InvalidateRect");
  if (w == nullptr) return FALSE;
  w->needs_paint = true;
  return TRUE;
}

int WINAPI FillRect(HDC dc, const RECT* r, HBRUSH brush) {
  DEVICE_CALL_POINT("FillRect");
  dev::PaintContext* c = dev::context_of(dc, "FillRect");
  if (c == nullptr || r == nullptr) return 0;
  dev::PaintedItem item;
  item.kind = dev::PaintedItem::kFill;
  POINT a = dev::on_screen(*c, r->left, r->top), b = dev::on_screen(*c, r->right, r->bottom);
  item.rect = {a.x, a.y, b.x, b.y};
  item.colour = dev::brush_colour(brush);
  c->items.push_back(item);
  return 1;
}

COLORREF WINAPI SetTextColor(HDC dc, COLORREF colour) {
  DEVICE_CALL_POINT("SetTextColor");
  dev::PaintContext* c = dev::context_of(dc, "SetTextColor");
  if (c == nullptr) return 0xFFFFFFFFu;
  COLORREF old = c->text;
  // As on the platform, a system colour index may stand for the colour itself.
  c->text = (colour & SYS_COLOR_INDEX_FLAG) ? dev::system_colour(static_cast<int>(colour)) : colour;
  return old;
}

DWORD WINAPI GetSysColor(int index) {
  DEVICE_CALL_POINT("GetSysColor");
  return dev::system_colour(index);
}

BOOL WINAPI ExtTextOutW(HDC dc, int x, int y, UINT, const RECT*, LPCWSTR text, UINT count,
                        const int*) {
  DEVICE_CALL_POINT("ExtTextOutW");
  dev::PaintContext* c = dev::context_of(dc, "ExtTextOutW");
  if (c == nullptr || (text == nullptr && count > 0)) return FALSE;
  dev::PaintedItem item;
  item.kind = dev::PaintedItem::kText;
  POINT at = dev::on_screen(*c, x, y);
  item.rect = {at.x, at.y, at.x, at.y};
  item.colour = c->text;
  item.text = dev::to_utf8(std::u16string(text, count));
  c->items.push_back(item);
  return TRUE;
}

BOOL WINAPI Polyline(HDC dc, const POINT* points, int count) {
  DEVICE_CALL_POINT("Polyline");
  dev::PaintContext* c = dev::context_of(dc, "Polyline");
  if (c == nullptr || points == nullptr || count < 2) return FALSE;
  dev::PaintedItem item;
  item.kind = dev::PaintedItem::kLine;
  item.colour = RGB(0, 0, 0);  // the context's pen: the stock black pen
  for (int i = 0; i < count; ++i)
    item.points.push_back(dev::on_screen(*c, points[i].x, points[i].y));
  c->items.push_back(item);
  return TRUE;
}

}  // extern "C"
