// The device's event log: everything the outside world would see, with device time, process and
// thread, in the order it happened.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace dev {

using Fields = nlohmann::ordered_json;

struct LogEntry {
  uint64_t seq = 0;
  uint64_t time = 0;  // ms since boot
  uint32_t tick = 0;  // GetTickCount at that moment
  std::string process;
  std::string thread;
  std::string kind;
  Fields fields = Fields::object();

  // One line of text: time, process/thread, kind, then key=value pairs.
  std::string text() const;
  // One JSON object, for JSON Lines output: the columns, then the fields in their order, a field
  // named like a column as "field_<name>".
  std::string json() const;
  // The same line built through the JSON library, as json() was; json() falls back to it for
  // what it does not write itself.
  std::string json_tree() const;
  // A field as text ("" when absent), and as a number (0 when absent or not a number).
  std::string str(const std::string& key) const;
  int64_t num(const std::string& key) const;
};

class EventLog {
 public:
  void add(LogEntry entry);
  const std::vector<LogEntry>& entries() const { return entries_; }
  std::vector<LogEntry> of_kind(const std::string& kind) const;
  size_t count(const std::string& kind) const;
  std::string text() const;
  std::string jsonl() const;
  void clear() {
    entries_.clear();
    counts_.clear();
  }
  // While false, entries are dropped (benchmarks switch the log off).
  bool enabled = true;
  // While false, entries reach on_entry and the counts but are not kept, so that a long run's
  // memory stays flat (the simulator streams them out as they come).
  bool keep = true;
  // Called for each entry as it is added (the simulator prints live with it). It may add to an
  // entry that is not kept, which ends with the call; a kept entry it leaves as it is.
  std::function<void(LogEntry&)> on_entry;
  // Host addresses appear in entries as "mem#1", "mem#2"... in order of first appearance, so that
  // a run's log is the same every time; this gives the address behind such a name (0 if none).
  uintptr_t address(const std::string& alias) const;

 private:
  std::map<uintptr_t, std::string> aliases_;
  std::vector<LogEntry> entries_;
  std::map<std::string, size_t> counts_;  // entries by kind, kept or not
  uint64_t next_seq_ = 0;
};

// Entries as text, one line each, and as JSON Lines.
std::string to_text(const std::vector<LogEntry>& entries);
std::string to_jsonl(const std::vector<LogEntry>& entries);

// True for the kinds of entry the device and the simulator make; an expectation about any other
// kind could never be met or missed.
bool is_log_kind(const std::string& kind);

// A number in hexadecimal with 0x, as the log shows flags and handles.
std::string hex(uint64_t v);

// Adds an entry stamped with the calling device thread's time, process and thread.
void log_event(const std::string& kind, Fields fields = Fields::object());

namespace detail {
inline void put_fields(Fields::object_t&) {}
template <typename Value, typename... Rest>
void put_fields(Fields::object_t& object, const char* key, Value&& value, Rest&&... rest) {
  object.emplace_back(key, Fields(std::forward<Value>(value)));
  put_fields(object, std::forward<Rest>(rest)...);
}
}  // namespace detail

// The fields of an entry, names and values in turn and each name once: fields("x", 1, "y", 2)
// is the object {{"x", 1}, {"y", 2}} built straight, without the copies of a list of pairs that
// the JSON library makes first. For the entries a device makes at every sample.
template <typename... NamesAndValues>
Fields fields(NamesAndValues&&... names_and_values) {
  static_assert(sizeof...(names_and_values) % 2 == 0, "a name and a value for each field");
  Fields f = Fields::object();
  auto& object = f.get_ref<Fields::object_t&>();
  // With room for two more: a reader of the log adds its own (the simulator gives each panel
  // sample its screen position), and growing the object would copy every field.
  object.reserve(sizeof...(names_and_values) / 2 + 2);
  detail::put_fields(object, std::forward<NamesAndValues>(names_and_values)...);
  return f;
}

// False while the log is off, when log_event drops every entry: code on a hot path asks first and
// spares itself building fields that nobody would read.
bool log_on();

}  // namespace dev
