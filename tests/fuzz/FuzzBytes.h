// Reading a fuzz input as a stream of small decisions: each call takes the next bytes, and an
// input that has run out reads as zeros, so every byte string is some run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : at_(data), end_(data + size) {}

  bool empty() const { return at_ == end_; }
  uint8_t byte() { return at_ == end_ ? 0 : *at_++; }
  uint16_t u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
  uint32_t u32() { return static_cast<uint32_t>(u16()) | static_cast<uint32_t>(u16()) << 16; }
  // A number in [0, n).
  uint32_t below(uint32_t n) { return n <= 256 ? byte() % n : u32() % n; }
  template <typename T, size_t N>
  const T& pick(const T (&table)[N]) {
    return table[below(static_cast<uint32_t>(N))];
  }
  // Up to `most` characters of `alphabet`.
  std::string text(size_t most, const std::string& alphabet) {
    size_t n = below(static_cast<uint32_t>(most + 1));
    std::string out;
    for (size_t i = 0; i < n && !empty(); ++i) out += alphabet[byte() % alphabet.size()];
    return out;
  }

 private:
  const uint8_t* at_;
  const uint8_t* end_;
};

}  // namespace fuzz
