#include "ProgramStory.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

namespace sim {
namespace {

// The device's own processes; any other is a program a scenario started.
bool is_device_process(const std::string& name) {
  return name == "device.exe" || name == "gwes.exe" || name == "apps.exe";
}

// The gesture system's settings live under this key and its subkeys.
bool is_gesture_key(std::string key) {
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::string root = "hkey_local_machine\\software\\quob";
  return key.compare(0, root.size(), root) == 0 &&
         (key.size() == root.size() || key[root.size()] == '\\');
}

std::string stamped(const dev::LogEntry& e, const char* kind, const std::string& text) {
  return fmt::format("[{:>8} ms] {:<8} {}", e.time, kind, text);
}

// The writer of an entry: the scenario itself writes as the host.
std::string who(const dev::LogEntry& e) {
  return e.process == "host" ? "the scenario" : e.process;
}

}  // namespace

std::string ProgramStory::line(const dev::LogEntry& e) {
  const std::string& k = e.kind;
  if (k == "user") return stamped(e, "user", e.str("did"));
  if (k == "reg-write" && is_gesture_key(e.str("key"))) {
    std::string key = e.str("key"), data = e.str("data");
    // A string in quotes; a number, or what the log says of other data ("<8 bytes of type 3>"),
    // as it is.
    if (e.fields.contains("data") && e.fields["data"].is_string() && data.rfind('<', 0) != 0)
      data = e.fields["data"].dump();
    std::string text = fmt::format("{} wrote {} = {} in {}", who(e), e.str("value"), data,
                                   key.substr(key.rfind('\\') + 1));
    if (e.fields.value("unchanged", false)) text += " (as it was)";
    return stamped(e, "setting", text);
  }
  if (k == "reg-delete" && is_gesture_key(e.str("key")))
    return stamped(e, "setting", fmt::format("{} deleted {}", who(e), e.str("value")));
  if ((k == "process-start" || k == "process-end") && !is_device_process(e.str("name"))) {
    std::string text = e.str("name");
    if (k == "process-end") return stamped(e, "program", text + " ended with " + e.str("code"));
    std::string command_line = e.str("command_line");
    return stamped(e, "program",
                   text + " started" + (command_line.empty() ? "" : " with " + command_line));
  }
  if (is_device_process(e.process) || e.process == "host") return "";
  if (k == "dialog") {
    captions_[e.str("window")] = e.str("caption");
    message_boxes_[e.str("window")] = false;
    return stamped(e, "program",
                   fmt::format("{} opened the dialog \"{}\"", e.process, e.str("caption")));
  }
  if (k == "message-box") {
    captions_[e.str("window")] = e.str("caption");
    message_boxes_[e.str("window")] = true;
    return stamped(e, "program",
                   fmt::format("{} shows the message box \"{}\": {}", e.process, e.str("caption"),
                               e.str("text")));
  }
  if (k == "dialog-end") {
    std::string window = e.str("window");
    std::string caption = captions_.count(window) ? captions_[window] : window;
    if (message_boxes_[window])
      return stamped(e, "program", fmt::format("the message box \"{}\" was answered", caption));
    return stamped(e, "program",
                   fmt::format("the dialog \"{}\" ended with {}", caption, e.str("result")));
  }
  if (k == "control" && e.fields.contains("check")) {
    return stamped(
        e, "program",
        fmt::format("switch {} {}", e.str("id"), e.num("check") == 0 ? "not ticked" : "ticked"));
  }
  return "";
}

}  // namespace sim
