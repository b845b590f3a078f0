// Cutting a triangle that reaches beyond the guard band down to the band.
#include "device/clipping.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace glide {
namespace {

// Cuts a convex polygon to one side of an axis-parallel line: keeps the points whose coordinate
// `axis` (0 for x, 1 for y) times `sign` is at most GuardBand. A crossing point is always
// computed from the inside end towards the outside end, so two triangles that share an edge
// get the same point.
int ClipToHalfPlane(const ClipVertex* input, int count, ClipVertex* output, int axis, double sign) {
  auto coordinate = [axis](const ClipVertex& vertex) { return axis == 0 ? vertex.x : vertex.y; };
  auto inside = [&](const ClipVertex& vertex) { return sign * coordinate(vertex) <= GuardBand; };
  int written = 0;
  for (int i = 0; i < count; ++i) {
    const ClipVertex& current = input[i];
    const ClipVertex& next = input[(i + 1) % count];
    if (inside(current)) output[written++] = current;
    if (inside(current) == inside(next)) continue;
    const ClipVertex& in = inside(current) ? current : next;
    const ClipVertex& out = inside(current) ? next : current;
    const double t = (sign * GuardBand - coordinate(in)) / (coordinate(out) - coordinate(in));
    ClipVertex crossing;
    crossing.x = in.x + (out.x - in.x) * t;
    crossing.y = in.y + (out.y - in.y) * t;
    (axis == 0 ? crossing.x : crossing.y) = sign * GuardBand;
    for (int k = Red; k < AttributeCount; ++k) {
      const double from = in.attribute[k];
      crossing.attribute[k] = static_cast<float>(from + (out.attribute[k] - from) * t);
    }
    output[written++] = crossing;
  }
  return written;
}

} // namespace

int ClipToGuardBand(const ClipVertex (&corners)[3], ClipVertex (&polygon)[MaxPolygonCorners]) {
  for (const ClipVertex& corner : corners) {
    if (!std::isfinite(corner.x) || !std::isfinite(corner.y)) return 0; // nothing sensible to draw
  }
  // The cuts go back and forth between the polygon and a second place, four times, so that the
  // last one leaves the result in the polygon.
  ClipVertex other[MaxPolygonCorners];
  ClipVertex* places[2] = {polygon, other};
  std::copy(std::begin(corners), std::end(corners), polygon);
  int count = 3;
  int current = 0;
  for (int axis = 0; axis < 2; ++axis) {
    for (double sign : {1.0, -1.0}) {
      count = ClipToHalfPlane(places[current], count, places[1 - current], axis, sign);
      current = 1 - current;
    }
  }
  return count;
}

} // namespace glide
