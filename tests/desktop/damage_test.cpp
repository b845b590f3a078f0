// Tests of the damage history that tells an old buffer what it misses, and of the runs of marked tiles.
#include "damage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace {

using desktop::DamageHistory;
using desktop::ScreenRect;
using Tile = std::pair<int, int>; // row, column

std::set<Tile> Marked(const glide::FrameDamage& damage) {
  std::set<Tile> marked;
  for (int row = 0; row < glide::DamageRows; ++row) {
    for (int column = 0; column < glide::DamageColumns; ++column) {
      if (damage.tiles[row][column]) marked.insert({row, column});
    }
  }
  return marked;
}

TEST(DamageHistory, TellsWhatChangedSinceAFrame) {
  constexpr std::uint64_t Frames = 20;
  constexpr std::uint64_t NoWholeFrame = 0;
  const std::size_t all = static_cast<std::size_t>(glide::DamageRows) * glide::DamageColumns;
  struct Case {
    const char* name;
    std::uint64_t wholeFrame; // presented with null damage: every tile may differ
    std::uint64_t since;
    std::set<Tile> expected; // empty when something changed: every tile
    bool changed;
  };
  const Case cases[] = {
      {"the last frame itself", NoWholeFrame, Frames, {}, false},
      {"the frame before", NoWholeFrame, Frames - 1, {{20, 20}}, true},
      {"three frames old", NoWholeFrame, Frames - 3, {{18, 18}, {19, 19}, {20, 20}}, true},
      {"a whole frame among them", Frames - 1, Frames - 3, {}, true},
      {"a whole frame before them", Frames - 3, Frames - 3, {{18, 18}, {19, 19}, {20, 20}}, true},
      {"no frame at all", NoWholeFrame, 0, {}, true},
      {"as old as the history is long",
       NoWholeFrame,
       Frames - DamageHistory::HistoryLength,
       {{13, 13}, {14, 14}, {15, 15}, {16, 16}, {17, 17}, {18, 18}, {19, 19}, {20, 20}},
       true},
      {"older than the history", NoWholeFrame, Frames - DamageHistory::HistoryLength - 1, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Frame n changes the one tile (n, n).
    DamageHistory history;
    for (std::uint64_t frame = 1; frame <= Frames; ++frame) {
      glide::FrameDamage damage{};
      damage.tiles[frame][frame] = true;
      history.Record(frame, frame == c.wholeFrame ? nullptr : &damage);
    }
    glide::FrameDamage changed;
    EXPECT_EQ(history.ChangedSince(c.since, changed), c.changed);
    const std::set<Tile> marked = Marked(changed);
    if (c.changed && c.expected.empty()) {
      EXPECT_EQ(marked.size(), all);
    } else {
      EXPECT_EQ(marked, c.expected);
    }
  }
}

TEST(TileRuns, JoinNeighbouringTilesOfARowIntoOneRectangle) {
  constexpr int W = glide::DamageTileWidth;
  constexpr int H = glide::DamageTileHeight;
  constexpr int Last = glide::DamageColumns - 1;
  struct Case {
    const char* name;
    std::vector<Tile> tiles;
    std::vector<ScreenRect> expected;
  };
  const Case cases[] = {
      {"nothing", {}, {}},
      {"one tile", {{2, 3}}, {{3 * W, 2 * H, W, H}}},
      {"three neighbours", {{0, 4}, {0, 5}, {0, 6}}, {{4 * W, 0, 3 * W, H}}},
      {"a gap makes two", {{1, 0}, {1, 2}}, {{0, H, W, H}, {2 * W, H, W, H}}},
      {"rows stay apart", {{5, 7}, {6, 7}}, {{7 * W, 5 * H, W, H}, {7 * W, 6 * H, W, H}}},
      {"up to the row's end", {{9, Last - 1}, {9, Last}}, {{(Last - 1) * W, 9 * H, 2 * W, H}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    glide::FrameDamage damage{};
    for (const auto& [row, column] : c.tiles) damage.tiles[row][column] = true;
    std::vector<ScreenRect> runs{{1, 2, 3, 4}}; // whatever was there before goes
    desktop::TileRuns(damage, runs);
    EXPECT_EQ(runs, c.expected);
  }
}

} // namespace
