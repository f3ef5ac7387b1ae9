// Messages between the server and a tab's worker over a socket: a header line "WORD LENGTH\n"
// and LENGTH bytes of body (any bytes: JSON, a PNG), so a body needs no escaping.
#pragma once

#include <string>

namespace sim::serve {

struct Frame {
  std::string word;  // the request's operation, or the answer's HTTP status
  std::string body;
};

// The largest body either side takes: a kept scenario or log of a long session.
const size_t kMaxFrameBody = 256u << 20;

bool write_frame(int fd, const Frame& f);

// Reads frames from one descriptor; false at its end, on a malformed header, or when no whole
// frame came within `wait_ms` (-1: no bound), which `timed_out` then tells.
class FrameReader {
 public:
  explicit FrameReader(int fd) : fd_(fd) {}
  bool read(Frame* f, int wait_ms = -1);
  bool timed_out() const { return timed_out_; }

 private:
  bool fill(int wait_ms);
  bool timed_out_ = false;
  int fd_;
  std::string buffer_;
};

}  // namespace sim::serve
