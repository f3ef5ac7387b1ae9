// The files a run takes in, read whole before the device boots.
#pragma once

#include <cstddef>
#include <string>

namespace sim {

// The most an input file may hold: far above the largest legal one (a stroke file of the most
// points is a few MB).
const size_t kMaxInputBytes = size_t{32} << 20;

// The name that stands for standard input, where an input may come from it.
const char kStandardInput[] = "-";

// How messages name an input: "standard input" for kStandardInput, else the path itself.
std::string input_name(const std::string& path);

// The whole text of a file (or of standard input, for kStandardInput); throws dev::InputError when
// it is a directory, cannot be read or holds more than kMaxInputBytes (read no further than that).
// `what` says what the file was to be
// ("scenario", "stroke file") in the message.
std::string read_input_file(const std::string& path, const std::string& what);

// The offset of the first byte that does not belong to well-formed UTF-8 (an overlong form, a
// surrogate, past U+10FFFF, a sequence cut short), or std::string::npos when there is none.
size_t first_bad_utf8(const std::string& text);

// The 1-based line of a byte offset in a text.
int line_of(const std::string& text, size_t offset);

// Lines of offsets that mostly go forward, counted on from the offset before: reading the line of
// every point of a long file costs one pass over the text, not one per point.
class LineCounter {
 public:
  explicit LineCounter(const std::string& text) : text_(text) {}
  int at(size_t offset);

 private:
  const std::string& text_;
  size_t offset_ = 0;
  int line_ = 1;
};

}  // namespace sim
