// Standard output as the program's own output: a write that fails ends the program at once.
#pragma once

#include <string>

namespace sim {

// Exit code of a program whose standard output or an output file could not be written while it
// ran (a full disk, /dev/full); a closed pipe ends it by SIGPIPE instead, as other tools end.
const int kExitWriteFailed = 5;

// Ends the program when standard output has failed: a reader that went away (`| head -1`) ends it
// as SIGPIPE would, any other failure with a message and kExitWriteFailed. Either way the device
// folders and the outputs not finished yet are removed first. Safe to call from device threads.
void check_stdout();
// Flushes standard output, then checks it.
void flush_stdout();

// Ends the program because `what` (an output file) could not be written: `errno_value` says why.
[[noreturn]] void end_on_write_failure(const std::string& what, int errno_value);

}  // namespace sim
