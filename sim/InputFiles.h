// The files a run takes in, read whole before the device boots.
#pragma once

#include <string>

namespace sim {

// The whole text of a file; throws dev::InputError when it is a directory or cannot be read.
// `what` says what the file was to be ("scenario", "stroke file") in the message.
std::string read_input_file(const std::string& path, const std::string& what);

// The offset of the first byte that does not belong to well-formed UTF-8 (an overlong form, a
// surrogate, past U+10FFFF, a sequence cut short), or std::string::npos when there is none.
size_t first_bad_utf8(const std::string& text);

// The 1-based line of a byte offset in a text.
int line_of(const std::string& text, size_t offset);

}  // namespace sim
