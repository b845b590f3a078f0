// PNG files for tools and tests: frames of 0x00RRGGBB pixels written out and read back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace image_io {

// An image in memory, top row first, each pixel 0x00RRGGBB.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};

// Writes an 8-bit RGB PNG; `stride` is the number of pixels from one row to the next.
bool WritePng(const std::string& path, const std::uint32_t* pixels, int width, int height, int stride);

// Reads any PNG as 8-bit RGB (alpha, if any, is composited away by the reader); nothing when the
// file cannot be read.
std::optional<Image> ReadPng(const std::string& path);

} // namespace image_io
