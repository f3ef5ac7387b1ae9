#include "Zygote.h"

#include <fmt/format.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sim::serve {
namespace {

// A request: the kind, a newline, the folder. An answer: "ok PID" with the worker's socket and
// process descriptor, or "error WHY".
const size_t kMaxMessage = 8192;

int pidfd_open(pid_t pid) {
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

// The forked worker: nothing of the zygote but its own socket, signals as a fresh program has
// them, and its folder as the temporary folder.
[[noreturn]] void start_worker(int fd, const std::string& folder, const std::string& kind,
                               const WorkerMain& main, pid_t zygote) {
  // A worker outlives no zygote, and the zygote no server, even one killed outright.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != zygote) _exit(0);
  if (fd != 3) {
    dup2(fd, 3);
    fd = 3;
  }
  close_range(4, ~0U, 0);
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = SIG_DFL;
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) {
    sigaction(sig, &sa, nullptr);
    sigaddset(&set, sig);
  }
  // A Ctrl-C reaches the whole process group; the server ends its workers itself.
  signal(SIGINT, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  setenv("TMPDIR", folder.c_str(), 1);
  main(fd, folder, kind);
  _exit(0);
}

void answer(int control, const std::string& text, const int* fds, size_t nfds) {
  msghdr msg{};
  iovec io{const_cast<char*>(text.data()), text.size()};
  msg.msg_iov = &io;
  msg.msg_iovlen = 1;
  alignas(cmsghdr) char space[CMSG_SPACE(2 * sizeof(int))];
  if (nfds > 0) {
    msg.msg_control = space;
    msg.msg_controllen = CMSG_SPACE(nfds * sizeof(int));
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(nfds * sizeof(int));
    std::memcpy(CMSG_DATA(c), fds, nfds * sizeof(int));
  }
  while (sendmsg(control, &msg, MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
}

// The zygote's life: one worker forked for each request, until the server's end of the socket
// closes.
[[noreturn]] void run_zygote(int control, const WorkerMain& main, pid_t server) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != server) _exit(0);
  // Its workers are reaped as they end; the server waits for them by their process descriptors.
  signal(SIGCHLD, SIG_IGN);
  signal(SIGINT, SIG_IGN);
  signal(SIGHUP, SIG_IGN);
  signal(SIGPIPE, SIG_IGN);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  signal(SIGTERM, SIG_DFL);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  std::string request(kMaxMessage, '\0');
  for (;;) {
    ssize_t n = recv(control, request.data(), request.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) _exit(0);
    std::string text = request.substr(0, static_cast<size_t>(n));
    size_t nl = text.find('\n');
    if (nl == std::string::npos) {
      answer(control, "error a malformed request", nullptr, 0);
      continue;
    }
    std::string kind = text.substr(0, nl), folder = text.substr(nl + 1);
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
      answer(control, std::string("error cannot make the socket: ") + std::strerror(errno), nullptr,
             0);
      continue;
    }
    pid_t self = getpid();
    pid_t pid = fork();
    if (pid == 0) {
      ::close(sv[0]);
      ::close(control);
      start_worker(sv[1], folder, kind, main, self);
    }
    int err = errno;
    ::close(sv[1]);
    int pidfd = pid > 0 ? pidfd_open(pid) : -1;
    if (pid > 0 && pidfd < 0) {
      err = errno;
      kill(pid, SIGKILL);
    }
    if (pidfd < 0) {
      answer(control, std::string("error cannot start the worker: ") + std::strerror(err), nullptr,
             0);
    } else {
      int fds[2] = {sv[0], pidfd};
      answer(control, fmt::format("ok {}", pid), fds, 2);
      ::close(pidfd);
    }
    ::close(sv[0]);
  }
}

}  // namespace

void kill_worker(const WorkerProcess& w) {
  if (w.pidfd >= 0) syscall(SYS_pidfd_send_signal, w.pidfd, SIGKILL, nullptr, 0);
}

void wait_worker(const WorkerProcess& w) {
  if (w.pidfd < 0) return;
  // The descriptor turns readable once the process has ended.
  pollfd p{w.pidfd, POLLIN, 0};
  while (poll(&p, 1, -1) < 0 && errno == EINTR) {
  }
}

void end_worker(WorkerProcess& w) {
  if (w.pidfd >= 0) {
    kill_worker(w);
    wait_worker(w);
    ::close(w.pidfd);
    w.pidfd = -1;
  }
  if (w.fd >= 0) {
    ::close(w.fd);
    w.fd = -1;
  }
  w.pid = -1;
}

Zygote::Zygote(WorkerMain main) {
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) {
    why_ = std::string("cannot make the zygote's socket: ") + std::strerror(errno);
    return;
  }
  pid_t server = getpid();
  pid_t pid = fork();
  if (pid == 0) {
    ::close(sv[0]);
    run_zygote(sv[1], main, server);
  }
  ::close(sv[1]);
  if (pid < 0) {
    why_ = std::string("cannot start the zygote: ") + std::strerror(errno);
    ::close(sv[0]);
    return;
  }
  pid_ = pid;
  control_ = sv[0];
}

void Zygote::end() {
  std::lock_guard<std::mutex> lk(lock_);
  if (pid_ <= 0) return;
  ::close(control_);
  kill(pid_, SIGKILL);
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  why_ = "the zygote was ended";
}

bool Zygote::fork_worker(const std::string& folder, const std::string& kind, WorkerProcess* out,
                         std::string* why) {
  std::lock_guard<std::mutex> lk(lock_);
  if (pid_ <= 0) {
    *why = "no zygote runs to start workers from: " + why_;
    return false;
  }
  std::string request = kind + '\n' + folder;
  if (kind.find('\n') != std::string::npos || request.size() > kMaxMessage) {
    *why = "the worker's folder or kind cannot be sent";
    return false;
  }
  ssize_t sent;
  while ((sent = send(control_, request.data(), request.size(), MSG_NOSIGNAL)) < 0 &&
         errno == EINTR) {
  }
  if (sent < 0) {
    *why = std::string("the zygote has ended: ") + std::strerror(errno);
    return false;
  }
  std::string text(256, '\0');
  msghdr msg{};
  iovec io{text.data(), text.size()};
  msg.msg_iov = &io;
  msg.msg_iovlen = 1;
  alignas(cmsghdr) char space[CMSG_SPACE(2 * sizeof(int))];
  msg.msg_control = space;
  msg.msg_controllen = sizeof space;
  ssize_t n;
  while ((n = recvmsg(control_, &msg, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
  }
  if (n <= 0) {
    *why = "the zygote has ended";
    return false;
  }
  text.resize(static_cast<size_t>(n));
  int fds[2] = {-1, -1};
  size_t got = 0;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
      got = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      std::memcpy(fds, CMSG_DATA(c), std::min<size_t>(got, 2) * sizeof(int));
    }
  }
  if (text.rfind("ok ", 0) != 0 || got != 2) {
    for (int fd : fds) {
      if (fd >= 0) ::close(fd);
    }
    *why = text.rfind("error ", 0) == 0 ? text.substr(6) : "the zygote answered wrong";
    return false;
  }
  out->pid = static_cast<pid_t>(std::atoi(text.c_str() + 3));
  out->fd = fds[0];
  out->pidfd = fds[1];
  return true;
}

}  // namespace sim::serve
