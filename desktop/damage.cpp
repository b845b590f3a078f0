// Damage rectangles: the history of changed tiles, their runs, and rectangles joined into fewer.
#include "damage.h"

#include <algorithm>
#include <cstring>

namespace desktop {

namespace {

constexpr int TileCount = glide::DamageRows * glide::DamageColumns;

void MarkAll(glide::FrameDamage& damage) { std::fill_n(&damage.tiles[0][0], TileCount, true); }

} // namespace

void DamageHistory::Record(std::uint64_t number, const glide::FrameDamage* damage) {
  glide::FrameDamage& slot = frames_[number % HistoryLength];
  if (damage != nullptr) {
    slot = *damage;
  } else {
    MarkAll(slot);
  }
  last_ = number;
}

bool DamageHistory::ChangedSince(std::uint64_t since, glide::FrameDamage& changed) const {
  if (since == 0 || last_ - since > HistoryLength) {
    MarkAll(changed);
    return true;
  }
  changed = {};
  // Tiles are bytes of 0 or 1: or-ing them byte by byte keeps them so, and vectorizes.
  auto* target = reinterpret_cast<unsigned char*>(&changed.tiles[0][0]);
  unsigned char any = 0;
  for (std::uint64_t number = since + 1; number <= last_; ++number) {
    const auto* frame = reinterpret_cast<const unsigned char*>(&frames_[number % HistoryLength].tiles[0][0]);
    for (int tile = 0; tile < TileCount; ++tile) {
      target[tile] |= frame[tile];
      any |= frame[tile];
    }
  }
  return any != 0;
}

void TileRuns(const glide::FrameDamage& tiles, std::vector<ScreenRect>& runs) {
  runs.clear();
  for (int row = 0; row < glide::DamageRows; ++row) {
    // Most of a row is unmarked; memchr skips it many tiles at a time.
    const bool* const begin = tiles.tiles[row];
    const bool* const end = begin + glide::DamageColumns;
    for (const bool* first = begin; first < end;) {
      first = static_cast<const bool*>(std::memchr(first, true, static_cast<std::size_t>(end - first)));
      if (first == nullptr) break;
      const bool* last = static_cast<const bool*>(std::memchr(first, false, static_cast<std::size_t>(end - first)));
      if (last == nullptr) last = end;
      runs.push_back({static_cast<int>(first - begin) * glide::DamageTileWidth, row * glide::DamageTileHeight,
                      static_cast<int>(last - first) * glide::DamageTileWidth, glide::DamageTileHeight});
      first = last;
    }
  }
}

void CoalesceRects(std::span<const ScreenRect> rects, std::vector<ScreenRect>& out) {
  out.clear();
  for (const ScreenRect& rect : rects) {
    if (!out.empty()) {
      ScreenRect& last = out.back();
      const int left = std::min(last.x, rect.x);
      const int top = std::min(last.y, rect.y);
      const int right = std::max(last.x + last.width, rect.x + rect.width);
      const int bottom = std::max(last.y + last.height, rect.y + rect.height);
      const long long added = static_cast<long long>(right - left) * (bottom - top) -
                              static_cast<long long>(last.width) * last.height -
                              static_cast<long long>(rect.width) * rect.height;
      if (added <= CoalesceLimit) {
        last = {left, top, right - left, bottom - top};
        continue;
      }
    }
    out.push_back(rect);
  }
}

} // namespace desktop
