// Shared fixtures of the graphics library tests: an open display on a headless board, vertices,
// the show's own sprites, and textures made in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "glide/board.h"
#include "glide/glide.h"
#include "glide/inspection.h"
#include "glide/tdf.h"
#include "render/render.h"
#include "tools/tools.h"

namespace glidetest {

inline GrVertex Vertex(float x, float y, float red, float green, float blue, float alpha = 255.0f, float s = 0.0f,
                       float t = 0.0f, float oow = 1.0f) {
  GrVertex vertex{};
  vertex.x = x;
  vertex.y = y;
  vertex.r = red;
  vertex.g = green;
  vertex.b = blue;
  vertex.a = alpha;
  vertex.oow = oow;
  vertex.tmuvtx[0].sow = s * oow;
  vertex.tmuvtx[0].tow = t * oow;
  return vertex;
}

inline std::uint32_t Rgb(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
  return red << 16 | green << 8 | blue;
}

// The pixel at Glide coordinates (origin lower left).
inline std::uint32_t PixelAt(int x, int y) {
  const glide::FrameView frame = glide::CurrentFrame();
  return frame.Pixel(x, frame.height - 1 - y);
}

inline std::vector<std::uint32_t> FrameCopy() {
  const glide::FrameView frame = glide::CurrentFrame();
  std::vector<std::uint32_t> pixels;
  for (int row = 0; row < frame.height; ++row) {
    pixels.insert(pixels.end(), frame.pixels + row * frame.stride, frame.pixels + row * frame.stride + frame.width);
  }
  return pixels;
}

// The library is tested with the show's own sprites and render states, as render/ draws them: a
// square of two triangles, s running 0..255 from left to right and t 0..255 from top to bottom,
// added onto the frame with texel × vertex colour.
using render::DrawSprite;
using render::SetBaseRenderState;
inline void SetSpriteState(GrMipMapId_t texture) { render::SetSpriteState(render::FlareTexture{texture, {}}); }

// An untextured axis-aligned rectangle in one flat colour, of two triangles split along the
// diagonal from (x0, y0) to (x1, y1).
inline void DrawRectangle(float x0, float y0, float x1, float y1, float red, float green, float blue,
                          float alpha = 255.0f) {
  const GrVertex a = Vertex(x0, y0, red, green, blue, alpha);
  const GrVertex b = Vertex(x1, y0, red, green, blue, alpha);
  const GrVertex c = Vertex(x1, y1, red, green, blue, alpha);
  const GrVertex d = Vertex(x0, y1, red, green, blue, alpha);
  grDrawTriangle(&a, &b, &c);
  grDrawTriangle(&c, &d, &a);
}

// Flat colour, added onto the frame: every drawing of a pixel adds `amount` to its red channel.
inline void SetCountingState() {
  guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
  grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ZERO);
}

struct TextureOptions {
  GrTextureFilterMode_t filter = GR_TEXTUREFILTER_BILINEAR;
  GrMipMapMode_t mipmapMode = GR_MIPMAP_NEAREST;
  float lodBias = 0.0f;
};

// Reads a texture file from memory into texture memory, the way the show loads its flare;
// GR_NULL_MIPMAP_HANDLE when any step fails.
inline GrMipMapId_t LoadTexture(const std::vector<std::uint8_t>& file, TextureOptions options = {}) {
  Gu3dfInfo info{};
  if (!glide::Get3dfInfoFromMemory(file.data(), file.size(), &info)) return GR_NULL_MIPMAP_HANDLE;
  std::vector<std::uint8_t> data(info.mem_required);
  info.data = data.data();
  if (!glide::Load3dfFromMemory(file.data(), file.size(), &info)) return GR_NULL_MIPMAP_HANDLE;
  const GrMipMapId_t id = guTexAllocateMemory(
      GR_TMU0, GR_MIPMAPLEVELMASK_BOTH, static_cast<int>(info.header.width), static_cast<int>(info.header.height),
      info.header.format, options.mipmapMode, info.header.small_lod, info.header.large_lod, info.header.aspect_ratio,
      GR_TEXTURECLAMP_WRAP, GR_TEXTURECLAMP_WRAP, options.filter, options.filter, options.lodBias, FXFALSE);
  if (id != GR_NULL_MIPMAP_HANDLE) guTexDownloadMipMap(id, info.data, &info.table);
  return id;
}

// A square texture of one size (a single level) in rgb565, texels given row by row.
inline std::vector<std::uint8_t> Rgb565Texture(int size, const std::vector<std::uint16_t>& texels) {
  tdf_writer::Texture texture;
  texture.format = GR_TEXFMT_RGB_565;
  texture.smallSize = size;
  texture.largeSize = size;
  texture.texels = texels;
  return tdf_writer::Encode(texture);
}

// A library opened on a headless board, as the show opens it, and shut down after each test.
class GlideTest : public ::testing::Test {
protected:
  void SetUp() override {
    glide::SetOperationObserver(nullptr, nullptr);
    glide::SelectBoard(&board_);
    ASSERT_TRUE(glide::SelectSpritePath(glide::SpritePath::Fastest));
    grGlideInit();
    GrHwConfiguration configuration;
    ASSERT_TRUE(grSstQueryHardware(&configuration));
    grSstSelect(0);
    ASSERT_TRUE(
        grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT, 1, 2));
    grClipWindow(0, 0, glide::ScreenWidth, glide::ScreenHeight);
  }
  void TearDown() override {
    grGlideShutdown();
    glide::SelectBoard(nullptr);
    glide::SetOperationObserver(nullptr, nullptr);
    glide::SelectSpritePath(glide::SpritePath::Fastest);
  }

  glide::HeadlessBoard board_;
};

} // namespace glidetest
