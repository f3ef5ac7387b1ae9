// An output of a run (--jsonl, --audio), checked before the device boots. A regular file is
// written under a name of its own beside the destination and takes the destination's place only
// when the run ended, so a failed run leaves nothing half-written; a destination that is not a
// regular file (a pipe, /dev/null) is written in place and never replaced. The partial file is
// locked while its run lives; one a killed run left is removed by the next output made beside it.
#pragma once

#include <functional>
#include <string>

namespace sim {

class OutputFile {
 public:
  // Throws dev::InputError when the destination is a directory or cannot be written, is a file
  // the run reads (note_input) or the file of another output alive now.
  explicit OutputFile(const std::string& destination);
  ~OutputFile();  // removes what an uncommitted run wrote
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Where the run writes: the file of its own, or the destination itself.
  const std::string& path() const { return path_; }
  // The file as it was named, for messages.
  const std::string& destination() const { return destination_; }
  // The run ended: what it wrote takes the destination's place.
  void commit();

 private:
  std::string destination_;
  std::string path_;
  std::string identity_;  // the file it stands for, while it is claimed
  int lock_ = -1;         // the partial file, locked while the run writes it
  bool in_place_ = false;
};

// A file the run reads: no output may take its place. The inputs are kept for the program's life;
// forget_inputs() is for tests that run several times in one process.
// `name` says how messages call it (the path when empty).
void note_input(const std::string& path, const std::string& name = "");
void forget_inputs();

// Removes the files of every output not committed yet (for a program ending on a signal), after
// the work registered with at_signal_end.
void remove_unfinished_outputs();

// Work a program ending on a signal does first: a server ends its workers and removes their
// folders. Registered once per program.
void at_signal_end(std::function<void()> cleanup);

}  // namespace sim
