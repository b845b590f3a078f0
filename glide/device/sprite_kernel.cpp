// The portable inner loop of the sprite path.
#include "device/sprite_kernel.h"

namespace glide {

void AddSpriteSpansPortable(const SpriteSource& source, const SpriteSpan* spans, int count) {
  const unsigned widthMask = static_cast<unsigned>(source.levelWidth - 1);
  const unsigned heightMask = static_cast<unsigned>(source.levelHeight - 1);
  // The columns' texel indices and weights depend on the span's columns only: a square's rows
  // share them.
  std::uint8_t column0[MaxSpanWidth], column1[MaxSpanWidth];
  std::uint16_t columnWeight[MaxSpanWidth];
  int columnsBegin = -1, columnsEnd = -1;
  for (const SpriteSpan* span = spans; span != spans + count; ++span) {
    const int width = span->end - span->begin;
    if (span->begin != columnsBegin || span->end != columnsEnd) {
      columnsBegin = span->begin;
      columnsEnd = span->end;
      for (int i = 0; i < width; ++i) {
        const std::uint32_t u =
            source.uOrigin + source.uPerColumn * static_cast<std::uint32_t>(span->begin + i - source.originColumn);
        column0[i] = static_cast<std::uint8_t>(u >> 16 & widthMask);
        column1[i] = static_cast<std::uint8_t>((column0[i] + 1) & widthMask);
        columnWeight[i] = static_cast<std::uint16_t>(u >> 8 & source.fractionMask);
      }
    }

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

    std::uint32_t* pixels = span->pixels + span->begin;
    for (int i = 0; i < width; ++i) {
      const unsigned weight = columnWeight[i];
      const unsigned texel = (blended[column0[i]] * (256 - weight) + blended[column1[i]] * weight + 128) >> 8;
      const std::uint32_t pixel = pixels[i];
      std::uint32_t result = 0;
      for (int channel = 0; channel < 3; ++channel) {
        const unsigned shift = 8 * static_cast<unsigned>(channel);
        const unsigned sum = (pixel >> shift & 0xFF) + ((texel * source.colourScale[channel]) >> 8);
        result |= (sum > 255 ? 255u : sum) << shift;
      }
      pixels[i] = result;
    }
  }
}

} // namespace glide
