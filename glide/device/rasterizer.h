// The software device's rasterizer: each triangle through the stages, from clipping to the
// general per-pixel pipeline or the sprite path for the show's additive textured squares.
#pragma once

#include "device/frame_buffer.h"
#include "device/grid_vertex.h"
#include "device/prepared_triangle.h"
#include "device/render_state.h"
#include "device/sprite_kernel.h"
#include "glide/board.h"
#include "glide/glide.h"
#include "glide/inspection.h"
#include "texture/texture_memory.h"

namespace glide {

class Rasterizer {
public:
  Rasterizer();

  // Draws a triangle with the given state into the frame (top row first). The first half of an
  // axis-aligned sprite square is held back until the next call, so that a square whose halves
  // come one after the other is drawn in one pass with exactly the pixels the halves would give.
  void Draw(const GrVertex& a, const GrVertex& b, const GrVertex& c, const RenderState& state,
            const TextureMemory& textures, FrameBuffer& frame);
  // Flushes: draws the half held back, if any. Every operation but triangle drawing flushes
  // first, so nothing can read the frame or change what the half was drawn with before it is drawn.
  void Flush(FrameBuffer& frame);

  // False, keeping the current choice, when the processor cannot run the path.
  bool SelectPath(SpritePath path);

private:
  void DrawOnGrid(const GridVertex (&input)[3], const RenderState& state, const TextureMemory& textures,
                  FrameBuffer& frame);
  void DrawPrepared(const PreparedTriangle& triangle, FrameBuffer& frame);
  void DrawSpriteSquare(const PreparedTriangle& triangle, FrameBuffer& frame);

  bool general_ = false;
  void (*addSpans_)(const SpriteSource&, const SpriteSpan*, int) = nullptr;

  // Two places for prepared triangles: the half held back, and the one being prepared.
  PreparedTriangle triangles_[2];
  int pending_ = -1; // the place of the half held back, or -1

  // The rows of the sprite being drawn, one span each.
  SpriteSpan spans_[ScreenHeight];
};

} // namespace glide
