// Shading and blending: the colour of each covered pixel, combined with what the frame holds.
#pragma once

#include <cstdint>

#include "device/prepared_triangle.h"

namespace glide {

// 0..255; NaN counts as 0. Iterated colours outside the range are clamped: the show passes
// values above 255 for its brightest particles, and clamping gives the intended picture.
inline int Quantize(double value) {
  if (!(value > 0)) return 0;
  if (value >= 255) return 255;
  // Only positive values reach this point, where adding a half and truncating rounds to nearest.
  return static_cast<int>(value + 0.5); // NOLINT(bugprone-incorrect-roundings)
}

// A multiplier on the 0..256 scale, so that 255 keeps a value unchanged.
inline int Scale(int value) { return value + (value >> 7); }

// Shades the pixels [begin, end) of Glide row `row`, whose first pixel is `pixels`, one by one.
void ShadeSpan(const PreparedTriangle& triangle, int row, int begin, int end, std::uint32_t* pixels);

} // namespace glide
