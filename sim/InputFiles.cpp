#include "InputFiles.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "device/device.hpp"

namespace sim {

std::string read_input_file(const std::string& path, const std::string& what) {
  std::error_code ec;
  // A directory opens as a stream on this host and reads as nothing, or as garbage sizes.
  if (std::filesystem::is_directory(path, ec)) {
    throw dev::InputError(path, 0, "is a directory, not a " + what);
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw dev::InputError(path, 0, "cannot open the " + what);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw dev::InputError(path, 0, "cannot read the " + what);
  return text;
}

size_t first_bad_utf8(const std::string& text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  for (size_t i = 0; i < n;) {
    unsigned char b = s[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t len = b >= 0xC2 && b <= 0xDF   ? 2
                 : b >= 0xE0 && b <= 0xEF ? 3
                 : b >= 0xF0 && b <= 0xF4 ? 4
                                          : 0;
    if (len == 0 || i + len > n) return i;
    // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
    unsigned char lo = 0x80, hi = 0xBF;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
    if (s[i + 1] < lo || s[i + 1] > hi) return i;
    for (size_t k = 2; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return i;
    }
    i += len;
  }
  return std::string::npos;
}

int line_of(const std::string& text, size_t offset) {
  offset = std::min(offset, text.size());
  return 1 +
         static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(offset), '\n'));
}

}  // namespace sim
