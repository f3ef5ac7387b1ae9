// The process the tabs' workers are forked from. A worker forked straight from the server would
// be forked while the server's other threads run, and a lock one of them held at that moment (an
// allocator's: the sanitizers' runtime does not take its locks across fork) would stay taken in
// the worker for ever. The zygote is forked before the server has any thread of its own, stays
// single-threaded, and forks each worker on request; the worker's socket and a process
// descriptor to end it by come back to the server over a Unix socket. The zygote ends when the
// server ends (or drops it), and its workers end with it.
#pragma once

#include <sys/types.h>

#include <functional>
#include <mutex>
#include <string>

namespace sim::serve {

// A worker's life: it answers each request frame from `fd` with one frame until the socket
// ends. It runs in the forked process, with `folder` as its temporary folder; `kind` is what the
// server asked for, for a zygote that forks more than one kind of worker.
using WorkerMain = std::function<void(int fd, const std::string& folder, const std::string& kind)>;

// A worker forked by the zygote: the server's end of its socket, and a process descriptor that
// signals it and tells when it has ended (it is the zygote's child, not the server's).
struct WorkerProcess {
  pid_t pid = -1;
  int fd = -1;
  int pidfd = -1;
};

// Kills a worker and waits until it has ended; closes its descriptors.
void end_worker(WorkerProcess& w);
// Kills a worker without waiting; waits until a killed worker has ended, keeping its
// descriptors (a request under way may still read its socket).
void kill_worker(const WorkerProcess& w);
void wait_worker(const WorkerProcess& w);

class Zygote {
 public:
  // Forks the zygote now: call it while no other thread of this program may hold a lock (before
  // any thread starts, or with the others waiting in a system call). ok() tells whether it runs.
  explicit Zygote(WorkerMain main);
  ~Zygote() { end(); }
  // Ends the zygote and waits for it; its workers end with it.
  void end();
  Zygote(const Zygote&) = delete;
  Zygote& operator=(const Zygote&) = delete;

  bool ok() const { return pid_ > 0; }
  const std::string& why() const { return why_; }
  pid_t pid() const { return pid_; }

  // Forks a worker that runs the main with `folder` and `kind`; false with why.
  bool fork_worker(const std::string& folder, const std::string& kind, WorkerProcess* out,
                   std::string* why);

 private:
  pid_t pid_ = -1;
  int control_ = -1;  // a sequenced-packet socket: one request, one answer
  std::string why_;
  std::mutex lock_;
};

}  // namespace sim::serve
