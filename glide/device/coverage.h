// Coverage: which pixel centres a triangle covers, exactly, row by row within its clipped box.
#pragma once

#include <algorithm>
#include <cstdint>

#include "device/fixed_point.h"
#include "device/grid_vertex.h"
#include "device/prepared_triangle.h"
#include "device/render_state.h"

namespace glide {

// Coverage set-up: the vertices in order, the box of candidate pixels, and the right angle.
// False when the triangle has no area or its box misses the clip window.
bool PrepareCoverage(const GridVertex (&input)[3], const RenderState& state, GridVertex (&vertices)[3],
                     PreparedTriangle& triangle);

// One edge of a counter-clockwise triangle: a·px + b·py + c > 0 for the pixels on its inner side,
// with the fill rule's tie-break folded into c.
struct Edge {
  std::int64_t a;
  std::int64_t b;
  std::int64_t c;
};

// The triangle's three edges, counter-clockwise.
inline void MakeEdges(const PreparedTriangle& triangle, Edge (&edges)[3]) {
  for (int i = 0; i < 3; ++i) {
    const int j = (i + 1) % 3;
    const std::int64_t dx = triangle.x[j] - triangle.x[i];
    const std::int64_t dy = triangle.y[j] - triangle.y[i];
    // Pixel centres on an edge belong to left edges (walked downward, counter-clockwise) and to
    // the bottom edge (walked rightward), so triangles sharing an edge never both draw a pixel.
    const bool owned = dy < 0 || (dy == 0 && dx > 0);
    // E(P) = dx·(Py − yi) − dy·(Px − xi) at P = (256·px + 128, 256·py + 128).
    edges[i].a = -dy * SubpixelScale;
    edges[i].b = dx * SubpixelScale;
    edges[i].c = dx * (HalfPixel - triangle.y[i]) - dy * (HalfPixel - triangle.x[i]) + (owned ? 1 : 0);
  }
}

// Along a row, a sloped edge bounds the run on one side. With N = −(b·py + c) and d = |a|,
// a left edge (a > 0) admits px ≥ floor(N / d) + 1 and a right edge px < −floor(N / d).
// The quotient is stepped exactly from row to row, as quotient and remainder.
struct EdgeWalker {
  bool left;
  std::int64_t quotient, remainder, divisor, quotientStep, remainderStep;
};

// A walker along a sloped edge (a ≠ 0), at the given row.
inline EdgeWalker StartWalker(const Edge& edge, std::int64_t row) {
  EdgeWalker walker;
  walker.left = edge.a > 0;
  walker.divisor = edge.a > 0 ? edge.a : -edge.a;
  const std::int64_t numerator = -(edge.b * row + edge.c);
  walker.quotient = FloorDiv(numerator, walker.divisor);
  walker.remainder = numerator - walker.quotient * walker.divisor;
  walker.quotientStep = edge.b == 0 ? 0 : FloorDiv(-edge.b, walker.divisor);
  walker.remainderStep = -edge.b - walker.quotientStep * walker.divisor;
  return walker;
}

// Narrows the run [begin, end) of the walker's row to the edge's inner side, then steps to the next row.
inline void NarrowAndStep(EdgeWalker& walker, std::int64_t& begin, std::int64_t& end) {
  if (walker.left) {
    begin = std::max(begin, walker.quotient + 1);
  } else {
    end = std::min(end, -walker.quotient);
  }
  walker.quotient += walker.quotientStep;
  walker.remainder += walker.remainderStep;
  if (walker.remainder >= walker.divisor) {
    walker.remainder -= walker.divisor;
    ++walker.quotient;
  }
}

// Calls span(row, begin, end) for every row of the triangle, with the exact run of pixels whose
// centres it covers. Every loop runs over the clipped box, never over unclipped coordinates.
template <typename SpanFunction>
void ForEachSpan(const PreparedTriangle& triangle, SpanFunction&& span) {
  Edge edges[3];
  MakeEdges(triangle, edges);
  std::int64_t rowBegin = triangle.rowBegin;
  std::int64_t rowEnd = triangle.rowEnd;
  // A horizontal edge admits whole rows: b·py + c > 0.
  for (const Edge& edge : edges) {
    if (edge.a != 0) continue;
    if (edge.b > 0) rowBegin = std::max(rowBegin, FloorDiv(-edge.c, edge.b) + 1);
    if (edge.b < 0) rowEnd = std::min(rowEnd, CeilDiv(edge.c, -edge.b));
  }
  if (rowBegin >= rowEnd) return;

  EdgeWalker walkers[3];
  int walkerCount = 0;
  for (const Edge& edge : edges) {
    if (edge.a != 0) walkers[walkerCount++] = StartWalker(edge, rowBegin);
  }
  for (std::int64_t row = rowBegin; row < rowEnd; ++row) {
    std::int64_t begin = triangle.columnBegin;
    std::int64_t end = triangle.columnEnd;
    for (int i = 0; i < walkerCount; ++i) NarrowAndStep(walkers[i], begin, end);
    if (begin < end) span(static_cast<int>(row), static_cast<int>(begin), static_cast<int>(end));
  }
}

} // namespace glide
