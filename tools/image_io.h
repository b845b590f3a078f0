// Image files for tools and tests: frames of 0x00RRGGBB pixels as PNG files and animated WebP.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct WebPAnimEncoder;

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

// An animated WebP that a browser plays, built frame by frame.
class AnimationWriter {
public:
  AnimationWriter(int width, int height, std::uint32_t framesPerSecond);
  ~AnimationWriter();
  AnimationWriter(const AnimationWriter&) = delete;
  AnimationWriter& operator=(const AnimationWriter&) = delete;

  // Adds one frame of width × height pixels; `stride` is the number of pixels from one row to
  // the next.
  bool Add(const std::uint32_t* pixels, int stride);
  // Writes the whole animation; false when nothing was added or the file cannot be written.
  bool Finish(const std::string& path);

private:
  int TimestampMilliseconds(std::uint64_t frame) const;

  int width_;
  int height_;
  std::uint32_t framesPerSecond_;
  std::uint64_t frames_ = 0;
  WebPAnimEncoder* encoder_ = nullptr;
};

} // namespace image_io
