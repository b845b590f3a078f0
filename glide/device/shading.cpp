// Shading and blending, pixel by pixel: the general pipeline for every triangle that is not a sprite.
#include "device/shading.h"

#include <algorithm>

#include "device/grid_vertex.h"
#include "device/sampling.h"

namespace glide {
namespace {

int FactorWeight(BlendFactor factor, int alphaScale) {
  switch (factor) {
  case BlendFactor::Zero: return 0;
  case BlendFactor::SourceAlpha: return alphaScale;
  case BlendFactor::One: return 256;
  case BlendFactor::OneMinusSourceAlpha: return 256 - alphaScale;
  }
  return 0;
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
      source[channel] =
          shading.colour == ColorSource::Iterated
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

} // namespace

void ShadeSpan(const PreparedTriangle& triangle, int row, int begin, int end, std::uint32_t* pixels) {
  for (int column = begin; column < end; ++column) pixels[column] = ShadePixel(triangle, column, row, pixels[column]);
}

} // namespace glide
