#include "InputFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "OutputFile.h"
#include "device/device.hpp"

namespace sim {

std::string input_name(const std::string& path) {
  return path == kStandardInput ? "standard input" : path;
}

std::string read_input_file(const std::string& path, const std::string& what) {
  // open() says why a file cannot be had (missing, a loop of links, no permission); a directory
  // opens on this host and reads as nothing, so it is told apart first.
  bool standard = path == kStandardInput;
  const std::string name = input_name(path);
  int fd = standard ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  auto done = [&] {
    if (!standard) close(fd);
  };
  if (fd < 0) {
    throw dev::InputError(path, 0,
                          "cannot open the " + what + ": " + std::string(std::strerror(errno)));
  }
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    done();
    throw dev::InputError(name, 0, "is a directory, not a " + what);
  }
  // Read in pieces, never more than one past the bound: /dev/zero or a huge file is refused
  // before it takes the memory, and a pipe reads as it comes.
  std::string text;
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      done();
      throw dev::InputError(name, 0, "cannot read the " + what + ": " + std::strerror(err));
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > kMaxInputBytes) {
      done();
      throw dev::InputError(name, 0,
                            "is larger than " + std::to_string(kMaxInputBytes >> 20) +
                                " MB: too large for a " + what);
    }
  }
  done();
  // Standard input redirected from a file is that file: no output may replace it.
  note_input(standard ? "/dev/stdin" : path, name);
  return text;
}

size_t first_bad_utf8(const std::string& text) {
  return dev::first_bad_utf8(text);
}

int line_of(const std::string& text, size_t offset) {
  offset = std::min(offset, text.size());
  return 1 +
         static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(offset), '\n'));
}

int LineCounter::at(size_t offset) {
  offset = std::min(offset, text_.size());
  if (offset < offset_) {
    offset_ = 0;
    line_ = 1;
  }
  line_ += static_cast<int>(std::count(text_.begin() + static_cast<long>(offset_),
                                       text_.begin() + static_cast<long>(offset), '\n'));
  offset_ = offset;
  return line_;
}

}  // namespace sim
