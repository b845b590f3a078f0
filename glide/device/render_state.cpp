// The device's render state at initialisation, and any state block made safe to draw with.
#include "device/render_state.h"

#include <algorithm>

#include "glide/board.h"

namespace glide {
namespace {

// Whether an enumeration read from an outside block holds one of its values.
template <typename Enumeration>
bool InRange(Enumeration value, Enumeration first, Enumeration last) {
  return value >= first && value <= last;
}

} // namespace

RenderState DefaultRenderState() {
  RenderState state{};
  state.colorSource = ColorSource::Iterated;
  state.alphaSource = AlphaSource::Iterated;
  state.sourceFactor = BlendFactor::One;
  state.destinationFactor = BlendFactor::Zero;
  state.textureOutput = TextureOutput::Nothing;
  state.textureSource = GR_NULL_MIPMAP_HANDLE;
  state.clipMinX = 0;
  state.clipMinY = 0;
  state.clipMaxX = ScreenWidth;
  state.clipMaxY = ScreenHeight;
  return state;
}

RenderState Sanitized(const RenderState& state) {
  RenderState result = state;
  if (!InRange(result.colorSource, ColorSource::Zero, ColorSource::TextureTimesIterated)) {
    result.colorSource = ColorSource::Zero;
  }
  if (!InRange(result.alphaSource, AlphaSource::Zero, AlphaSource::Iterated)) result.alphaSource = AlphaSource::Zero;
  // Out of range, a factor counts as the one that a blend factor this library does not draw gets.
  if (!InRange(result.sourceFactor, BlendFactor::Zero, BlendFactor::OneMinusSourceAlpha)) {
    result.sourceFactor = BlendFactor::One;
  }
  if (!InRange(result.destinationFactor, BlendFactor::Zero, BlendFactor::OneMinusSourceAlpha)) {
    result.destinationFactor = BlendFactor::Zero;
  }
  if (!InRange(result.textureOutput, TextureOutput::Nothing, TextureOutput::Texel)) {
    result.textureOutput = TextureOutput::Nothing;
  }
  result.clipMinX = std::clamp(result.clipMinX, 0, ScreenWidth);
  result.clipMaxX = std::clamp(result.clipMaxX, result.clipMinX, ScreenWidth);
  result.clipMinY = std::clamp(result.clipMinY, 0, ScreenHeight);
  result.clipMaxY = std::clamp(result.clipMaxY, result.clipMinY, ScreenHeight);
  return result;
}

} // namespace glide
