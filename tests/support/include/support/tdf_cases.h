// Named .3df files for the reader's tests and the fuzzing seed corpus: valid, accepted and malformed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "glide/glide.h"
#include "tools/tools.h"

namespace tdf_cases {

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

// The lines of a valid rgb565 header (1 × 1 texel) and its two bytes of texels; a case replaces some.
struct Lines {
  std::string version = "3df v1.1";
  std::string format = "rgb565";
  std::string lodRange = "lod range: 1 1";
  std::string aspectRatio = "aspect ratio: 1 1";
  std::string body = "\x12\x34";
};

inline std::vector<std::uint8_t> HeaderWith(const Lines& lines) {
  return Bytes(lines.version + "\n" + lines.format + "\n" + lines.lodRange + "\n" + lines.aspectRatio + "\n" +
               lines.body);
}

inline std::vector<std::uint8_t> ValidHeader() { return HeaderWith({}); }

// Files the reader must accept: the tolerated variations of a header.
inline std::vector<NamedFile> AcceptedVariants() {
  return {
      {"carriage-returns", Bytes("3df v1.1\r\nrgb565\r\nlod range: 1 1\r\naspect ratio: 1 1\r\n\x12\x34")},
      {"format-in-capitals", HeaderWith({.format = "RGB565"})},
      {"other-version", HeaderWith({.version = "3df v2.07"})},
      {"extra-spaces", HeaderWith({"3df  v1.1 ", " rgb565", "lod  range:   1 1", "aspect ratio: 1\t1"})},
      {"data-after-the-texels", HeaderWith({.body = "\x12\x34rest"})},
  };
}

// What a malformed file lets through: nothing, or its header but not its contents.
enum class Failure { Header, Contents };

struct MalformedFile {
  std::string name;
  std::vector<std::uint8_t> bytes;
  Failure failure = Failure::Header;
};

inline std::vector<MalformedFile> MalformedFiles() {
  const std::vector<std::uint8_t> p8 = tdf_writer::Encode(SampleTexture(GR_TEXFMT_P_8, 1, 1, 1, 1));
  const std::vector<std::uint8_t> wide = tdf_writer::Encode(SampleTexture(GR_TEXFMT_ARGB_4444, 1, 64, 1, 1));
  const std::vector<std::uint8_t> valid = ValidHeader();
  return {
      {"empty", {}},
      {"garbage", Bytes("\x89PNG\r\n\x1a\n, and not a texture at all")},
      {"no-line-ends", Bytes("3df v1.1 rgb565 lod range: 1 1 aspect ratio: 1 1")},
      {"three-lines-only", Bytes("3df v1.1\nrgb565\nlod range: 1 1\n")},
      {"wrong-signature", HeaderWith({.version = "3dg v1.1"})},
      {"signature-in-capitals", HeaderWith({.version = "3DF v1.1"})},
      {"no-version", HeaderWith({.version = "3df"})},
      {"version-without-digits", HeaderWith({.version = "3df v"})},
      {"version-with-letters", HeaderWith({.version = "3df v1.x"})},
      {"unknown-format", HeaderWith({.format = "rgb888"})},
      {"format-missing", HeaderWith({.format = ""})},
      {"two-formats", HeaderWith({.format = "rgb565 i8"})},
      {"lod-not-a-power-of-two", HeaderWith({.lodRange = "lod range: 3 64"})},
      {"lod-out-of-order", HeaderWith({.lodRange = "lod range: 64 1"})},
      {"lod-too-large", HeaderWith({.lodRange = "lod range: 1 512"})},
      {"lod-zero", HeaderWith({.lodRange = "lod range: 0 1"})},
      {"lod-negative", HeaderWith({.lodRange = "lod range: -1 1"})},
      {"lod-one-number", HeaderWith({.lodRange = "lod range: 1"})},
      {"lod-three-numbers", HeaderWith({.lodRange = "lod range: 1 1 1"})},
      {"lod-huge-number", HeaderWith({.lodRange = "lod range: 1 4294967297"})},
      {"lod-word-misspelt", HeaderWith({.lodRange = "lod rang: 1 1"})},
      {"aspect-three-to-one", HeaderWith({.aspectRatio = "aspect ratio: 3 1"})},
      {"aspect-two-to-two", HeaderWith({.aspectRatio = "aspect ratio: 2 2"})},
      {"aspect-sixteen-to-one", HeaderWith({.aspectRatio = "aspect ratio: 16 1"})},
      {"aspect-zero", HeaderWith({.aspectRatio = "aspect ratio: 0 1"})},
      {"aspect-missing", HeaderWith({.aspectRatio = ""})},
      {"lines-swapped", HeaderWith({.lodRange = "aspect ratio: 1 1", .aspectRatio = "lod range: 1 1"})},
      {"header-too-long", HeaderWith({.format = "rgb565" + std::string(300, ' ')})},
      {"nul-in-header",
       Bytes(std::string("3df v1.1\nrgb5") + '\0' + "65\nlod range: 1 1\naspect ratio: 1 1\n\x12\x34")},
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

} // namespace tdf_cases
