// Shading set-up: what colours a triangle's pixels, prepared once per triangle before it is drawn.
#pragma once

#include "device/grid_vertex.h"
#include "device/prepared_triangle.h"
#include "device/render_state.h"
#include "texture/texture_memory.h"

namespace glide {

// Fills everything but the coverage. The sprite path needs no colour planes: its colour is the
// same at every vertex, which is exactly what the planes would give at every pixel.
void PrepareShading(const GridVertex (&vertices)[3], const RenderState& state, const TextureMemory& textures,
                    bool spritePathAllowed, PreparedTriangle& triangle);

} // namespace glide
