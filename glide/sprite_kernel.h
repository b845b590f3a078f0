// The inner loop of the sprite path: one frame row of a grey, bilinear, colour-modulated texture
// added onto the frame, in portable code and in AVX2 code that give the same pixels.
//
// This header is also compiled with AVX2 enabled, so it holds plain data and declarations only:
// an inline function here could be emitted with AVX2 instructions and then shared with callers
// on processors without them.
#pragma once

#include <cstdint>

namespace glide {

// The column tables hold this many entries past the last screen column, so vector code may read
// a whole group of 16 columns from any column of a span.
inline constexpr int SpriteColumnSlack = 16;

// What one row of a sprite samples. Texel coordinates are already split into the two neighbour
// indices (wrapped) and the 8-bit weight of the second one; point sampling has weight 0.
struct SpriteRow {
  const std::uint8_t* texelRow0;     // intensities of the upper texel row, readable 16 bytes on
  const std::uint8_t* texelRow1;     // intensities of the lower texel row
  int texelRowWeight;                // weight of texelRow1, 0..255
  int levelWidth;                    // texels per row, a power of two
  const std::uint8_t* column0;       // per screen column: first texel index
  const std::uint8_t* column1;       // per screen column: second texel index
  const std::uint16_t* columnWeight; // per screen column: weight of the second texel, 0..255
  std::uint16_t colourScale[4];      // blue, green, red multipliers 0..256, then 0
};

// Adds the row's texels × colour onto pixels [begin, end) of a frame row, saturating at 255.
// Per channel: the texel rows blend first, v = (t0·(256 − w) + t1·w + 128) >> 8, then the two
// columns the same way, then out = (texel · scale) >> 8 and pixel = min(255, pixel + out).
void AddSpriteRowPortable(const SpriteRow& row, std::uint32_t* pixels, int begin, int end);

// The same with AVX2; only to be called when the processor has AVX2.
void AddSpriteRowAvx2(const SpriteRow& row, std::uint32_t* pixels, int begin, int end);

} // namespace glide
