// The planes of a triangle's attributes over the screen, from its vertices on the grid.
#pragma once

#include "device/fixed_point.h"
#include "device/grid_vertex.h"
#include "device/prepared_triangle.h"

namespace glide {

// The vertices at the ends of the legs of a right angle: the one along x, the one along y.
struct Legs {
  int corner;
  int along[2];
};

inline Legs LegsOf(const GridVertex (&vertices)[3], int corner) {
  const int next = (corner + 1) % 3;
  const int last = (corner + 2) % 3;
  const bool nextAlongX = vertices[next].y == vertices[corner].y;
  return {corner, {nextAlongX ? next : last, nextAlongX ? last : next}};
}

// Attribute planes over a triangle, from its grid vertices. A right triangle with legs along the
// axes takes each gradient from one leg: exact, cheaper, and the same for both halves of a
// square, whose legs are equal and opposite (IEEE arithmetic is symmetric under sign changes).
class AttributePlanes {
public:
  AttributePlanes(const GridVertex (&vertices)[3], int rightAngle) : vertices_(vertices), right_(rightAngle >= 0) {
    referenceX_ = static_cast<double>(vertices[0].x) / SubpixelScale;
    referenceY_ = static_cast<double>(vertices[0].y) / SubpixelScale;
    if (right_) {
      legs_ = LegsOf(vertices, rightAngle);
      perLegX_ = static_cast<double>(SubpixelScale) /
                 static_cast<double>(vertices[legs_.along[0]].x - vertices[legs_.corner].x);
      perLegY_ = static_cast<double>(SubpixelScale) /
                 static_cast<double>(vertices[legs_.along[1]].y - vertices[legs_.corner].y);
      return;
    }
    e1x_ = static_cast<double>(vertices[1].x - vertices[0].x) / SubpixelScale;
    e1y_ = static_cast<double>(vertices[1].y - vertices[0].y) / SubpixelScale;
    e2x_ = static_cast<double>(vertices[2].x - vertices[0].x) / SubpixelScale;
    e2y_ = static_cast<double>(vertices[2].y - vertices[0].y) / SubpixelScale;
    inverseArea_ = 1.0 / (e1x_ * e2y_ - e2x_ * e1y_);
  }

  Plane PlaneOf(double value0, double value1, double value2) const {
    if (right_) {
      const double values[3] = {value0, value1, value2};
      return {value0, (values[legs_.along[0]] - values[legs_.corner]) * perLegX_,
              (values[legs_.along[1]] - values[legs_.corner]) * perLegY_};
    }
    const double d1 = value1 - value0;
    const double d2 = value2 - value0;
    return {value0, (d1 * e2y_ - d2 * e1y_) * inverseArea_, (d2 * e1x_ - d1 * e2x_) * inverseArea_};
  }
  Plane PlaneOf(Attribute attribute) const {
    return PlaneOf(vertices_[0].attribute[attribute], vertices_[1].attribute[attribute],
                   vertices_[2].attribute[attribute]);
  }
  double At(const Plane& plane, double x, double y) const {
    return plane.value + plane.perX * (x - referenceX_) + plane.perY * (y - referenceY_);
  }
  double ReferenceX() const { return referenceX_; }
  double ReferenceY() const { return referenceY_; }

private:
  const GridVertex (&vertices_)[3];
  bool right_;
  Legs legs_{};
  double perLegX_ = 0, perLegY_ = 0;
  double referenceX_, referenceY_;
  double e1x_ = 0, e1y_ = 0, e2x_ = 0, e2y_ = 0;
  double inverseArea_ = 0;
};

} // namespace glide
