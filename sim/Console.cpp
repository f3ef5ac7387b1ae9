#include "Console.h"

#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>

#include "OutputFile.h"
#include "device/device.hpp"

namespace sim {

void end_on_write_failure(const std::string& what, int errno_value) {
  // Device threads may find the failure at the same moment: one of them ends the program.
  static std::mutex ending;
  ending.lock();
  dev::remove_device_folders();
  remove_unfinished_outputs();
  if (errno_value == EPIPE) {
    std::signal(SIGPIPE, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(SIGPIPE);
  }
  std::string text = "vexori-sim: " + what +
                     ": cannot be written: " + std::strerror(errno_value == 0 ? EIO : errno_value) +
                     "\n";
  ssize_t ignored = write(STDERR_FILENO, text.data(), text.size());
  (void)ignored;
  _exit(kExitWriteFailed);
}

void check_stdout() {
  if (std::cout.good()) return;
  int err = errno;
  // errno may have moved on since the write that failed: a pipe whose reader has gone shows an
  // error condition to poll.
  struct stat st {};
  pollfd fd{STDOUT_FILENO, POLLOUT, 0};
  if (err != EPIPE && fstat(STDOUT_FILENO, &st) == 0 && S_ISFIFO(st.st_mode) &&
      poll(&fd, 1, 0) == 1 && (fd.revents & POLLERR) != 0)
    err = EPIPE;
  end_on_write_failure("standard output", err);
}

void flush_stdout() {
  std::cout.flush();
  check_stdout();
}

}  // namespace sim
