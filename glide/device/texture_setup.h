// Texture set-up: a triangle's texture coordinates, their level of detail and its filter.
#pragma once

#include "device/attribute_planes.h"
#include "device/grid_vertex.h"
#include "device/prepared_triangle.h"
#include "texture/texture_memory.h"

namespace glide {

// Fills the texture part of the triangle's shading: the sampled level, the filter and the
// texture coordinates (as planes, and for affine triangles in fixed point at the box's first pixel).
void PrepareTexture(const AttributePlanes& planes, const GridVertex (&vertices)[3], const Texture& texture,
                    PreparedTriangle& triangle);

} // namespace glide
