// Setting the render state: the API's combine functions, blend factors and sources mapped into the
// device's terms as they are set, and the state saved and restored as one opaque block.
#include "api/context.h"

#include <algorithm>
#include <cstring>

namespace glide {
namespace {

// What a combine unit in the library's general form delivers, among what this library draws:
// the iterated value, or nothing (the constant colour, which no operation sets, is black).
enum class Combined { Zero, Iterated, NotDrawn };

Combined Combine(GrCombineFunction_t function, GrCombineFactor_t factor, GrCombineLocal_t local, GrCombineOther_t other,
                 FxBool invert) {
  if (invert != FXFALSE) return Combined::NotDrawn;
  switch (function) {
  case GR_COMBINE_FUNCTION_ZERO: return Combined::Zero;
  case GR_COMBINE_FUNCTION_LOCAL:
    if (local == GR_COMBINE_LOCAL_ITERATED) return Combined::Iterated;
    if (local == GR_COMBINE_LOCAL_CONSTANT) return Combined::Zero;
    return Combined::NotDrawn;
  case GR_COMBINE_FUNCTION_SCALE_OTHER:
    if (factor == GR_COMBINE_FACTOR_ZERO) return Combined::Zero;
    if (factor != GR_COMBINE_FACTOR_ONE) return Combined::NotDrawn;
    if (other == GR_COMBINE_OTHER_ITERATED) return Combined::Iterated;
    if (other == GR_COMBINE_OTHER_CONSTANT) return Combined::Zero;
    return Combined::NotDrawn;
  default: return Combined::NotDrawn;
  }
}

// A blend factor this library does not draw counts as ONE for the source and ZERO for the
// frame, which draws the source as it is.
BlendFactor SourceFactor(GrAlphaBlendFnc_t factor) {
  switch (factor) {
  case GR_BLEND_ZERO: return BlendFactor::Zero;
  case GR_BLEND_SRC_ALPHA: return BlendFactor::SourceAlpha;
  case GR_BLEND_ONE_MINUS_SRC_ALPHA: return BlendFactor::OneMinusSourceAlpha;
  default: return BlendFactor::One;
  }
}

BlendFactor DestinationFactor(GrAlphaBlendFnc_t factor) {
  switch (factor) {
  case GR_BLEND_ONE: return BlendFactor::One;
  case GR_BLEND_SRC_ALPHA: return BlendFactor::SourceAlpha;
  case GR_BLEND_ONE_MINUS_SRC_ALPHA: return BlendFactor::OneMinusSourceAlpha;
  default: return BlendFactor::Zero;
  }
}

std::int32_t ClampToScreen(FxU32 value, int size) { return static_cast<std::int32_t>(std::min<FxU32>(value, size)); }

} // namespace

void Context::SetClipWindow(FxU32 minX, FxU32 minY, FxU32 maxX, FxU32 maxY) {
  state_.clipMinX = ClampToScreen(minX, ScreenWidth);
  state_.clipMinY = ClampToScreen(minY, ScreenHeight);
  state_.clipMaxX = std::max(state_.clipMinX, ClampToScreen(maxX, ScreenWidth));
  state_.clipMaxY = std::max(state_.clipMinY, ClampToScreen(maxY, ScreenHeight));
}

void Context::SetColorCombineFunction(GrColorCombineFnc_t function) {
  switch (function) {
  case GR_COLORCOMBINE_ZERO:
  case GR_COLORCOMBINE_CCRGB: state_.colorSource = ColorSource::Zero; break;
  case GR_COLORCOMBINE_ITRGB: state_.colorSource = ColorSource::Iterated; break;
  case GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB: state_.colorSource = ColorSource::TextureTimesIterated; break;
  default: break;
  }
}

void Context::SetColorCombine(GrCombineFunction_t function, GrCombineFactor_t factor, GrCombineLocal_t local,
                              GrCombineOther_t other, FxBool invert) {
  switch (Combine(function, factor, local, other, invert)) {
  case Combined::Zero: state_.colorSource = ColorSource::Zero; break;
  case Combined::Iterated: state_.colorSource = ColorSource::Iterated; break;
  case Combined::NotDrawn: break;
  }
}

void Context::SetAlphaCombine(GrCombineFunction_t function, GrCombineFactor_t factor, GrCombineLocal_t local,
                              GrCombineOther_t other, FxBool invert) {
  switch (Combine(function, factor, local, other, invert)) {
  case Combined::Zero: state_.alphaSource = AlphaSource::Zero; break;
  case Combined::Iterated: state_.alphaSource = AlphaSource::Iterated; break;
  case Combined::NotDrawn: break;
  }
}

// The frame keeps no alpha, so the alpha pair of factors changes nothing that is drawn.
void Context::SetBlendFunction(GrAlphaBlendFnc_t rgbSourceFactor, GrAlphaBlendFnc_t rgbDestinationFactor) {
  state_.sourceFactor = SourceFactor(rgbSourceFactor);
  state_.destinationFactor = DestinationFactor(rgbDestinationFactor);
}

void Context::SetAlphaSource(GrAlphaSource_t source) {
  if (source == GR_ALPHASOURCE_ITERATED_ALPHA) state_.alphaSource = AlphaSource::Iterated;
  if (source == GR_ALPHASOURCE_CC_ALPHA) state_.alphaSource = AlphaSource::Zero; // the constant is 0
}

void Context::SetTextureCombine(GrChipID_t tmu, GrTextureCombineFnc_t function) {
  // With one texture unit the upstream input is zero: DECAL and ADD deliver the texel, ZERO and
  // OTHER deliver nothing.
  if (tmu != GR_TMU0) return;
  switch (function) {
  case GR_TEXTURECOMBINE_ZERO:
  case GR_TEXTURECOMBINE_OTHER: state_.textureOutput = TextureOutput::Nothing; break;
  case GR_TEXTURECOMBINE_DECAL:
  case GR_TEXTURECOMBINE_ADD: state_.textureOutput = TextureOutput::Texel; break;
  default: break;
  }
}

void Context::SaveState(GrState* block) const {
  if (!block) return;
  std::memset(block, 0, sizeof *block);
  std::memcpy(block->pad, &state_, sizeof state_);
}

void Context::RestoreState(const GrState* block) {
  if (!block) return;
  RenderState restored;
  std::memcpy(&restored, block->pad, sizeof restored);
  state_ = Sanitized(restored);
}

} // namespace glide
