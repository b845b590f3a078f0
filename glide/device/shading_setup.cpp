// Shading set-up: the state, the texture, and the colour planes or the sprite path's one colour.
#include "device/shading_setup.h"

#include "device/attribute_planes.h"
#include "device/shading.h"
#include "device/texture_setup.h"

namespace glide {

void PrepareShading(const GridVertex (&vertices)[3], const RenderState& state, const TextureMemory& textures,
                    bool spritePathAllowed, PreparedTriangle& triangle) {
  Shading& shading = triangle.shading;
  const AttributePlanes planes(vertices, triangle.rightAngle);
  shading.colour = state.colorSource;
  shading.alpha = state.alphaSource;
  shading.source = state.sourceFactor;
  shading.destination = state.destinationFactor;
  shading.referenceX = planes.ReferenceX();
  shading.referenceY = planes.ReferenceY();
  shading.level = nullptr;
  shading.perspective = false;

  const bool textured =
      shading.colour == ColorSource::TextureTimesIterated && state.textureOutput == TextureOutput::Texel;
  const Texture* texture = textured ? textures.Find(state.textureSource) : nullptr;
  if (texture) PrepareTexture(planes, vertices, *texture, triangle);

  auto same = [&](Attribute attribute) {
    return vertices[0].attribute[attribute] == vertices[1].attribute[attribute] &&
           vertices[0].attribute[attribute] == vertices[2].attribute[attribute];
  };
  triangle.sprite = spritePathAllowed && texture && shading.level->intensity && !shading.perspective &&
                    shading.u.perY == 0 && shading.v.perX == 0 && shading.source == BlendFactor::One &&
                    shading.destination == BlendFactor::One && same(Red) && same(Green) && same(Blue);
  if (triangle.sprite) {
    shading.colourScale[0] = static_cast<std::uint16_t>(Scale(Quantize(vertices[0].attribute[Blue])));
    shading.colourScale[1] = static_cast<std::uint16_t>(Scale(Quantize(vertices[0].attribute[Green])));
    shading.colourScale[2] = static_cast<std::uint16_t>(Scale(Quantize(vertices[0].attribute[Red])));
  } else {
    for (Attribute channel : {Red, Green, Blue}) shading.channel[channel] = planes.PlaneOf(channel);
    shading.alphaPlane = planes.PlaneOf(Alpha);
  }
}

} // namespace glide
