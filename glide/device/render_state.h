// The device's render state, in the device's own terms: what the operations set, and what
// grGlideGetState saves and grGlideSetState restores.
#pragma once

#include <cstdint>

#include "glide/glide.h"

namespace glide {

// What the colour combine unit delivers.
enum class ColorSource : std::int32_t { Zero, Iterated, TextureTimesIterated };
// What the alpha combine unit delivers: the iterated vertex alpha, or nothing.
enum class AlphaSource : std::int32_t { Zero, Iterated };
// The weights of a blend: result = source · source factor + frame · destination factor.
enum class BlendFactor : std::int32_t { Zero, SourceAlpha, One, OneMinusSourceAlpha };
// What texture unit 0 hands on to the colour combine: the texel, or nothing.
enum class TextureOutput : std::int32_t { Nothing, Texel };

struct RenderState {
  ColorSource colorSource;
  AlphaSource alphaSource;
  BlendFactor sourceFactor;
  BlendFactor destinationFactor;
  TextureOutput textureOutput;
  GrMipMapId_t textureSource;
  // Glide coordinates (origin lower left), minima inclusive, maxima exclusive, within the screen.
  std::int32_t clipMinX, clipMinY, clipMaxX, clipMaxY;
};
static_assert(sizeof(RenderState) <= sizeof(GrState), "the render state must fit the opaque state block");

// The state after initialisation: the iterated colour replaces what is there, the texture unit
// delivers nothing until a texture combine is set, the clip window is the whole screen.
RenderState DefaultRenderState();

// A state block handed back from outside may hold anything. This keeps the clip window on the
// screen and every choice within its range; a block the library saved comes back unchanged.
RenderState Sanitized(const RenderState& state);

} // namespace glide
