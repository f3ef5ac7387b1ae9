#include "Frames.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cstdlib>

namespace sim::serve {

bool write_frame(int fd, const Frame& f) {
  std::string text = f.word + ' ' + std::to_string(f.body.size()) + '\n' + f.body;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool FrameReader::fill(int wait_ms) {
  char chunk[65536];
  for (;;) {
    if (wait_ms >= 0) {
      pollfd p{fd_, POLLIN, 0};
      int ready = ::poll(&p, 1, wait_ms);
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) timed_out_ = true;
      if (ready <= 0) return false;
    }
    ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
  }
}

bool FrameReader::read(Frame* f, int wait_ms) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
  timed_out_ = false;
  // What is left of the wait, for each read.
  auto left = [&] {
    if (wait_ms < 0) return -1;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(0, ms.count()));
  };
  size_t nl;
  while ((nl = buffer_.find('\n')) == std::string::npos) {
    if (buffer_.size() > 256 || !fill(left())) return false;
  }
  std::string header = buffer_.substr(0, nl);
  size_t space = header.find(' ');
  if (space == std::string::npos) return false;
  char* end = nullptr;
  unsigned long long length = std::strtoull(header.c_str() + space + 1, &end, 10);
  if (end == header.c_str() + space + 1 || *end != '\0' || length > kMaxFrameBody) return false;
  buffer_.erase(0, nl + 1);
  while (buffer_.size() < length) {
    if (!fill(left())) return false;
  }
  f->word = header.substr(0, space);
  f->body = buffer_.substr(0, length);
  buffer_.erase(0, length);
  return true;
}

}  // namespace sim::serve
