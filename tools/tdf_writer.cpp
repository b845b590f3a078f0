// The .3df writer used by the flare generator, the tests and the fuzzing corpus.
#include "tools/tools.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "glide/tdf.h"

namespace tdf_writer {
namespace {

void Put16(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
  bytes.push_back(static_cast<std::uint8_t>(value));
}

} // namespace

std::string FormatName(GrTextureFormat_t format) {
  const glide::TexelFormat* facts = glide::FindTexelFormat(format);
  return facts ? std::string(facts->name) : "";
}

std::uint32_t TexelCount(int smallSize, int largeSize, int aspectWidth, int aspectHeight) {
  int width = aspectWidth >= aspectHeight ? largeSize : largeSize * aspectWidth / aspectHeight;
  int height = aspectWidth >= aspectHeight ? largeSize * aspectHeight / aspectWidth : largeSize;
  std::uint32_t count = 0;
  for (int size = largeSize; size >= smallSize && size > 0; size /= 2) {
    count += static_cast<std::uint32_t>(std::max(1, width) * std::max(1, height));
    width /= 2;
    height /= 2;
  }
  return count;
}

std::vector<std::uint8_t> Encode(const Texture& texture) {
  const glide::TexelFormat* facts = glide::FindTexelFormat(texture.format);
  const std::string header =
      "3df v1.1\n" + FormatName(texture.format) + "\nlod range: " + std::to_string(texture.smallSize) + " " +
      std::to_string(texture.largeSize) + "\naspect ratio: " + std::to_string(texture.aspectWidth) + " " +
      std::to_string(texture.aspectHeight) + "\n";
  std::vector<std::uint8_t> bytes(header.begin(), header.end());
  if (!facts) return bytes;
  if (facts->table == glide::TableKind::Ncc) {
    const GuNccTable& ncc = texture.table.nccTable;
    for (FxU8 y : ncc.yRGB) Put16(bytes, y);
    for (const auto* rows : {&ncc.iRGB, &ncc.qRGB}) {
      for (const auto& row : *rows) {
        for (FxI16 value : row) Put16(bytes, static_cast<std::uint16_t>(value) & 0x1FF);
      }
    }
  } else if (facts->table == glide::TableKind::Palette) {
    for (FxU32 entry : texture.table.palette.data) {
      Put16(bytes, entry >> 16);
      Put16(bytes, entry & 0xFFFF);
    }
  }
  for (std::uint16_t texel : texture.texels) {
    if (facts->bytesPerTexel == 2) {
      Put16(bytes, texel);
    } else {
      bytes.push_back(static_cast<std::uint8_t>(texel));
    }
  }
  return bytes;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!file) return false;
  // An empty vector's data may be null, which fwrite must not be given even for no bytes.
  return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

} // namespace tdf_writer
