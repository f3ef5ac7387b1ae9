#include "Script.h"

#include <fmt/format.h>

namespace fuzz {
namespace {

const char kGesture[] = "HKLM\\Software\\Quob\\Gesture";
const char kRotation[] = "HKLM\\System\\GDI\\Rotation";
const char kHandOver[] = "HKLM\\Software\\Quob\\Gesture\\HandOver";

// Pixels valid in both orientations of the 240 x 320 screen.
const int kSide = 240;

const char kTextAlphabet[] = "0123456789 abcxyzABC_-.\\/:%";

}  // namespace

const Setting kProxySettings[] = {
    {kGesture, "LongPressTime"},  {kGesture, "ShortPressTime"}, {kGesture, "ShortTappingMax"},
    {kGesture, "LongTappingMax"}, {kGesture, "Activate"},       {kRotation, "Angle"},
    {kHandOver, "Source"},
};
const size_t kProxySettingCount = sizeof(kProxySettings) / sizeof(kProxySettings[0]);

const Setting kAllSettings[] = {
    {kGesture, "LongPressTime"},
    {kGesture, "ShortPressTime"},
    {kGesture, "ShortTappingMax"},
    {kGesture, "LongTappingMax"},
    {kGesture, "Activate"},
    {kRotation, "Angle"},
    {kHandOver, "Source"},
    {kGesture, "GRIDSIZE"},
    {kGesture, "PGRIDSIZE"},
    {kGesture, "NOISESIZE"},
    {kGesture, "Sound"},
    {kGesture, "Bound1"},
    {kGesture, "Bound2"},
    {kGesture, "FilterValue"},
    {kGesture, "FilterDistance"},
    {kGesture, "Amp"},
    {kGesture, "PanTime"},
    {kGesture, "LenThres"},
    {kGesture, "IgnoreCount"},
    {kGesture, "LastUpCount"},
    {kGesture, "Rotation"},
    {kGesture, "ScrollLimit"},
    {kGesture, "Default"},
    {"HKCU\\Software\\Microsoft\\Internet Explorer\\Main", "ZoomSetting"},
    {"HKLM\\SOFTWARE\\QUOB", "ODM_AP"},
    {"HKLM\\DebugZones", "QUOBUpdater"},
    {"HKLM\\HARDWARE\\DEVICEMAP\\TOUCH", "DriverName.bk"},
};
const size_t kAllSettingCount = sizeof(kAllSettings) / sizeof(kAllSettings[0]);

uint32_t interesting_word(Bytes& in) {
  static const uint32_t kWords[] = {0,          1,   2,       0xFFFFFFFF, 0x7FFFFFFF, 20,
                                    250,        500, 90,      180,        270,        360,
                                    0x80000000, 10,  0x10000, 4,          0xFFFFFFFE, 100};
  uint8_t how = in.byte();
  if (how < 200) return kWords[how % (sizeof(kWords) / sizeof(kWords[0]))];
  if (how < 230) return in.byte();
  return in.u32();
}

void Script::setup(Bytes& in) {
  uint8_t b = in.byte();
  // The gesture function on, as the settings program leaves it, unless the input says otherwise.
  if ((b & 3) == 0) line(fmt::format("preset {} Activate dword 0", kGesture));
  if ((b & 3) != 1 && (b & 3) != 0) line(fmt::format("preset {} Activate dword 1", kGesture));
  if (b & 4) line("boot-tick 4294967000");
  if ((b & 0x18) == 0x08) line("broker off");
  if ((b & 0x18) == 0x10) line(fmt::format("broker late {}", 100 + in.byte() * 10));
  if (b & 0x20) line(fmt::format("preset {} Angle dword {}", kRotation, (b & 0x40) ? 90 : 270));
  if ((b & 0xC0) == 0xC0) line(fmt::format("fail CreateThread {}", 1 + in.byte() % 3));
}

void Script::layout(Bytes& in) {
  auto place = [&](const std::string& label, const std::string& rest) {
    line(fmt::format("window {} {}", label, rest));
  };
  switch (in.byte() % 9) {
    case 0:
      place("list", "list 0 26 240 268 lines 400 page 12");
      labels_ = {"list"};
      break;
    case 1:
      place("app", "aware 0 26 240 268");
      labels_ = {"app"};
      break;
    case 2:
      place("plain", "plain 0 26 240 268");
      labels_ = {"plain"};
      break;
    case 3:
      place("ie", "browser 0 0 240 294 pages 5 at 3");
      place("view", "view 0 26 240 268 parent ie lines 2000");
      labels_ = {"ie"};
      break;
    case 4:
      place("list", "list 0 26 240 268 lines 400 page 12");
      place("sip", "sip 0 214 240 80");
      labels_ = {"list", "sip"};
      sip_ = true;
      break;
    case 5:
      place("opera", "opera 0 26 240 268");
      place("list", "list 0 26 240 268 lines 400 page 12");
      labels_ = {"list", "opera"};
      break;
    case 6:
      place("list", "list 0 26 240 268 lines 400 page 12 ink 1");
      labels_ = {"list"};
      break;
    case 7:
      place("list", "list 0 26 120 268 lines 400 page 12");
      place("app", "aware 120 26 120 268");
      labels_ = {"list", "app"};
      break;
    default:
      return;  // nothing on the screen but the desktop
  }
  line("foreground " + labels_.front());
  line("wait 100");
}

void Script::sample(Bytes& in) {
  uint8_t f = in.byte();
  uint32_t flags = (f & 0xF0) == 0xF0 ? in.u32() : f & 0x0F;
  auto coord = [&](int span) {
    uint16_t v = in.u16();
    if (v & 0x8000) return static_cast<int>(v % 16383) - 8191;  // anywhere the panel can report
    return static_cast<int>(v % (span * 4));
  };
  int x = coord(240), y = coord(320);
  line(fmt::format("sample {:#x} {} {}", flags, x, y));
  line(fmt::format("wait {}", in.byte() % 40));
}

void Script::stroke(Bytes& in) {
  auto at = [&] { return in.byte() % kSide; };
  unsigned kind = in.byte() % 4, ms = 1 + in.u16() % 1200;
  if (kind == 0) {
    int x = at(), y = at();
    line(fmt::format("tap {} {} hold {}", x, y, ms % 700));
  } else if (kind == 1) {
    int x1 = at(), y1 = at(), x2 = at(), y2 = at();
    line(fmt::format("flick {} {} {} {} {}", x1, y1, x2, y2, ms % 400 + 1));
  } else if (kind == 2) {
    int x1 = at(), y1 = at(), x2 = at(), y2 = at();
    unsigned rest = in.u16() % 1200, settle = in.byte() % 40;
    line(fmt::format("drag {} {} {} {} {} rest {} settle {}", x1, y1, x2, y2, ms, rest, settle));
  } else {
    int x1 = at(), y1 = at(), x2 = at(), y2 = at(), x3 = at(), y3 = at();
    line(fmt::format("stroke {} {} {} {} {} {} {} rate {}", x1, y1, x2, y2, x3, y3, ms,
                     20 + in.byte() % 200));
  }
  line(fmt::format("wait {}", in.u16() % 2000));
}

void Script::wait(Bytes& in) {
  uint8_t b = in.byte();
  line(fmt::format("wait {}", b < 240 ? b * 4 : in.u16()));
}

void Script::change(Bytes& in, const Setting* settings, size_t count) {
  const Setting& s = settings[in.below(static_cast<uint32_t>(count))];
  uint8_t how = in.byte() % 8;
  if (how < 5) {
    line(fmt::format("reg \"{}\" \"{}\" dword {}", s.key, s.name, interesting_word(in)));
  } else if (how < 7) {
    line(fmt::format("reg-delete \"{}\" \"{}\"", s.key, s.name));
  } else {
    line(fmt::format("reg \"{}\" \"{}\" string \"{}\"", s.key, s.name, in.text(12, kTextAlphabet)));
  }
}

void Script::power(Bytes& in) {
  static const uint32_t kStates[] = {0x00010000, 0x00100000, 0x00400000, 0, 0x00200000, 0x00500000};
  static const char* const kNames[] = {"on", "idle", "unattended", "", "suspend", "mixed"};
  unsigned i = in.byte() % 7;
  uint32_t flags = i < 6 ? kStates[i] : in.u32();
  std::string name = i < 6 ? kNames[i] : "any";
  if (name.empty()) name = "none";
  if (in.byte() % 8 == 0) {
    line(fmt::format("power {} {:#x} fail {}", name, flags, 1 + in.byte()));
  } else {
    line(fmt::format("power {} {:#x}", name, flags));
  }
}

void Script::window(Bytes& in) {
  if (labels_.empty()) return;
  uint8_t b = in.byte();
  if (sip_ && (b & 1)) {
    line(b & 2 ? "show sip" : "hide sip");
    return;
  }
  line("foreground " + labels_[b % labels_.size()]);
}

std::string Script::finish() {
  line("wait 12000");
  return text_;
}

}  // namespace fuzz
