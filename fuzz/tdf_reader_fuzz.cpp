// Fuzz target of the .3df reader: any bytes are described, loaded, downloaded to texture memory
// and drawn with, and the reader's promises are checked on the way.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "glide/glide.h"
#include "glide/tdf.h"

namespace {

// The largest texture a header can describe: 256 × 256 texels of two bytes, with every level.
constexpr std::uint32_t LargestTexture = (256 * 256 + 128 * 128 + 64 * 64 + 32 * 32 + 16 * 16 + 8 * 8 + 4 * 4 + 2 * 2 + 1) * 2;

void Check(bool promise) {
  if (!promise) __builtin_trap();
}

// Draws a sprite, a sliver and a triangle far off the screen with the texture.
void DrawWith(GrMipMapId_t texture) {
  grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ZERO);
  guColorCombineFunction(GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB);
  guTexSource(texture);
  grTexCombineFunction(GR_TMU0, GR_TEXTURECOMBINE_ADD);
  GrVertex corners[4] = {};
  const float x[4] = {300, 340, 340, 300}, y[4] = {220, 220, 260, 260}, s[4] = {0, 255, 255, 0}, t[4] = {255, 255, 0, 0};
  for (int i = 0; i < 4; ++i) {
    corners[i].x = x[i];
    corners[i].y = y[i];
    corners[i].r = corners[i].g = corners[i].b = corners[i].a = 255;
    corners[i].oow = 1;
    corners[i].tmuvtx[0].sow = s[i];
    corners[i].tmuvtx[0].tow = t[i];
  }
  grDrawTriangle(&corners[0], &corners[1], &corners[2]);
  grDrawTriangle(&corners[2], &corners[3], &corners[0]);
  corners[1].x = 1e7f;
  corners[1].tmuvtx[0].sow = -3e9f;
  grDrawTriangle(&corners[0], &corners[1], &corners[3]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Gu3dfInfo info;
  std::memset(&info, 0, sizeof info);
  if (!glide::Get3dfInfoFromMemory(data, size, &info)) {
    // A file without a readable header cannot be loaded either, whatever the buffer.
    static std::vector<std::uint8_t> largest(LargestTexture);
    info.data = largest.data();
    info.mem_required = LargestTexture;
    Check(!glide::Load3dfFromMemory(data, size, &info));
    return 0;
  }
  Check(info.mem_required > 0 && info.mem_required <= LargestTexture);
  Check(info.header.width >= 1 && info.header.width <= 256 && info.header.height >= 1 && info.header.height <= 256);
  const Gu3dfHeader described = info.header;
  std::vector<std::uint8_t> buffer(info.mem_required);
  info.data = buffer.data();
  if (!glide::Load3dfFromMemory(data, size, &info)) return 0;
  Check(std::memcmp(&described, &info.header, sizeof described) == 0);

  // Every input starts with empty texture memory; drawing needs no open display.
  grGlideInit();
  const GrMipMapId_t texture = guTexAllocateMemory(
      GR_TMU0, GR_MIPMAPLEVELMASK_BOTH, static_cast<int>(info.header.width), static_cast<int>(info.header.height),
      info.header.format, GR_MIPMAP_NEAREST, info.header.small_lod, info.header.large_lod, info.header.aspect_ratio,
      GR_TEXTURECLAMP_WRAP, GR_TEXTURECLAMP_WRAP, GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_BILINEAR, 0.0f, FXFALSE);
  Check(texture != GR_NULL_MIPMAP_HANDLE); // whatever the reader accepts, texture memory takes
  guTexDownloadMipMap(texture, info.data, &info.table);
  DrawWith(texture);
  grGlideShutdown();
  return 0;
}
