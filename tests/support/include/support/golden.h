// Golden files for tests: whether to rewrite them, and the pixel-exact check of an image against its golden PNG.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "glide/board.h"
#include "tools/tools.h"

namespace support {

// Whether PYROVANE_UPDATE_GOLDEN=1 asks for the golden files to be written afresh from this build.
inline bool UpdatingGoldens() {
  const char* update = std::getenv("PYROVANE_UPDATE_GOLDEN");
  return update != nullptr && std::string(update) == "1";
}

// A frame of the graphics library, top row first, as an image.
inline image_io::Image FrameImage(const glide::FrameView& frame) {
  image_io::Image image{frame.width, frame.height, {}};
  for (int row = 0; row < frame.height; ++row) {
    image.pixels.insert(image.pixels.end(), frame.pixels + row * frame.stride,
                        frame.pixels + row * frame.stride + frame.width);
  }
  return image;
}

// Expects `image` to equal the golden PNG at `goldenPath` pixel for pixel. An image that differs
// is written among the test's temporary files for a look, and the failure says where. While the
// goldens are being updated, the image becomes the golden and the test is skipped.
inline void ExpectMatchesGolden(const image_io::Image& image, const std::string& goldenPath) {
  const auto write = [&image](const std::string& path) {
    return image_io::WritePng(path, image.pixels.data(), image.width, image.height, image.width);
  };
  if (UpdatingGoldens()) {
    ASSERT_TRUE(write(goldenPath)) << "cannot write " << goldenPath;
    GTEST_SKIP() << "rewrote " << goldenPath;
  }
  const auto expected = image_io::ReadPng(goldenPath);
  ASSERT_TRUE(expected) << "cannot read " << goldenPath << " (PYROVANE_UPDATE_GOLDEN=1 writes it)";
  ASSERT_EQ(expected->width, image.width) << goldenPath;
  ASSERT_EQ(expected->height, image.height) << goldenPath;
  if (expected->pixels == image.pixels) return;
  const std::string actual = ::testing::TempDir() + "actual-" + std::filesystem::path(goldenPath).filename().string();
  write(actual);
  std::size_t differing = 0;
  for (std::size_t i = 0; i < image.pixels.size(); ++i) differing += image.pixels[i] != expected->pixels[i];
  ADD_FAILURE() << differing << " pixels differ from " << goldenPath << "; the image is in " << actual;
}

} // namespace support
