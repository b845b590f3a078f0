// The grid that vertices snap to, and the integer arithmetic that every stage does on it.
#pragma once

#include <algorithm>
#include <cstdint>

namespace glide {

// Vertices snap to 1/256 pixel.
inline constexpr std::int64_t SubpixelScale = 256;
inline constexpr std::int64_t HalfPixel = SubpixelScale / 2;

inline std::int64_t FloorDiv(std::int64_t numerator, std::int64_t denominator) { // denominator > 0
  std::int64_t quotient = numerator / denominator;
  if (numerator % denominator != 0 && numerator < 0) --quotient;
  return quotient;
}

inline std::int64_t CeilDiv(std::int64_t numerator, std::int64_t denominator) {
  return -FloorDiv(-numerator, denominator);
}

inline int ClampToInt(std::int64_t value, int low, int high) {
  return static_cast<int>(std::clamp<std::int64_t>(value, low, high));
}

// Rounds to the nearest integer, ties to even, for |value| < 2^51: adding and taking away
// 1.5·2^52 leaves no fraction bits. Unlike lrint it needs no library call.
inline std::int64_t RoundToInteger(double value) {
  constexpr double Shift = 0x1.8p52;
  return static_cast<std::int64_t>((value + Shift) - Shift);
}

} // namespace glide
