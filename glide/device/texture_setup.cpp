// Texture set-up: the texture coordinates over a triangle, and the level of detail they call for.
#include "device/texture_setup.h"

#include <algorithm>
#include <bit>

#include "device/sampling.h"

namespace glide {
namespace {

// The level of detail: log2 of the larger per-pixel texel step (in texels of the largest level),
// plus the bias, rounded to the nearest level (nearest looks smoother on the small sprites of the
// show than rounding down, which samples a level twice too fine). It is taken from an exponent,
// not log2, so that a step just below a power of two never rounds up: the binary exponent of
// step^4 is floor(4·log2(step)) exactly.
int ChooseLevel(double stepSquared, int biasQuarters, int levelCount) {
  if (!(stepSquared > 0)) return 0;
  const double bounded = std::clamp(stepSquared, 0x1p-40, 0x1p40);
  const auto bits = std::bit_cast<std::uint64_t>(bounded * bounded); // a normal number
  const int quarters = static_cast<int>(bits >> 52 & 0x7FF) - 1023;
  return ClampToInt(FloorDiv(quarters + biasQuarters + 2, 4), 0, levelCount - 1);
}

// The texture coordinates of an affine triangle (1/w the same everywhere): s = sow · w.
Plane AffinePlane(const AttributePlanes& planes, const GridVertex (&vertices)[3], Attribute attribute, double w) {
  return planes.PlaneOf(vertices[0].attribute[attribute] * w, vertices[1].attribute[attribute] * w,
                        vertices[2].attribute[attribute] * w);
}

} // namespace

void PrepareTexture(const AttributePlanes& planes, const GridVertex (&vertices)[3], const Texture& texture,
                    PreparedTriangle& triangle) {
  Shading& shading = triangle.shading;
  const double largestU = texture.levels[0].uScale;
  const double largestV = texture.levels[0].vScale;

  const float oow = vertices[0].attribute[Oow];
  shading.perspective = !(vertices[1].attribute[Oow] == oow && vertices[2].attribute[Oow] == oow);
  Plane& s = shading.s;
  Plane& t = shading.t;
  double dsdx, dtdx, dsdy, dtdy;
  if (shading.perspective) {
    shading.sow = planes.PlaneOf(Sow);
    shading.tow = planes.PlaneOf(Tow);
    shading.oow = planes.PlaneOf(Oow);
    // The texel step of a perspective triangle changes across it; take it at the centroid.
    const double x = static_cast<double>(vertices[0].x + vertices[1].x + vertices[2].x) / (3.0 * SubpixelScale);
    const double y = static_cast<double>(vertices[0].y + vertices[1].y + vertices[2].y) / (3.0 * SubpixelScale);
    const double w = planes.At(shading.oow, x, y);
    const double sw = planes.At(shading.sow, x, y);
    const double tw = planes.At(shading.tow, x, y);
    dsdx = (shading.sow.perX * w - sw * shading.oow.perX) / (w * w);
    dsdy = (shading.sow.perY * w - sw * shading.oow.perY) / (w * w);
    dtdx = (shading.tow.perX * w - tw * shading.oow.perX) / (w * w);
    dtdy = (shading.tow.perY * w - tw * shading.oow.perY) / (w * w);
  } else {
    const double w = InverseOow(oow);
    s = AffinePlane(planes, vertices, Sow, w);
    t = AffinePlane(planes, vertices, Tow, w);
    dsdx = s.perX;
    dsdy = s.perY;
    dtdx = t.perX;
    dtdy = t.perY;
  }

  const double stepX = dsdx * largestU * (dsdx * largestU) + dtdx * largestV * (dtdx * largestV);
  const double stepY = dsdy * largestU * (dsdy * largestU) + dtdy * largestV * (dtdy * largestV);
  const int level =
      texture.mipmapped ? ChooseLevel(std::max(stepX, stepY), texture.lodBiasQuarters, texture.geometry.levelCount) : 0;
  // The magnification filter applies at the finest level, the minification filter below it.
  const bool bilinear = level == 0 ? texture.bilinearMagnify : texture.bilinearMinify;
  const TextureLevel& sampled = texture.levels[level];
  shading.level = &sampled;
  shading.fractionMask = bilinear ? 255 : 0;
  shading.offset = bilinear ? 0.5 : 0.0;
  shading.uScale = sampled.uScale;
  shading.vScale = sampled.vScale;
  if (!shading.perspective) {
    const double x = triangle.columnBegin + 0.5;
    const double y = triangle.rowBegin + 0.5;
    shading.u = {ToFixed(planes.At(s, x, y) * shading.uScale - shading.offset, sampled.width),
                 ToFixed(s.perX * shading.uScale, sampled.width), ToFixed(s.perY * shading.uScale, sampled.width)};
    shading.v = {ToFixed(planes.At(t, x, y) * shading.vScale - shading.offset, sampled.height),
                 ToFixed(t.perX * shading.vScale, sampled.height), ToFixed(t.perY * shading.vScale, sampled.height)};
  }
}

} // namespace glide
