// PNG writing and reading through libpng's simplified interface.
#include "tools/tools.h"

#include <png.h>

#include <cstring>

namespace image_io {

bool WritePng(const std::string& path, const std::uint32_t* pixels, int width, int height, int stride) {
  if (width <= 0 || height <= 0 || stride < width) return false;
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width; ++column) {
      const std::uint32_t pixel = pixels[static_cast<std::size_t>(row) * stride + column];
      std::uint8_t* target = &rgb[(static_cast<std::size_t>(row) * width + column) * 3];
      target[0] = static_cast<std::uint8_t>(pixel >> 16);
      target[1] = static_cast<std::uint8_t>(pixel >> 8);
      target[2] = static_cast<std::uint8_t>(pixel);
    }
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  const int written = png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), width * 3, nullptr);
  png_image_free(&image);
  return written != 0;
}

std::optional<Image> ReadPng(const std::string& path) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return std::nullopt;
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  Image result;
  result.width = static_cast<int>(image.width);
  result.height = static_cast<int>(image.height);
  result.pixels.resize(static_cast<std::size_t>(result.width) * result.height);
  for (std::size_t i = 0; i < result.pixels.size(); ++i) {
    result.pixels[i] =
        static_cast<std::uint32_t>(rgb[3 * i]) << 16 | static_cast<std::uint32_t>(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
  }
  png_image_free(&image);
  return result;
}

} // namespace image_io
