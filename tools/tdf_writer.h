// Writes .3df texture files: the four header lines, then the table and the texels, big-endian.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "glide/glide.h"

namespace tdf_writer {

// One texture as a file holds it.
struct Texture {
  GrTextureFormat_t format = GR_TEXFMT_INTENSITY_8;
  int smallSize = 1;   // side of the smallest level, 1..256
  int largeSize = 1;   // side of the largest level
  int aspectWidth = 1; // 8 1, 4 1, 2 1, 1 1, 1 2, 1 4 or 1 8
  int aspectHeight = 1;
  GuTexTable table{};                // written for the NCC and palette formats
  std::vector<std::uint16_t> texels; // every level, largest first, row by row; native values
};

// The name of a format in a file's header ("argb4444"), or an empty string.
std::string FormatName(GrTextureFormat_t format);

// The texels of every level, each side at least 1.
std::uint32_t TexelCount(int smallSize, int largeSize, int aspectWidth, int aspectHeight);

// The file's bytes. The texel count is not checked, so tests can write short files too.
std::vector<std::uint8_t> Encode(const Texture& texture);

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

} // namespace tdf_writer
