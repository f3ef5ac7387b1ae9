// Work spread over worker processes: the simulated device is one per process, so a set of
// independent runs uses every core by forking.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace sim {

// Writes the whole of `text` to `fd`, across interruptions and short writes; false when it
// cannot (a closed pipe, a full disk).
bool write_all(int fd, const std::string& text);

// How many workers `jobs` means: itself, or one per core when 0.
unsigned worker_count(unsigned jobs);

// Calls work(i) for every i in [0, count), in `jobs` forked processes (in this one when jobs is
// 1 or count is 1), and hands each result to done(i, result) in this process, in the order of i.
// A result is one line of text (no '\n'). A worker that dies (a crash) loses the item it was
// working on, which comes to done() lost, with why, and a new worker takes the rest of its share.
// A worker asked to end (SIGINT, SIGTERM, SIGHUP), or whose results can no longer be written
// because this process has gone, ends after its current item; the items nobody did then come
// to done() lost.
struct WorkerReport {
  bool lost = false;
  std::string why;  // why it was lost: "the worker ended with signal 11 (Segmentation fault)"
};
void run_in_workers(
    size_t count, unsigned jobs, const std::function<std::string(size_t)>& work,
    const std::function<void(size_t, const std::string&, const WorkerReport&)>& done);

}  // namespace sim
