// Sprite drawing: the textured square, its render state, and the three renderers of the fireworks.
#include "render/render.h"

namespace render {
namespace {

// Saved at the start of one renderer call and restored at its end; nothing else uses it.
GrState savedRenderState;

GrVertex Corner(float x, float y, float s, float t, float red, float green, float blue, float alpha) {
  GrVertex vertex{};
  vertex.x = x;
  vertex.y = y;
  vertex.r = red;
  vertex.g = green;
  vertex.b = blue;
  vertex.a = alpha;
  vertex.oow = 1.0f;
  vertex.tmuvtx[0].sow = s;
  vertex.tmuvtx[0].tow = t;
  return vertex;
}

void DrawParticle(const sim::FireworkSlot& slot, int i, float size) {
  DrawSprite(static_cast<float>(slot.x[i]), static_cast<float>(slot.y[i]), size, static_cast<float>(slot.red[i]),
             static_cast<float>(slot.green[i]), static_cast<float>(slot.blue[i]), static_cast<float>(slot.alpha[i]));
}

void DrawTrailPoint(const sim::FireworkSlot& slot, int j, float size) {
  DrawSprite(static_cast<float>(slot.trailX[j]), static_cast<float>(slot.trailY[j]), size,
             static_cast<float>(slot.trailRed[j]), static_cast<float>(slot.trailGreen[j]),
             static_cast<float>(slot.trailBlue[j]), static_cast<float>(slot.trailAlpha[j]));
}

enum class RisingPicture { Head, HeadThenTrail, Trail };

// Every renderer: the sprite state once per firework, the rising picture of its kind, or, in
// any other state, every particle.
void DrawSlot(const sim::FireworkSlot& slot, RisingPicture rising) {
  SaveRenderState();
  SetSpriteState(*flareTexture);
  const float size = static_cast<float>(slot.size);
  if (slot.state == sim::SlotState::Rising) {
    if (rising != RisingPicture::Trail) {
      DrawParticle(slot, 0, size);
    }
    if (rising != RisingPicture::Head) {
      for (int j = 0; j < slot.trailCount; ++j) DrawTrailPoint(slot, j, size);
    }
  } else {
    for (int i = 0; i < slot.particleCount; ++i) DrawParticle(slot, i, size);
  }
  RestoreRenderState();
}

} // namespace

void DrawSprite(float x, float y, float size, float red, float green, float blue, float alpha) {
  const float h = size * 0.5f;
  // The flare spans the square: s from 0 at the left edge to 255 at the right, its first row
  // (t = 0) along the top edge.
  const GrVertex lowerLeft = Corner(x - h, y - h, 0, 255, red, green, blue, alpha);
  const GrVertex lowerRight = Corner(x + h, y - h, 255, 255, red, green, blue, alpha);
  const GrVertex upperRight = Corner(x + h, y + h, 255, 0, red, green, blue, alpha);
  const GrVertex upperLeft = Corner(x - h, y + h, 0, 0, red, green, blue, alpha);
  grDrawTriangle(&lowerLeft, &lowerRight, &upperRight);
  grDrawTriangle(&upperRight, &upperLeft, &lowerLeft);
}

void SetSpriteState(const FlareTexture& texture) {
  // Additive: overlapping sprites brighten one another, saturating at full intensity.
  grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ZERO);
  guColorCombineFunction(GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB);
  guTexSource(texture.mipmapId);
  guAlphaSource(GR_ALPHASOURCE_ITERATED_ALPHA);
  grTexCombineFunction(GR_TMU0, GR_TEXTURECOMBINE_ADD);
}

void SaveRenderState() { grGlideGetState(&savedRenderState); }
void RestoreRenderState() { grGlideSetState(&savedRenderState); }

void DrawHeadOrBurst(const sim::FireworkSlot& slot) { DrawSlot(slot, RisingPicture::Head); }
void DrawHeadTrailOrBurst(const sim::FireworkSlot& slot) { DrawSlot(slot, RisingPicture::HeadThenTrail); }
void DrawTrailOrBurst(const sim::FireworkSlot& slot) { DrawSlot(slot, RisingPicture::Trail); }

} // namespace render
