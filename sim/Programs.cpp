#include "Programs.h"

#include "device/log.hpp"
#include "device/user.hpp"

namespace sim {

using namespace cmd;

bool is_program_command(const Command& c) {
  return std::visit(
      [](const auto& k) {
        using T = std::decay_t<decltype(k)>;
        return std::is_same_v<T, Start> || std::is_same_v<T, Tick> || std::is_same_v<T, Press> ||
               std::is_same_v<T, Answer> || std::is_same_v<T, Close> || std::is_same_v<T, Help>;
      },
      c.kind);
}

void run_program_command(const Command& c, const std::string& file, dev::Device& device) {
  // Whatever the device was doing at this time goes first: a program just started opens its
  // dialog before the next tap.
  device.settle();
  // The user's doing goes into the log before the program answers it.
  std::string did;
  for (const auto& w : command_words(c)) {
    if (did.empty()) {
      did = w;
    } else {
      did += w.find(' ') == std::string::npos ? " " + w : " \"" + w + "\"";
    }
  }
  dev::log_event("user", {{"did", did}});
  std::string why =
      std::visit(overloaded{
                     [&](const Start& k) {
                       return dev::user::start(device, k.program, k.command_line.value_or(""));
                     },
                     [&](const Tick& k) { return dev::user::tick(device, k.control); },
                     [&](const Press& k) { return dev::user::press(device, k.key); },
                     [&](const Answer&) { return dev::user::answer(device); },
                     [&](const Close&) { return dev::user::close(device); },
                     [&](const Help&) { return dev::user::help(device); },
                     [](const auto&) { return std::string(); },
                 },
                 c.kind);
  if (!why.empty()) throw CommandError(file, c.line, why);
}

}  // namespace sim
