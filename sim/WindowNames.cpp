#include "WindowNames.h"

#include <cstdlib>

namespace sim {

void WindowNames::name(uintptr_t handle, const std::string& label) {
  labels_[handle] = label;
}

std::string WindowNames::label(const std::string& window) const {
  size_t colon = window.rfind(':');
  if (colon == std::string::npos || window.compare(colon + 1, 2, "0x") != 0) return "";
  char* end = nullptr;
  const char* digits = window.c_str() + colon + 1;
  unsigned long long handle = std::strtoull(digits, &end, 16);
  if (end == digits || *end != '\0') return "";
  auto it = labels_.find(static_cast<uintptr_t>(handle));
  return it == labels_.end() ? "" : it->second;
}

std::string WindowNames::shown(const std::string& window) const {
  std::string l = label(window);
  return l.empty() ? window : l;
}

}  // namespace sim
