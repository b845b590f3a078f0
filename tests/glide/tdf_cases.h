// Named .3df files for the reader's tests and the fuzzing seed corpus: a valid file of every
// format, accepted variants of the header, and every malformed case.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "glide/glide.h"
#include "tools/tools.h"

namespace tdfcases {

inline constexpr GrTextureFormat_t AllFormats[] = {
    GR_TEXFMT_RGB_332,
    GR_TEXFMT_YIQ_422,
    GR_TEXFMT_ALPHA_8,
    GR_TEXFMT_INTENSITY_8,
    GR_TEXFMT_ALPHA_INTENSITY_44,
    GR_TEXFMT_P_8,
    GR_TEXFMT_ARGB_8332,
    GR_TEXFMT_AYIQ_8422,
    GR_TEXFMT_RGB_565,
    GR_TEXFMT_ARGB_1555,
    GR_TEXFMT_ARGB_4444,
    GR_TEXFMT_ALPHA_INTENSITY_88,
    GR_TEXFMT_AP_88,
};

inline bool IsWide(GrTextureFormat_t format) { return format >= GR_TEXFMT_ARGB_8332; }

// A texture of any format and shape, with texels and table from a fixed pseudo-random sequence:
// every bit of every texel and table value is exercised, NCC I and Q values as 9-bit signed.
inline tdf_writer::Texture SampleTexture(GrTextureFormat_t format, int smallSize, int largeSize, int aspectWidth,
                                         int aspectHeight, std::uint32_t seed = 1) {
  std::uint32_t state = seed;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 8;
  };
  tdf_writer::Texture texture;
  texture.format = format;
  texture.smallSize = smallSize;
  texture.largeSize = largeSize;
  texture.aspectWidth = aspectWidth;
  texture.aspectHeight = aspectHeight;
  const std::uint32_t count = tdf_writer::TexelCount(smallSize, largeSize, aspectWidth, aspectHeight);
  for (std::uint32_t i = 0; i < count; ++i) {
    texture.texels.push_back(static_cast<std::uint16_t>(next() & (IsWide(format) ? 0xFFFF : 0xFF)));
  }
  for (FxU8& y : texture.table.nccTable.yRGB) y = static_cast<FxU8>(next());
  for (auto* rows : {&texture.table.nccTable.iRGB, &texture.table.nccTable.qRGB}) {
    for (auto& row : *rows) {
      for (FxI16& value : row) value = static_cast<FxI16>(static_cast<int>(next() % 512) - 256);
    }
  }
  if (format == GR_TEXFMT_P_8 || format == GR_TEXFMT_AP_88) {
    for (FxU32& entry : texture.table.palette.data) entry = next() << 8 | (next() & 0xFF);
  }
  return texture;
}

struct NamedFile {
  std::string name;
  std::vector<std::uint8_t> bytes;
};

inline std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// One small valid file of every format: 8 × 8 with its mipmap levels.
inline std::vector<NamedFile> ValidFiles() {
  std::vector<NamedFile> files;
  for (GrTextureFormat_t format : AllFormats) {
    files.push_back({"valid-" + tdf_writer::FormatName(format), tdf_writer::Encode(SampleTexture(format, 1, 8, 1, 1))});
  }
  return files;
}

// A valid rgb565 header (1 × 1 texel, two bytes) with one line replaced.
inline std::vector<std::uint8_t> HeaderWith(const std::string& version, const std::string& format,
                                            const std::string& lodRange, const std::string& aspectRatio,
                                            const std::string& body = "\x12\x34") {
  return Bytes(version + "\n" + format + "\n" + lodRange + "\n" + aspectRatio + "\n" + body);
}

inline std::vector<std::uint8_t> ValidHeader() {
  return HeaderWith("3df v1.1", "rgb565", "lod range: 1 1", "aspect ratio: 1 1");
}

// Files the reader must accept: the tolerated variations of a header.
inline std::vector<NamedFile> AcceptedVariants() {
  return {
      {"carriage-returns", Bytes("3df v1.1\r\nrgb565\r\nlod range: 1 1\r\naspect ratio: 1 1\r\n\x12\x34")},
      {"format-in-capitals", HeaderWith("3df v1.1", "RGB565", "lod range: 1 1", "aspect ratio: 1 1")},
      {"other-version", HeaderWith("3df v2.07", "rgb565", "lod range: 1 1", "aspect ratio: 1 1")},
      {"extra-spaces", HeaderWith("3df  v1.1 ", " rgb565", "lod  range:   1 1", "aspect ratio: 1\t1")},
      {"data-after-the-texels",
       HeaderWith("3df v1.1", "rgb565", "lod range: 1 1", "aspect ratio: 1 1", "\x12\x34rest")},
  };
}

// What a malformed file lets through: nothing, or its header but not its contents.
enum class Failure { Header, Contents };

struct MalformedFile {
  std::string name;
  std::vector<std::uint8_t> bytes;
  Failure failure;
};

inline std::vector<MalformedFile> MalformedFiles() {
  const std::vector<std::uint8_t> p8 = tdf_writer::Encode(SampleTexture(GR_TEXFMT_P_8, 1, 1, 1, 1));
  const std::vector<std::uint8_t> wide = tdf_writer::Encode(SampleTexture(GR_TEXFMT_ARGB_4444, 1, 64, 1, 1));
  const std::vector<std::uint8_t> valid = ValidHeader();
  return {
      {"empty", {}, Failure::Header},
      {"garbage", Bytes("\x89PNG\r\n\x1a\n, and not a texture at all"), Failure::Header},
      {"no-line-ends", Bytes("3df v1.1 rgb565 lod range: 1 1 aspect ratio: 1 1"), Failure::Header},
      {"three-lines-only", Bytes("3df v1.1\nrgb565\nlod range: 1 1\n"), Failure::Header},
      {"wrong-signature", HeaderWith("3dg v1.1", "rgb565", "lod range: 1 1", "aspect ratio: 1 1"), Failure::Header},
      {"signature-in-capitals", HeaderWith("3DF v1.1", "rgb565", "lod range: 1 1", "aspect ratio: 1 1"),
       Failure::Header},
      {"no-version", HeaderWith("3df", "rgb565", "lod range: 1 1", "aspect ratio: 1 1"), Failure::Header},
      {"version-without-digits", HeaderWith("3df v", "rgb565", "lod range: 1 1", "aspect ratio: 1 1"), Failure::Header},
      {"version-with-letters", HeaderWith("3df v1.x", "rgb565", "lod range: 1 1", "aspect ratio: 1 1"),
       Failure::Header},
      {"unknown-format", HeaderWith("3df v1.1", "rgb888", "lod range: 1 1", "aspect ratio: 1 1"), Failure::Header},
      {"format-missing", HeaderWith("3df v1.1", "", "lod range: 1 1", "aspect ratio: 1 1"), Failure::Header},
      {"two-formats", HeaderWith("3df v1.1", "rgb565 i8", "lod range: 1 1", "aspect ratio: 1 1"), Failure::Header},
      {"lod-not-a-power-of-two", HeaderWith("3df v1.1", "rgb565", "lod range: 3 64", "aspect ratio: 1 1"),
       Failure::Header},
      {"lod-out-of-order", HeaderWith("3df v1.1", "rgb565", "lod range: 64 1", "aspect ratio: 1 1"), Failure::Header},
      {"lod-too-large", HeaderWith("3df v1.1", "rgb565", "lod range: 1 512", "aspect ratio: 1 1"), Failure::Header},
      {"lod-zero", HeaderWith("3df v1.1", "rgb565", "lod range: 0 1", "aspect ratio: 1 1"), Failure::Header},
      {"lod-negative", HeaderWith("3df v1.1", "rgb565", "lod range: -1 1", "aspect ratio: 1 1"), Failure::Header},
      {"lod-one-number", HeaderWith("3df v1.1", "rgb565", "lod range: 1", "aspect ratio: 1 1"), Failure::Header},
      {"lod-three-numbers", HeaderWith("3df v1.1", "rgb565", "lod range: 1 1 1", "aspect ratio: 1 1"), Failure::Header},
      {"lod-huge-number", HeaderWith("3df v1.1", "rgb565", "lod range: 1 4294967297", "aspect ratio: 1 1"),
       Failure::Header},
      {"lod-word-misspelt", HeaderWith("3df v1.1", "rgb565", "lod rang: 1 1", "aspect ratio: 1 1"), Failure::Header},
      {"aspect-three-to-one", HeaderWith("3df v1.1", "rgb565", "lod range: 1 1", "aspect ratio: 3 1"), Failure::Header},
      {"aspect-two-to-two", HeaderWith("3df v1.1", "rgb565", "lod range: 1 1", "aspect ratio: 2 2"), Failure::Header},
      {"aspect-sixteen-to-one", HeaderWith("3df v1.1", "rgb565", "lod range: 1 1", "aspect ratio: 16 1"),
       Failure::Header},
      {"aspect-zero", HeaderWith("3df v1.1", "rgb565", "lod range: 1 1", "aspect ratio: 0 1"), Failure::Header},
      {"aspect-missing", HeaderWith("3df v1.1", "rgb565", "lod range: 1 1", ""), Failure::Header},
      {"lines-swapped", HeaderWith("3df v1.1", "rgb565", "aspect ratio: 1 1", "lod range: 1 1"), Failure::Header},
      {"header-too-long",
       HeaderWith("3df v1.1", "rgb565" + std::string(300, ' '), "lod range: 1 1", "aspect ratio: 1 1"),
       Failure::Header},
      {"nul-in-header", Bytes(std::string("3df v1.1\nrgb5") + '\0' + "65\nlod range: 1 1\naspect ratio: 1 1\n\x12\x34"),
       Failure::Header},
      {"no-texels", {valid.begin(), valid.end() - 2}, Failure::Contents},
      {"texels-one-byte-short", {valid.begin(), valid.end() - 1}, Failure::Contents},
      {"mipmap-levels-one-byte-short", {wide.begin(), wide.end() - 1}, Failure::Contents},
      {"palette-cut-short", {p8.begin(), p8.end() - 500}, Failure::Contents},
  };
}

// The fuzzer's seed corpus, one file per named case above, with the file name it has there:
// "valid-<format>", "accepted-<variant>" and "malformed-<case>", each with ".3df".
inline std::vector<NamedFile> SeedCorpus() {
  std::vector<NamedFile> files;
  for (const NamedFile& file : ValidFiles()) files.push_back({file.name + ".3df", file.bytes});
  for (const NamedFile& file : AcceptedVariants()) files.push_back({"accepted-" + file.name + ".3df", file.bytes});
  for (const MalformedFile& file : MalformedFiles()) files.push_back({"malformed-" + file.name + ".3df", file.bytes});
  return files;
}

} // namespace tdfcases
