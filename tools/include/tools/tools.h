// What the tools and tests write and read: PNG frames, animated WebP, and .3df texture files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "glide/glide.h"

struct WebPAnimEncoder;

// PNG files and animated WebP: frames of 0x00RRGGBB pixels written out and read back.
namespace image_io {

// An image in memory, top row first, each pixel 0x00RRGGBB.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};

// Whether a PNG's pixels carry alpha: 0x00RRGGBB pixels without, 0xAARRGGBB with.
enum class Alpha { None, Kept };

// Writes an 8-bit PNG, RGB or with alpha; `stride` is the number of pixels from one row to the
// next.
bool WritePng(const std::string& path, const std::uint32_t* pixels, int width, int height, int stride,
              Alpha alpha = Alpha::None);

// Reads any PNG as 8-bit RGB (alpha, if any, is composited away by the reader) or with its alpha
// kept; nothing when the file cannot be read.
std::optional<Image> ReadPng(const std::string& path, Alpha alpha = Alpha::None);

// The side of the program's icon, in pixels.
inline constexpr int IconSide = 256;

// The program's icon, made from a frame of the show: the IconSide square of the frame that holds
// the most light, pixel for pixel, as 0xAARRGGBB, opaque but for its rounded corners, which are
// cut away smoothly, so that it reads on light and dark backgrounds alike.
Image IconFromFrame(const std::uint32_t* pixels, int width, int height, int stride);

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

// .3df texture files: the four header lines, then the table and the texels, big-endian.
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
