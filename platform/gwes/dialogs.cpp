// Dialogs from binary templates: DialogBoxIndirectParamW builds the dialog and its controls and
// runs it modally until EndDialog; their dialog units become pixels with the base units of the
// template's font on this screen.
//
// A template (DLGTEMPLATE) is the dialog's style, extended style, control count and rectangle,
// then its menu, class and caption (each a string or 0xFFFF and an ordinal), with DS_SETFONT the
// font's point size and name; then each control, aligned to four bytes: style, extended style,
// rectangle, id, class, text and the size of its creation data.
#include <fmt/format.h>

#include <algorithm>

#include "../core/kernel.hpp"

namespace dev {
namespace {

// Base units of the dialog font, 8 point "MS Shell Dlg", at 96 dots per inch: a dialog unit is a
// quarter of the average character width across and an eighth of the character height down.
const int kBaseUnitX96 = 6;
const int kBaseUnitY96 = 13;
const int kDpiBase = 96;
const WORD kOrdinalMark = 0xFFFF;
const WORD kExtendedSignature = 0xFFFF;

struct ControlTemplate {
  DWORD style = 0, ex_style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  WORD id = 0;
  std::u16string cls, text;
  WORD text_ordinal = 0;
};

struct DialogTemplate {
  DWORD style = 0, ex_style = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::u16string caption, font;
  WORD point_size = 0;
  std::vector<ControlTemplate> controls;
};

// Reads a template's words within [p, end); every read is checked.
class Reader {
 public:
  Reader(const BYTE* begin, const BYTE* end) : begin_(begin), p_(begin), end_(end) {}
  bool ok() const { return ok_; }
  WORD word() {
    if (end_ - p_ < 2) return fail16();
    WORD v = read16(p_);
    p_ += 2;
    return v;
  }
  DWORD dword() { return word() | (static_cast<DWORD>(word()) << 16); }
  short shortv() { return static_cast<short>(word()); }
  // A string or an ordinal; the ordinal goes to `ordinal`.
  std::u16string name(WORD* ordinal = nullptr) {
    std::u16string s;
    WORD first = word();
    if (first == kOrdinalMark) {
      WORD n = word();
      if (ordinal != nullptr) *ordinal = n;
      return s;
    }
    for (WORD c = first; ok_ && c != 0; c = word()) s.push_back(static_cast<char16_t>(c));
    return s;
  }
  void align4() {
    while ((p_ - begin_) % 4 != 0 && p_ < end_) ++p_;
  }
  void skip(size_t n) {
    if (static_cast<size_t>(end_ - p_) < n) ok_ = false;
    p_ += std::min(n, static_cast<size_t>(end_ - p_));
  }

 private:
  WORD fail16() {
    ok_ = false;
    return 0;
  }
  const BYTE* begin_;
  const BYTE* p_;
  const BYTE* end_;
  bool ok_ = true;
};

// The window class a control's class atom names.
std::u16string class_of_atom(WORD atom) {
  switch (atom) {
    case 0x0080:
      return u"BUTTON";
    case 0x0081:
      return u"EDIT";
    case 0x0082:
      return u"STATIC";
    case 0x0083:
      return u"LISTBOX";
    case 0x0084:
      return u"SCROLLBAR";
    default:
      return u"COMBOBOX";
  }
}

bool parse(const BYTE* begin, const BYTE* end, DialogTemplate* t) {
  Reader r(begin, end);
  bool extended = read16(begin + 2) == kExtendedSignature && read16(begin) == 1;
  WORD count = 0;
  if (extended) {
    r.skip(4);  // version and signature
    r.dword();  // help id
    t->ex_style = r.dword();
    t->style = r.dword();
  } else {
    t->style = r.dword();
    t->ex_style = r.dword();
  }
  count = r.word();
  t->x = r.shortv();
  t->y = r.shortv();
  t->cx = r.shortv();
  t->cy = r.shortv();
  r.name();  // menu
  r.name();  // class
  t->caption = r.name();
  if (t->style & DS_SETFONT) {
    t->point_size = r.word();
    if (extended) r.skip(4);  // weight, italic, character set
    t->font = r.name();
  }
  for (WORD i = 0; i < count && r.ok(); ++i) {
    ControlTemplate c;
    r.align4();
    if (extended) {
      r.dword();  // help id
      c.ex_style = r.dword();
      c.style = r.dword();
    } else {
      c.style = r.dword();
      c.ex_style = r.dword();
    }
    c.x = r.shortv();
    c.y = r.shortv();
    c.cx = r.shortv();
    c.cy = r.shortv();
    c.id = extended ? static_cast<WORD>(r.dword()) : r.word();
    WORD atom = 0;
    c.cls = r.name(&atom);
    if (c.cls.empty()) c.cls = class_of_atom(atom);
    std::transform(c.cls.begin(), c.cls.end(), c.cls.begin(), [](char16_t ch) {
      return ch >= u'a' && ch <= u'z' ? static_cast<char16_t>(ch - 32) : ch;
    });
    c.text = r.name(&c.text_ordinal);
    r.skip(r.word());  // creation data
    t->controls.push_back(c);
  }
  return r.ok();
}

int base_x() {
  return kBaseUnitX96 * impl().config.screen.dpi / kDpiBase;
}
int base_y() {
  return kBaseUnitY96 * impl().config.screen.dpi / kDpiBase;
}
RECT to_pixels(short x, short y, short cx, short cy) {
  LONG left = x * base_x() / 4, top = y * base_y() / 8;
  return {left, top, left + cx * base_x() / 4, top + cy * base_y() / 8};
}

// A static bitmap control shows a bitmap of the dialog's module: the packed DIB of the resource.
void load_bitmap(Window* control, HINSTANCE instance, WORD id) {
  HRSRC found = FindResourceW(instance, MAKEINTRESOURCE(id), RT_BITMAP);
  if (found == nullptr) return;
  auto data = static_cast<const BYTE*>(LoadResource(instance, found));
  control->bitmap.assign(data, data + SizeofResource(instance, found));
}

HWND build(HINSTANCE instance, const DialogTemplate& t, HWND owner, DLGPROC proc) {
  RECT r = to_pixels(t.x, t.y, t.cx, t.cy);
  Window* dialog = create_dialog_window(t.ex_style, t.style, t.caption, r, owner);
  if (dialog == nullptr) return nullptr;
  dialog->dialog->proc = proc;
  HWND h = reinterpret_cast<HWND>(dialog->handle);
  for (const ControlTemplate& c : t.controls) {
    RECT cr = to_pixels(c.x, c.y, c.cx, c.cy);
    HWND made =
        CreateWindowExW(c.ex_style, c.cls.c_str(), c.text.c_str(), c.style | WS_CHILD, cr.left,
                        cr.top, cr.right - cr.left, cr.bottom - cr.top, h,
                        reinterpret_cast<HMENU>(static_cast<uintptr_t>(c.id)), instance, nullptr);
    Window* control = window_of(made);
    if (control == nullptr) continue;
    // Kept in template order, the first control first.
    auto& list = dialog->children;
    list.erase(std::remove(list.begin(), list.end(), control), list.end());
    list.push_back(control);
    if ((c.style & SS_TYPEMASK) == SS_BITMAP && c.cls == u"STATIC" && c.text.empty()) {
      load_bitmap(control, instance, c.text_ordinal);
    }
  }
  return h;
}

}  // namespace

Window* create_dialog_window(DWORD ex_style, DWORD style, const std::u16string& caption,
                             const RECT& rect, HWND owner) {
  register_system_classes();
  HWND h = CreateWindowExW(ex_style, kDialogClass, caption.c_str(),
                           style & ~static_cast<DWORD>(WS_VISIBLE | WS_CHILD), rect.left, rect.top,
                           rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                           nullptr, nullptr);
  Window* w = window_of(h);
  if (w == nullptr) return nullptr;
  w->owner = owner ? window_of(owner) : nullptr;
  w->dialog = std::make_unique<DialogState>();
  return w;
}

void modal_loop(HWND dialog) {
  MSG msg;
  for (;;) {
    Window* w = window_of(dialog);
    if (w == nullptr || w->dialog == nullptr || w->dialog->ended) return;
    if (!GetMessageW(&msg, nullptr, 0, 0)) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    DispatchMessageW(&msg);
  }
}

void finish_dialog(HWND dialog, INT_PTR result, uintptr_t foreground_before) {
  auto& d = impl();
  if (Window* w = window_of(dialog)) {
    log_event("dialog-end",
              dev::fields("window", window_name(w), "result", static_cast<int64_t>(result)));
    DestroyWindow(dialog);
  }
  auto before = d.windows.find(foreground_before);
  if (d.foreground == nullptr && before != d.windows.end()) {
    SetForegroundWindow(reinterpret_cast<HWND>(before->first));
  }
}

}  // namespace dev

using dev::impl;

extern "C" {

INT_PTR WINAPI DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dialog_template,
                                       HWND owner, DLGPROC proc, LPARAM param) {
  DEVICE_CALL_POINT("DialogBoxIndirectParamW");
  auto& d = impl();
  if (dialog_template == nullptr || proc == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  // A template in a module's resources is read no further than its resource goes.
  auto begin = reinterpret_cast<const BYTE*>(dialog_template);
  const BYTE* data = nullptr;
  DWORD size = 0;
  const size_t kUnboundedTemplate = 0x10000;
  const BYTE* end =
      dev::resource_holding(begin, &data, &size) ? data + size : begin + kUnboundedTemplate;
  dev::DialogTemplate t;
  if (end - begin < 18 || !dev::parse(begin, end, &t)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  uintptr_t before = d.foreground ? d.foreground->handle : 0;
  HWND dialog = dev::build(instance, t, owner, proc);
  if (dialog == nullptr) return -1;
  dev::log_event("dialog", dev::fields("window", dev::window_name(dev::window_of(dialog)),
                                       "caption", dev::to_utf8(t.caption), "owner",
                                       dev::window_name(owner ? dev::window_of(owner) : nullptr),
                                       "controls", t.controls.size()));
  SendMessageW(dialog, WM_INITDIALOG, 0, param);
  dev::Window* w = dev::window_of(dialog);
  if (w != nullptr && !w->dialog->ended) {
    ShowWindow(dialog, SW_SHOW);
    SetForegroundWindow(dialog);
    dev::modal_loop(dialog);
  }
  w = dev::window_of(dialog);
  INT_PTR result = w != nullptr && w->dialog->ended ? w->dialog->result : 0;
  dev::finish_dialog(dialog, result, before);
  return result;
}

BOOL WINAPI EndDialog(HWND h, INT_PTR result) {
  DEVICE_CALL_POINT("EndDialog");
  dev::Window* w = dev::window_of(h, "EndDialog");
  if (w == nullptr || w->dialog == nullptr) return FALSE;
  w->dialog->ended = true;
  w->dialog->result = result;
  return TRUE;
}

}  // extern "C"
