// An output of a run (--jsonl, --audio), checked before the device boots. A regular file is
// written under a name of its own beside the destination and takes the destination's place only
// when the run ended, so a failed run leaves nothing half-written; a destination that is not a
// regular file (a pipe, /dev/null) is written in place and never replaced.
#pragma once

#include <functional>
#include <string>

namespace sim {

class OutputFile {
 public:
  // Throws dev::InputError when the destination is a directory or cannot be written.
  explicit OutputFile(const std::string& destination);
  ~OutputFile();  // removes what an uncommitted run wrote
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Where the run writes: the file of its own, or the destination itself.
  const std::string& path() const { return path_; }
  // The run ended: what it wrote takes the destination's place.
  void commit();

 private:
  std::string destination_;
  std::string path_;
  bool in_place_ = false;
};

// Removes the files of every output not committed yet (for a program ending on a signal), after
// the work registered with at_signal_end.
void remove_unfinished_outputs();

// Work a program ending on a signal does first: a server ends its workers and removes their
// folders. Registered once per program.
void at_signal_end(std::function<void()> cleanup);

}  // namespace sim
