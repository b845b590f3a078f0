// The .3df writer used by the flare generator, the tests and the fuzzing corpus.
#include "tools/tools.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace tdf_writer {
namespace {

struct FormatFacts {
  GrTextureFormat_t format;
  const char* name;
  int bytesPerTexel;
  enum { None, Ncc, Palette } table;
};

constexpr FormatFacts Formats[] = {
    {GR_TEXFMT_RGB_332, "rgb332", 1, FormatFacts::None},
    {GR_TEXFMT_YIQ_422, "yiq", 1, FormatFacts::Ncc},
    {GR_TEXFMT_ALPHA_8, "a8", 1, FormatFacts::None},
    {GR_TEXFMT_INTENSITY_8, "i8", 1, FormatFacts::None},
    {GR_TEXFMT_ALPHA_INTENSITY_44, "ai44", 1, FormatFacts::None},
    {GR_TEXFMT_P_8, "p8", 1, FormatFacts::Palette},
    {GR_TEXFMT_ARGB_8332, "argb8332", 2, FormatFacts::None},
    {GR_TEXFMT_AYIQ_8422, "ayiq8422", 2, FormatFacts::Ncc},
    {GR_TEXFMT_RGB_565, "rgb565", 2, FormatFacts::None},
    {GR_TEXFMT_ARGB_1555, "argb1555", 2, FormatFacts::None},
    {GR_TEXFMT_ARGB_4444, "argb4444", 2, FormatFacts::None},
    {GR_TEXFMT_ALPHA_INTENSITY_88, "ai88", 2, FormatFacts::None},
    {GR_TEXFMT_AP_88, "ap88", 2, FormatFacts::Palette},
};

const FormatFacts* Find(GrTextureFormat_t format) {
  for (const FormatFacts& facts : Formats) {
    if (facts.format == format) return &facts;
  }
  return nullptr;
}

void Put16(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value >> 8));
  bytes.push_back(static_cast<std::uint8_t>(value));
}

} // namespace

std::string FormatName(GrTextureFormat_t format) {
  const FormatFacts* facts = Find(format);
  return facts ? facts->name : "";
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
  const FormatFacts* facts = Find(texture.format);
  const std::string header = "3df v1.1\n" + FormatName(texture.format) + "\nlod range: " +
                             std::to_string(texture.smallSize) + " " + std::to_string(texture.largeSize) +
                             "\naspect ratio: " + std::to_string(texture.aspectWidth) + " " +
                             std::to_string(texture.aspectHeight) + "\n";
  std::vector<std::uint8_t> bytes(header.begin(), header.end());
  if (!facts) return bytes;
  if (facts->table == FormatFacts::Ncc) {
    const GuNccTable& ncc = texture.table.nccTable;
    for (FxU8 y : ncc.yRGB) Put16(bytes, y);
    for (const auto* rows : {&ncc.iRGB, &ncc.qRGB}) {
      for (const auto& row : *rows) {
        for (FxI16 value : row) Put16(bytes, static_cast<std::uint16_t>(value) & 0x1FF);
      }
    }
  } else if (facts->table == FormatFacts::Palette) {
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
  return std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

} // namespace tdf_writer
