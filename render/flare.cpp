// The flare texture: reading "flare.3df" and placing it in texture memory, or ending the program.
#include "render/render.h"

#include "platform/platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace render {
namespace {

// A process (or a system) that has used up its file descriptors cannot open any file. That is no
// fault of the texture's, so the line says what ran out instead of blaming the file.
void FailIfOutOfFileDescriptors(const char* path) {
  const int error = errno;
  if (error == EMFILE || error == ENFILE) {
    platform::Fail(grGlideShutdown, "main: cannot open %s: %s\n", path, std::strerror(error));
  }
}

} // namespace

FlareTexture* flareTexture = nullptr;

FlareTexture* LoadFlareTexture(const char* path) {
  auto* texture = new (std::nothrow) FlareTexture{};
  if (texture == nullptr) {
    // The record is tiny; if even it cannot be had, the texel data could not be either.
    platform::Fail(grGlideShutdown, "out of memory for texture file %s\n", path);
  }
  texture->mipmapId = GR_NULL_MIPMAP_HANDLE;
  if (!gu3dfGetInfo(path, &texture->info)) {
    FailIfOutOfFileDescriptors(path);
    platform::Fail(grGlideShutdown, "could not get info on %s\n", path);
  }
  texture->info.data = std::malloc(texture->info.mem_required);
  if (texture->info.data == nullptr) {
    platform::Fail(grGlideShutdown, "out of memory for texture file %s\n", path);
  }
  if (!gu3dfLoad(path, &texture->info)) {
    FailIfOutOfFileDescriptors(path);
    platform::Fail(grGlideShutdown, "could not load texture file %s\n", path);
  }
  const Gu3dfHeader& header = texture->info.header;
  texture->mipmapId = guTexAllocateMemory(
      GR_TMU0, GR_MIPMAPLEVELMASK_BOTH, static_cast<int>(header.width), static_cast<int>(header.height), header.format,
      GR_MIPMAP_NEAREST, header.small_lod, header.large_lod, header.aspect_ratio, GR_TEXTURECLAMP_WRAP,
      GR_TEXTURECLAMP_WRAP, GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_BILINEAR, 0.0f, FXFALSE);
  if (texture->mipmapId == GR_NULL_MIPMAP_HANDLE) {
    platform::Fail(grGlideShutdown, "could not allocate memory for texture file %s\n", path);
  }
  guTexDownloadMipMap(texture->mipmapId, texture->info.data, &texture->info.table);
  return texture;
}

void ReleaseFlareTexture() {
  if (flareTexture == nullptr) return;
  std::free(flareTexture->info.data);
  delete flareTexture;
  flareTexture = nullptr;
}

} // namespace render
