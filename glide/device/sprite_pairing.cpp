// Sprite pairing: a square's halves recognised as they come, and the box they cover together.
#include "device/sprite_pairing.h"

#include <algorithm>

#include "device/attribute_planes.h"

namespace glide {
namespace {

// The change of s (or t) along the legs of a right angle, as AttributePlanes::PlaneOf computes it.
void ChangesAlongLegs(const GridVertex (&vertices)[3], const Legs& legs, Attribute attribute, double w,
                      double (&changes)[2]) {
  for (int axis = 0; axis < 2; ++axis) {
    changes[axis] =
        vertices[legs.along[axis]].attribute[attribute] * w - vertices[legs.corner].attribute[attribute] * w;
  }
}

} // namespace

void NoteSquareHalf(const GridVertex (&vertices)[3], PreparedTriangle& triangle) {
  for (int channel = Red; channel <= Blue; ++channel) triangle.colour[channel] = vertices[0].attribute[channel];
  triangle.oow = vertices[0].attribute[Oow];
  const Legs legs = LegsOf(vertices, triangle.rightAngle);
  triangle.leg[0] = vertices[legs.along[0]].x - vertices[legs.corner].x;
  triangle.leg[1] = vertices[legs.along[1]].y - vertices[legs.corner].y;
  ChangesAlongLegs(vertices, legs, Sow, InverseOow(triangle.oow), triangle.sAlong);
  ChangesAlongLegs(vertices, legs, Tow, InverseOow(triangle.oow), triangle.tAlong);
}

bool CompletesSquare(const PreparedTriangle& first, const GridVertex (&vertices)[3], const PreparedTriangle& second) {
  if (first.rightAngle < 0 || second.rightAngle < 0) return false;
  const std::int64_t firstX = first.x[first.rightAngle], firstY = first.y[first.rightAngle];
  const std::int64_t secondX = second.x[second.rightAngle], secondY = second.y[second.rightAngle];
  if (firstX == secondX || firstY == secondY) return false;
  // Opposite corners span the box: the other two vertices of each triangle then lie on it.
  for (const PreparedTriangle* triangle : {&first, &second}) {
    for (int i = 0; i < 3; ++i) {
      const bool onCorner = (triangle->x[i] == firstX || triangle->x[i] == secondX) &&
                            (triangle->y[i] == firstY || triangle->y[i] == secondY);
      if (!onCorner) return false;
    }
  }
  if (first.columnBegin != second.columnBegin || first.rowBegin != second.rowBegin) return false;
  for (const GridVertex& vertex : vertices) {
    if (vertex.attribute[Red] != first.colour[Red] || vertex.attribute[Green] != first.colour[Green] ||
        vertex.attribute[Blue] != first.colour[Blue] || vertex.attribute[Oow] != first.oow) {
      return false;
    }
  }
  const double w = InverseOow(first.oow);
  if (second.x[0] != first.x[0] || second.y[0] != first.y[0] ||
      vertices[0].attribute[Sow] * w != first.shading.s.value ||
      vertices[0].attribute[Tow] * w != first.shading.t.value) {
    return false;
  }
  const Legs legs = LegsOf(vertices, second.rightAngle);
  const std::int64_t leg[2] = {vertices[legs.along[0]].x - vertices[legs.corner].x,
                               vertices[legs.along[1]].y - vertices[legs.corner].y};
  double sAlong[2], tAlong[2];
  ChangesAlongLegs(vertices, legs, Sow, w, sAlong);
  ChangesAlongLegs(vertices, legs, Tow, w, tAlong);
  for (int axis = 0; axis < 2; ++axis) {
    const bool same =
        leg[axis] == first.leg[axis] && sAlong[axis] == first.sAlong[axis] && tAlong[axis] == first.tAlong[axis];
    const bool negated =
        leg[axis] == -first.leg[axis] && sAlong[axis] == -first.sAlong[axis] && tAlong[axis] == -first.tAlong[axis];
    if (!same && !negated) return false;
  }
  return true;
}

PixelBox SquarePixels(const PreparedTriangle& half) {
  // The pixel centres inside the box: left and bottom sides included, right and top excluded,
  // exactly as the two halves' edges decide.
  const auto [minX, maxX] = std::minmax({half.x[0], half.x[1], half.x[2]});
  const auto [minY, maxY] = std::minmax({half.y[0], half.y[1], half.y[2]});
  PixelBox box;
  box.columnBegin = ClampToInt(CeilDiv(minX - HalfPixel, SubpixelScale), half.columnBegin, half.columnEnd);
  box.columnEnd = ClampToInt(CeilDiv(maxX - HalfPixel, SubpixelScale), box.columnBegin, half.columnEnd);
  box.rowBegin = ClampToInt(CeilDiv(minY - HalfPixel, SubpixelScale), half.rowBegin, half.rowEnd);
  box.rowEnd = ClampToInt(CeilDiv(maxY - HalfPixel, SubpixelScale), box.rowBegin, half.rowEnd);
  return box;
}

} // namespace glide
