// Registry files in the format platform builders use:
//
//   REGEDIT4                                  (optional header)
//   ; comment
//   [HKEY_LOCAL_MACHINE\Software\Quob\Gesture]
//   "Activate"=dword:00000001
//   "DriverName"="Pallux.dll"
//   "Obsolete"=-                              (deletes the value)
//   @="default value"
//
// A file is checked whole before any of it is applied; an error names the file and the line.
#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "device/file_stamp.hpp"
#include "kept_libraries.hpp"
#include "kernel.hpp"

namespace dev {
namespace {

struct RegLine {
  int line;
  std::string key;  // set for key lines
  bool has_value = false;
  std::string name;
  bool remove = false;
  DWORD type = REG_NONE;
  uint32_t dword = 0;
  std::string text;
};

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// Reads a quoted string starting at s[pos] == '"'; advances pos past the closing quote.
bool read_quoted(const std::string& s, size_t& pos, std::string& out) {
  out.clear();
  for (++pos; pos < s.size(); ++pos) {
    char c = s[pos];
    if (c == '\\') {
      if (++pos >= s.size()) return false;
      char e = s[pos];
      if (e == 'n') {
        out += '\n';
      } else if (e == '\\' || e == '"') {
        out += e;
      } else {
        return false;
      }
    } else if (c == '"') {
      ++pos;
      return true;
    } else {
      out += c;
    }
  }
  return false;
}

RegLine parse_value(const std::string& file, int n, const std::string& s) {
  RegLine r;
  r.line = n;
  r.has_value = true;
  size_t pos = 0;
  if (s[0] == '@') {
    pos = 1;
  } else if (!read_quoted(s, pos, r.name)) {
    throw InputError(file, n, "unterminated value name");
  }
  std::string rest = trim(s.substr(pos));
  if (rest.empty() || rest[0] != '=')
    throw InputError(file, n, "expected '=' after the value name");
  rest = trim(rest.substr(1));
  if (rest == "-") {
    r.remove = true;
  } else if (!rest.empty() && rest[0] == '"') {
    size_t p = 0;
    if (!read_quoted(rest, p, r.text)) throw InputError(file, n, "unterminated string value");
    if (!trim(rest.substr(p)).empty()) throw InputError(file, n, "text after the string value");
    r.type = REG_SZ;
  } else if (rest.rfind("dword:", 0) == 0) {
    std::string digits = trim(rest.substr(6));
    if (digits.empty() || digits.size() > 8 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      throw InputError(file, n, "dword needs 1 to 8 hexadecimal digits: " + digits);
    }
    r.dword = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
    r.type = REG_DWORD;
  } else {
    throw InputError(file, n,
                     "unsupported value data (use \"text\", dword:XXXXXXXX or -): " + rest);
  }
  return r;
}

std::vector<RegLine> parse(const std::string& file, std::istream& in) {
  std::vector<RegLine> lines;
  std::string raw;
  int n = 0;
  bool have_key = false;
  while (std::getline(in, raw)) {
    ++n;
    if (n == 1 && raw.rfind("\xEF\xBB\xBF", 0) == 0) raw = raw.substr(3);
    std::string s = trim(raw);
    if (s.empty() || s[0] == ';') continue;
    if (n == 1 && (s == "REGEDIT4" || s.rfind("Windows Registry Editor", 0) == 0)) continue;
    if (s[0] == '[') {
      if (s.back() != ']') throw InputError(file, n, "key line must end with ']'");
      RegLine r;
      r.line = n;
      r.key = trim(s.substr(1, s.size() - 2));
      if (r.key.empty() || r.key[0] == '-') throw InputError(file, n, "empty or deleted key");
      auto root = r.key.substr(0, r.key.find('\\'));
      static const char* roots[] = {"HKEY_LOCAL_MACHINE",
                                    "HKEY_CURRENT_USER",
                                    "HKEY_CLASSES_ROOT",
                                    "HKEY_USERS",
                                    "HKLM",
                                    "HKCU",
                                    "HKCR",
                                    "HKU"};
      bool known = false;
      for (const char* k : roots) known = known || strcasecmp(root.c_str(), k) == 0;
      if (!known) throw InputError(file, n, "unknown registry root: " + root);
      lines.push_back(r);
      have_key = true;
      continue;
    }
    if (s[0] != '"' && s[0] != '@') throw InputError(file, n, "expected [key], \"name\"=data or ;");
    if (!have_key) throw InputError(file, n, "value before any [key] line");
    lines.push_back(parse_value(file, n, s));
  }
  return lines;
}

// Far above any registry file a device is built with; /dev/zero named by mistake is refused
// before it takes the memory.
const size_t kMaxRegFileBytes = size_t{32} << 20;

// The whole text of a .reg file, checked to be one and UTF-8.
std::string read_text(const std::string& path);

// A device boots from the same few .reg files again and again in one process (a worker of a
// replay boots one per stroke): the lines of a file's text are parsed once and kept, and a file
// whose text is the same as when it was kept gives those lines again. A file whose stamp is the
// one it had then (device/file_stamp.hpp) is not even read again. Only a file parsed without fault
// is kept; VEXORI_FRESH_LIBRARIES reads and parses every file afresh.
struct KeptRegFile {
  FileStamp stamp;
  bool stamped = false;
  std::string text;
  std::vector<RegLine> lines;
};

std::vector<RegLine> read(const std::string& path) {
  static std::map<std::string, KeptRegFile> kept;
  if (!keeping_libraries()) {
    std::istringstream in(read_text(path));
    return parse(path, in);
  }
  FileStamp stamp;
  bool stamped = file_stamp(path, &stamp) && stamp.regular();
  auto it = kept.find(path);
  if (stamped && it != kept.end() && it->second.stamped && it->second.stamp == stamp)
    return it->second.lines;
  std::string text = read_text(path);
  if (it != kept.end() && it->second.text == text) {
    it->second.stamp = stamp;
    it->second.stamped = stamped;
    return it->second.lines;
  }
  std::istringstream in(text);
  std::vector<RegLine> lines = parse(path, in);
  kept[path] = {stamp, stamped, std::move(text), lines};
  return lines;
}

std::string read_text(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec))
    throw InputError(path, 0, "is a directory, not a .reg file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path, 0, std::string("cannot open the file: ") + std::strerror(errno));
  std::string text;
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxRegFileBytes) {
      throw InputError(path, 0,
                       "is larger than " + std::to_string(kMaxRegFileBytes >> 20) +
                           " MB: too large for a .reg file");
    }
  }
  if (in.bad()) throw InputError(path, 0, "cannot read the file");
  size_t bad = first_bad_utf8(text);
  if (bad != std::string::npos) {
    int line =
        1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(bad), '\n'));
    throw InputError(path, line, "not valid UTF-8");
  }
  return text;
}

}  // namespace

void check_reg_file(const std::string& path) {
  read(path);
}

std::vector<RegFileValue> read_reg_file_values(const std::string& path) {
  std::vector<RegFileValue> out;
  std::string key;
  for (const auto& r : read(path)) {
    if (!r.has_value) {
      key = r.key;
      continue;
    }
    out.push_back({r.line, key, r.name, r.remove, r.type == REG_DWORD, r.dword, r.text});
  }
  return out;
}

void Device::load_reg_file(const std::string& path) {
  auto lines = read(path);
  Impl& d = *impl_;
  RegKey* key = nullptr;
  bool quiet = !d.booted;  // before boot the registry is only being laid down
  size_t values = 0;
  for (const auto& r : lines) {
    if (!r.has_value) {
      key = d.reg_host_key(r.key, true);
      continue;
    }
    auto name = to_utf16(r.name);
    if (r.remove) {
      d.reg_delete(key, name);
    } else if (r.type == REG_DWORD) {
      std::vector<BYTE> bytes(4);
      std::memcpy(bytes.data(), &r.dword, 4);
      d.reg_write(key, name, REG_DWORD, std::move(bytes), quiet);
    } else {
      auto wide = to_utf16(r.text);
      std::vector<BYTE> bytes((wide.size() + 1) * 2);
      std::memcpy(bytes.data(), wide.c_str(), bytes.size());
      d.reg_write(key, name, REG_SZ, std::move(bytes), quiet);
    }
    ++values;
  }
  log_event("reg-load",
            dev::fields("file", std::filesystem::path(path).filename().string(), "values", values));
}

}  // namespace dev
