// Texture set-up: a triangle's texture coordinates, the level of detail they call for, and the
// filter that goes with the level.
#pragma once

#include "device/setup.h"
#include "device/triangle.h"
#include "texture/texture_memory.h"

namespace glide {

// Fills the texture part of the triangle's shading: the sampled level, the filter and the
// texture coordinates (as planes, and for affine triangles in fixed point at the box's first pixel).
void PrepareTexture(const Setup& setup, const GridVertex (&vertices)[3], const Texture& texture,
                    PreparedTriangle& triangle);

} // namespace glide
