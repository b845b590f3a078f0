// The rasterizer: every triangle through the stages in order, the half sprite held back until its
// pair comes, and the spans handed to the per-pixel pipeline or to the sprite kernels.
#include "device/rasterizer.h"

#include "device/clipping.h"
#include "device/coverage.h"
#include "device/shading.h"
#include "device/shading_setup.h"
#include "device/sprite_pairing.h"

namespace glide {

static_assert(MaxSpanWidth == ScreenWidth, "a span of the sprite kernels is a screen row at most");

namespace {

std::uint32_t* FrameRow(FrameBuffer& frame, int row) { return frame.pixels + (ScreenHeight - 1 - row) * ScreenWidth; }

// Notes the columns [begin, end) of Glide rows [rowBegin, rowEnd) as written.
void MarkWritten(FrameBuffer& frame, int begin, int end, int rowBegin, int rowEnd) {
  frame.damage.MarkWritten(begin, end, ScreenHeight - rowEnd, ScreenHeight - rowBegin);
}

// What the sprite kernels need of a sprite triangle.
SpriteSource SpriteSourceOf(const PreparedTriangle& triangle) {
  const Shading& shading = triangle.shading;
  SpriteSource source;
  source.intensity = shading.level->intensity;
  source.levelWidth = shading.level->width;
  source.levelHeight = shading.level->height;
  source.uOrigin = shading.u.origin;
  source.uPerColumn = shading.u.perX;
  source.originColumn = triangle.columnBegin;
  source.vOrigin = shading.v.origin;
  source.vPerRow = shading.v.perY;
  source.originRow = triangle.rowBegin;
  source.fractionMask = static_cast<unsigned>(shading.fractionMask);
  std::copy(std::begin(shading.colourScale), std::end(shading.colourScale), source.colourScale);
  source.colourScale[3] = 0;
  return source;
}

} // namespace

Rasterizer::Rasterizer() {
  __builtin_cpu_init(); // the context may be built before the run-time has looked at the processor
  SelectPath(SpritePath::Fastest);
}

bool Rasterizer::SelectPath(SpritePath path) {
  const bool avx2 = __builtin_cpu_supports("avx2");
  switch (path) {
  case SpritePath::Fastest:
    general_ = false;
    addSpans_ = avx2 ? AddSpriteSpansAvx2 : AddSpriteSpansPortable;
    return true;
  case SpritePath::General: general_ = true; return true;
  case SpritePath::Portable:
    general_ = false;
    addSpans_ = AddSpriteSpansPortable;
    return true;
  case SpritePath::Avx2:
    if (!avx2) return false;
    general_ = false;
    addSpans_ = AddSpriteSpansAvx2;
    return true;
  }
  return false;
}

void Rasterizer::Draw(const GrVertex& a, const GrVertex& b, const GrVertex& c, const RenderState& state,
                      const TextureMemory& textures, FrameBuffer& frame) {
  const ClipVertex corners[3] = {FromGrVertex(a), FromGrVertex(b), FromGrVertex(c)};
  // The usual case first.
  if (WithinGuardBand(corners[0]) && WithinGuardBand(corners[1]) && WithinGuardBand(corners[2])) [[likely]] {
    const GridVertex vertices[3] = {Snap(corners[0]), Snap(corners[1]), Snap(corners[2])};
    DrawOnGrid(vertices, state, textures, frame);
    return;
  }
  ClipVertex polygon[MaxPolygonCorners];
  const int count = ClipToGuardBand(corners, polygon);
  for (int i = 1; i + 1 < count; ++i) {
    const GridVertex vertices[3] = {Snap(polygon[0]), Snap(polygon[i]), Snap(polygon[i + 1])};
    DrawOnGrid(vertices, state, textures, frame);
  }
}

void Rasterizer::DrawOnGrid(const GridVertex (&input)[3], const RenderState& state, const TextureMemory& textures,
                            FrameBuffer& frame) {
  const int place = pending_ == 0 ? 1 : 0;
  PreparedTriangle& triangle = triangles_[place];
  GridVertex vertices[3];
  if (!PrepareCoverage(input, state, vertices, triangle)) return;
  if (pending_ >= 0 && CompletesSquare(triangles_[pending_], vertices, triangle)) {
    const int first = pending_;
    pending_ = -1;
    DrawSpriteSquare(triangles_[first], frame);
    return;
  }
  PrepareShading(vertices, state, textures, !general_, triangle);
  Flush(frame);
  if (triangle.sprite && triangle.rightAngle >= 0) {
    NoteSquareHalf(vertices, triangle);
    pending_ = place;
    return;
  }
  DrawPrepared(triangle, frame);
}

void Rasterizer::Flush(FrameBuffer& frame) {
  if (pending_ < 0) return;
  const int place = pending_;
  pending_ = -1;
  DrawPrepared(triangles_[place], frame);
}

void Rasterizer::DrawPrepared(const PreparedTriangle& triangle, FrameBuffer& frame) {
  MarkWritten(frame, triangle.columnBegin, triangle.columnEnd, triangle.rowBegin, triangle.rowEnd);
  if (triangle.sprite) {
    int count = 0;
    ForEachSpan(triangle, [&](int row, int begin, int end) {
      spans_[count++] = {FrameRow(frame, row), row, begin, end};
    });
    addSpans_(SpriteSourceOf(triangle), spans_, count);
    return;
  }
  ForEachSpan(triangle,
              [&](int row, int begin, int end) { ShadeSpan(triangle, row, begin, end, FrameRow(frame, row)); });
}

void Rasterizer::DrawSpriteSquare(const PreparedTriangle& triangle, FrameBuffer& frame) {
  const PixelBox box = SquarePixels(triangle);
  if (box.columnBegin >= box.columnEnd || box.rowBegin >= box.rowEnd) return;
  MarkWritten(frame, box.columnBegin, box.columnEnd, box.rowBegin, box.rowEnd);
  int count = 0;
  for (int row = box.rowBegin; row < box.rowEnd; ++row) {
    spans_[count++] = {FrameRow(frame, row), row, box.columnBegin, box.columnEnd};
  }
  addSpans_(SpriteSourceOf(triangle), spans_, count);
}

} // namespace glide
