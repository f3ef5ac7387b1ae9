#include "RequestChecks.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace sim::serve {
namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The address bound, when it is a name the Host may carry besides the loopback ones.
std::string bound_name(const std::string& bind) {
  if (bind.empty() || bind == "0.0.0.0" || bind == "::" || bind == "127.0.0.1" || bind == "::1" ||
      lower(bind) == "localhost")
    return "";
  return bind.find(':') != std::string::npos && bind.front() != '[' ? "[" + bind + "]" : bind;
}

std::string extra_name(const std::string& bind) {
  return bound_name(bind).empty() ? "" : " and " + bound_name(bind);
}

bool host_allowed(const std::string& host, const std::string& bind, int port) {
  std::vector<std::string> names = {"localhost", "127.0.0.1", "[::1]"};
  if (!bound_name(bind).empty()) names.push_back(bound_name(bind));
  std::string h = lower(host);
  return std::any_of(names.begin(), names.end(), [&](const std::string& n) {
    return h == fmt::format("{}:{}", lower(n), port);
  });
}

}  // namespace

std::string refusal(const std::string& host, const std::string& origin, const std::string& bind,
                    int port) {
  if (host.empty()) return "the request has no Host header";
  if (!host_allowed(host, bind, port))
    return fmt::format(
        "Host '{0}' is not this server's: it answers to localhost:{1}, "
        "127.0.0.1:{1}, [::1]:{1}{2}",
        host, port, extra_name(bind));
  const std::string scheme = "http://";
  if (!origin.empty() && (lower(origin).rfind(scheme, 0) != 0 ||
                          !host_allowed(origin.substr(scheme.size()), bind, port)))
    return fmt::format("Origin '{}' is not this server's page", origin);
  return "";
}

}  // namespace sim::serve
