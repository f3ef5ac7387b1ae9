// Who may drive the server: only pages and scripts on this machine, by the names it answers to.
// A page elsewhere that a browser here opened must not reach it (its requests carry a foreign
// Origin), nor one that resolves its own name to this machine (a foreign Host).
#pragma once

#include <string>

namespace sim::serve {

// Why a request with these Host and Origin headers ("" when absent) is refused by a server
// listening on `bind` at `port`; "" when it is let in. Host must be localhost, 127.0.0.1, [::1]
// or the address bound, with the port; Origin, when present, the page's own: http:// and a Host
// that is let in.
std::string refusal(const std::string& host, const std::string& origin, const std::string& bind,
                    int port);

}  // namespace sim::serve
