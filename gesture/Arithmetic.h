// Whole-number arithmetic that saturates instead of overflowing: distances, lengths and travel
// come from untrusted settings and arbitrarily long strokes.
#pragma once

#include <limits.h>

inline int SaturateToInt(long long value) {
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

inline int SaturatingAdd(int a, int b) {
  return SaturateToInt(static_cast<long long>(a) + b);
}

inline int SaturatingMul(int a, int b) {
  return SaturateToInt(static_cast<long long>(a) * b);
}

inline int Magnitude(int value) {
  return value == INT_MIN ? INT_MAX : (value < 0 ? -value : value);
}
