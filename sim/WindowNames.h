// The scenario's own names for the windows it placed. The log names a window by its class and
// handle ("VexoriList:0x20004"), which scripts read; what a person reads names it as the
// scenario did ("list").
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace sim {

class WindowNames {
 public:
  // The window of this handle was placed as `label`.
  void name(uintptr_t handle, const std::string& label);
  // The label of a window the log names, or "" for a window the scenario did not place.
  std::string label(const std::string& window) const;
  // The label where there is one, else the log's own name.
  std::string shown(const std::string& window) const;

 private:
  std::map<uintptr_t, std::string> labels_;  // a destroyed window keeps its name
};

}  // namespace sim
