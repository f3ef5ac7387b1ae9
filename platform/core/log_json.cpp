// An entry as one line of JSON, written straight from its fields.
//
// The line is the one the JSON library prints for the object of the entry's columns followed by
// its fields, byte for byte: no spaces, non-ASCII text as it is, control characters escaped in
// lower-case hexadecimal. Writing it directly spares the copy of every field into a new object
// and the library's serializer, which together cost more than everything else of a dense run.
// What the direct writer does not take on (fields that are not an object, a field whose own
// name starts with "field_", text that is not UTF-8) goes through the library as before, so that
// such an entry prints, or fails, as it always did.
#include <fmt/format.h>

#include <string_view>

#include "device/device.hpp"
#include "device/log.hpp"

namespace dev {

namespace {

const char* const kColumns[] = {"t", "tick", "process", "thread", "kind"};
const std::string_view kRenamed = "field_";

bool is_column(const std::string& key) {
  for (const char* c : kColumns) {
    if (key == c) return true;
  }
  return false;
}

// Appends s quoted and escaped; false (and out unfinished) when s is not UTF-8.
bool put_string(std::string& out, const std::string& s) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  size_t from = 0;
  bool checked = false;
  for (size_t i = 0; i < s.size(); ++i) {
    auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      if (!checked && first_bad_utf8(s) != std::string::npos) return false;
      checked = true;
      continue;
    }
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(s, from, i - from);
    from = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default: {
        const char code[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out.append(code, sizeof code);
      }
    }
  }
  out.append(s, from, std::string::npos);
  out += '"';
  return true;
}

bool put_value(std::string& out, const Fields& v) {
  switch (v.type()) {
    case Fields::value_t::string:
      return put_string(out, v.get_ref<const std::string&>());
    case Fields::value_t::number_integer:
      out += fmt::format_int(v.get<int64_t>()).c_str();
      return true;
    case Fields::value_t::number_unsigned:
      out += fmt::format_int(v.get<uint64_t>()).c_str();
      return true;
    case Fields::value_t::boolean:
      out += v.get<bool>() ? "true" : "false";
      return true;
    case Fields::value_t::null:
      out += "null";
      return true;
    case Fields::value_t::array: {
      out += '[';
      bool first = true;
      for (const auto& item : v) {
        if (!first) out += ',';
        first = false;
        if (!put_value(out, item)) return false;
      }
      out += ']';
      return true;
    }
    case Fields::value_t::object: {
      out += '{';
      bool first = true;
      for (const auto& [key, item] : v.items()) {
        if (!first) out += ',';
        first = false;
        if (!put_string(out, key)) return false;
        out += ':';
        if (!put_value(out, item)) return false;
      }
      out += '}';
      return true;
    }
    default:
      // Floating-point numbers, with the library's shortest round-trip digits.
      out += v.dump();
      return true;
  }
}

// The line written directly; false when the entry needs the library's way.
bool put_entry(std::string& out, const LogEntry& e) {
  if (!e.fields.is_object()) return false;
  out += "{\"t\":";
  out += fmt::format_int(e.time).c_str();
  out += ",\"tick\":";
  out += fmt::format_int(e.tick).c_str();
  out += ",\"process\":";
  if (!put_string(out, e.process)) return false;
  out += ",\"thread\":";
  if (!put_string(out, e.thread)) return false;
  out += ",\"kind\":";
  if (!put_string(out, e.kind)) return false;
  for (const auto& [key, value] : e.fields.items()) {
    // A renamed field could meet one of that name; the library's way settles which stays.
    if (std::string_view(key).substr(0, kRenamed.size()) == kRenamed) return false;
    out += ',';
    if (is_column(key)) {
      out += '"';
      out += kRenamed;
      out += key;
      out += '"';
    } else if (!put_string(out, key)) {
      return false;
    }
    out += ':';
    if (!put_value(out, value)) return false;
  }
  out += '}';
  return true;
}

}  // namespace

std::string LogEntry::json() const {
  std::string out;
  out.reserve(160);
  if (!put_entry(out, *this)) return json_tree();
  return out;
}

std::string LogEntry::json_tree() const {
  Fields j;
  j["t"] = time;
  j["tick"] = tick;
  j["process"] = process;
  j["thread"] = thread;
  j["kind"] = kind;
  // A field named like one of the entry's columns ("process" of process-start) must not replace
  // the column: it keeps its value under "field_<name>".
  for (auto& [k, v] : fields.items()) j[j.contains(k) ? "field_" + k : k] = v;
  return j.dump();
}

}  // namespace dev
