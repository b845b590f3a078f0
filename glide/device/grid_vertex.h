// A vertex snapped to the grid, and the attributes it carries from the library's vertex record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "glide/glide.h"

namespace glide {

// The attributes a vertex carries, numbered as they lie in GrVertex from `r` on, so that they
// are copied in one piece (the depth `ooz` between blue and alpha comes along unused).
enum Attribute { Red = 0, Green = 1, Blue = 2, Alpha = 4, Oow = 5, Sow = 6, Tow = 7, AttributeCount = 8 };
static_assert(offsetof(GrVertex, a) - offsetof(GrVertex, r) == Alpha * sizeof(float) &&
                  offsetof(GrVertex, oow) - offsetof(GrVertex, r) == Oow * sizeof(float) &&
                  offsetof(GrVertex, tmuvtx) - offsetof(GrVertex, r) == Sow * sizeof(float) &&
                  offsetof(GrVertex, tmuvtx) + sizeof(float) - offsetof(GrVertex, r) == Tow * sizeof(float),
              "GrVertex keeps the library's order");

// A vertex snapped to the grid (in units of 1/SubpixelScale pixel), with its attributes
// (Attribute order) where they were.
struct GridVertex {
  std::int64_t x;
  std::int64_t y;
  const float* attribute;
};

// w of an affine triangle, whose 1/w is the same everywhere: the same value as 1 / oow, without a
// division in the usual case.
inline double InverseOow(float oow) { return oow == 1.0f ? 1.0 : 1.0 / oow; }

} // namespace glide
