#include "LineWords.h"

#include <algorithm>

#include "device/device.hpp"

namespace sim {

std::vector<std::string> tokens(const std::string& line, const std::string& file, int n) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      size_t end = line.find('"', i + 1);
      if (end == std::string::npos) throw dev::InputError(file, n, "unterminated quoted text");
      out.push_back(line.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      size_t end = line.find_first_of(" \t\r#", i);
      if (end == std::string::npos) end = line.size();
      out.push_back(line.substr(i, end - i));
      i = end;
    }
  }
  return out;
}

long long number(const Line& c, size_t i, long long lo, long long hi, const std::string& file) {
  const std::string& s = c.args.at(i);
  size_t used = 0;
  long long v = 0;
  // Decimal, or hexadecimal with 0x; a leading zero does not make a number octal.
  size_t sign = !s.empty() && (s[0] == '-' || s[0] == '+') ? 1 : 0;
  bool hex = s.compare(sign, 2, "0x") == 0 || s.compare(sign, 2, "0X") == 0;
  try {
    v = std::stoll(s, &used, hex ? 16 : 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != s.size() || s.empty()) {
    throw dev::InputError(
        file, c.line,
        "'" + s + "' is not a number (argument " + std::to_string(i + 1) + " of " + c.verb + ")");
  }
  if (v < lo || v > hi) {
    throw dev::InputError(file, c.line,
                          "'" + s + "' is out of range for " + c.verb + " (" + std::to_string(lo) +
                              " to " + std::to_string(hi) + ")");
  }
  return v;
}

std::map<std::string, long long> options(const Line& c, size_t from,
                                         const std::vector<std::string>& allowed,
                                         const std::string& file) {
  std::map<std::string, long long> out;
  for (size_t i = from; i < c.args.size(); i += 2) {
    const std::string& key = c.args[i];
    if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
      throw dev::InputError(file, c.line, "unknown option '" + key + "' for " + c.verb);
    }
    if (i + 1 >= c.args.size())
      throw dev::InputError(file, c.line, "option '" + key + "' needs a value");
    if (out.count(key)) throw dev::InputError(file, c.line, "option '" + key + "' is given twice");
    // A sample period is whole milliseconds: 1000 Hz is as fast as the panel goes.
    bool rate = key == "rate";
    out[key] = number(c, i + 1, rate ? 1 : 0, rate ? 1000 : 1000000, file);
  }
  return out;
}

std::optional<uint32_t> option(const std::map<std::string, long long>& o, const char* key) {
  auto it = o.find(key);
  if (it == o.end()) return std::nullopt;
  return static_cast<uint32_t>(it->second);
}

}  // namespace sim
