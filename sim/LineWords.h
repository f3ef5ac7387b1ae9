// A scenario line's words, and the checks of their values that every command's reading shares.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// A line's words as read: its verb, and its arguments.
struct Line {
  int line = 0;
  std::string verb;
  std::vector<std::string> args;
};

// The words of a line of text: '#' starts a comment, "..." quotes a word with spaces.
std::vector<std::string> tokens(const std::string& line, const std::string& file, int n);

// Argument i of a command as a number in [lo, hi]; throws dev::InputError otherwise.
long long number(const Line& c, size_t i, long long lo, long long hi, const std::string& file);

// "key value" options after the fixed arguments, each key one of `allowed`: "rest 600 rate 100".
std::map<std::string, long long> options(const Line& c, size_t from,
                                         const std::vector<std::string>& allowed,
                                         const std::string& file);

// An option's value, when it is given.
std::optional<uint32_t> option(const std::map<std::string, long long>& o, const char* key);

}  // namespace sim
