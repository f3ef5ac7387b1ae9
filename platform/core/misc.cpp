// Power manager, screen metrics, the kernel debug print, 16-bit string routines, and the log.
#include <fmt/format.h>
#include <pm.h>
#include <regext.h>

#include <algorithm>
#include <charconv>
#include <set>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "kernel.hpp"

namespace dev {

void append_utf8(std::string& out, std::u16string_view s) {
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
    }
    if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

std::string to_utf8(const std::u16string& s) {
  std::string out;
  out.reserve(s.size());
  append_utf8(out, s);
  return out;
}

std::string to_utf8(const WCHAR* s) {
  std::string out;
  if (s != nullptr) append_utf8(out, std::u16string_view(s));
  return out;
}

size_t first_bad_utf8(const std::string& text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  for (size_t i = 0; i < n;) {
    unsigned char b = s[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t len = b >= 0xC2 && b <= 0xDF   ? 2
                 : b >= 0xE0 && b <= 0xEF ? 3
                 : b >= 0xF0 && b <= 0xF4 ? 4
                                          : 0;
    if (len == 0 || i + len > n) return i;
    // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
    unsigned char lo = 0x80, hi = 0xBF;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
    if (s[i + 1] < lo || s[i + 1] > hi) return i;
    for (size_t k = 2; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return i;
    }
    i += len;
  }
  return std::string::npos;
}

std::u16string to_utf16(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    uint32_t c;
    size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 1;
    if (len == 1) {
      c = b < 0x80 ? b : 0xFFFD;
    } else if (i + len > s.size()) {
      c = 0xFFFD;
      len = 1;
    } else {
      c = b & (0xFF >> (len + 1));
      for (size_t k = 1; k < len; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

// ---- Log ------------------------------------------------------------------------------------

namespace {
std::string field_text(const Fields& v) {
  if (v.is_string()) {
    auto s = v.get<std::string>();
    return s.find_first_of(" \"=") == std::string::npos && !s.empty() ? s : Fields(s).dump();
  }
  return v.dump();
}
}  // namespace

std::string LogEntry::text() const {
  std::string out = fmt::format("[{:>8} ms] {:<11} {:<10} {:<14}", time, process, thread, kind);
  for (auto& [k, v] : fields.items()) out += fmt::format(" {}={}", k, field_text(v));
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string LogEntry::str(const std::string& key) const {
  auto it = fields.find(key);
  if (it == fields.end()) return "";
  return it->is_string() ? it->get<std::string>() : it->dump();
}

int64_t LogEntry::num(const std::string& key) const {
  auto it = fields.find(key);
  return it == fields.end() || !it->is_number() ? 0 : it->get<int64_t>();
}

namespace {
// The host's own addresses (the system's objects on the host heap) lie above the device's 32-bit
// range; a log that printed them would differ from run to run.
bool is_host_address(const std::string& s, uintptr_t* address) {
  if (s.size() < 11 || s.size() > 14 || s.compare(0, 2, "0x") != 0) return false;
  if (s.find_first_not_of("0123456789abcdef", 2) != std::string::npos) return false;
  *address = static_cast<uintptr_t>(std::stoull(s, nullptr, 16));
  return *address > 0xFFFFFFFFu;
}
}  // namespace

void EventLog::add(LogEntry entry) {
  if (!enabled) return;
  for (auto& [key, value] : entry.fields.items()) {
    uintptr_t address = 0;
    if (!value.is_string() || !is_host_address(value.get<std::string>(), &address)) continue;
    auto [it, added] = aliases_.emplace(address, "mem#" + std::to_string(aliases_.size() + 1));
    value = it->second;
  }
  entry.seq = next_seq_++;
  ++counts_[entry.kind];
  if (!keep) {
    if (on_entry) on_entry(entry);
    return;
  }
  entries_.push_back(std::move(entry));
  if (on_entry) on_entry(entries_.back());
}

uintptr_t EventLog::address(const std::string& alias) const {
  for (const auto& [address, name] : aliases_) {
    if (name == alias) return address;
  }
  return 0;
}

std::vector<LogEntry> EventLog::of_kind(const std::string& kind) const {
  std::vector<LogEntry> out;
  for (const auto& e : entries_) {
    if (e.kind == kind) out.push_back(e);
  }
  return out;
}

size_t EventLog::count(const std::string& kind) const {
  auto it = counts_.find(kind);
  return it == counts_.end() ? 0 : it->second;
}

std::string to_text(const std::vector<LogEntry>& entries) {
  std::string out;
  for (const auto& e : entries) out += e.text() + "\n";
  return out;
}

std::string to_jsonl(const std::vector<LogEntry>& entries) {
  std::string out;
  for (const auto& e : entries) out += e.json() + "\n";
  return out;
}

std::string EventLog::text() const {
  return to_text(entries_);
}

std::string EventLog::jsonl() const {
  return to_jsonl(entries_);
}

bool is_log_kind(const std::string& kind) {
  static const std::set<std::string> kKinds = {"app-close",
                                               "app-command",
                                               "app-received",
                                               "bad-handle",
                                               "bad-view",
                                               "boot",
                                               "browser",
                                               "call-failed",
                                               "call-refused",
                                               "control",
                                               "debug",
                                               "debug-zones",
                                               "dialog",
                                               "dialog-end",
                                               "display-change",
                                               "driver-deinit",
                                               "driver-deinit-failed",
                                               "driver-failed",
                                               "driver-loaded",
                                               "event-data",
                                               "foreground",
                                               "frame-painted",
                                               "help-viewer",
                                               "kernel",
                                               "menu-bar",
                                               "message-box",
                                               "module-attach-failed",
                                               "module-bad",
                                               "module-load",
                                               "module-missing",
                                               "module-unload",
                                               "note",
                                               "panel",
                                               "panel-dropped",
                                               "post",
                                               "post-refused",
                                               "power-notify",
                                               "power-state",
                                               "preempted",
                                               "process-end",
                                               "process-start",
                                               "reg-delete",
                                               "reg-flush",
                                               "reg-load",
                                               "reg-notify",
                                               "reg-write",
                                               "sample",
                                               "schedule",
                                               "scroll-pos",
                                               "section",
                                               "send",
                                               "send-answer",
                                               "shell",
                                               "sound",
                                               "stream-call",
                                               "thread-exit",
                                               "thread-start",
                                               "timer-killed",
                                               "timer-set",
                                               "touch-call",
                                               "touch-driver",
                                               "touch-driver-failed",
                                               "touch-enabled",
                                               "user",
                                               "window-created",
                                               "window-destroyed",
                                               "window-resized",
                                               "window-shown"};
  return kKinds.count(kind) > 0;
}

void log_event(const std::string& kind, Fields fields) {
  auto& d = impl();
  if (!d.log.enabled) return;
  Thread* t = d.current();
  LogEntry e;
  e.time = d.clock;
  e.tick = static_cast<uint32_t>(d.config.boot_tick + d.clock);
  e.process = t->process->name;
  e.thread = t->name;
  e.kind = kind;
  e.fields = std::move(fields);
  d.log.add(std::move(e));
}

bool log_on() {
  return impl().log.enabled;
}

// ---- Debug zones ----------------------------------------------------------------------------

std::u16string zones_name(const DBGPARAM* zones) {
  // The name may fill its array; it need not end in a zero.
  const WCHAR* name = zones->lpszName;
  return std::u16string(name, std::find(name, name + std::size(zones->lpszName), u'\0'));
}

bool zones_from_registry(DBGPARAM* zones) {
  std::u16string value = zones_name(zones);
  DWORD mask = 0;
  if (value.empty() ||
      FAILED(RegistryGetDWORD(HKEY_LOCAL_MACHINE, u"DebugZones", value.c_str(), &mask))) {
    return false;
  }
  zones->ulZoneMask = mask;
  return true;
}

// ---- Power and panel ------------------------------------------------------------------------

void Device::set_power_state(const std::u16string& name, uint32_t flags, uint32_t error) {
  impl_->power_name = name;
  impl_->power_flags = flags;
  impl_->power_error = error;
  log_event("power-state", dev::fields("name", to_utf8(name), "flags", hex(flags), "error", error));
}

}  // namespace dev

using dev::impl;

// ---- 16-bit string routines ---------------------------------------------------------------

size_t wcslen(const WCHAR* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

int wcscmp(const WCHAR* a, const WCHAR* b) {
  return wcsncmp(a, b, SIZE_MAX);
}

int wcsncmp(const WCHAR* a, const WCHAR* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    if (a[i] == 0) return 0;
  }
  return 0;
}

static WCHAR lower(WCHAR c) {
  return c >= u'A' && c <= u'Z' ? static_cast<WCHAR>(c + 32) : c;
}

int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    WCHAR x = lower(a[i]);
    WCHAR y = lower(b[i]);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
  return 0;
}

int _wcsicmp(const WCHAR* a, const WCHAR* b) {
  return _wcsnicmp(a, b, SIZE_MAX);
}

WCHAR* wcscpy(WCHAR* dst, const WCHAR* src) {
  size_t i = 0;
  do {
    dst[i] = src[i];
  } while (src[i++] != 0);
  return dst;
}

WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t n) {
  size_t i = 0;
  for (; i < n && src[i] != 0; ++i) dst[i] = src[i];
  for (; i < n; ++i) dst[i] = 0;
  return dst;
}

WCHAR* wcscat(WCHAR* dst, const WCHAR* src) {
  wcscpy(dst + wcslen(dst), src);
  return dst;
}

const WCHAR* wcsstr(const WCHAR* hay, const WCHAR* needle) {
  size_t n = wcslen(needle);
  for (; *hay != 0; ++hay) {
    if (wcsncmp(hay, needle, n) == 0) return hay;
  }
  return n == 0 ? hay : nullptr;
}

// ---- Platform calls -------------------------------------------------------------------------

namespace {

// Formats a debug-print format of 16-bit text; %s and %ls take 16-bit strings, %hs and %S
// 8-bit ones; numeric conversions follow printf, with ll or I64 for 64-bit numbers. The text
// between conversions is copied as it is converted, with no copy of the whole format first: a
// busy device prints thousands of lines.
std::string format_debug(LPCWSTR fmt, va_list ap) {
  std::u16string_view f(fmt);
  std::string out;
  out.reserve(f.size() + 32);
  auto is_flag = [](char16_t ch) {
    return ch < 0x80 && ch != 0 && std::strchr("-+ #0123456789.", static_cast<char>(ch));
  };
  auto is_mod = [](char16_t ch) { return ch == u'h' || ch == u'l' || ch == u'I'; };
  size_t i = 0;
  while (i < f.size()) {
    size_t start = f.find(u'%', i);
    if (start == std::u16string_view::npos) start = f.size();
    dev::append_utf8(out, f.substr(i, start - i));
    if (start == f.size()) break;
    i = start + 1;
    while (i < f.size() && is_flag(f[i])) ++i;
    // The conversion as printf takes it: '%' and its flags, all of them ASCII.
    std::string spec;
    for (size_t k = start; k < i; ++k) spec += static_cast<char>(f[k]);
    size_t mods_at = i;
    while (i < f.size() && is_mod(f[i])) ++i;
    if (f.substr(mods_at, i - mods_at) == u"I" && f.substr(i, 2) == u"64") i += 2;
    if (i >= f.size()) break;
    std::u16string_view mods = f.substr(mods_at, i - mods_at);
    char16_t conv = f[i++];
    char buf[128];
    switch (conv) {
      case u'%':
        out += '%';
        break;
      case u's':
        if (mods == u"h") {
          const char* s = va_arg(ap, const char*);
          out += s ? s : "(null)";
        } else {
          const WCHAR* s = va_arg(ap, const WCHAR*);
          if (s) {
            dev::append_utf8(out, std::u16string_view(s));
          } else {
            out += "(null)";
          }
        }
        break;
      case u'S': {
        const char* s = va_arg(ap, const char*);
        out += s ? s : "(null)";
        break;
      }
      case u'c':
        out += static_cast<char>(va_arg(ap, int));
        break;
      case u'p':
        std::snprintf(buf, sizeof buf, "%p", va_arg(ap, void*));
        out += buf;
        break;
      case u'd':
      case u'i':
      case u'u':
      case u'x':
      case u'X':
        if (spec.size() == 1 && mods.empty()) {
          // Without flags or a width, as printf writes it; printf itself is costly, and a
          // debug print's numbers are mostly plain.
          int v = va_arg(ap, int);
          char* end = buf;
          if (conv == u'd' || conv == u'i') {
            end = std::to_chars(buf, buf + sizeof buf, v).ptr;
          } else {
            auto u = static_cast<unsigned>(v);
            end = std::to_chars(buf, buf + sizeof buf, u, conv == u'u' ? 10 : 16).ptr;
            if (conv == u'X')
              std::transform(buf, end, buf, [](char ch) {
                return ch >= 'a' ? static_cast<char>(ch - 'a' + 'A') : ch;
              });
          }
          *end = 0;
        } else if (mods == u"ll" || mods == u"I64") {
          spec += "ll";
          spec += static_cast<char>(conv);
          std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(ap, long long));
        } else {
          spec += static_cast<char>(conv);
          std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(ap, int));
        }
        out += buf;
        break;
      default:
        dev::append_utf8(out, f.substr(start, i - start));
    }
  }
  return out;
}

}  // namespace

extern "C" {

void NKDbgPrintfW(LPCWSTR fmt, ...) {
  DEVICE_CALL_POINT("NKDbgPrintfW");
  // The text goes nowhere but the log.
  if (fmt == nullptr || !dev::log_on()) return;
  va_list ap;
  va_start(ap, fmt);
  std::string text = format_debug(fmt, ap);
  va_end(ap);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  dev::log_event("debug", dev::fields("text", std::move(text)));
}

int _snwprintf(WCHAR* out, size_t count, const WCHAR* fmt, ...) {
  if (out == nullptr || fmt == nullptr) return -1;
  va_list ap;
  va_start(ap, fmt);
  std::u16string text = dev::to_utf16(format_debug(fmt, ap));
  va_end(ap);
  // As the C library's: no terminator when the text fills the count, -1 when it is cut short.
  size_t n = std::min(text.size(), count);
  std::copy(text.begin(), text.begin() + static_cast<long>(n), out);
  if (n < count) out[n] = 0;
  return text.size() > count ? -1 : static_cast<int>(text.size());
}

BOOL RegisterDbgZones(HMODULE, LPDBGPARAM p) {
  if (p == nullptr) return FALSE;
  dev::zones_from_registry(p);
  dev::log_event("debug-zones", dev::fields("name", dev::to_utf8(dev::zones_name(p)), "mask",
                                            dev::hex(p->ulZoneMask)));
  return TRUE;
}

DWORD WINAPI GetSystemPowerState(LPWSTR buf, DWORD chars, PDWORD flags) {
  DEVICE_CALL_POINT("GetSystemPowerState");
  auto& d = impl();
  if (d.power_error != 0) {
    // What a platform may leave there: code that ignores the result sees every state at once.
    if (flags != nullptr) *flags = 0xFFFFFFFFu;
    return d.power_error;
  }
  if (buf != nullptr && chars > 0) {
    size_t n = std::min<size_t>(d.power_name.size(), chars - 1);
    std::copy(d.power_name.begin(), d.power_name.begin() + static_cast<long>(n), buf);
    buf[n] = 0;
  }
  if (flags != nullptr) *flags = d.power_flags;
  return ERROR_SUCCESS;
}

BOOL WINAPI PowerPolicyNotify(DWORD message, DWORD data) {
  DEVICE_CALL_POINT("PowerPolicyNotify");
  if (dev::log_on()) dev::log_event("power-notify", dev::fields("message", message, "data", data));
  return TRUE;
}

int WINAPI GetSystemMetrics(int index) {
  DEVICE_CALL_POINT("GetSystemMetrics");
  auto& d = impl();
  bool turned = d.display_angle == 90 || d.display_angle == 270;
  int w = turned ? d.config.screen.height : d.config.screen.width;
  int h = turned ? d.config.screen.width : d.config.screen.height;
  switch (index) {
    case SM_CXSCREEN:
      return w;
    case SM_CYSCREEN:
      return h;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
      return d.config.screen.dpi * 13 / 96;
    case SM_CYCAPTION:
      // A full-screen dialog's caption is drawn in the task bar, as high as the bar.
      return dev::bar_height();
    default:
      return 0;
  }
}

}  // extern "C"
