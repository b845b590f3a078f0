// The portable inner loop of the sprite path.
#include "glide/sprite_kernel.h"

namespace glide {

void AddSpriteSpansPortable(const SpriteSource& source, const SpriteSpan* spans, int count) {
  const unsigned widthMask = static_cast<unsigned>(source.levelWidth - 1);
  const unsigned heightMask = static_cast<unsigned>(source.levelHeight - 1);
  for (const SpriteSpan* span = spans; span != spans + count; ++span) {
    // The two texel rows blend once per frame row; every column then blends two of these.
    const std::uint32_t v = source.vOrigin + source.vPerRow * static_cast<std::uint32_t>(span->row - source.originRow);
    const unsigned row0 = v >> 16 & heightMask;
    const unsigned row1 = (row0 + 1) & heightMask;
    const unsigned rowWeight = v >> 8 & source.fractionMask;
    const std::uint8_t* upper = source.intensity + row0 * static_cast<unsigned>(source.levelWidth);
    const std::uint8_t* lower = source.intensity + row1 * static_cast<unsigned>(source.levelWidth);
    std::uint8_t blended[256];
    for (int i = 0; i < source.levelWidth; ++i) {
      blended[i] = static_cast<std::uint8_t>((upper[i] * (256 - rowWeight) + lower[i] * rowWeight + 128) >> 8);
    }
    for (int x = span->begin; x < span->end; ++x) {
      const std::uint32_t u =
          source.uOrigin + source.uPerColumn * static_cast<std::uint32_t>(x - source.originColumn);
      const unsigned column0 = u >> 16 & widthMask;
      const unsigned column1 = (column0 + 1) & widthMask;
      const unsigned weight = u >> 8 & source.fractionMask;
      const unsigned texel = (blended[column0] * (256 - weight) + blended[column1] * weight + 128) >> 8;
      const std::uint32_t pixel = span->pixels[x];
      std::uint32_t result = 0;
      for (int channel = 0; channel < 3; ++channel) {
        const unsigned shift = 8 * static_cast<unsigned>(channel);
        const unsigned sum = (pixel >> shift & 0xFF) + ((texel * source.colourScale[channel]) >> 8);
        result |= (sum > 255 ? 255u : sum) << shift;
      }
      span->pixels[x] = result;
    }
  }
}

} // namespace glide
