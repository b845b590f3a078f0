// Sampling: texel coordinates in fixed point, and the texels of a level read at them.
#pragma once

#include <cmath>
#include <cstdint>

#include "device/fixed_point.h"
#include "texture/texture_memory.h"

namespace glide {

// Texel coordinates are fixed point with this many fraction bits; the top 8 of them weight the
// second texel of a bilinear pair.
inline constexpr int TexelFractionBits = 16;
inline constexpr double TexelFractionScale = 1 << TexelFractionBits;

// A coordinate too large for ToFixed's rounding. (ToFixed and Sample run for every pixel of the
// general pipeline, so they are defined here, where the shading can inline them.)
std::uint32_t HugeToFixed(double texels, int size);

// A texel coordinate in fixed point, wrapped into [0, size · 2^16); anything not finite gives 0.
inline std::uint32_t ToFixed(double texels, int size) {
  const std::uint32_t mask = (static_cast<std::uint32_t>(size) << TexelFractionBits) - 1;
  const double fixed = texels * TexelFractionScale;
  if (std::fabs(fixed) < 0x1p51) [[likely]]
    return static_cast<std::uint32_t>(RoundToInteger(fixed)) & mask;
  return HugeToFixed(texels, size) & mask;
}

// Bilinear (or, with weights 0, point) sampling of a level at fixed-point texel coordinates.
// The two texel rows blend first, then the two columns, each rounded to 8 bits: the same
// arithmetic as the sprite kernels.
inline std::uint32_t Sample(const TextureLevel& level, std::uint32_t u, std::uint32_t v, int fractionMask) {
  const unsigned mask = static_cast<unsigned>(fractionMask);
  const unsigned column0 = u >> TexelFractionBits & (level.width - 1);
  const unsigned column1 = (column0 + 1) & (level.width - 1);
  const unsigned columnWeight = u >> (TexelFractionBits - 8) & mask;
  const unsigned row0 = v >> TexelFractionBits & (level.height - 1);
  const unsigned row1 = (row0 + 1) & (level.height - 1);
  const unsigned rowWeight = v >> (TexelFractionBits - 8) & mask;
  const std::uint32_t* upper = level.texels + row0 * level.width;
  const std::uint32_t* lower = level.texels + row1 * level.width;
  std::uint32_t result = 0;
  for (unsigned shift = 0; shift < 24; shift += 8) {
    auto blendRows = [&](unsigned column) {
      return ((upper[column] >> shift & 0xFF) * (256 - rowWeight) + (lower[column] >> shift & 0xFF) * rowWeight +
              128) >>
             8;
    };
    const unsigned channel = (blendRows(column0) * (256 - columnWeight) + blendRows(column1) * columnWeight + 128) >> 8;
    result |= channel << shift;
  }
  return result;
}

} // namespace glide
