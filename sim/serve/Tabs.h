// The open tabs of the page, each with a device of its own in a worker process of its own (the
// device is one per process), their number bounded. A worker lives in a folder of the server's
// folder, which is also its temporary folder: whatever its devices make goes there, and the
// folder goes with the worker when it ends, is ended for being idle, or the server ends.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Frames.h"
#include "Zygote.h"

namespace sim::serve {

// Something a tab's page is told as it happens (an outcome, a sound).
struct TabEvent {
  uint64_t seq = 0;
  std::string name;  // the event's name in the stream
  std::string data;  // JSON
};

class Tabs {
 public:
  // Makes the server's folder in the temporary folder; throws std::runtime_error when it cannot.
  // The workers, of the kind `kind`, are forked by `zygote`, which outlives this. A worker has
  // `answer_wait` for each answer.
  Tabs(Zygote& zygote, std::string kind, size_t max_tabs, std::chrono::milliseconds idle,
       std::chrono::milliseconds answer_wait = std::chrono::minutes(2));
  ~Tabs();  // ends every worker and removes the folder

  // A new tab with its worker: its id, or "" when `max_tabs` are open already (why in `why`).
  std::string open(std::string* why, const std::string& id = "");
  // Sends a request to the tab's worker and waits for its answer. False for a tab that is not
  // open (never was, or was ended); a worker that died answers 500, and so does one that did not
  // answer within the bound, which is then ended with its tab.
  bool ask(const std::string& tab, const Frame& request, Frame* answer);
  void close(const std::string& tab);
  bool is_open(const std::string& tab);
  size_t count();

  // The tab was used (its page's stream is still open): it is not idle.
  void touch(const std::string& tab);
  // Ends the tabs idle longer than the bound; a thread calls it now and then.
  void end_idle();
  // Ends every worker at once (for a server ending on a signal): kills, waits, removes folders.
  // A request waiting on a worker is answered 500 at once; no tab opens after it.
  void end_all();

  void publish(const std::string& tab, const std::string& name, const std::string& data);
  // Waits up to `wait` for events after `after`; false when the tab is not open.
  bool events(const std::string& tab, uint64_t after, std::chrono::milliseconds wait,
              std::vector<TabEvent>* out);

  const std::string& folder() const { return folder_; }

 private:
  struct Tab {
    ~Tab();
    WorkerProcess worker;
    std::string folder;
    std::unique_ptr<FrameReader> reader;
    std::mutex ask_lock;  // one request at a time
    std::chrono::steady_clock::time_point used;
    std::deque<TabEvent> events;
    uint64_t seq = 0;
  };
  std::shared_ptr<Tab> find(const std::string& tab);
  static void end(Tab& t);

  size_t max_tabs_;
  std::chrono::milliseconds idle_, answer_wait_;
  Zygote& zygote_;
  std::string kind_;
  std::string folder_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::map<std::string, std::shared_ptr<Tab>> tabs_;
  int made_ = 0;
  bool ended_ = false;  // end_all was called
  int lock_fd_ = -1;    // the folder's lock, held for the server's life
};

}  // namespace sim::serve
