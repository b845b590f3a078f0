// Shared fixtures of the graphics library tests: an open headless display, vertices, rectangles, states, textures.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "glide/board.h"
#include "glide/glide.h"
#include "glide/inspection.h"
#include "glide/tdf.h"
#include "support/golden.h"
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

inline std::vector<std::uint32_t> FrameCopy() { return support::FrameImage(glide::CurrentFrame()).pixels; }

// What a rectangle's texture coordinates run over: s from `left` at x0 to `right` at x1, and t
// from `bottom` at y0 to `top` at y1.
struct TextureSpan {
  float left = 0, right = 0, bottom = 0, top = 0;
};

// An axis-aligned rectangle in one colour, of two triangles split along the diagonal from
// (x0, y0) to (x1, y1), drawn from (x0, y0) round to (x1, y0), (x1, y1) and (x0, y1).
inline void DrawRectangle(float x0, float y0, float x1, float y1, float red, float green, float blue,
                          float alpha = 255.0f, TextureSpan span = {}) {
  const GrVertex a = Vertex(x0, y0, red, green, blue, alpha, span.left, span.bottom);
  const GrVertex b = Vertex(x1, y0, red, green, blue, alpha, span.right, span.bottom);
  const GrVertex c = Vertex(x1, y1, red, green, blue, alpha, span.right, span.top);
  const GrVertex d = Vertex(x0, y1, red, green, blue, alpha, span.left, span.top);
  grDrawTriangle(&a, &b, &c);
  grDrawTriangle(&c, &d, &a);
}

// A square of `size` centred on (x, y) as a screen saver draws its sprites, which the library's
// sprite paths take: s running 0..255 from left to right and t 0..255 from top to bottom.
inline void DrawSquare(float x, float y, float size, float red, float green, float blue, float alpha) {
  const float h = size * 0.5f;
  DrawRectangle(x - h, y - h, x + h, y + h, red, green, blue, alpha, {0, 255, 255, 0});
}

// Textured squares added onto the frame, texel × vertex colour, with iterated alpha.
inline void SetSquareState(GrMipMapId_t texture) {
  grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ZERO);
  guColorCombineFunction(GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB);
  guTexSource(texture);
  guAlphaSource(GR_ALPHASOURCE_ITERATED_ALPHA);
  grTexCombineFunction(GR_TMU0, GR_TEXTURECOMBINE_ADD);
}

// Untextured iterated colour and alpha, blended over the frame by source alpha.
inline void SetBlendingState() {
  guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
  guAlphaSource(GR_ALPHASOURCE_ITERATED_ALPHA);
  grAlphaBlendFunction(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO, GR_BLEND_ZERO);
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

// Reads a texture file from memory into texture memory, as a program loads its textures;
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

// A square texture of one size (a single level), texels given row by row: rgb565, or intensity.
inline std::vector<std::uint8_t> SquareTexture(int size, const std::vector<std::uint16_t>& texels,
                                               GrTextureFormat_t format = GR_TEXFMT_RGB_565) {
  tdf_writer::Texture texture;
  texture.format = format;
  texture.smallSize = size;
  texture.largeSize = size;
  texture.texels = texels;
  return tdf_writer::Encode(texture);
}

// Opens the library on the selected board as a program opens it; whether it opened.
inline bool OpenDisplay() {
  grGlideInit();
  GrHwConfiguration configuration;
  if (!grSstQueryHardware(&configuration)) return false;
  grSstSelect(0);
  return grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT, 1, 2);
}

// A library opened on a headless board, as a program opens it, and shut down after each test.
class GlideTest : public ::testing::Test {
protected:
  void SetUp() override {
    glide::SetOperationObserver(nullptr, nullptr);
    glide::SelectBoard(&board_);
    ASSERT_TRUE(glide::SelectSpritePath(glide::SpritePath::Fastest));
    ASSERT_TRUE(OpenDisplay());
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
