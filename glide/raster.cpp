// Triangle set-up, exact edge walking, the general per-pixel pipeline and the sprite path.
#include "glide/raster.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace glide {
namespace {

// Vertices snap to 1/256 pixel. Within the guard band every edge function fits comfortably in
// 64 bits; larger triangles are first clipped to the band.
constexpr std::int64_t SubpixelScale = 256;
constexpr std::int64_t HalfPixel = SubpixelScale / 2;
constexpr double GuardBand = 32768.0;

// Texel coordinates are fixed point with this many fraction bits; the top 8 of them weight the
// second texel of a bilinear pair.
constexpr int TexelFractionBits = 24;
constexpr double TexelFractionScale = 1 << TexelFractionBits;

enum Attribute { Red, Green, Blue, Alpha, Sow, Tow, Oow, AttributeCount };

struct ClipVertex {
  double x;
  double y;
  double attribute[AttributeCount];
};

struct GridVertex {
  std::int64_t x;
  std::int64_t y;
  double attribute[AttributeCount];
};

std::int64_t FloorDiv(std::int64_t numerator, std::int64_t denominator) { // denominator > 0
  std::int64_t quotient = numerator / denominator;
  if (numerator % denominator != 0 && numerator < 0) --quotient;
  return quotient;
}

std::int64_t CeilDiv(std::int64_t numerator, std::int64_t denominator) { return -FloorDiv(-numerator, denominator); }

int ClampToInt(std::int64_t value, int low, int high) {
  return static_cast<int>(std::clamp<std::int64_t>(value, low, high));
}

ClipVertex FromGrVertex(const GrVertex& vertex) {
  return {vertex.x,
          vertex.y,
          {vertex.r, vertex.g, vertex.b, vertex.a, vertex.tmuvtx[0].sow, vertex.tmuvtx[0].tow, vertex.oow}};
}

GridVertex Snap(const ClipVertex& vertex) {
  const double limit = GuardBand * SubpixelScale;
  GridVertex grid;
  grid.x = std::lrint(std::clamp(vertex.x * SubpixelScale, -limit, limit));
  grid.y = std::lrint(std::clamp(vertex.y * SubpixelScale, -limit, limit));
  std::memcpy(grid.attribute, vertex.attribute, sizeof grid.attribute);
  return grid;
}

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
    for (int k = 0; k < AttributeCount; ++k) {
      crossing.attribute[k] = in.attribute[k] + (out.attribute[k] - in.attribute[k]) * t;
    }
    output[written++] = crossing;
  }
  return written;
}

// 0..255; NaN counts as 0. Iterated colours outside the range are clamped, as the show's
// brightest particles expect (they pass values above 255 and expect white, not wrap-around).
int Quantize(double value) {
  if (!(value > 0)) return 0;
  if (value >= 255) return 255;
  return static_cast<int>(value + 0.5);
}

// A multiplier on the 0..256 scale, so that 255 keeps a value unchanged.
int Scale(int value) { return value + (value >> 7); }

// The remainder of `value` modulo `period`, in [0, period); anything not finite gives 0.
double Wrap(double value, double period) {
  if (!std::isfinite(value)) return 0;
  const double wrapped = value - period * std::floor(value / period);
  return wrapped >= 0 && wrapped < period ? wrapped : 0;
}

std::int64_t ToFixed(double texels, int size) {
  const std::int64_t mask = (static_cast<std::int64_t>(size) << TexelFractionBits) - 1;
  return std::llrint(Wrap(texels, size) * TexelFractionScale) & mask;
}

BlendFactor SourceFactor(std::int32_t factor) {
  switch (factor) {
  case GR_BLEND_ZERO: return BlendFactor::Zero;
  case GR_BLEND_SRC_ALPHA: return BlendFactor::SourceAlpha;
  case GR_BLEND_ONE_MINUS_SRC_ALPHA: return BlendFactor::OneMinusSourceAlpha;
  default: return BlendFactor::One; // GR_BLEND_ONE, and factors this library does not draw
  }
}

BlendFactor DestinationFactor(std::int32_t factor) {
  switch (factor) {
  case GR_BLEND_ONE: return BlendFactor::One;
  case GR_BLEND_SRC_ALPHA: return BlendFactor::SourceAlpha;
  case GR_BLEND_ONE_MINUS_SRC_ALPHA: return BlendFactor::OneMinusSourceAlpha;
  default: return BlendFactor::Zero; // GR_BLEND_ZERO, and factors this library does not draw
  }
}

int FactorWeight(BlendFactor factor, int alphaScale) {
  switch (factor) {
  case BlendFactor::Zero: return 0;
  case BlendFactor::SourceAlpha: return alphaScale;
  case BlendFactor::One: return 256;
  case BlendFactor::OneMinusSourceAlpha: return 256 - alphaScale;
  }
  return 0;
}

// The level of detail: log2 of the larger per-pixel texel step (in texels of the largest level),
// plus the bias, rounded to the nearest level (nearest looks smoother on the small sprites of the
// show than rounding down, which samples a level twice too fine). It is taken from exponents,
// not log2, so that a step just below a power of two never rounds up: the exponent of step^4
// gives floor(4·log2(step)) exactly.
int ChooseLevel(double stepSquared, int biasQuarters, int levelCount) {
  if (!(stepSquared > 0)) return 0;
  const double bounded = std::clamp(stepSquared, 0x1p-40, 0x1p40);
  int exponent = 0;
  std::frexp(bounded * bounded, &exponent); // bounded² lies in [2^(exponent−1), 2^exponent)
  const int quarters = exponent - 1;
  const auto level = FloorDiv(quarters + biasQuarters + 2, 4);
  return ClampToInt(level, 0, levelCount - 1);
}

// The part of a triangle's set-up that needs its vertices' attributes.
class Setup {
public:
  explicit Setup(const GridVertex (&vertices)[3]) : vertices_(vertices) {
    referenceX_ = static_cast<double>(vertices[0].x) / SubpixelScale;
    referenceY_ = static_cast<double>(vertices[0].y) / SubpixelScale;
    e1x_ = static_cast<double>(vertices[1].x - vertices[0].x) / SubpixelScale;
    e1y_ = static_cast<double>(vertices[1].y - vertices[0].y) / SubpixelScale;
    e2x_ = static_cast<double>(vertices[2].x - vertices[0].x) / SubpixelScale;
    e2y_ = static_cast<double>(vertices[2].y - vertices[0].y) / SubpixelScale;
    inverseArea_ = 1.0 / (e1x_ * e2y_ - e2x_ * e1y_);
  }

  Plane PlaneOf(double value0, double value1, double value2) const {
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
  double referenceX_, referenceY_;
  double e1x_, e1y_, e2x_, e2y_;
  double inverseArea_;
};

bool PassesTexels(std::int32_t textureCombine) {
  // With one texture unit the upstream input is zero: DECAL and ADD deliver the texel, ZERO and
  // OTHER deliver nothing.
  return textureCombine == GR_TEXTURECOMBINE_DECAL || textureCombine == GR_TEXTURECOMBINE_ADD;
}

void PrepareTexture(const Setup& setup, const GridVertex (&vertices)[3], const Texture& texture,
                    PreparedTriangle& triangle) {
  Shading& shading = triangle.shading;
  const MipmapGeometry& geometry = texture.geometry;
  const double sRange = geometry.sRange;
  const double tRange = geometry.tRange;
  const double largestU = geometry.width[0] / sRange;
  const double largestV = geometry.height[0] / tRange;

  const double oow = vertices[0].attribute[Oow];
  shading.perspective = !(vertices[1].attribute[Oow] == oow && vertices[2].attribute[Oow] == oow);
  Plane s, t;
  double dsdx, dtdx, dsdy, dtdy;
  if (shading.perspective) {
    shading.sow = setup.PlaneOf(Sow);
    shading.tow = setup.PlaneOf(Tow);
    shading.oow = setup.PlaneOf(Oow);
    // The texel step of a perspective triangle changes across it; take it at the centroid.
    const double x = (vertices[0].x + vertices[1].x + vertices[2].x) / (3.0 * SubpixelScale);
    const double y = (vertices[0].y + vertices[1].y + vertices[2].y) / (3.0 * SubpixelScale);
    const double w = setup.At(shading.oow, x, y);
    const double sw = setup.At(shading.sow, x, y);
    const double tw = setup.At(shading.tow, x, y);
    dsdx = (shading.sow.perX * w - sw * shading.oow.perX) / (w * w);
    dsdy = (shading.sow.perY * w - sw * shading.oow.perY) / (w * w);
    dtdx = (shading.tow.perX * w - tw * shading.oow.perX) / (w * w);
    dtdy = (shading.tow.perY * w - tw * shading.oow.perY) / (w * w);
  } else {
    s = setup.PlaneOf(vertices[0].attribute[Sow] / oow, vertices[1].attribute[Sow] / oow,
                      vertices[2].attribute[Sow] / oow);
    t = setup.PlaneOf(vertices[0].attribute[Tow] / oow, vertices[1].attribute[Tow] / oow,
                      vertices[2].attribute[Tow] / oow);
    dsdx = s.perX;
    dsdy = s.perY;
    dtdx = t.perX;
    dtdy = t.perY;
  }

  const double stepX = dsdx * largestU * (dsdx * largestU) + dtdx * largestV * (dtdx * largestV);
  const double stepY = dsdy * largestU * (dsdy * largestU) + dtdy * largestV * (dtdy * largestV);
  const int level =
      texture.mipmapped ? ChooseLevel(std::max(stepX, stepY), texture.lodBiasQuarters, geometry.levelCount) : 0;
  // The magnification filter applies at the finest level, the minification filter below it.
  const bool bilinear = level == 0 ? texture.bilinearMagnify : texture.bilinearMinify;
  const TextureLevel& sampled = texture.levels[level];
  shading.level = &sampled;
  shading.fractionMask = bilinear ? 255 : 0;
  shading.offset = bilinear ? 0.5 : 0.0;
  shading.uScale = sampled.width / sRange;
  shading.vScale = sampled.height / tRange;
  if (!shading.perspective) {
    const double x = triangle.columnBegin + 0.5;
    const double y = triangle.rowBegin + 0.5;
    shading.u = {ToFixed(setup.At(s, x, y) * shading.uScale - shading.offset, sampled.width),
                 ToFixed(s.perX * shading.uScale, sampled.width), ToFixed(s.perY * shading.uScale, sampled.width)};
    shading.v = {ToFixed(setup.At(t, x, y) * shading.vScale - shading.offset, sampled.height),
                 ToFixed(t.perX * shading.vScale, sampled.height), ToFixed(t.perY * shading.vScale, sampled.height)};
  }
}

// Fills everything but the coverage. The sprite path needs no colour planes: its colour is the
// same at every vertex, which is exactly what the planes would give at every pixel.
void PrepareShading(const GridVertex (&vertices)[3], const RenderState& state, const TextureMemory& textures,
                    bool spritePathAllowed, PreparedTriangle& triangle) {
  Shading& shading = triangle.shading;
  const Setup setup(vertices);
  shading.colour = state.colorSource;
  shading.alpha = state.alphaSource;
  shading.source = SourceFactor(state.rgbSourceFactor);
  shading.destination = DestinationFactor(state.rgbDestinationFactor);
  shading.referenceX = setup.ReferenceX();
  shading.referenceY = setup.ReferenceY();

  const Texture* texture = shading.colour == ColorSource::TextureTimesIterated && PassesTexels(state.textureCombine)
                               ? textures.Find(state.textureSource)
                               : nullptr;
  if (texture) PrepareTexture(setup, vertices, *texture, triangle);

  auto same = [&](Attribute attribute) {
    return vertices[0].attribute[attribute] == vertices[1].attribute[attribute] &&
           vertices[0].attribute[attribute] == vertices[2].attribute[attribute];
  };
  triangle.sprite = spritePathAllowed && texture && shading.level->intensity && !shading.perspective &&
                    shading.u.perY == 0 && shading.v.perX == 0 && shading.source == BlendFactor::One &&
                    shading.destination == BlendFactor::One && same(Red) && same(Green) && same(Blue);
  if (triangle.sprite) {
    shading.colourScale[0] = static_cast<std::uint16_t>(Scale(Quantize(vertices[0].attribute[Blue])));
    shading.colourScale[1] = static_cast<std::uint16_t>(Scale(Quantize(vertices[0].attribute[Green])));
    shading.colourScale[2] = static_cast<std::uint16_t>(Scale(Quantize(vertices[0].attribute[Red])));
  } else {
    for (int channel = Red; channel <= Alpha; ++channel) {
      shading.channel[channel] = setup.PlaneOf(static_cast<Attribute>(channel));
    }
  }
}

// Coverage set-up: orientation, edges with the fill rule, and the box of candidate pixels.
// False when the triangle has no area or its box misses the clip window.
bool PrepareCoverage(GridVertex (&vertices)[3], const RenderState& state, PreparedTriangle& triangle) {
  auto area = [&] {
    return (vertices[1].x - vertices[0].x) * (vertices[2].y - vertices[0].y) -
           (vertices[2].x - vertices[0].x) * (vertices[1].y - vertices[0].y);
  };
  const std::int64_t doubleArea = area();
  if (doubleArea == 0) return false;
  if (doubleArea < 0) std::swap(vertices[1], vertices[2]); // no culling: either winding draws
  // The lowest vertex first (then the leftmost): both halves of a square then share their first
  // vertex and compute bit-identical attribute planes.
  int lowest = 0;
  for (int i = 1; i < 3; ++i) {
    if (vertices[i].y < vertices[lowest].y || (vertices[i].y == vertices[lowest].y && vertices[i].x < vertices[lowest].x)) {
      lowest = i;
    }
  }
  std::rotate(vertices, vertices + lowest, vertices + 3);

  std::int64_t minX = vertices[0].x, maxX = vertices[0].x, minY = vertices[0].y, maxY = vertices[0].y;
  for (int i = 0; i < 3; ++i) {
    triangle.x[i] = vertices[i].x;
    triangle.y[i] = vertices[i].y;
    minX = std::min(minX, vertices[i].x);
    maxX = std::max(maxX, vertices[i].x);
    minY = std::min(minY, vertices[i].y);
    maxY = std::max(maxY, vertices[i].y);
  }
  for (int i = 0; i < 3; ++i) {
    const int j = (i + 1) % 3;
    const std::int64_t dx = triangle.x[j] - triangle.x[i];
    const std::int64_t dy = triangle.y[j] - triangle.y[i];
    // Pixel centres on an edge belong to left edges (walked downward, counter-clockwise) and to
    // the bottom edge (walked rightward), so triangles sharing an edge never both draw a pixel.
    const bool owned = dy < 0 || (dy == 0 && dx > 0);
    // E(P) = dx·(Py − yi) − dy·(Px − xi) at P = (256·px + 128, 256·py + 128).
    Edge& edge = triangle.edges[i];
    edge.a = -dy * SubpixelScale;
    edge.b = dx * SubpixelScale;
    edge.c = dx * (HalfPixel - triangle.y[i]) - dy * (HalfPixel - triangle.x[i]) + (owned ? 1 : 0);
  }
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

// Calls span(row, begin, end) for every row of the triangle, with the exact run of pixels whose
// centres it covers. Every loop runs over the clipped box, never over unclipped coordinates.
template <typename SpanFunction>
void ForEachSpan(const PreparedTriangle& triangle, SpanFunction&& span) {
  std::int64_t rowBegin = triangle.rowBegin;
  std::int64_t rowEnd = triangle.rowEnd;
  // A horizontal edge admits whole rows: b·py + c > 0.
  for (const Edge& edge : triangle.edges) {
    if (edge.a != 0) continue;
    if (edge.b > 0) rowBegin = std::max(rowBegin, FloorDiv(-edge.c, edge.b) + 1);
    if (edge.b < 0) rowEnd = std::min(rowEnd, CeilDiv(edge.c, -edge.b));
  }
  if (rowBegin >= rowEnd) return;

  // Along a row, a sloped edge bounds the run on one side. With N = −(b·py + c) and d = |a|,
  // a left edge (a > 0) admits px ≥ floor(N / d) + 1 and a right edge px < −floor(N / d).
  // The quotient is stepped exactly from row to row, as quotient and remainder.
  struct Walker {
    bool left;
    std::int64_t quotient, remainder, divisor, quotientStep, remainderStep;
  };
  Walker walkers[3];
  int walkerCount = 0;
  for (const Edge& edge : triangle.edges) {
    if (edge.a == 0) continue;
    Walker& walker = walkers[walkerCount++];
    walker.left = edge.a > 0;
    walker.divisor = edge.a > 0 ? edge.a : -edge.a;
    const std::int64_t numerator = -(edge.b * rowBegin + edge.c);
    walker.quotient = FloorDiv(numerator, walker.divisor);
    walker.remainder = numerator - walker.quotient * walker.divisor;
    walker.quotientStep = edge.b == 0 ? 0 : FloorDiv(-edge.b, walker.divisor);
    walker.remainderStep = -edge.b - walker.quotientStep * walker.divisor;
  }
  for (std::int64_t row = rowBegin; row < rowEnd; ++row) {
    std::int64_t begin = triangle.columnBegin;
    std::int64_t end = triangle.columnEnd;
    for (int i = 0; i < walkerCount; ++i) {
      Walker& walker = walkers[i];
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
    if (begin < end) span(static_cast<int>(row), static_cast<int>(begin), static_cast<int>(end));
  }
}

std::uint32_t* FrameRow(std::uint32_t* frame, int row) { return frame + (ScreenHeight - 1 - row) * ScreenWidth; }

// Bilinear (or, with weights 0, point) sampling of a level at fixed-point texel coordinates.
// The two texel rows blend first, then the two columns, each rounded to 8 bits: the same
// arithmetic as the sprite kernels.
std::uint32_t Sample(const TextureLevel& level, std::int64_t u, std::int64_t v, int fractionMask) {
  const int column0 = static_cast<int>(u >> TexelFractionBits) & (level.width - 1);
  const int column1 = (column0 + 1) & (level.width - 1);
  const unsigned columnWeight = static_cast<unsigned>(u >> (TexelFractionBits - 8)) & static_cast<unsigned>(fractionMask);
  const int row0 = static_cast<int>(v >> TexelFractionBits) & (level.height - 1);
  const int row1 = (row0 + 1) & (level.height - 1);
  const unsigned rowWeight = static_cast<unsigned>(v >> (TexelFractionBits - 8)) & static_cast<unsigned>(fractionMask);
  const std::uint32_t* upper = level.texels + row0 * level.width;
  const std::uint32_t* lower = level.texels + row1 * level.width;
  std::uint32_t result = 0;
  for (unsigned shift = 0; shift < 24; shift += 8) {
    auto blendRows = [&](int column) {
      return ((upper[column] >> shift & 0xFF) * (256 - rowWeight) + (lower[column] >> shift & 0xFF) * rowWeight + 128) >> 8;
    };
    const unsigned channel = (blendRows(column0) * (256 - columnWeight) + blendRows(column1) * columnWeight + 128) >> 8;
    result |= channel << shift;
  }
  return result;
}

std::uint32_t ShadePixel(const PreparedTriangle& triangle, int column, int row, std::uint32_t destination) {
  const Shading& shading = triangle.shading;
  const double x = column + 0.5 - shading.referenceX;
  const double y = row + 0.5 - shading.referenceY;
  auto iterated = [&](int channel) {
    const Plane& plane = shading.channel[channel];
    return Quantize(plane.value + plane.perX * x + plane.perY * y);
  };

  std::uint32_t texel = 0;
  if (shading.level) {
    std::int64_t u, v;
    if (shading.perspective) {
      auto at = [&](const Plane& plane) { return plane.value + plane.perX * x + plane.perY * y; };
      const double oow = at(shading.oow);
      u = ToFixed(at(shading.sow) / oow * shading.uScale - shading.offset, shading.level->width);
      v = ToFixed(at(shading.tow) / oow * shading.vScale - shading.offset, shading.level->height);
    } else {
      const std::int64_t dx = column - triangle.columnBegin;
      const std::int64_t dy = row - triangle.rowBegin;
      u = shading.u.origin + shading.u.perX * dx + shading.u.perY * dy;
      v = shading.v.origin + shading.v.perX * dx + shading.v.perY * dy;
    }
    texel = Sample(*shading.level, u, v, shading.fractionMask);
  }

  int source[3] = {0, 0, 0}; // blue, green, red
  if (shading.colour != ColorSource::Zero) {
    for (int channel = 0; channel < 3; ++channel) {
      const int value = iterated(Blue - channel);
      source[channel] = shading.colour == ColorSource::Iterated
                            ? value
                            : static_cast<int>((texel >> (8 * channel) & 0xFF) * static_cast<unsigned>(Scale(value)) >> 8);
    }
  }
  const int alphaScale = Scale(shading.alpha == AlphaSource::Iterated ? iterated(Alpha) : 0);
  const int sourceWeight = FactorWeight(shading.source, alphaScale);
  const int destinationWeight = FactorWeight(shading.destination, alphaScale);
  std::uint32_t result = 0;
  for (int channel = 0; channel < 3; ++channel) {
    const int old = static_cast<int>(destination >> (8 * channel) & 0xFF);
    const int blended = (source[channel] * sourceWeight + old * destinationWeight + 128) >> 8;
    result |= static_cast<std::uint32_t>(std::min(blended, 255)) << (8 * channel);
  }
  return result;
}

bool SameSpriteShading(const PreparedTriangle& first, const PreparedTriangle& second) {
  const Shading& a = first.shading;
  const Shading& b = second.shading;
  return a.level == b.level && a.fractionMask == b.fractionMask && a.u.origin == b.u.origin &&
         a.u.perX == b.u.perX && a.v.origin == b.v.origin && a.v.perY == b.v.perY &&
         std::equal(std::begin(a.colourScale), std::end(a.colourScale), std::begin(b.colourScale));
}

// Two axis-aligned right triangles with the same bounding box and their right angles at opposite
// corners make up the box exactly.
bool FormSquare(const PreparedTriangle& first, const PreparedTriangle& second) {
  if (first.rightAngle < 0 || second.rightAngle < 0) return false;
  auto box = [](const PreparedTriangle& triangle) {
    const auto [minX, maxX] = std::minmax({triangle.x[0], triangle.x[1], triangle.x[2]});
    const auto [minY, maxY] = std::minmax({triangle.y[0], triangle.y[1], triangle.y[2]});
    return std::array<std::int64_t, 4>{minX, maxX, minY, maxY};
  };
  return box(first) == box(second) && first.x[first.rightAngle] != second.x[second.rightAngle] &&
         first.y[first.rightAngle] != second.y[second.rightAngle] && first.columnBegin == second.columnBegin &&
         first.rowBegin == second.rowBegin && SameSpriteShading(first, second);
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
    addRow_ = avx2 ? AddSpriteRowAvx2 : AddSpriteRowPortable;
    return true;
  case SpritePath::General:
    general_ = true;
    return true;
  case SpritePath::Portable:
    general_ = false;
    addRow_ = AddSpriteRowPortable;
    return true;
  case SpritePath::Avx2:
    if (!avx2) return false;
    general_ = false;
    addRow_ = AddSpriteRowAvx2;
    return true;
  }
  return false;
}

void Rasterizer::Draw(const GrVertex& a, const GrVertex& b, const GrVertex& c, const RenderState& state,
                      const TextureMemory& textures, std::uint32_t* frame) {
  ClipVertex polygon[2][8] = {{FromGrVertex(a), FromGrVertex(b), FromGrVertex(c)}};
  int count = 3;
  bool withinGuardBand = true;
  for (int i = 0; i < 3; ++i) {
    const ClipVertex& vertex = polygon[0][i];
    if (!std::isfinite(vertex.x) || !std::isfinite(vertex.y)) return; // nothing sensible to draw
    withinGuardBand = withinGuardBand && std::fabs(vertex.x) <= GuardBand && std::fabs(vertex.y) <= GuardBand;
  }
  // Four cuts add at most four vertices: the polygon never outgrows its 8 places.
  int current = 0;
  if (!withinGuardBand) {
    for (int axis = 0; axis < 2; ++axis) {
      for (double sign : {1.0, -1.0}) {
        count = ClipToHalfPlane(polygon[current], count, polygon[1 - current], axis, sign);
        current = 1 - current;
      }
    }
  }
  for (int i = 1; i + 1 < count; ++i) {
    GridVertex vertices[3] = {Snap(polygon[current][0]), Snap(polygon[current][i]), Snap(polygon[current][i + 1])};
    PreparedTriangle triangle;
    if (!PrepareCoverage(vertices, state, triangle)) continue;
    PrepareShading(vertices, state, textures, !general_, triangle);
    if (triangle.sprite && pending_ && FormSquare(pendingTriangle_, triangle)) {
      pending_ = false;
      DrawSpriteSquare(pendingTriangle_, triangle, frame);
      continue;
    }
    Flush(frame);
    if (triangle.sprite && triangle.rightAngle >= 0) {
      pendingTriangle_ = triangle;
      pending_ = true;
      continue;
    }
    DrawPrepared(triangle, frame);
  }
}

void Rasterizer::Flush(std::uint32_t* frame) {
  if (!pending_) return;
  pending_ = false;
  DrawPrepared(pendingTriangle_, frame);
}

void Rasterizer::DrawPrepared(const PreparedTriangle& triangle, std::uint32_t* frame) {
  if (triangle.sprite) {
    BuildSpriteTables(triangle);
    ForEachSpan(triangle, [&](int row, int begin, int end) { AddSpriteRow(triangle, frame, row, begin, end); });
    return;
  }
  ForEachSpan(triangle, [&](int row, int begin, int end) {
    std::uint32_t* pixels = FrameRow(frame, row);
    for (int column = begin; column < end; ++column) pixels[column] = ShadePixel(triangle, column, row, pixels[column]);
  });
}

void Rasterizer::DrawSpriteSquare(const PreparedTriangle& first, const PreparedTriangle& second,
                                  std::uint32_t* frame) {
  BuildSpriteTables(first);
  // The pixel centres inside the box: left and bottom sides included, right and top excluded,
  // exactly as the two halves' edges decide.
  const auto [minX, maxX] = std::minmax({first.x[0], first.x[1], first.x[2]});
  const auto [minY, maxY] = std::minmax({first.y[0], first.y[1], first.y[2]});
  const int begin = ClampToInt(CeilDiv(minX - HalfPixel, SubpixelScale), first.columnBegin, first.columnEnd);
  const int end = ClampToInt(CeilDiv(maxX - HalfPixel, SubpixelScale), begin, first.columnEnd);
  const int rowBegin = ClampToInt(CeilDiv(minY - HalfPixel, SubpixelScale), first.rowBegin, first.rowEnd);
  const int rowEnd = ClampToInt(CeilDiv(maxY - HalfPixel, SubpixelScale), rowBegin, first.rowEnd);
  (void)second; // same box and shading, checked by FormSquare
  if (begin >= end) return;
  for (int row = rowBegin; row < rowEnd; ++row) AddSpriteRow(first, frame, row, begin, end);
}

void Rasterizer::BuildSpriteTables(const PreparedTriangle& triangle) {
  const Shading& shading = triangle.shading;
  const TextureLevel& level = *shading.level;
  std::int64_t u = shading.u.origin;
  for (int column = triangle.columnBegin; column < triangle.columnEnd; ++column, u += shading.u.perX) {
    const int first = static_cast<int>(u >> TexelFractionBits) & (level.width - 1);
    column0_[column] = static_cast<std::uint8_t>(first);
    column1_[column] = static_cast<std::uint8_t>((first + 1) & (level.width - 1));
    columnWeight_[column] = static_cast<std::uint16_t>((u >> (TexelFractionBits - 8)) & shading.fractionMask);
  }
  std::int64_t v = shading.v.origin;
  for (int row = triangle.rowBegin; row < triangle.rowEnd; ++row, v += shading.v.perY) {
    const int first = static_cast<int>(v >> TexelFractionBits) & (level.height - 1);
    row0_[row] = static_cast<std::uint16_t>(first);
    row1_[row] = static_cast<std::uint16_t>((first + 1) & (level.height - 1));
    rowWeight_[row] = static_cast<std::uint16_t>((v >> (TexelFractionBits - 8)) & shading.fractionMask);
  }
}

void Rasterizer::AddSpriteRow(const PreparedTriangle& triangle, std::uint32_t* frame, int row, int begin, int end) {
  const TextureLevel& level = *triangle.shading.level;
  SpriteRow spriteRow;
  spriteRow.texelRow0 = level.intensity + row0_[row] * level.width;
  spriteRow.texelRow1 = level.intensity + row1_[row] * level.width;
  spriteRow.texelRowWeight = rowWeight_[row];
  spriteRow.levelWidth = level.width;
  spriteRow.column0 = column0_;
  spriteRow.column1 = column1_;
  spriteRow.columnWeight = columnWeight_;
  std::copy(std::begin(triangle.shading.colourScale), std::end(triangle.shading.colourScale), spriteRow.colourScale);
  spriteRow.colourScale[3] = 0;
  addRow_(spriteRow, FrameRow(frame, row), begin, end);
}

void ClearClipWindow(const RenderState& state, std::uint32_t colour, std::uint32_t* frame) {
  for (int row = state.clipMinY; row < state.clipMaxY; ++row) {
    std::uint32_t* pixels = FrameRow(frame, row);
    std::fill(pixels + state.clipMinX, pixels + state.clipMaxX, colour);
  }
}

} // namespace glide
