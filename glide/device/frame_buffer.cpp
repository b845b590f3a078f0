// The frame's damage record and the clearing of its clip window.
#include "device/frame_buffer.h"

#include <algorithm>
#include <cstring>

namespace glide {

void DamageTracker::MarkWritten(int columnBegin, int columnEnd, int rowBegin, int rowEnd) {
  if (columnBegin >= columnEnd || rowBegin >= rowEnd) return;
  const int firstColumn = columnBegin / DamageTileWidth;
  const int lastColumn = (columnEnd - 1) / DamageTileWidth;
  for (int tileRow = rowBegin / DamageTileHeight; tileRow <= (rowEnd - 1) / DamageTileHeight; ++tileRow) {
    std::fill(&damage_.tiles[tileRow][firstColumn], &damage_.tiles[tileRow][lastColumn] + 1, true);
    std::fill(&mayBeLit_[tileRow][firstColumn], &mayBeLit_[tileRow][lastColumn] + 1, true);
  }
}

void DamageTracker::MarkAllBlack() {
  std::fill(&damage_.tiles[0][0], &damage_.tiles[0][0] + DamageRows * DamageColumns, true);
  std::fill(&mayBeLit_[0][0], &mayBeLit_[0][0] + DamageRows * DamageColumns, false);
}

void DamageTracker::Presented() {
  std::fill(&damage_.tiles[0][0], &damage_.tiles[0][0] + DamageRows * DamageColumns, false);
}

void DamageTracker::Fill(std::uint32_t* pixels, int columnBegin, int columnEnd, int rowBegin, int rowEnd,
                         std::uint32_t colour) {
  if (columnBegin >= columnEnd || rowBegin >= rowEnd) return;
  const int firstColumn = columnBegin / DamageTileWidth;
  const int endColumn = (columnEnd - 1) / DamageTileWidth + 1;
  for (int tileRow = rowBegin / DamageTileHeight; tileRow <= (rowEnd - 1) / DamageTileHeight; ++tileRow) {
    const int top = std::max(rowBegin, tileRow * DamageTileHeight);
    const int bottom = std::min(rowEnd, (tileRow + 1) * DamageTileHeight);
    const bool wholeRows = top == tileRow * DamageTileHeight && bottom == (tileRow + 1) * DamageTileHeight;
    // Runs of tiles that need filling: all of them for a colour, the ones that may be lit for black.
    for (int tile = firstColumn; tile < endColumn;) {
      const auto needsFill = [&](int at) { return colour != 0 || mayBeLit_[tileRow][at]; };
      if (!needsFill(tile)) {
        ++tile;
        continue;
      }
      int end = tile + 1;
      while (end < endColumn && needsFill(end)) ++end;
      const int left = std::max(columnBegin, tile * DamageTileWidth);
      const int right = std::min(columnEnd, end * DamageTileWidth);
      for (int row = top; row < bottom; ++row) {
        std::uint32_t* start = pixels + row * ScreenWidth + left;
        if (colour == 0) {
          std::memset(start, 0, static_cast<std::size_t>(right - left) * sizeof *start);
        } else {
          std::fill(start, start + (right - left), colour);
        }
      }
      for (int at = tile; at < end; ++at) {
        damage_.tiles[tileRow][at] = true;
        // A tile filled only in part keeps whatever light the rest of it holds.
        const bool whole = wholeRows && at * DamageTileWidth >= columnBegin && (at + 1) * DamageTileWidth <= columnEnd;
        mayBeLit_[tileRow][at] = colour != 0 || (!whole && mayBeLit_[tileRow][at]);
      }
      tile = end;
    }
  }
}

void ClearClipWindow(const RenderState& state, std::uint32_t colour, FrameBuffer& frame) {
  // The clip window is in Glide rows, which count up from the bottom.
  frame.damage.Fill(frame.pixels, state.clipMinX, state.clipMaxX, ScreenHeight - state.clipMaxY,
                    ScreenHeight - state.clipMinY, colour);
}

} // namespace glide
