// The damage of the last few frames, so that a buffer several frames old gets only the tiles it misses.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "frame_scaler.h"
#include "glide/board.h"

namespace desktop {

// Remembers which tiles each of the last HistoryLength frames changed. Frames are numbered from
// 1 as they are presented; 0 stands for "no frame", such as a buffer not yet filled.
class DamageHistory {
public:
  // Buffers older than this many frames are filled whole: the oldest damage is forgotten.
  static constexpr std::uint64_t HistoryLength = 8;

  // Notes frame `number` (the one after the last recorded) and what changed in it since the frame
  // before; null damage marks every tile.
  void Record(std::uint64_t number, const glide::FrameDamage* damage);
  // Every tile that changed after frame `since` up to the last frame recorded: all of them when
  // `since` is 0 or older than the history. False when no tile changed.
  bool ChangedSince(std::uint64_t since, glide::FrameDamage& changed) const;

private:
  std::array<glide::FrameDamage, HistoryLength> frames_{};
  std::uint64_t last_ = 0;
};

// The runs of marked tiles of each tile row, as rectangles of frame pixels, top row first.
void TileRuns(const glide::FrameDamage& tiles, std::vector<ScreenRect>& runs);

} // namespace desktop
