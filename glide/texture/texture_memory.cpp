// Texture memory and the decoding of every texel format into 8-bit red, green and blue.
#include "texture/texture_memory.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace glide {
namespace {

// Widens an n-bit field to 8 bits by repeating its bits, so 0 stays 0 and all ones become 255.
std::uint32_t Widen(std::uint32_t value, int bits) {
  std::uint32_t wide = 0;
  for (int filled = 0; filled < 8; filled += bits) {
    const int shift = 8 - bits - filled;
    wide |= shift >= 0 ? value << shift : value >> -shift;
  }
  return wide & 0xFF;
}

std::uint32_t Rgb(std::uint32_t red, std::uint32_t green, std::uint32_t blue) { return red << 16 | green << 8 | blue; }

std::uint32_t Grey(std::uint32_t intensity) { return Rgb(intensity, intensity, intensity); }

std::uint32_t Rgb332(std::uint32_t value) {
  return Rgb(Widen(value >> 5 & 7, 3), Widen(value >> 2 & 7, 3), Widen(value & 3, 2));
}

// An 8-bit YIQ index through the NCC table: each channel is Y + I + Q, clamped.
std::uint32_t Yiq(std::uint32_t value, const GuNccTable& ncc) {
  const int y = ncc.yRGB[value >> 4 & 15];
  const int i = value >> 2 & 3;
  const int q = value & 3;
  std::uint32_t channels[3];
  for (int channel = 0; channel < 3; ++channel) {
    channels[channel] = static_cast<std::uint32_t>(std::clamp(y + ncc.iRGB[i][channel] + ncc.qRGB[q][channel], 0, 255));
  }
  return Rgb(channels[0], channels[1], channels[2]);
}

// Palette entries are 0xAARRGGBB; the frame keeps no alpha.
std::uint32_t Paletted(std::uint32_t index, const GuTexPalette& palette) {
  return palette.data[index & 0xFF] & 0xFFFFFF;
}

// Texel alpha is dropped: this library always takes alpha from the vertices. For alpha-only
// textures (a8) red, green and blue repeat the alpha, so an a8 glow looks like an i8 one.
std::uint32_t DecodeTexel(GrTextureFormat_t format, std::uint32_t value, const GuTexTable& table) {
  switch (format) {
  case GR_TEXFMT_RGB_332: return Rgb332(value);
  case GR_TEXFMT_YIQ_422: return Yiq(value, table.nccTable);
  case GR_TEXFMT_ALPHA_8:
  case GR_TEXFMT_INTENSITY_8: return Grey(value);
  case GR_TEXFMT_ALPHA_INTENSITY_44: return Grey(Widen(value & 15, 4));
  case GR_TEXFMT_P_8: return Paletted(value, table.palette);
  case GR_TEXFMT_ARGB_8332: return Rgb332(value & 0xFF);
  case GR_TEXFMT_AYIQ_8422: return Yiq(value & 0xFF, table.nccTable);
  case GR_TEXFMT_RGB_565: return Rgb(Widen(value >> 11 & 31, 5), Widen(value >> 5 & 63, 6), Widen(value & 31, 5));
  case GR_TEXFMT_ARGB_1555: return Rgb(Widen(value >> 10 & 31, 5), Widen(value >> 5 & 31, 5), Widen(value & 31, 5));
  case GR_TEXFMT_ARGB_4444: return Rgb(Widen(value >> 8 & 15, 4), Widen(value >> 4 & 15, 4), Widen(value & 15, 4));
  case GR_TEXFMT_ALPHA_INTENSITY_88: return Grey(value & 0xFF);
  case GR_TEXFMT_AP_88: return Paletted(value, table.palette);
  default: return 0;
  }
}

} // namespace

GrMipMapId_t TextureMemory::Allocate(const TextureRequest& request) {
  MipmapGeometry geometry;
  const TexelFormat* format = FindTexelFormat(request.format);
  if (request.tmu != GR_TMU0 || request.oddEvenMask < GR_MIPMAPLEVELMASK_EVEN ||
      request.oddEvenMask > GR_MIPMAPLEVELMASK_BOTH || !format ||
      (request.mipmapMode != GR_MIPMAP_DISABLE && request.mipmapMode != GR_MIPMAP_NEAREST) ||
      request.sClampMode != GR_TEXTURECLAMP_WRAP || request.tClampMode != GR_TEXTURECLAMP_WRAP ||
      (request.minFilterMode != GR_TEXTUREFILTER_POINT_SAMPLED && request.minFilterMode != GR_TEXTUREFILTER_BILINEAR) ||
      (request.magFilterMode != GR_TEXTUREFILTER_POINT_SAMPLED && request.magFilterMode != GR_TEXTUREFILTER_BILINEAR) ||
      request.trilinear != FXFALSE || !DescribeMipmap(request.smallLod, request.largeLod, request.aspect, geometry) ||
      request.width != geometry.width[0] || request.height != geometry.height[0]) {
    return GR_NULL_MIPMAP_HANDLE;
  }
  const std::uint32_t memoryBytes = geometry.texelCount * static_cast<std::uint32_t>(format->bytesPerTexel);
  if (memoryBytes > TextureMemoryBytes - bytesUsed_) return GR_NULL_MIPMAP_HANDLE;
  Texture* texture = std::find_if(std::begin(textures_), std::end(textures_),
                                  [](const Texture& candidate) { return !candidate.allocated; });
  if (texture == std::end(textures_)) return GR_NULL_MIPMAP_HANDLE;

  texture->allocated = true;
  texture->format = format;
  texture->geometry = geometry;
  texture->mipmapped = request.mipmapMode == GR_MIPMAP_NEAREST;
  texture->bilinearMinify = request.minFilterMode == GR_TEXTUREFILTER_BILINEAR;
  texture->bilinearMagnify = request.magFilterMode == GR_TEXTUREFILTER_BILINEAR;
  // The hardware kept the bias in quarter levels from -8 to +7.75.
  const float bias = std::isnan(request.lodBias) ? 0.0f : std::clamp(request.lodBias, -8.0f, 7.75f);
  texture->lodBiasQuarters = static_cast<int>(std::lrint(bias * 4.0f));
  texture->memoryBytes = memoryBytes;
  texture->grey = true;
  texture->texelStore.assign(geometry.texelCount, 0);
  texture->intensityStore.assign(geometry.texelCount + IntensityReadSlack, 0);
  std::uint32_t offset = 0;
  for (int level = 0; level < geometry.levelCount; ++level) {
    TextureLevel& stored = texture->levels[level];
    stored.width = geometry.width[level];
    stored.height = geometry.height[level];
    stored.uScale = static_cast<double>(stored.width) / geometry.sRange;
    stored.vScale = static_cast<double>(stored.height) / geometry.tRange;
    stored.texels = texture->texelStore.data() + offset;
    stored.intensity = texture->intensityStore.data() + offset;
    offset += static_cast<std::uint32_t>(stored.width * stored.height);
  }
  bytesUsed_ += memoryBytes;
  return static_cast<GrMipMapId_t>(texture - textures_);
}

void TextureMemory::Download(GrMipMapId_t id, const void* source, const GuTexTable* table) {
  if (id >= static_cast<GrMipMapId_t>(MaxTextures) || !textures_[id].allocated || !source) return;
  Texture& texture = textures_[id];
  GuTexTable noTable;
  std::memset(&noTable, 0, sizeof noTable);
  const GuTexTable& tables = table ? *table : noTable;
  const int bytesPerTexel = texture.format->bytesPerTexel;
  const auto* bytes = static_cast<const std::uint8_t*>(source);
  bool grey = true;
  for (std::uint32_t index = 0; index < texture.geometry.texelCount; ++index) {
    std::uint32_t value = bytes[index];
    if (bytesPerTexel == 2) {
      std::uint16_t word;
      std::memcpy(&word, bytes + 2 * index, 2);
      value = word;
    }
    const std::uint32_t texel = DecodeTexel(texture.format->code, value, tables);
    texture.texelStore[index] = texel;
    texture.intensityStore[index] = static_cast<std::uint8_t>(texel);
    grey = grey && texel == Grey(texel & 0xFF);
  }
  texture.grey = grey;
  for (TextureLevel& level : texture.levels) level.intensity = nullptr;
  if (grey) {
    std::uint32_t offset = 0;
    for (int level = 0; level < texture.geometry.levelCount; ++level) {
      texture.levels[level].intensity = texture.intensityStore.data() + offset;
      offset += static_cast<std::uint32_t>(texture.levels[level].width * texture.levels[level].height);
    }
  }
}

const Texture* TextureMemory::Find(GrMipMapId_t id) const {
  if (id >= static_cast<GrMipMapId_t>(MaxTextures) || !textures_[id].allocated) return nullptr;
  return &textures_[id];
}

void TextureMemory::Reset() {
  for (Texture& texture : textures_) texture = Texture{};
  bytesUsed_ = 0;
}

} // namespace glide
