// Fitting the 640×480 frame to a screen: the picture rectangle, the scaler of what changed, and the pacer.
#include "frame_scaler.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

namespace desktop {

namespace {

// Mixes two 0x00RRGGBB pixels, `weight` 256ths of the way from `first` to `second`, each channel
// rounded to the nearest step. Red and blue go through one 32-bit product in two 16-bit lanes,
// green through another: no lane overflows (255 · 256 + 128 < 2^16), and equal inputs come out
// unchanged.
inline std::uint32_t Mix(std::uint32_t first, std::uint32_t second, std::uint32_t weight) {
  const std::uint32_t keep = 256 - weight;
  const std::uint32_t redBlue = ((first & 0xFF00FF) * keep + (second & 0xFF00FF) * weight + 0x800080) >> 8;
  const std::uint32_t green = (((first >> 8) & 0xFF) * keep + ((second >> 8) & 0xFF) * weight + 0x80) >> 8;
  return (redBlue & 0xFF00FF) | (green << 8);
}

// The loops where a large screen's time goes, compiled twice: for processors with AVX2,
// where they run eight pixels at a time, and for any other. The results are the same.

// Picture columns [begin, end) of one source row: each output pixel mixes its two source pixels.
__attribute__((target_clones("avx2", "default"))) void
ScaleAcross(const std::uint32_t* __restrict source, const int* __restrict first, const int* __restrict second,
            const std::uint32_t* __restrict weight, int begin, int end, std::uint32_t* __restrict out) {
  for (int column = begin; column < end; ++column) {
    out[column] = Mix(source[first[column]], source[second[column]], weight[column]);
  }
}

// Pixels [begin, end) of a picture row, between two scaled source rows.
__attribute__((target_clones("avx2", "default"))) void MixRows(const std::uint32_t* __restrict upper,
                                                               const std::uint32_t* __restrict lower,
                                                               std::uint32_t weight, int begin, int end,
                                                               std::uint32_t* __restrict out) {
  for (int column = begin; column < end; ++column) {
    out[column] = Mix(upper[column], lower[column], weight);
  }
}

// Blackens pixels [begin, end) of a row.
void Clear(std::uint32_t* row, int begin, int end) {
  if (begin < end) {
    std::memset(row + begin, 0, static_cast<std::size_t>(end - begin) * sizeof(std::uint32_t));
  }
}

// The columns [begin, end) of row pixels [from, to) that are not black; begin == end when all are.
std::pair<int, int> LitColumns(const std::uint32_t* row, int from, int to) {
  int begin = from;
  while (begin < to && row[begin] == 0) {
    ++begin;
  }
  int end = to;
  while (end > begin && row[end - 1] == 0) {
    --end;
  }
  return {begin, end};
}

} // namespace

ScreenRect PictureRect(int screenWidth, int screenHeight) {
  // Compare 4:3 against the screen's shape in integers: a screen wider than 4:3 gets bars left and
  // right, a taller one bars above and below.
  if (static_cast<long long>(screenWidth) * 3 >= static_cast<long long>(screenHeight) * 4) {
    const int width = static_cast<int>((static_cast<long long>(screenHeight) * 4 + 1) / 3);
    const int fitted = std::min(width, screenWidth);
    return {(screenWidth - fitted) / 2, 0, fitted, screenHeight};
  }
  const int height = static_cast<int>((static_cast<long long>(screenWidth) * 3 + 2) / 4);
  const int fitted = std::min(height, screenHeight);
  return {0, (screenHeight - fitted) / 2, screenWidth, fitted};
}

std::vector<FrameScaler::Tap> FrameScaler::MakeTaps(int sourceSize, int outputSize) {
  std::vector<Tap> taps(static_cast<std::size_t>(outputSize));
  for (int index = 0; index < outputSize; ++index) {
    // The centre of output sample `index` lies at (index + 1/2) · source / output - 1/2 in source
    // samples; in 256ths rounded to the nearest, with one division and no floating point.
    const long long numerator = (2LL * index + 1) * sourceSize * 256 - 256LL * outputSize;
    const long long position = numerator <= 0 ? 0 : (numerator + outputSize) / (2LL * outputSize);
    Tap tap{static_cast<int>(position >> 8), 0, static_cast<std::uint32_t>(position & 255)};
    if (tap.first >= sourceSize - 1) {
      tap.first = sourceSize - 1;
      tap.weight = 0;
    }
    tap.second = std::min(tap.first + 1, sourceSize - 1);
    taps[static_cast<std::size_t>(index)] = tap;
  }
  return taps;
}

FrameScaler::Reach::Reach(const std::vector<Tap>& taps, int sourceSize)
    : begin(static_cast<std::size_t>(sourceSize)), end(static_cast<std::size_t>(sourceSize)) {
  // Both ends of the taps rise with the output sample, so one pass each way fills the table: an
  // output sample reads source samples `first` and `second` and nothing between.
  const int outputSize = static_cast<int>(taps.size());
  int reaching = 0;
  for (int source = 0; source < sourceSize; ++source) {
    while (reaching < outputSize && taps[static_cast<std::size_t>(reaching)].second < source) {
      ++reaching;
    }
    begin[static_cast<std::size_t>(source)] = reaching;
  }
  reaching = outputSize;
  for (int source = sourceSize - 1; source >= 0; --source) {
    while (reaching > 0 && taps[static_cast<std::size_t>(reaching - 1)].first > source) {
      --reaching;
    }
    end[static_cast<std::size_t>(source)] = reaching;
  }
}

FrameScaler::FrameScaler(int screenWidth, int screenHeight)
    : screenWidth_(screenWidth), screenHeight_(screenHeight), picture_(PictureRect(screenWidth, screenHeight)),
      identity_(picture_.width == glide::ScreenWidth && picture_.height == glide::ScreenHeight),
      rows_(MakeTaps(glide::ScreenHeight, picture_.height)),
      columnReach_(MakeTaps(glide::ScreenWidth, picture_.width), glide::ScreenWidth),
      rowReach_(rows_, glide::ScreenHeight), groupsPerRow_((picture_.width + LitGroupWidth - 1) / LitGroupWidth) {
  for (const Tap& tap : MakeTaps(glide::ScreenWidth, picture_.width)) {
    columns_.first.push_back(tap.first);
    columns_.second.push_back(tap.second);
    columns_.weight.push_back(tap.weight);
  }
  upper_.pixels.assign(static_cast<std::size_t>(picture_.width), 0);
  lower_.pixels.assign(static_cast<std::size_t>(picture_.width), 0);
  litGroups_.assign(static_cast<std::size_t>(groupsPerRow_) * static_cast<std::size_t>(picture_.height), 0);
  redrawn_.reserve(MaxRects);
}

std::span<const ScreenRect> FrameScaler::Update(const glide::FrameView& frame, std::uint32_t* picture, int stride) {
  redrawn_.clear();
  // The first frame, and a frame that does not say what changed, are drawn whole.
  const glide::FrameDamage* damage = fresh_ ? nullptr : frame.damage;
  fresh_ = false;
  for (int tileRow = 0; tileRow < TileRows; ++tileRow) {
    const auto changed = [&](int tile) { return damage == nullptr || damage->tiles[tileRow][tile]; };
    const int top = tileRow * TileHeight;
    for (int tile = 0; tile < TileColumns;) {
      if (!changed(tile)) {
        ++tile;
        continue;
      }
      // A run of changed tiles, taking in gaps shorter than MergeGap.
      int end = tile + 1;
      for (int next = end; next < TileColumns && next - end < MergeGap; ++next) {
        if (changed(next)) {
          end = next + 1;
        }
      }
      Redraw(frame, tile * TileWidth, end * TileWidth, top, top + TileHeight, picture, stride);
      tile = end;
    }
  }
  return redrawn_;
}

void FrameScaler::Redraw(const glide::FrameView& frame, int left, int right, int top, int bottom,
                         std::uint32_t* picture, int stride) {
  if (identity_) {
    // The picture is the frame: the changed tiles are copied as they are, which costs less than
    // looking for what in them is black.
    for (int row = top; row < bottom; ++row) {
      std::memcpy(picture + static_cast<std::ptrdiff_t>(row) * stride + left,
                  frame.pixels + static_cast<std::ptrdiff_t>(row) * frame.stride + left,
                  static_cast<std::size_t>(right - left) * sizeof(std::uint32_t));
    }
    redrawn_.push_back({left, top, right - left, bottom - top});
    return;
  }
  const int firstColumn = columnReach_.begin[static_cast<std::size_t>(left)];
  const int endColumn = columnReach_.end[static_cast<std::size_t>(right - 1)];
  const int firstRow = rowReach_.begin[static_cast<std::size_t>(top)];
  const int endRow = rowReach_.end[static_cast<std::size_t>(bottom - 1)];
  // A picture smaller than the frame skips some source samples altogether.
  if (firstColumn >= endColumn || firstRow >= endRow) {
    return;
  }
  // Each source row is scaled across once and serves every picture row between it and its
  // neighbours; the two at hand are kept. They hold another part of the picture, or another
  // frame, until they are filled here.
  upper_.source = -1;
  lower_.source = -1;
  const int sourceBegin = columns_.first[static_cast<std::size_t>(firstColumn)];
  const int sourceEnd = columns_.second[static_cast<std::size_t>(endColumn - 1)] + 1;
  const auto prepare = [&](ScaledRow& row, int source) {
    // Most of a frame is black, and black scales to black: only the columns that the row's lit
    // pixels reach are worked out.
    const std::uint32_t* pixels = frame.pixels + static_cast<std::ptrdiff_t>(source) * frame.stride;
    const auto [litBegin, litEnd] = LitColumns(pixels, sourceBegin, sourceEnd);
    row.source = source;
    row.litBegin =
        litBegin < litEnd ? std::max(firstColumn, columnReach_.begin[static_cast<std::size_t>(litBegin)]) : endColumn;
    row.litEnd =
        litBegin < litEnd ? std::min(endColumn, columnReach_.end[static_cast<std::size_t>(litEnd - 1)]) : endColumn;
    std::uint32_t* out = row.pixels.data();
    Clear(out, firstColumn, row.litBegin);
    ScaleAcross(pixels, columns_.first.data(), columns_.second.data(), columns_.weight.data(), row.litBegin, row.litEnd,
                out);
    Clear(out, row.litEnd, endColumn);
  };
  ScreenRect changed{endColumn, endRow, 0, 0}; // as left, top, right, bottom until the end
  const auto widen = [&changed](int row, int begin, int end) {
    changed.x = std::min(changed.x, begin);
    changed.width = std::max(changed.width, end);
    changed.y = std::min(changed.y, row);
    changed.height = row + 1;
  };
  for (int row = firstRow; row < endRow; ++row) {
    const Tap& tap = rows_[static_cast<std::size_t>(row)];
    if (upper_.source != tap.first) {
      if (lower_.source == tap.first) {
        // Walking down the picture, the row that was below becomes the one above.
        std::swap(upper_, lower_);
      } else {
        prepare(upper_, tap.first);
      }
    }
    int litBegin = upper_.litBegin;
    int litEnd = upper_.litEnd;
    if (tap.weight != 0) {
      if (lower_.source != tap.second) {
        prepare(lower_, tap.second);
      }
      if (lower_.litBegin < lower_.litEnd) {
        litBegin = litBegin < litEnd ? std::min(litBegin, lower_.litBegin) : lower_.litBegin;
        litEnd = std::max(litEnd, lower_.litEnd);
      }
    }
    if (litBegin >= litEnd) {
      litBegin = litEnd = endColumn;
    }
    std::uint32_t* out = picture + static_cast<std::ptrdiff_t>(row) * stride;
    // What was lit in this row and is black now is cleared; what was black already is left.
    ClearLit(out, row, firstColumn, litBegin, widen);
    ClearLit(out, row, litEnd, endColumn, widen);
    if (litBegin == litEnd) {
      continue;
    }
    if (tap.weight == 0) {
      std::memcpy(out + litBegin, upper_.pixels.data() + litBegin,
                  static_cast<std::size_t>(litEnd - litBegin) * sizeof(std::uint32_t));
    } else {
      MixRows(upper_.pixels.data(), lower_.pixels.data(), tap.weight, litBegin, litEnd, out);
    }
    std::uint8_t* lit = litGroups_.data() + static_cast<std::ptrdiff_t>(row) * groupsPerRow_;
    std::fill(lit + litBegin / LitGroupWidth, lit + (litEnd - 1) / LitGroupWidth + 1, std::uint8_t{1});
    widen(row, litBegin, litEnd);
  }
  if (changed.width > changed.x) {
    redrawn_.push_back({changed.x, changed.y, changed.width - changed.x, changed.height - changed.y});
  }
}

template <typename Widen>
void FrameScaler::ClearLit(std::uint32_t* out, int row, int begin, int end, const Widen& widen) {
  std::uint8_t* lit = litGroups_.data() + static_cast<std::ptrdiff_t>(row) * groupsPerRow_;
  for (int group = begin / LitGroupWidth; begin < end; ++group) {
    const int groupEnd = std::min(end, (group + 1) * LitGroupWidth);
    if (lit[group] != 0) {
      Clear(out, begin, groupEnd);
      widen(row, begin, groupEnd);
      // A group cleared in part keeps whatever light the rest of it holds.
      if (begin == group * LitGroupWidth && groupEnd == (group + 1) * LitGroupWidth) {
        lit[group] = 0;
      }
    }
    begin = groupEnd;
  }
}

FramePacer::Clock::time_point FramePacer::NextPresentTime(Clock::time_point now) {
  const Clock::time_point next = started_ ? std::max(previous_ + Period, now) : now;
  previous_ = next;
  started_ = true;
  return next;
}

void FramePacer::WaitForNextFrame() { std::this_thread::sleep_until(NextPresentTime(Clock::now())); }

} // namespace desktop
