// Every value the system reads from the registry, of any type and any length, in place before the
// device starts; changes while it runs; window class names of any text; and the settings program
// opened, ticked, confirmed and closed over them.
#include <fmt/format.h>
#include <windows.h>

#include "Script.h"
#include "SystemFuzz.h"

namespace fuzz {

namespace {

const int kMaxSteps = 100;
const uint32_t kRegNone = 0, kRegSz = 1, kRegBinary = 3, kRegDword = 4;

struct RawValue {
  const Setting* setting;
  bool remove;
  uint32_t type;
  std::vector<uint8_t> data;
};

std::vector<uint8_t> utf16(const std::string& s, bool terminated) {
  std::vector<uint8_t> out;
  for (unsigned char c : s) {
    out.push_back(c);
    out.push_back(0);
  }
  if (terminated) out.insert(out.end(), {0, 0});
  return out;
}

// What a careless or hostile writer may leave in a value: missing, a DWORD of any word or of the
// wrong size, a string with or without its end, odd bytes, binary, a type of no meaning.
bool raw_value(Bytes& in, const Setting& s, RawValue* v) {
  static const char* const kNames[] = {
      "touch.dll",  "TOUCH.DLL",  "touchalt.dll",         "",   "nosuch.dll",
      "Pallux.dll", "Quenza.dll", "\\Windows\\touch.dll", "..", "Corvane.exe"};
  uint8_t how = in.byte() % 12;
  if (how < 4) return false;  // as the installation left it
  *v = {&s, how == 4, kRegDword, {}};
  if (how == 5) {
    uint32_t w = interesting_word(in);
    for (int i = 0; i < 4; ++i) v->data.push_back(static_cast<uint8_t>(w >> (8 * i)));
  } else if (how == 6) {
    v->type = kRegSz;
    bool name = std::string(s.name) == "DriverName.bk" && in.byte() % 2 == 0;
    std::string text = name ? in.pick(kNames) : in.text(20, "0123456789 abc_.\\-");
    v->data = utf16(text, in.byte() % 4 != 0);
  } else if (how == 7) {
    v->type = kRegSz;
    v->data = utf16(std::string(200 + in.byte() * 2, 'x'), true);  // past every name buffer
  } else {
    v->type = how == 8 ? kRegDword : how == 9 ? kRegBinary : how == 10 ? kRegNone : in.u32();
    size_t n = in.byte() % 9;
    for (size_t i = 0; i < n; ++i) v->data.push_back(in.byte());
  }
  return true;
}

// Writes (or deletes) the value as any writer on the device would, bytes as they are.
void write_raw(const RawValue& v) {
  std::string path = v.setting->key;
  size_t sep = path.find('\\');
  HKEY root = path.substr(0, sep) == "HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  std::u16string sub = dev::to_utf16(path.substr(sep + 1)), name = dev::to_utf16(v.setting->name);
  WCHAR no_class[] = u"";
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(root, sub.c_str(), 0, no_class, 0, 0, nullptr, &key, &disposition) !=
      ERROR_SUCCESS)
    return;
  if (v.remove) {
    RegDeleteValueW(key, name.c_str());
  } else {
    BYTE none = 0;
    RegSetValueExW(key, name.c_str(), 0, v.type, v.data.empty() ? &none : v.data.data(),
                   static_cast<DWORD>(v.data.size()));
  }
  RegCloseKey(key);
}

// Text of letters, spaces and marks, with '~' and '^' written as two- and three-byte UTF-8.
std::string name_text(Bytes& in, size_t most) {
  std::string out;
  for (char c : in.text(most, "_ABCXYZ09 .\\:~^")) {
    if (c == '~') {
      out += "\xC3\xA9";
    } else if (c == '^') {
      out += "\xE4\xB8\xAD";
    } else {
      out += c;
    }
  }
  return out;
}

// A window of any kind with a class name of any text, most often one the system looks for.
void odd_window(Bytes& in, Script& script, int n) {
  static const char* const kKinds[] = {"plain", "list", "aware", "view", "browser"};
  static const char* const kPrefixes[] = {
      "GST_", "PIEHTML", "IExplore",  "SipWndClass", "OperaMobileMain",
      "gst_", "",        "MSGBROKER", "VexoriList"};
  std::string cls = in.pick(kPrefixes);
  cls += in.byte() % 4 == 0 ? std::string(100 + in.byte() * 2, 'C') : name_text(in, 6);
  if (cls.empty()) cls = "_";
  std::string kind = in.pick(kKinds), title = name_text(in, 8);
  int x = in.byte() % 200, y = in.byte() % 280, w = 1 + in.byte() % 240, h = 1 + in.byte() % 300;
  script.line(fmt::format("window odd{} {} {} {} {} {} class \"{}\" title \"{}\"", n, kind, x, y, w,
                          h, cls, title));
}

void program(Bytes& in, Script& script) {
  switch (in.byte() % 6) {
    case 0:
      script.line("start Corvane.exe\ntick 1000\npress Done\nwait 300");
      break;
    case 1:
      script.line("start Corvane.exe\ntick 1001\npress Done\nwait 300");
      break;
    case 2:
      script.line(
          "start Corvane.exe\npress About\nwait 100\npress Done\nwait 100\nclose\nwait 100");
      break;
    case 3:
      script.line("start Corvane.exe\nhelp\nclose\nwait 100");
      break;
    case 4:
      script.line("start Corvane.exe\nclose\nwait 100");
      break;
    default:
      script.line("answer\nwait 100");
  }
}

}  // namespace

Verdict run_settings(const uint8_t* data, size_t size) {
  Bytes in(data, size);
  std::vector<RawValue> values;
  for (size_t i = 0; i < kAllSettingCount; ++i) {
    RawValue v;
    if (raw_value(in, kAllSettings[i], &v)) values.push_back(v);
  }
  Script script;
  script.setup(in);
  script.layout(in);
  int odd = 0;
  for (int step = 0; step < kMaxSteps && !in.empty(); ++step) {
    switch (in.byte() % 8) {
      case 0:
      case 1:
        script.stroke(in);
        break;
      case 2:
        script.sample(in);
        break;
      case 3:
      case 4:
        script.change(in, kAllSettings, kAllSettingCount);
        break;
      case 5:
        program(in, script);
        break;
      case 6:
        if (odd < 4) odd_window(in, script, odd++);
        break;
      default:
        script.wait(in);
    }
  }
  return play(script.finish(), [&](dev::Device&) {
    for (const RawValue& v : values) write_raw(v);
  });
}

}  // namespace fuzz
