// start PROGRAM [COMMAND_LINE] | tick CONTROL | press KEY | answer | close | help
#include "Programs.h"

#include <map>

#include "device/log.hpp"
#include "device/user.hpp"

namespace sim {
namespace {

// Verb -> number of arguments, least and most.
const std::map<std::string, std::pair<size_t, size_t>> kVerbs = {
    {"start", {1, 2}},  {"tick", {1, 1}},  {"press", {1, 1}},
    {"answer", {0, 0}}, {"close", {0, 0}}, {"help", {0, 0}}};

}  // namespace

bool is_program_verb(const std::string& verb) {
  return kVerbs.count(verb) > 0;
}

void check_program_command(const Command& c, const std::string& file) {
  const auto& [least, most] = kVerbs.at(c.verb);
  if (c.args.size() < least || c.args.size() > most) {
    throw dev::InputError(file, c.line, "wrong number of arguments for " + c.verb);
  }
  if (c.verb == "start" &&
      (c.args[0].empty() || c.args[0].find_first_of("/\\") != std::string::npos)) {
    throw dev::InputError(file, c.line, "start takes the name of a program in \\Windows");
  }
  if (!c.args.empty() && c.args[0].empty()) {
    throw dev::InputError(file, c.line, c.verb + " needs a name");
  }
}

void run_program_command(const Command& c, const std::string& file, dev::Device& device) {
  // Whatever the device was doing at this time goes first: a program just started opens its
  // dialog before the next tap.
  device.settle();
  // The user's doing goes into the log before the program answers it.
  std::string did = c.verb;
  for (const auto& a : c.args) did += a.find(' ') == std::string::npos ? " " + a : " \"" + a + "\"";
  dev::log_event("user", {{"did", did}});
  std::string why;
  if (c.verb == "start") {
    why = dev::user::start(device, c.args[0], c.args.size() > 1 ? c.args[1] : "");
  } else if (c.verb == "tick") {
    why = dev::user::tick(device, c.args[0]);
  } else if (c.verb == "press") {
    why = dev::user::press(device, c.args[0]);
  } else if (c.verb == "answer") {
    why = dev::user::answer(device);
  } else if (c.verb == "close") {
    why = dev::user::close(device);
  } else {
    why = dev::user::help(device);
  }
  if (!why.empty()) throw CommandError(file, c.line, why);
}

}  // namespace sim
