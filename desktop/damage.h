// Damage rectangles: what changed from frame to frame, as tiles, runs of tiles and fewer, larger rectangles.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "geometry.h"
#include "glide/board.h"

namespace desktop {

// Remembers which tiles each of the last HistoryLength frames changed, so that a buffer several
// frames old gets only the tiles it misses. Frames are numbered from 1 as they are presented; 0
// stands for "no frame", such as a buffer not yet filled.
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

// Rectangles that cover all of `rects`, in fewer requests to the display server: each rectangle
// is joined to the one before it when their union adds at most CoalesceLimit pixels. A request
// costs the X server about as much as copying a few thousand pixels (measured under Xvfb), so
// joining the many small rectangles of a frame costs less than sending them one by one; a
// compositor's damage list is kept as short.
inline constexpr long long CoalesceLimit = 4096;
void CoalesceRects(std::span<const ScreenRect> rects, std::vector<ScreenRect>& out);

} // namespace desktop
