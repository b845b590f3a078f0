// The program's icon, cut from a frame of the show as a square with rounded corners.
#include "tools/tools.h"

#include <algorithm>
#include <cmath>

namespace image_io {
namespace {

// How round the icon's corners are: the radius as a share of its side.
constexpr double CornerRadiusShare = 0.125;

std::uint32_t Light(std::uint32_t pixel) { return (pixel >> 16 & 0xFF) + (pixel >> 8 & 0xFF) + (pixel & 0xFF); }

// The top left corner of the side × side square of the frame with the most light, through a table
// of sums: entry (x, y) holds the light of every pixel above and left of (x, y). The first of
// equally bright squares, in reading order, wins.
std::pair<int, int> BrightestSquare(const std::uint32_t* pixels, int width, int height, int stride, int side) {
  const std::size_t columns = static_cast<std::size_t>(width) + 1;
  std::vector<std::uint64_t> sums(columns * (static_cast<std::size_t>(height) + 1), 0);
  for (int y = 0; y < height; ++y) {
    std::uint64_t row = 0;
    for (int x = 0; x < width; ++x) {
      row += Light(pixels[static_cast<std::size_t>(y) * stride + x]);
      sums[(y + 1) * columns + x + 1] = sums[y * columns + x + 1] + row;
    }
  }
  std::pair<int, int> best{0, 0};
  std::uint64_t bestLight = 0;
  for (int y = 0; y + side <= height; ++y) {
    for (int x = 0; x + side <= width; ++x) {
      const std::uint64_t light = sums[(y + side) * columns + x + side] - sums[y * columns + x + side] -
                                  sums[(y + side) * columns + x] + sums[y * columns + x];
      if (light > bestLight) {
        bestLight = light;
        best = {x, y};
      }
    }
  }
  return best;
}

// The share of pixel (x, y) that lies inside a square of `side` pixels with corners rounded to
// `radius`, from 0 to 255: the corners are cut along their arcs, smoothly.
std::uint32_t Coverage(int x, int y, int side, double radius) {
  const auto distanceIntoCorner = [side, radius](int position) {
    const double centre = position + 0.5;
    if (centre < radius) return radius - centre;
    if (centre > side - radius) return centre - (side - radius);
    return 0.0;
  };
  const double across = distanceIntoCorner(x);
  const double down = distanceIntoCorner(y);
  const double outside = std::sqrt(across * across + down * down) - radius;
  return static_cast<std::uint32_t>(std::lround(255 * std::clamp(0.5 - outside, 0.0, 1.0)));
}

} // namespace

Image IconFromFrame(const std::uint32_t* pixels, int width, int height, int stride) {
  const int side = std::min({IconSide, width, height});
  const auto [left, top] = BrightestSquare(pixels, width, height, stride, side);
  const double radius = side * CornerRadiusShare;
  Image icon{side, side, std::vector<std::uint32_t>(static_cast<std::size_t>(side) * side)};
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      icon.pixels[static_cast<std::size_t>(y) * side + x] =
          Coverage(x, y, side, radius) << 24 |
          (pixels[static_cast<std::size_t>(top + y) * stride + left + x] & 0xFFFFFF);
    }
  }
  return icon;
}

} // namespace image_io
