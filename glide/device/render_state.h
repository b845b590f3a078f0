// The render state: what grGlideGetState saves and grGlideSetState restores.
#pragma once

#include <cstdint>

#include "glide/glide.h"

namespace glide {

// What the colour combine unit delivers. The library's general combine form maps onto these.
enum class ColorSource : std::int32_t { Zero, Iterated, TextureTimesIterated };
// What the alpha combine unit delivers: the iterated vertex alpha, or nothing.
enum class AlphaSource : std::int32_t { Zero, Iterated };

// Everything grGlideGetState saves and grGlideSetState restores.
struct RenderState {
  ColorSource colorSource;
  AlphaSource alphaSource;
  std::int32_t rgbSourceFactor; // GR_BLEND_...
  std::int32_t rgbDestinationFactor;
  std::int32_t alphaSourceFactor; // kept for save and restore; the frame stores no alpha
  std::int32_t alphaDestinationFactor;
  std::int32_t textureCombine; // GR_TEXTURECOMBINE_...
  GrMipMapId_t textureSource;
  // Glide coordinates (origin lower left), minima inclusive, maxima exclusive, within the screen.
  std::int32_t clipMinX, clipMinY, clipMaxX, clipMaxY;
};
static_assert(sizeof(RenderState) <= sizeof(GrState), "the render state must fit the opaque state block");

// The state after initialisation: the iterated colour replaces what is there, the texture unit
// delivers nothing until a texture combine is set, the clip window is the whole screen.
RenderState DefaultRenderState();

// A state block handed back from outside may hold anything. This keeps the clip window on the
// screen and the sources within their ranges; a block the library saved comes back unchanged.
RenderState Sanitized(const RenderState& state);

} // namespace glide
