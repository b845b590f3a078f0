// Fuzz target of the .3df reader and what follows it in the show: any bytes are described,
// loaded, downloaded to texture memory and drawn with as the show draws its sprites.
#include "render/render.h"
#include "tdf_fuzz_reading.h"

namespace {

// The show's sprite with the texture, and a sliver reaching far off the screen whose texture
// coordinates run far outside the texture.
void DrawWith(const render::FlareTexture& texture) {
  render::SetSpriteState(texture);
  render::DrawSprite(320, 240, 40, 255, 255, 255, 255);
  GrVertex corners[3] = {};
  const float x[3] = {300, 1e7f, 300}, y[3] = {220, 220, 260}, s[3] = {0, -3e9f, 0}, t[3] = {255, 255, 0};
  for (int i = 0; i < 3; ++i) {
    corners[i].x = x[i];
    corners[i].y = y[i];
    corners[i].r = corners[i].g = corners[i].b = corners[i].a = 255;
    corners[i].oow = 1;
    corners[i].tmuvtx[0].sow = s[i];
    corners[i].tmuvtx[0].tow = t[i];
  }
  grDrawTriangle(&corners[0], &corners[1], &corners[2]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  render::FlareTexture texture{};
  if (!tdffuzz::ReadChecked(data, size, texture.info)) return 0;

  // Every input starts with empty texture memory; drawing needs no open display.
  grGlideInit();
  const Gu3dfHeader& header = texture.info.header;
  texture.mipmapId = guTexAllocateMemory(
      GR_TMU0, GR_MIPMAPLEVELMASK_BOTH, static_cast<int>(header.width), static_cast<int>(header.height), header.format,
      GR_MIPMAP_NEAREST, header.small_lod, header.large_lod, header.aspect_ratio, GR_TEXTURECLAMP_WRAP,
      GR_TEXTURECLAMP_WRAP, GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_BILINEAR, 0.0f, FXFALSE);
  tdffuzz::Check(texture.mipmapId != GR_NULL_MIPMAP_HANDLE); // whatever the reader accepts, texture memory takes
  guTexDownloadMipMap(texture.mipmapId, texture.info.data, &texture.info.table);
  DrawWith(texture);
  grGlideShutdown();
  return 0;
}
