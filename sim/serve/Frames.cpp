#include "Frames.h"

#include <unistd.h>

#include <cerrno>
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

bool FrameReader::fill() {
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
    return true;
  }
}

bool FrameReader::read(Frame* f) {
  size_t nl;
  while ((nl = buffer_.find('\n')) == std::string::npos) {
    if (buffer_.size() > 256 || !fill()) return false;
  }
  std::string header = buffer_.substr(0, nl);
  size_t space = header.find(' ');
  if (space == std::string::npos) return false;
  char* end = nullptr;
  unsigned long long length = std::strtoull(header.c_str() + space + 1, &end, 10);
  if (end == header.c_str() + space + 1 || *end != '\0' || length > kMaxFrameBody) return false;
  buffer_.erase(0, nl + 1);
  while (buffer_.size() < length) {
    if (!fill()) return false;
  }
  f->word = header.substr(0, space);
  f->body = buffer_.substr(0, length);
  buffer_.erase(0, length);
  return true;
}

}  // namespace sim::serve
