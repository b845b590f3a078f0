// Texture memory: a fixed budget of texture bytes, each texture decoded once, at download.
#pragma once

#include <cstdint>
#include <vector>

#include "glide/glide.h"
#include "glide/tdf.h"
#include "texture/mipmap.h"

namespace glide {

// Texture memory, counted in the texel bytes of the textures' own formats as the boards of the
// day counted it. Allocation returns GR_NULL_MIPMAP_HANDLE once it is used up, and the hardware
// query reports it in whole MiB.
inline constexpr std::uint32_t TextureMemoryBytes = 4u << 20;

// Handles of texture memory. When every handle is taken, allocation returns
// GR_NULL_MIPMAP_HANDLE as it does when the memory itself is used up.
inline constexpr int MaxTextures = 64;

// The intensity plane of a level can be read this many bytes past its last texel, so vector code
// may load a whole short row at once.
inline constexpr int IntensityReadSlack = 16;

struct TextureLevel {
  int width = 0; // powers of two
  int height = 0;
  double uScale = 0; // texels of this level per unit of the texture coordinate s, and of t
  double vScale = 0;
  const std::uint32_t* texels = nullptr;   // 0x00RRGGBB, row by row
  const std::uint8_t* intensity = nullptr; // one byte per texel when the texture is grey, else null
};

// The settings a texture was allocated with, in the library's own terms.
struct TextureRequest {
  GrChipID_t tmu;
  FxU8 oddEvenMask;
  int width;
  int height;
  GrTextureFormat_t format;
  GrMipMapMode_t mipmapMode;
  GrLOD_t smallLod;
  GrLOD_t largeLod;
  GrAspectRatio_t aspect;
  GrTextureClampMode_t sClampMode;
  GrTextureClampMode_t tClampMode;
  GrTextureFilterMode_t minFilterMode;
  GrTextureFilterMode_t magFilterMode;
  float lodBias;
  FxBool trilinear;
};

struct Texture {
  bool allocated = false;
  const TexelFormat* format = nullptr;
  MipmapGeometry geometry;
  TextureLevel levels[MaxLevelCount];
  bool mipmapped = false;
  bool bilinearMinify = false;
  bool bilinearMagnify = false;
  int lodBiasQuarters = 0; // the level-of-detail bias in quarter levels, as the hardware kept it
  std::uint32_t memoryBytes = 0;
  // Every texel has equal red, green and blue, so one byte per texel describes it. A texture
  // allocated but never downloaded is black, and grey.
  bool grey = true;
  std::vector<std::uint32_t> texelStore;
  std::vector<std::uint8_t> intensityStore;
};

class TextureMemory {
public:
  // A handle, or GR_NULL_MIPMAP_HANDLE when the memory or the handles are used up or the request
  // asks for something this library does not draw (another texture unit, clamping, trilinear
  // filtering, levels or formats that do not exist, a size that does not match the levels).
  GrMipMapId_t Allocate(const TextureRequest& request);
  // Decodes the texels of every level, largest first, in the allocated format; 16-bit texels are
  // native words. The table is the palette or NCC table; formats without one ignore it.
  // Unknown handles and null sources are ignored.
  void Download(GrMipMapId_t id, const void* source, const GuTexTable* table);
  // The texture of a handle, or null.
  const Texture* Find(GrMipMapId_t id) const;
  // Frees every texture.
  void Reset();

private:
  Texture textures_[MaxTextures];
  std::uint32_t bytesUsed_ = 0;
};

} // namespace glide
