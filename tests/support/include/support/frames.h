// Frames for tests: the quadrant pattern, the damage between two frames, and a check of the damage each present reports.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "glide/board.h"

namespace support {

// The frame's top half red on the left and green on the right, its bottom half blue and white:
// flat colours whose corners show where the frame lands, top row first.
inline constexpr std::uint32_t QuadrantColours[2][2] = {{0xFF0000, 0x00FF00}, {0x0000FF, 0xFFFFFF}};
inline std::vector<std::uint32_t> QuadrantsFrame() {
  std::vector<std::uint32_t> pixels;
  for (int row = 0; row < glide::ScreenHeight; ++row) {
    for (int column = 0; column < glide::ScreenWidth; ++column) {
      pixels.push_back(QuadrantColours[row < glide::ScreenHeight / 2 ? 0 : 1][column < glide::ScreenWidth / 2 ? 0 : 1]);
    }
  }
  return pixels;
}

// The tiles in which `pixels` differ from `previous`, both whole frames top row first: the damage
// the graphics library reports.
inline glide::FrameDamage DamageBetween(const std::vector<std::uint32_t>& previous,
                                        const std::vector<std::uint32_t>& pixels) {
  glide::FrameDamage damage{};
  for (std::size_t at = 0; at < pixels.size(); ++at) {
    if (pixels[at] != previous[at]) {
      const auto row = at / glide::ScreenWidth, column = at % glide::ScreenWidth;
      damage.tiles[row / glide::DamageTileHeight][column / glide::DamageTileWidth] = true;
    }
  }
  return damage;
}

// Follows the frames presented one after another and checks the damage each reports: every pixel
// that differs from the frame before must lie in a marked tile.
class DamageAudit {
public:
  // `start`: the frame before the first, black when not given.
  explicit DamageAudit(std::vector<std::uint32_t> start = {}) : previous_(std::move(start)) {
    previous_.resize(static_cast<std::size_t>(glide::ScreenWidth) * glide::ScreenHeight);
  }
  // Takes in the next presented frame, failing the test if it reports no damage; the tiles it marks.
  int See(const glide::FrameView& frame) {
    if (frame.damage == nullptr) {
      ADD_FAILURE() << "a present reported no damage";
      return 0;
    }
    int marked = 0;
    for (int row = 0; row < glide::ScreenHeight; ++row) {
      for (int column = 0; column < glide::ScreenWidth; ++column) {
        std::uint32_t& before = previous_[static_cast<std::size_t>(row) * glide::ScreenWidth + column];
        const bool tileMarked = frame.damage->tiles[row / glide::DamageTileHeight][column / glide::DamageTileWidth];
        if (frame.Pixel(column, row) != before && !tileMarked) ++unmarkedChanges;
        before = frame.Pixel(column, row);
        marked += tileMarked && row % glide::DamageTileHeight == 0 && column % glide::DamageTileWidth == 0;
      }
    }
    return marked;
  }
  // The pixels seen changed in tiles that their frame did not mark.
  std::uint64_t unmarkedChanges = 0;

private:
  std::vector<std::uint32_t> previous_;
};

} // namespace support
