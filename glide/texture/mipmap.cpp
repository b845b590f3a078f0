// The level sizes of a mipmapped texture.
#include "texture/mipmap.h"

#include <algorithm>

namespace glide {

bool DescribeMipmap(GrLOD_t smallLod, GrLOD_t largeLod, GrAspectRatio_t aspect, MipmapGeometry& geometry) {
  if (largeLod < GR_LOD_256 || smallLod > GR_LOD_1 || largeLod > smallLod) return false;
  if (aspect < GR_ASPECT_8x1 || aspect > GR_ASPECT_1x8) return false;
  const int largest = 256 >> largeLod;
  // Aspect codes below 1x1 are wider than high, codes above it higher than wide.
  const int wideShift = std::max(0, GR_ASPECT_1x1 - aspect);
  const int highShift = std::max(0, aspect - GR_ASPECT_1x1);
  geometry = {};
  geometry.levelCount = smallLod - largeLod + 1;
  geometry.sRange = 256 >> highShift;
  geometry.tRange = 256 >> wideShift;
  for (int level = 0; level < geometry.levelCount; ++level) {
    geometry.width[level] = std::max(1, (largest >> highShift) >> level);
    geometry.height[level] = std::max(1, (largest >> wideShift) >> level);
    geometry.texelCount += static_cast<std::uint32_t>(geometry.width[level] * geometry.height[level]);
  }
  return true;
}

} // namespace glide
