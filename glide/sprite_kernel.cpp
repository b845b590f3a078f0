// The portable inner loop of the sprite path.
#include "glide/sprite_kernel.h"

namespace glide {

void AddSpriteRowPortable(const SpriteRow& row, std::uint32_t* pixels, int begin, int end) {
  // The two texel rows blend once per frame row; every column then blends two of these.
  std::uint8_t blended[256];
  const unsigned rowWeight = static_cast<unsigned>(row.texelRowWeight);
  for (int i = 0; i < row.levelWidth; ++i) {
    blended[i] = static_cast<std::uint8_t>((row.texelRow0[i] * (256 - rowWeight) + row.texelRow1[i] * rowWeight + 128) >> 8);
  }
  for (int x = begin; x < end; ++x) {
    const unsigned weight = row.columnWeight[x];
    const unsigned texel = (blended[row.column0[x]] * (256 - weight) + blended[row.column1[x]] * weight + 128) >> 8;
    const std::uint32_t pixel = pixels[x];
    std::uint32_t result = 0;
    for (int channel = 0; channel < 3; ++channel) {
      const unsigned shift = 8 * static_cast<unsigned>(channel);
      const unsigned sum = (pixel >> shift & 0xFF) + ((texel * row.colourScale[channel]) >> 8);
      result |= (sum > 255 ? 255u : sum) << shift;
    }
    pixels[x] = result;
  }
}

} // namespace glide
