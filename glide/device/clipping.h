// Clipping to the guard band and snapping to the grid: what every triangle passes first.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "device/fixed_point.h"
#include "device/grid_vertex.h"
#include "glide/glide.h"

namespace glide {

// Within this distance of the origin, in pixels, every edge function on the grid fits
// comfortably in 64 bits; a triangle that reaches further is first cut to the band.
inline constexpr double GuardBand = 32768.0;

// A corner before snapping, with its attributes in Attribute order.
struct ClipVertex {
  double x;
  double y;
  float attribute[AttributeCount];
};

inline ClipVertex FromGrVertex(const GrVertex& vertex) {
  ClipVertex clip;
  clip.x = vertex.x;
  clip.y = vertex.y;
  std::memcpy(clip.attribute, reinterpret_cast<const char*>(&vertex) + offsetof(GrVertex, r), sizeof clip.attribute);
  return clip;
}

// False for corners beyond the band, and for NaN and infinities.
inline bool WithinGuardBand(const ClipVertex& vertex) {
  return std::fabs(vertex.x) <= GuardBand && std::fabs(vertex.y) <= GuardBand;
}

// The corner on the grid, its attributes where they are.
inline GridVertex Snap(const ClipVertex& vertex) {
  const double limit = GuardBand * SubpixelScale;
  return {RoundToInteger(std::clamp(vertex.x * SubpixelScale, -limit, limit)),
          RoundToInteger(std::clamp(vertex.y * SubpixelScale, -limit, limit)), vertex.attribute};
}

// Four cuts add at most four corners to a triangle.
inline constexpr int MaxPolygonCorners = 8;

// Cuts a triangle to the guard band into `polygon`, whose fan (0, i, i + 1) then covers what
// lies within the band, and returns its number of corners: below 3 when nothing is left, as
// for a corner that is not finite.
int ClipToGuardBand(const ClipVertex (&corners)[3], ClipVertex (&polygon)[MaxPolygonCorners]);

} // namespace glide
