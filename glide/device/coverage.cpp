// Coverage set-up: a triangle's vertices in a fixed order, its box of candidate pixels within the
// clip window, and the right angle that makes it half of a sprite square.
#include "device/coverage.h"

namespace glide {

bool PrepareCoverage(const GridVertex (&input)[3], const RenderState& state, GridVertex (&vertices)[3],
                     PreparedTriangle& triangle) {
  const std::int64_t doubleArea =
      (input[1].x - input[0].x) * (input[2].y - input[0].y) - (input[2].x - input[0].x) * (input[1].y - input[0].y);
  if (doubleArea == 0) return false;
  // Counter-clockwise (no culling: either winding draws), the lowest vertex first, then the
  // leftmost: both halves of a square then share their first vertex and its attribute values.
  int order[3] = {0, 1, 2};
  if (doubleArea < 0) std::swap(order[1], order[2]);
  int lowest = 0;
  for (int i = 1; i < 3; ++i) {
    const GridVertex& candidate = input[order[i]];
    const GridVertex& best = input[order[lowest]];
    if (candidate.y < best.y || (candidate.y == best.y && candidate.x < best.x)) lowest = i;
  }
  for (int i = 0; i < 3; ++i) vertices[i] = input[order[(lowest + i) % 3]];

  for (int i = 0; i < 3; ++i) {
    triangle.x[i] = vertices[i].x;
    triangle.y[i] = vertices[i].y;
  }
  const auto [minX, maxX] = std::minmax({triangle.x[0], triangle.x[1], triangle.x[2]});
  const auto [minY, maxY] = std::minmax({triangle.y[0], triangle.y[1], triangle.y[2]});
  triangle.columnBegin = ClampToInt(CeilDiv(minX - HalfPixel, SubpixelScale), state.clipMinX, state.clipMaxX);
  triangle.columnEnd = ClampToInt(FloorDiv(maxX - HalfPixel, SubpixelScale) + 1, state.clipMinX, state.clipMaxX);
  triangle.rowBegin = ClampToInt(CeilDiv(minY - HalfPixel, SubpixelScale), state.clipMinY, state.clipMaxY);
  triangle.rowEnd = ClampToInt(FloorDiv(maxY - HalfPixel, SubpixelScale) + 1, state.clipMinY, state.clipMaxY);
  if (triangle.columnBegin >= triangle.columnEnd || triangle.rowBegin >= triangle.rowEnd) return false;

  triangle.rightAngle = -1;
  for (int i = 0; i < 3; ++i) {
    const int j = (i + 1) % 3;
    const int k = (i + 2) % 3;
    const bool horizontalThenVertical = triangle.y[j] == triangle.y[i] && triangle.x[k] == triangle.x[i];
    const bool verticalThenHorizontal = triangle.x[j] == triangle.x[i] && triangle.y[k] == triangle.y[i];
    if (horizontalThenVertical || verticalThenHorizontal) triangle.rightAngle = i;
  }
  return true;
}

} // namespace glide
