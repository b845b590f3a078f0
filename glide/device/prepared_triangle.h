// A triangle ready to draw: the one record that coverage, set-up and sprite pairing fill in turn.
#pragma once

#include <cstdint>

#include "device/render_state.h"
#include "texture/texture_memory.h"

namespace glide {

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
