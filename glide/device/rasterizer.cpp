// Triangle set-up, exact edge walking, the general per-pixel pipeline and the sprite path.
#include "device/rasterizer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace glide {

// A vertex snapped to the grid, with its attributes (Attribute order) where they were.
struct GridVertex {
  std::int64_t x;
  std::int64_t y;
  const float* attribute;
};

static_assert(MaxSpanWidth == ScreenWidth, "a span of the sprite kernels is a screen row at most");

namespace {

// Vertices snap to 1/256 pixel. Within the guard band every edge function fits comfortably in
// 64 bits; larger triangles are first clipped to the band.
constexpr std::int64_t SubpixelScale = 256;
constexpr std::int64_t HalfPixel = SubpixelScale / 2;
constexpr double GuardBand = 32768.0;

// Texel coordinates are fixed point with this many fraction bits; the top 8 of them weight the
// second texel of a bilinear pair.
constexpr int TexelFractionBits = 16;
constexpr double TexelFractionScale = 1 << TexelFractionBits;

// The attributes a vertex carries, numbered as they lie in GrVertex from `r` on, so that they
// are copied in one piece (the depth `ooz` between blue and alpha comes along unused).
enum Attribute { Red = 0, Green = 1, Blue = 2, Alpha = 4, Oow = 5, Sow = 6, Tow = 7, AttributeCount = 8 };
static_assert(offsetof(GrVertex, a) - offsetof(GrVertex, r) == Alpha * sizeof(float) &&
                  offsetof(GrVertex, oow) - offsetof(GrVertex, r) == Oow * sizeof(float) &&
                  offsetof(GrVertex, tmuvtx) - offsetof(GrVertex, r) == Sow * sizeof(float) &&
                  offsetof(GrVertex, tmuvtx) + sizeof(float) - offsetof(GrVertex, r) == Tow * sizeof(float),
              "GrVertex keeps the library's order");

struct ClipVertex {
  double x;
  double y;
  float attribute[AttributeCount];
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

// Rounds to the nearest integer, ties to even, for |value| < 2^51: adding and taking away
// 1.5·2^52 leaves no fraction bits. Unlike lrint it needs no library call.
std::int64_t RoundToInteger(double value) {
  constexpr double Shift = 0x1.8p52;
  return static_cast<std::int64_t>((value + Shift) - Shift);
}

ClipVertex FromGrVertex(const GrVertex& vertex) {
  ClipVertex clip;
  clip.x = vertex.x;
  clip.y = vertex.y;
  std::memcpy(clip.attribute, reinterpret_cast<const char*>(&vertex) + offsetof(GrVertex, r), sizeof clip.attribute);
  return clip;
}

inline GridVertex Snap(const ClipVertex& vertex) {
  const double limit = GuardBand * SubpixelScale;
  return {RoundToInteger(std::clamp(vertex.x * SubpixelScale, -limit, limit)),
          RoundToInteger(std::clamp(vertex.y * SubpixelScale, -limit, limit)), vertex.attribute};
}

bool WithinGuardBand(const ClipVertex& vertex) {
  return std::fabs(vertex.x) <= GuardBand && std::fabs(vertex.y) <= GuardBand;
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
    for (int k = Red; k < AttributeCount; ++k) {
      const double from = in.attribute[k];
      crossing.attribute[k] = static_cast<float>(from + (out.attribute[k] - from) * t);
    }
    output[written++] = crossing;
  }
  return written;
}

// 0..255; NaN counts as 0. Iterated colours outside the range are clamped: the show passes
// values above 255 for its brightest particles, and clamping gives the intended picture.
int Quantize(double value) {
  if (!(value > 0)) return 0;
  if (value >= 255) return 255;
  return static_cast<int>(value + 0.5);
}

// A multiplier on the 0..256 scale, so that 255 keeps a value unchanged.
int Scale(int value) { return value + (value >> 7); }

// Beyond 2^35 texels the fixed-point value no longer fits the rounding; only the coordinate
// modulo the side matters, so that is what is rounded.
[[gnu::noinline]] std::uint32_t HugeToFixed(double texels, int size) {
  if (!std::isfinite(texels)) return 0;
  return static_cast<std::uint32_t>(RoundToInteger(std::fmod(texels, size) * TexelFractionScale));
}

// A texel coordinate in fixed point, wrapped into [0, size · 2^16); anything not finite gives 0.
inline std::uint32_t ToFixed(double texels, int size) {
  const std::uint32_t mask = (static_cast<std::uint32_t>(size) << TexelFractionBits) - 1;
  const double fixed = texels * TexelFractionScale;
  if (std::fabs(fixed) < 0x1p51) [[likely]] return static_cast<std::uint32_t>(RoundToInteger(fixed)) & mask;
  return HugeToFixed(texels, size) & mask;
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

// The vertices at the ends of the legs of a right angle: the one along x, the one along y.
struct Legs {
  int corner;
  int along[2];
};

Legs LegsOf(const GridVertex (&vertices)[3], int corner) {
  const int next = (corner + 1) % 3;
  const int last = (corner + 2) % 3;
  const bool nextAlongX = vertices[next].y == vertices[corner].y;
  return {corner, {nextAlongX ? next : last, nextAlongX ? last : next}};
}

// Attribute planes over a triangle, from its grid vertices. A right triangle with legs along the
// axes takes each gradient from one leg: exact, cheaper, and the same for both halves of a
// square, whose legs are equal and opposite (IEEE arithmetic is symmetric under sign changes).
class Setup {
public:
  Setup(const GridVertex (&vertices)[3], int rightAngle) : vertices_(vertices), right_(rightAngle >= 0) {
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

// The texture coordinates of an affine triangle (1/w the same everywhere): s = sow · w.
double InverseOow(float oow) { return oow == 1.0f ? 1.0 : 1.0 / oow; } // the same value, without a division
Plane AffinePlane(const Setup& setup, const GridVertex (&vertices)[3], Attribute attribute, double w) {
  return setup.PlaneOf(vertices[0].attribute[attribute] * w, vertices[1].attribute[attribute] * w,
                       vertices[2].attribute[attribute] * w);
}

// The change of s (or t) along the legs of a right angle, as Setup::PlaneOf computes it.
void ChangesAlongLegs(const GridVertex (&vertices)[3], const Legs& legs, Attribute attribute, double w,
                      double (&changes)[2]) {
  for (int axis = 0; axis < 2; ++axis) {
    changes[axis] = vertices[legs.along[axis]].attribute[attribute] * w - vertices[legs.corner].attribute[attribute] * w;
  }
}

void PrepareTexture(const Setup& setup, const GridVertex (&vertices)[3], const Texture& texture,
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
    shading.sow = setup.PlaneOf(Sow);
    shading.tow = setup.PlaneOf(Tow);
    shading.oow = setup.PlaneOf(Oow);
    // The texel step of a perspective triangle changes across it; take it at the centroid.
    const double x = static_cast<double>(vertices[0].x + vertices[1].x + vertices[2].x) / (3.0 * SubpixelScale);
    const double y = static_cast<double>(vertices[0].y + vertices[1].y + vertices[2].y) / (3.0 * SubpixelScale);
    const double w = setup.At(shading.oow, x, y);
    const double sw = setup.At(shading.sow, x, y);
    const double tw = setup.At(shading.tow, x, y);
    dsdx = (shading.sow.perX * w - sw * shading.oow.perX) / (w * w);
    dsdy = (shading.sow.perY * w - sw * shading.oow.perY) / (w * w);
    dtdx = (shading.tow.perX * w - tw * shading.oow.perX) / (w * w);
    dtdy = (shading.tow.perY * w - tw * shading.oow.perY) / (w * w);
  } else {
    const double w = InverseOow(oow);
    s = AffinePlane(setup, vertices, Sow, w);
    t = AffinePlane(setup, vertices, Tow, w);
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
  const Setup setup(vertices, triangle.rightAngle);
  shading.colour = state.colorSource;
  shading.alpha = state.alphaSource;
  shading.source = state.sourceFactor;
  shading.destination = state.destinationFactor;
  shading.referenceX = setup.ReferenceX();
  shading.referenceY = setup.ReferenceY();
  shading.level = nullptr;
  shading.perspective = false;

  const Texture* texture = shading.colour == ColorSource::TextureTimesIterated && state.textureOutput == TextureOutput::Texel
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
    for (int channel = Red; channel <= Blue; ++channel) triangle.colour[channel] = vertices[0].attribute[channel];
    triangle.oow = vertices[0].attribute[Oow];
    if (triangle.rightAngle >= 0) {
      const Legs legs = LegsOf(vertices, triangle.rightAngle);
      triangle.leg[0] = vertices[legs.along[0]].x - vertices[legs.corner].x;
      triangle.leg[1] = vertices[legs.along[1]].y - vertices[legs.corner].y;
      ChangesAlongLegs(vertices, legs, Sow, InverseOow(triangle.oow), triangle.sAlong);
      ChangesAlongLegs(vertices, legs, Tow, InverseOow(triangle.oow), triangle.tAlong);
    }
    shading.colourScale[0] = static_cast<std::uint16_t>(Scale(Quantize(vertices[0].attribute[Blue])));
    shading.colourScale[1] = static_cast<std::uint16_t>(Scale(Quantize(vertices[0].attribute[Green])));
    shading.colourScale[2] = static_cast<std::uint16_t>(Scale(Quantize(vertices[0].attribute[Red])));
  } else {
    for (Attribute channel : {Red, Green, Blue}) shading.channel[channel] = setup.PlaneOf(channel);
    shading.alphaPlane = setup.PlaneOf(Alpha);
  }
}

// Coverage set-up: the vertices in order, the box of candidate pixels, and the right angle.
// False when the triangle has no area or its box misses the clip window.
bool PrepareCoverage(const GridVertex (&input)[3], const RenderState& state, GridVertex (&vertices)[3],
                     PreparedTriangle& triangle) {
  const std::int64_t doubleArea = (input[1].x - input[0].x) * (input[2].y - input[0].y) -
                                  (input[2].x - input[0].x) * (input[1].y - input[0].y);
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

// Calls span(row, begin, end) for every row of the triangle, with the exact run of pixels whose
// centres it covers. Every loop runs over the clipped box, never over unclipped coordinates.
template <typename SpanFunction>
void ForEachSpan(const PreparedTriangle& triangle, SpanFunction&& span) {
  Edge edges[3];
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
  std::int64_t rowBegin = triangle.rowBegin;
  std::int64_t rowEnd = triangle.rowEnd;
  // A horizontal edge admits whole rows: b·py + c > 0.
  for (const Edge& edge : edges) {
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
  for (const Edge& edge : edges) {
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

std::uint32_t* FrameRow(FrameBuffer& frame, int row) { return frame.pixels + (ScreenHeight - 1 - row) * ScreenWidth; }

// Notes the columns [begin, end) of Glide rows [rowBegin, rowEnd) as written.
void MarkWritten(FrameBuffer& frame, int begin, int end, int rowBegin, int rowEnd) {
  frame.damage.MarkWritten(begin, end, ScreenHeight - rowEnd, ScreenHeight - rowBegin);
}

// Bilinear (or, with weights 0, point) sampling of a level at fixed-point texel coordinates.
// The two texel rows blend first, then the two columns, each rounded to 8 bits: the same
// arithmetic as the sprite kernels.
std::uint32_t Sample(const TextureLevel& level, std::uint32_t u, std::uint32_t v, int fractionMask) {
  const unsigned mask = static_cast<unsigned>(fractionMask);
  const unsigned column0 = u >> TexelFractionBits & (level.width - 1);
  const unsigned column1 = (column0 + 1) & (level.width - 1);
  const unsigned columnWeight = u >> (TexelFractionBits - 8) & mask;
  const unsigned row0 = v >> TexelFractionBits & (level.height - 1);
  const unsigned row1 = (row0 + 1) & (level.height - 1);
  const unsigned rowWeight = v >> (TexelFractionBits - 8) & mask;
  const std::uint32_t* upper = level.texels + row0 * level.width;
  const std::uint32_t* lower = level.texels + row1 * level.width;
  std::uint32_t result = 0;
  for (unsigned shift = 0; shift < 24; shift += 8) {
    auto blendRows = [&](unsigned column) {
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
  auto at = [&](const Plane& plane) { return plane.value + plane.perX * x + plane.perY * y; };

  std::uint32_t texel = 0;
  if (shading.level) {
    std::uint32_t u, v;
    if (shading.perspective) {
      const double oow = at(shading.oow);
      u = ToFixed(at(shading.sow) / oow * shading.uScale - shading.offset, shading.level->width);
      v = ToFixed(at(shading.tow) / oow * shading.vScale - shading.offset, shading.level->height);
    } else {
      const auto dx = static_cast<std::uint32_t>(column - triangle.columnBegin);
      const auto dy = static_cast<std::uint32_t>(row - triangle.rowBegin);
      u = shading.u.origin + shading.u.perX * dx + shading.u.perY * dy;
      v = shading.v.origin + shading.v.perX * dx + shading.v.perY * dy;
    }
    texel = Sample(*shading.level, u, v, shading.fractionMask);
  }

  int source[3] = {0, 0, 0}; // blue, green, red
  if (shading.colour != ColorSource::Zero) {
    for (int channel = 0; channel < 3; ++channel) {
      const int value = Quantize(at(shading.channel[Blue - channel]));
      source[channel] = shading.colour == ColorSource::Iterated
                            ? value
                            : static_cast<int>((texel >> (8 * channel) & 0xFF) * static_cast<unsigned>(Scale(value)) >> 8);
    }
  }
  const int alphaScale = Scale(shading.alpha == AlphaSource::Iterated ? Quantize(at(shading.alphaPlane)) : 0);
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

// Whether a triangle, prepared as far as its coverage, is the second half of the sprite square
// whose first half is held back. Two axis-aligned right triangles with their right angles at
// opposite corners make up their common box exactly. With the same first vertex, colour and 1/w,
// and legs of the same length with the same changes of s and t along them (or both negated,
// which a division by the leg undoes exactly), the second would be prepared into the first's
// texel coordinates and level (the state cannot have changed in between): the box is then drawn
// as one, without preparing the second half.
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
  if (second.x[0] != first.x[0] || second.y[0] != first.y[0] || vertices[0].attribute[Sow] * w != first.shading.s.value ||
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
    const bool same = leg[axis] == first.leg[axis] && sAlong[axis] == first.sAlong[axis] &&
                      tAlong[axis] == first.tAlong[axis];
    const bool negated = leg[axis] == -first.leg[axis] && sAlong[axis] == -first.sAlong[axis] &&
                         tAlong[axis] == -first.tAlong[axis];
    if (!same && !negated) return false;
  }
  return true;
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
  case SpritePath::General:
    general_ = true;
    return true;
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
  // The usual case first; the band test fails for NaN and infinities too.
  if (WithinGuardBand(corners[0]) && WithinGuardBand(corners[1]) && WithinGuardBand(corners[2])) [[likely]] {
    const GridVertex vertices[3] = {Snap(corners[0]), Snap(corners[1]), Snap(corners[2])};
    DrawOnGrid(vertices, state, textures, frame);
    return;
  }
  for (const ClipVertex& corner : corners) {
    if (!std::isfinite(corner.x) || !std::isfinite(corner.y)) return; // nothing sensible to draw
  }
  // Four cuts add at most four vertices: the polygon never outgrows its 8 places.
  ClipVertex polygon[2][8];
  std::copy(std::begin(corners), std::end(corners), polygon[0]);
  int count = 3;
  int current = 0;
  for (int axis = 0; axis < 2; ++axis) {
    for (double sign : {1.0, -1.0}) {
      count = ClipToHalfPlane(polygon[current], count, polygon[1 - current], axis, sign);
      current = 1 - current;
    }
  }
  for (int i = 1; i + 1 < count; ++i) {
    const GridVertex vertices[3] = {Snap(polygon[current][0]), Snap(polygon[current][i]), Snap(polygon[current][i + 1])};
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
    ForEachSpan(triangle, [&](int row, int begin, int end) { spans_[count++] = {FrameRow(frame, row), row, begin, end}; });
    addSpans_(SpriteSourceOf(triangle), spans_, count);
    return;
  }
  ForEachSpan(triangle, [&](int row, int begin, int end) {
    std::uint32_t* pixels = FrameRow(frame, row);
    for (int column = begin; column < end; ++column) pixels[column] = ShadePixel(triangle, column, row, pixels[column]);
  });
}

void Rasterizer::DrawSpriteSquare(const PreparedTriangle& triangle, FrameBuffer& frame) {
  // The pixel centres inside the box: left and bottom sides included, right and top excluded,
  // exactly as the two halves' edges decide.
  const auto [minX, maxX] = std::minmax({triangle.x[0], triangle.x[1], triangle.x[2]});
  const auto [minY, maxY] = std::minmax({triangle.y[0], triangle.y[1], triangle.y[2]});
  const int begin = ClampToInt(CeilDiv(minX - HalfPixel, SubpixelScale), triangle.columnBegin, triangle.columnEnd);
  const int end = ClampToInt(CeilDiv(maxX - HalfPixel, SubpixelScale), begin, triangle.columnEnd);
  const int rowBegin = ClampToInt(CeilDiv(minY - HalfPixel, SubpixelScale), triangle.rowBegin, triangle.rowEnd);
  const int rowEnd = ClampToInt(CeilDiv(maxY - HalfPixel, SubpixelScale), rowBegin, triangle.rowEnd);
  if (begin >= end || rowBegin >= rowEnd) return;
  MarkWritten(frame, begin, end, rowBegin, rowEnd);
  int count = 0;
  for (int row = rowBegin; row < rowEnd; ++row) spans_[count++] = {FrameRow(frame, row), row, begin, end};
  addSpans_(SpriteSourceOf(triangle), spans_, count);
}

void ClearClipWindow(const RenderState& state, std::uint32_t colour, FrameBuffer& frame) {
  // The clip window is in Glide rows, which count up from the bottom.
  frame.damage.Fill(frame.pixels, state.clipMinX, state.clipMaxX, ScreenHeight - state.clipMaxY,
                    ScreenHeight - state.clipMinY, colour);
}

} // namespace glide
