// The level sizes of a mipmapped texture, shared by the .3df reader and texture memory.
#pragma once

#include <cstdint>

#include "glide/glide.h"

namespace glide {

// Largest level 256 texels on its longer side, smallest 1: nine levels at most.
inline constexpr int MaxLevelCount = 9;

// The sizes of every level of a mipmapped texture, largest first.
struct MipmapGeometry {
  int levelCount = 0;
  int width[MaxLevelCount] = {};
  int height[MaxLevelCount] = {};
  // Texture coordinates that span the whole texture: 256 on the longer side, the shorter side in
  // proportion, whatever the size in texels.
  int sRange = 0;
  int tRange = 0;
  std::uint32_t texelCount = 0; // over all levels
};

// False when the level codes or the aspect ratio are out of range or out of order
// (largeLod must not be greater than smallLod).
bool DescribeMipmap(GrLOD_t smallLod, GrLOD_t largeLod, GrAspectRatio_t aspect, MipmapGeometry& geometry);

} // namespace glide
