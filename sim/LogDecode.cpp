#include "LogDecode.h"

#include <algorithm>
#include <cstdlib>

namespace sim {
namespace {

const char kRotationKey[] = "HKEY_LOCAL_MACHINE\\System\\GDI\\Rotation";
const uint32_t kWmVScroll = 0x115, kWmHScroll = 0x114;
const uint32_t kGestureMsg = 1274;  // a hand-over to the broker, a notification to an application

// The class of a window as the log names it, "CLASS:0xHANDLE", or as a scenario does,
// "class:CLASS".
std::string class_of(const std::string& window) {
  if (window.rfind("class:", 0) == 0) return window.substr(6);
  size_t colon = window.rfind(':');
  return colon == std::string::npos ? window : window.substr(0, colon);
}

// A field that holds a number, as a number or as hexadecimal text; false for anything else
// ("mem#1", a name).
bool number_of(const dev::Fields& v, uint64_t* out) {
  if (v.is_number_integer()) {
    *out = v.get<uint64_t>();
    return true;
  }
  if (!v.is_string()) return false;
  const std::string& s = v.get_ref<const std::string&>();
  if (s.empty()) return false;
  char* end = nullptr;
  *out = std::strtoull(s.c_str(), &end, 0);
  return end != nullptr && *end == '\0';
}

int floor_div4(int64_t v) {
  return static_cast<int>(v >= 0 ? v / 4 : -((-v + 3) / 4));
}

}  // namespace

std::string behaviour_meaning(int behaviour) {
  switch (behaviour) {
    case 100:
      return "scroll forward with momentum";
    case 101:
      return "scroll back with momentum";
    case 102:
      return "page navigation leftward";
    case 103:
      return "page navigation rightward";
    case 104:
      return "nothing";
    case 105:
      return "zoom level down";
    case 106:
      return "zoom level up";
    case 107:
      return "reload the settings";
    case 108:
      return "rotate between 270 and 0 degrees";
    case 110:
      return "rotate between 0 and 90 degrees";
    case 111:
      return "close the window in front";
    default:
      return "";
  }
}

std::string message_name(uint32_t msg, const std::string& target) {
  std::string cls = class_of(target);
  switch (msg) {
    case 0x0001:
      return "WM_CREATE";
    case 0x0002:
      return "WM_DESTROY";
    case 0x0005:
      return "WM_SIZE";
    case 0x0010:
      return "WM_CLOSE";
    case 0x0111:
      return "WM_COMMAND";
    case 0x0113:
      return "WM_TIMER";
    case kWmHScroll:
      return "WM_HSCROLL";
    case kWmVScroll:
      return "WM_VSCROLL";
    case kGestureMsg:
      if (cls == "MSGBROKER") return "hand-over";
      if (cls.rfind("GST_", 0) == 0) return "gesture notification";
      return "";
    case 1276:
      return "reset";
    case 1277:
      return "scrolling query";
    case 2457:
      return "gesture sample";
    default:
      return "";
  }
}

std::string scroll_code_name(bool vertical, uint32_t code) {
  static const char* const kVertical[] = {"SB_LINEUP",   "SB_LINEDOWN",      "SB_PAGEUP",
                                          "SB_PAGEDOWN", "SB_THUMBPOSITION", "SB_THUMBTRACK",
                                          "SB_TOP",      "SB_BOTTOM",        "SB_ENDSCROLL"};
  static const char* const kHorizontal[] = {"SB_LINELEFT",  "SB_LINERIGHT",     "SB_PAGELEFT",
                                            "SB_PAGERIGHT", "SB_THUMBPOSITION", "SB_THUMBTRACK",
                                            "SB_LEFT",      "SB_RIGHT",         "SB_ENDSCROLL"};
  if (code >= 9) return "";
  return vertical ? kVertical[code] : kHorizontal[code];
}

LogDecoder::LogDecoder(int panel_width, int panel_height, uint32_t angle)
    : wide_(std::max(panel_width, panel_height)),
      narrow_(std::min(panel_width, panel_height)),
      angle_(angle) {}

void LogDecoder::to_screen(int px, int py, int* sx, int* sy) const {
  // The proxy's own mapping, with the screen's size made to agree with the angle.
  if (angle_ == 90) {
    *sx = wide_ - py;
    *sy = px;
  } else if (angle_ == 270) {
    *sx = py;
    *sy = narrow_ - px;
  } else {
    *sx = px;
    *sy = py;
  }
}

bool LogDecoder::adds_to(const dev::LogEntry& e) {
  return e.kind == "panel" || e.kind == "post" || e.kind == "send" || e.kind == "app-received" ||
         e.kind == "send-answer";
}

const dev::LogEntry& LogDecoder::decoded(const dev::LogEntry& e, dev::LogEntry& copy) {
  if (!adds_to(e)) {
    // A write of the rotation's angle adds no field; the decoder only follows it, so the entry
    // is read where it is (a boot logs hundreds of writes).
    if (e.kind == "reg-write") follow_angle(e);
    return e;
  }
  copy = e;
  decode(copy);
  return copy;
}

const dev::LogEntry& LogDecoder::decode(dev::LogEntry& e) {
  if (e.kind == "panel") {
    int sx = 0, sy = 0;
    to_screen(floor_div4(e.num("x")), floor_div4(e.num("y")), &sx, &sy);
    e.fields["screen_x"] = sx;
    e.fields["screen_y"] = sy;
  } else if (e.kind == "reg-write") {
    follow_angle(e);
  } else if (e.kind == "post" || e.kind == "send" || e.kind == "app-received" ||
             e.kind == "send-answer") {
    decode_message(e);
  }
  return e;
}

void LogDecoder::follow_angle(const dev::LogEntry& e) {
  if (e.str("key") == kRotationKey && e.str("value") == "Angle")
    angle_ = static_cast<uint32_t>(e.num("data"));
}

void LogDecoder::decode_message(dev::LogEntry& e) const {
  const dev::Fields& f = e.fields;
  std::string target = e.str(f.contains("window") ? "window" : "target");
  uint64_t msg = 0, wp = 0, lp = 0;
  if (!f.contains("msg")) return;
  if (f["msg"].is_string() && !number_of(f["msg"], &msg)) {
    // Named by the window system already: the name's number, for what follows.
    std::string named = f["msg"].get<std::string>();
    msg = named == "WM_VSCROLL" ? kWmVScroll : named == "WM_HSCROLL" ? kWmHScroll : 0;
  } else {
    number_of(f["msg"], &msg);
    std::string name = message_name(static_cast<uint32_t>(msg), target);
    if (!name.empty()) e.fields["name"] = name;
  }
  bool has_wp = f.contains("wParam") && number_of(f["wParam"], &wp);
  bool has_lp = f.contains("lParam") && number_of(f["lParam"], &lp);
  if ((msg == kWmVScroll || msg == kWmHScroll) && has_wp) {
    uint32_t code = wp & 0xFFFF;
    std::string name = scroll_code_name(msg == kWmVScroll, code);
    if (!name.empty()) e.fields["code"] = name;
    if (code == 4 || code == 5) e.fields["thumb"] = (wp >> 16) & 0xFFFF;
  } else if (msg == kGestureMsg && class_of(target).rfind("GST_", 0) == 0 && has_wp && has_lp) {
    int behaviour = static_cast<int>(wp & 0xFFFF);
    e.fields["behaviour"] = behaviour;
    std::string meaning = behaviour_meaning(behaviour);
    if (!meaning.empty()) e.fields["meaning"] = meaning;
    e.fields["length"] = static_cast<int16_t>((wp >> 16) & 0xFFFF);
    e.fields["down_x"] = static_cast<int16_t>(lp & 0xFFFF);
    e.fields["down_y"] = static_cast<int16_t>((lp >> 16) & 0xFFFF);
  }
}

}  // namespace sim
