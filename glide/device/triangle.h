// A triangle on its way through the device: the grid its vertices snap to, the attributes they
// carry, and what the stages fill in before it is drawn.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "device/render_state.h"
#include "glide/glide.h"
#include "texture/texture_memory.h"

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

// The attributes a vertex carries, numbered as they lie in GrVertex from `r` on, so that they
// are copied in one piece (the depth `ooz` between blue and alpha comes along unused).
enum Attribute { Red = 0, Green = 1, Blue = 2, Alpha = 4, Oow = 5, Sow = 6, Tow = 7, AttributeCount = 8 };
static_assert(offsetof(GrVertex, a) - offsetof(GrVertex, r) == Alpha * sizeof(float) &&
                  offsetof(GrVertex, oow) - offsetof(GrVertex, r) == Oow * sizeof(float) &&
                  offsetof(GrVertex, tmuvtx) - offsetof(GrVertex, r) == Sow * sizeof(float) &&
                  offsetof(GrVertex, tmuvtx) + sizeof(float) - offsetof(GrVertex, r) == Tow * sizeof(float),
              "GrVertex keeps the library's order");

// A vertex snapped to the grid, with its attributes (Attribute order) where they were.
struct GridVertex {
  std::int64_t x;
  std::int64_t y;
  const float* attribute;
};

// w of an affine triangle, whose 1/w is the same everywhere: the same value as 1 / oow, without a
// division in the usual case.
inline double InverseOow(float oow) { return oow == 1.0f ? 1.0 : 1.0 / oow; }

// An attribute over the screen: its value at the triangle's first vertex and its change per pixel.
// (The set-up structures have no member initializers: they are filled for every triangle, and
// clearing them first cost more than drawing a small sprite.)
struct Plane {
  double value;
  double perX;
  double perY;
};

// A texel coordinate in units of 2^-16 texel at the centre of the first pixel of the triangle's
// box, and its change per pixel. The arithmetic wraps modulo 2^32, which a texture side (a power
// of two up to 256, times 2^16) divides, so wrapping the texture is free.
struct FixedPlane {
  std::uint32_t origin;
  std::uint32_t perX;
  std::uint32_t perY;
};

// How every pixel of one triangle is coloured.
struct Shading {
  ColorSource colour;
  AlphaSource alpha;
  BlendFactor source;
  BlendFactor destination;
  double referenceX; // the first vertex, in pixels
  double referenceY;
  Plane channel[3]; // iterated red, green, blue; not filled for the sprite path
  Plane alphaPlane; // iterated alpha; not filled for the sprite path
  // The sampled level, or null when no texel reaches the colour combine (texels count as black).
  const TextureLevel* level;
  int fractionMask; // 255 for bilinear filtering, 0 for point sampling
  bool perspective;
  Plane s, t;          // without perspective: the texture coordinates
  FixedPlane u, v;     // and the texel coordinates they give
  Plane sow, tow, oow; // with perspective
  double uScale;       // texels of the level per unit of s, and of t
  double vScale;
  double offset; // half a texel for bilinear filtering
  // The sprite path: one colour, multipliers 0..256 for blue, green, red.
  std::uint16_t colourScale[3];
};

// A triangle on the grid, ready to draw.
struct PreparedTriangle {
  std::int64_t x[3]; // counter-clockwise, lowest vertex first
  std::int64_t y[3];
  // The pixels whose centres lie in the triangle's bounding box, within the clip window;
  // the ends are exclusive.
  int columnBegin;
  int columnEnd;
  int rowBegin;
  int rowEnd;
  Shading shading;
  bool sprite;    // drawn by the sprite kernels
  int rightAngle; // the vertex of an axis-aligned right angle, or -1
  // A sprite's colour and 1/w, the same at every vertex, and the legs of its right angle with
  // the changes of s and t along them (see CompletesSquare).
  float colour[3];
  float oow;
  std::int64_t leg[2];
  double sAlong[2];
  double tAlong[2];
};

} // namespace glide
