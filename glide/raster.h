// The triangle rasterizer: exact coverage on a fixed-point grid, the general per-pixel pipeline,
// and the sprite path for the show's additive textured squares.
#pragma once

#include <cstdint>

#include "glide/glide.h"
#include "glide/sprite_kernel.h"
#include "glide/state.h"
#include "glide/texture.h"

namespace glide {

// An attribute over the screen: its value at the triangle's first vertex and its change per pixel.
struct Plane {
  double value = 0;
  double perX = 0;
  double perY = 0;
};

// A texel coordinate in units of 2^-24 texel, at the centre of the first pixel of the triangle's
// box, and its change per pixel; all wrapped into [0, size · 2^24), so sums never go negative.
struct FixedPlane {
  std::int64_t origin = 0;
  std::int64_t perX = 0;
  std::int64_t perY = 0;
};

enum class BlendFactor { Zero, SourceAlpha, One, OneMinusSourceAlpha };

// How every pixel of one triangle is coloured.
struct Shading {
  ColorSource colour = ColorSource::Zero;
  AlphaSource alpha = AlphaSource::Zero;
  BlendFactor source = BlendFactor::One;
  BlendFactor destination = BlendFactor::Zero;
  double referenceX = 0; // the first vertex, in pixels
  double referenceY = 0;
  Plane channel[4]; // iterated red, green, blue, alpha
  // The sampled level, or null when no texel reaches the colour combine (texels count as black).
  const TextureLevel* level = nullptr;
  int fractionMask = 0; // 255 for bilinear filtering, 0 for point sampling
  bool perspective = false;
  FixedPlane u, v;       // without perspective
  Plane sow, tow, oow;   // with perspective
  double uScale = 0;     // texels of the level per unit of s, and of t
  double vScale = 0;
  double offset = 0;     // half a texel for bilinear filtering
  // The sprite path: one colour, multipliers 0..256 for blue, green, red.
  std::uint16_t colourScale[3] = {};
};

// One edge of a counter-clockwise triangle: a·px + b·py + c > 0 for the pixels on its inner side,
// with the fill rule's tie-break folded into c.
struct Edge {
  std::int64_t a = 0;
  std::int64_t b = 0;
  std::int64_t c = 0;
};

// A triangle on the grid of 1/256 pixel, ready to draw.
struct PreparedTriangle {
  std::int64_t x[3] = {}; // counter-clockwise, lowest vertex first
  std::int64_t y[3] = {};
  Edge edges[3];
  // The pixels whose centres lie in the triangle's bounding box, within the clip window;
  // the ends are exclusive.
  int columnBegin = 0;
  int columnEnd = 0;
  int rowBegin = 0;
  int rowEnd = 0;
  Shading shading;
  bool sprite = false;   // drawn by the sprite kernels
  int rightAngle = -1;   // the vertex of an axis-aligned right angle, or -1
};

class Rasterizer {
public:
  Rasterizer();

  // Draws a triangle with the given state into the frame (top row first). The first half of an
  // axis-aligned sprite square is held back until the next call, so that a square whose halves
  // come one after the other is drawn in one pass with exactly the pixels the halves would give.
  void Draw(const GrVertex& a, const GrVertex& b, const GrVertex& c, const RenderState& state,
            const TextureMemory& textures, std::uint32_t* frame);
  // Draws the half held back, if any. Every operation but triangle drawing calls it first, so
  // nothing can read the frame or change what the half was drawn with before it is drawn.
  void Flush(std::uint32_t* frame);

  bool SelectPath(SpritePath path);

private:
  void DrawPrepared(const PreparedTriangle& triangle, std::uint32_t* frame);
  void DrawSpriteSquare(const PreparedTriangle& first, const PreparedTriangle& second, std::uint32_t* frame);
  void BuildSpriteTables(const PreparedTriangle& triangle);
  void AddSpriteRow(const PreparedTriangle& triangle, std::uint32_t* frame, int row, int begin, int end);

  bool general_ = false;
  void (*addRow_)(const SpriteRow&, std::uint32_t*, int, int) = nullptr;

  bool pending_ = false;
  PreparedTriangle pendingTriangle_;

  // Per screen column and row: the texel indices and weights of the sprite being drawn.
  alignas(32) std::uint8_t column0_[ScreenWidth + SpriteColumnSlack] = {};
  alignas(32) std::uint8_t column1_[ScreenWidth + SpriteColumnSlack] = {};
  alignas(32) std::uint16_t columnWeight_[ScreenWidth + SpriteColumnSlack] = {};
  std::uint16_t row0_[ScreenHeight] = {};
  std::uint16_t row1_[ScreenHeight] = {};
  std::uint16_t rowWeight_[ScreenHeight] = {};
};

// Fills the clip window of the frame with one 0x00RRGGBB colour.
void ClearClipWindow(const RenderState& state, std::uint32_t colour, std::uint32_t* frame);

} // namespace glide
