// The inner loop of the sprite path: runs of frame rows under a grey, bilinear, colour-modulated
// texture added onto the frame, in portable code and in AVX2 code that give the same pixels.
//
// This header is also compiled with AVX2 enabled, so it holds plain data and declarations only:
// an inline function here could be emitted with AVX2 instructions and then shared with callers
// on processors without them.
#pragma once

#include <cstdint>

namespace glide {

// The frame holds this many pixels past its end, so that vector code may write back a group of 8
// pixels (those past the span unchanged) from any pixel of a span.
inline constexpr int FrameSlack = 8;

// A span lies within one screen row.
inline constexpr int MaxSpanWidth = 640;

// What a sprite samples: a grey level at texel coordinates that change with the column only (u)
// and with the row only (v). The coordinates are fixed point with 16 fraction bits, wrapping
// modulo 2^32: u = uOrigin + uPerColumn · (column − originColumn), and v likewise by row. A
// coordinate splits into the texel index (bits 16 and up, wrapped to the level) and the weight
// of the next texel (bits 8..15, masked by fractionMask: 255 for bilinear, 0 for point sampling).
struct SpriteSource {
  const std::uint8_t* intensity; // the level, one byte per texel, row by row, readable 16 bytes on
  int levelWidth;                // powers of two
  int levelHeight;
  std::uint32_t uOrigin;
  std::uint32_t uPerColumn;
  int originColumn;
  std::uint32_t vOrigin;
  std::uint32_t vPerRow;
  int originRow;
  unsigned fractionMask;
  std::uint16_t colourScale[4]; // blue, green, red multipliers 0..256, then 0
};

// The pixels [begin, end) of one frame row, whose first pixel is `pixels`.
struct SpriteSpan {
  std::uint32_t* pixels;
  int row; // Glide row, for v
  int begin;
  int end;
};

// Adds texel × colour onto every span, saturating at 255. Per channel: the texel rows blend
// first, v = (t0·(256 − w) + t1·w + 128) >> 8, then the two columns the same way, then
// out = (texel · scale) >> 8 and pixel = min(255, pixel + out).
void AddSpriteSpansPortable(const SpriteSource& source, const SpriteSpan* spans, int count);

// The same with AVX2; only to be called when the processor has AVX2.
void AddSpriteSpansAvx2(const SpriteSource& source, const SpriteSpan* spans, int count);

} // namespace glide
