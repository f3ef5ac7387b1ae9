#include "Workers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <stdexcept>
#include <thread>
#include <vector>

#include "OutputFile.h"

namespace sim {
namespace {

// Exit status of a worker that stopped because it was asked to, before its share was done.
const int kAskedToEnd = 3;

volatile sig_atomic_t end_asked = 0;
extern "C" void ask_to_end(int) {
  end_asked = 1;
}

// The worker's side: a fresh signal disposition (the program's waiting thread is not forked
// along), its items in order, a line per result.
[[noreturn]] void worker_main(int fd, const std::vector<size_t>& items, size_t from,
                              const std::function<std::string(size_t)>& work) {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = ask_to_end;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(sig, &sa, nullptr);
    sigaddset(&set, sig);
  }
  signal(SIGPIPE, SIG_IGN);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  for (size_t k = from; k < items.size(); ++k) {
    if (end_asked) _exit(kAskedToEnd);
    std::string line = std::to_string(items[k]) + '\t' + work(items[k]) + '\n';
    if (!write_all(fd, line)) _exit(kAskedToEnd);
  }
  close(fd);
  _exit(0);
}

std::string how_it_ended(int status) {
  if (WIFSIGNALED(status)) {
    int sig = WTERMSIG(status);
    return "the worker process ended with signal " + std::to_string(sig) + " (" + strsignal(sig) +
           ")";
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == kAskedToEnd)
    return "not replayed: the run was asked to end";
  return "the worker process ended with status " + std::to_string(WEXITSTATUS(status));
}

struct Worker {
  std::vector<size_t> items;  // its share, in order
  size_t next = 0;            // the item of its share it reports next
  pid_t pid = -1;
  int fd = -1;
  std::string buffer;  // a result line not complete yet
};

class Pool {
 public:
  Pool(size_t count, unsigned jobs, const std::function<std::string(size_t)>& work,
       const std::function<void(size_t, const std::string&, const WorkerReport&)>& done)
      : work_(work), done_(done), workers_(jobs) {
    for (size_t i = 0; i < count; ++i) workers_[i % jobs].items.push_back(i);
  }

  void run() {
    // A run that ends on a failed write (a closed pipe) ends its workers first, so that each
    // removes its device folder before this process goes.
    at_signal_end([this] { end_workers(); });
    struct Unregister {
      ~Unregister() { at_signal_end(nullptr); }
    } unregister;
    for (auto& w : workers_) start(w);
    while (true) {
      std::vector<pollfd> fds;
      std::vector<Worker*> of;
      for (auto& w : workers_) {
        if (w.fd < 0) continue;
        fds.push_back({w.fd, POLLIN, 0});
        of.push_back(&w);
      }
      if (fds.empty()) break;
      if (poll(fds.data(), fds.size(), -1) < 0) {
        if (errno == EINTR) continue;
        throw std::runtime_error(std::string("cannot wait for the workers: ") + strerror(errno));
      }
      for (size_t k = 0; k < fds.size(); ++k) {
        if (fds[k].revents != 0) read_from(*of[k]);
      }
    }
  }

 private:
  void end_workers() {
    for (auto& w : workers_)
      if (w.fd >= 0) kill(w.pid, SIGTERM);
    for (auto& w : workers_) {
      if (w.fd < 0) continue;
      int status = 0;
      while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
      }
    }
  }

  void start(Worker& w) {
    if (w.next >= w.items.size()) return;
    int p[2];
    if (pipe(p) != 0)
      throw std::runtime_error(std::string("cannot make a pipe: ") + strerror(errno));
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error(std::string("cannot fork: ") + strerror(errno));
    if (pid == 0) {
      at_signal_end(nullptr);
      close(p[0]);
      // The other workers' pipes stay with this process only: a worker holding one open would
      // keep its writer from seeing that this process has gone.
      for (auto& other : workers_)
        if (other.fd >= 0) close(other.fd);
      worker_main(p[1], w.items, w.next, work_);
    }
    close(p[1]);
    fcntl(p[0], F_SETFD, FD_CLOEXEC);
    w.pid = pid;
    w.fd = p[0];
  }

  void read_from(Worker& w) {
    char chunk[65536];
    ssize_t n = read(w.fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) return;
    if (n > 0) {
      w.buffer.append(chunk, static_cast<size_t>(n));
      size_t nl;
      while ((nl = w.buffer.find('\n')) != std::string::npos) {
        std::string line = w.buffer.substr(0, nl);
        w.buffer.erase(0, nl + 1);
        size_t tab = line.find('\t');
        size_t i = std::stoul(line.substr(0, tab));
        ++w.next;
        settle(i, line.substr(tab + 1), {});
      }
      return;
    }
    close(w.fd);
    w.fd = -1;
    // A worker killed while writing leaves part of a line; kept, it would swallow the first line
    // of the worker that takes over, and every result after it would wait for ever.
    w.buffer.clear();
    int status = 0;
    while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (w.next >= w.items.size()) return;
    std::string why = how_it_ended(status);
    bool asked = WIFEXITED(status) && WEXITSTATUS(status) == kAskedToEnd;
    if (asked) {
      while (w.next < w.items.size()) settle(w.items[w.next++], "", {true, why});
      return;
    }
    settle(w.items[w.next++], "", {true, why});
    start(w);
  }

  // Results leave in the order of their items.
  void settle(size_t i, std::string result, WorkerReport report) {
    waiting_.emplace(i, std::make_pair(std::move(result), std::move(report)));
    while (!waiting_.empty() && waiting_.begin()->first == next_out_) {
      auto& [text, r] = waiting_.begin()->second;
      done_(next_out_, text, r);
      waiting_.erase(waiting_.begin());
      ++next_out_;
    }
  }

  const std::function<std::string(size_t)>& work_;
  const std::function<void(size_t, const std::string&, const WorkerReport&)>& done_;
  std::vector<Worker> workers_;
  std::map<size_t, std::pair<std::string, WorkerReport>> waiting_;
  size_t next_out_ = 0;
};

}  // namespace

bool write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

unsigned worker_count(unsigned jobs) {
  if (jobs > 0) return jobs;
  unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? cores : 1;
}

void run_in_workers(
    size_t count, unsigned jobs, const std::function<std::string(size_t)>& work,
    const std::function<void(size_t, const std::string&, const WorkerReport&)>& done) {
  unsigned n = worker_count(jobs);
  if (n > count) n = static_cast<unsigned>(count);
  if (n <= 1) {
    for (size_t i = 0; i < count; ++i) done(i, work(i), {});
    return;
  }
  Pool(count, n, work, done).run();
}

}  // namespace sim
