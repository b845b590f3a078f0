// The .3df reader's promises, checked by both of its fuzz targets on whatever bytes they are given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "glide/glide.h"
#include "glide/tdf.h"

namespace tdffuzz {

// The largest texture a header can describe: 256 × 256 texels of two bytes, with every level.
inline constexpr std::uint32_t LargestTexture =
    (256 * 256 + 128 * 128 + 64 * 64 + 32 * 32 + 16 * 16 + 8 * 8 + 4 * 4 + 2 * 2 + 1) * 2;

// A broken promise stops the fuzzer there, with the input that broke it.
inline void Check(bool promise) {
  if (!promise) __builtin_trap();
}

// Describes and loads the bytes as a .3df file, checking the reader's promises on the way; true
// when the file was loaded whole into `info`. The texels land at the end of a buffer of
// LargestTexture bytes, so that a write past the `mem_required` bytes the header asked for runs
// off the buffer's end, where the address sanitizer sees it, without a new buffer per input.
inline bool ReadChecked(const std::uint8_t* data, std::size_t size, Gu3dfInfo& info) {
  static std::uint8_t texels[LargestTexture];
  std::memset(&info, 0, sizeof info);
  if (!glide::Get3dfInfoFromMemory(data, size, &info)) {
    // A file without a readable header cannot be loaded either, whatever the buffer.
    info.data = texels;
    info.mem_required = LargestTexture;
    Check(!glide::Load3dfFromMemory(data, size, &info));
    return false;
  }
  Check(info.mem_required > 0 && info.mem_required <= LargestTexture);
  Check(info.header.width >= 1 && info.header.width <= 256 && info.header.height >= 1 && info.header.height <= 256);
  const Gu3dfHeader described = info.header;
  info.data = texels + (LargestTexture - info.mem_required);
  if (!glide::Load3dfFromMemory(data, size, &info)) return false;
  Check(std::memcmp(&described, &info.header, sizeof described) == 0);
  return true;
}

} // namespace tdffuzz
