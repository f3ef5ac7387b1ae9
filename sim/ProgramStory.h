// The brief log's account of what happened besides the strokes: what the scenario's user did to
// a program (started it, ticked a switch, pressed Done, answered a message box), what the program
// did in answer (dialogs and message boxes opened and ended, switches ticked, programs ended), and
// each write of a gesture setting, whoever wrote it.
#pragma once

#include <map>
#include <string>

#include "device/log.hpp"

namespace sim {

class ProgramStory {
 public:
  // The brief line an entry of the log makes, stamped like a note: "[    1260 ms] setting  ...";
  // "" for an entry that is not part of the story. Entries come in order.
  std::string line(const dev::LogEntry& e);

 private:
  std::map<std::string, std::string> captions_;  // dialog window -> its caption
  std::map<std::string, bool> message_boxes_;    // dialog window -> whether it is a message box
};

}  // namespace sim
