// PNG writing and reading through libpng's simplified interface.
#include "tools/tools.h"

#include <png.h>

#include <cstring>

namespace image_io {

bool WritePng(const std::string& path, const std::uint32_t* pixels, int width, int height, int stride, Alpha alpha) {
  if (width <= 0 || height <= 0 || stride < width) return false;
  const int channels = alpha == Alpha::Kept ? 4 : 3;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * channels);
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      const std::uint32_t pixel = pixels[static_cast<std::size_t>(row) * stride + column];
      std::uint8_t* target = &bytes[(static_cast<std::size_t>(row) * width + column) * channels];
      target[0] = static_cast<std::uint8_t>(pixel >> 16);
      target[1] = static_cast<std::uint8_t>(pixel >> 8);
      target[2] = static_cast<std::uint8_t>(pixel);
      if (alpha == Alpha::Kept) target[3] = static_cast<std::uint8_t>(pixel >> 24);
    }
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = alpha == Alpha::Kept ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  const int written = png_image_write_to_file(&image, path.c_str(), 0, bytes.data(), width * channels, nullptr);
  png_image_free(&image);
  return written != 0;
}

std::optional<Image> ReadPng(const std::string& path, Alpha alpha) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return std::nullopt;
  image.format = alpha == Alpha::Kept ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  const std::size_t channels = alpha == Alpha::Kept ? 4 : 3;
  std::vector<std::uint8_t> bytes(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  Image result;
  result.width = static_cast<int>(image.width);
  result.height = static_cast<int>(image.height);
  result.pixels.resize(static_cast<std::size_t>(result.width) * result.height);
  for (std::size_t i = 0; i < result.pixels.size(); ++i) {
    const std::uint8_t* source = &bytes[channels * i];
    const std::uint32_t opacity = alpha == Alpha::Kept ? source[3] : 0;
    result.pixels[i] = opacity << 24 | static_cast<std::uint32_t>(source[0]) << 16 |
                       static_cast<std::uint32_t>(source[1]) << 8 | source[2];
  }
  png_image_free(&image);
  return result;
}

} // namespace image_io
