// Fitting the 640×480 frame to a screen: the picture rectangle, the bilinear scaler and the pacer.
#include "glide/frame_scaler.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

namespace glide {

namespace {

using GroupBytes = FrameScaler::GroupBytes;
using GroupLanes = FrameScaler::GroupLanes;
using GroupWords = FrameScaler::GroupWords;
constexpr int Group = FrameScaler::PixelsPerGroup;

// Mixes two groups of 0x00RRGGBB pixels, each pixel `weight` 256ths of the way from `first` to
// `second`, rounded to the nearest step. In 16-bit lanes nothing overflows (255 · 256 + 128 <
// 2^16), and equal inputs come out unchanged.
inline GroupBytes Mix(GroupBytes first, GroupBytes second, GroupLanes weight) {
  const GroupLanes keep = 256 - weight;
  const GroupLanes mixed =
      (__builtin_convertvector(first, GroupLanes) * keep + __builtin_convertvector(second, GroupLanes) * weight + 128) >> 8;
  return __builtin_convertvector(mixed, GroupBytes);
}

inline GroupBytes LoadGroup(const std::uint32_t* pixels) {
  GroupBytes group;
  std::memcpy(&group, pixels, sizeof group);
  return group;
}

inline void StoreGroup(std::uint32_t* pixels, GroupBytes group) { std::memcpy(pixels, &group, sizeof group); }

int WholeGroups(int pixels) { return (pixels + Group - 1) / Group; }

FrameScaler::Span Hull(FrameScaler::Span first, FrameScaler::Span second) {
  if (first.Empty()) {
    return second;
  }
  if (second.Empty()) {
    return first;
  }
  return {std::min(first.begin, second.begin), std::max(first.end, second.end)};
}

// The columns [begin, end) of a row that are not black; begin == end for a black row. Eight
// pixels are tested at a time, so a black row costs a few dozen steps.
std::pair<int, int> LitColumns(const std::uint32_t* row, int width) {
  constexpr int Chunk = 8;
  const auto chunkLit = [&](int start) {
    std::uint64_t words[Chunk / 2];
    std::memcpy(words, row + start, sizeof words);
    return (words[0] | words[1] | words[2] | words[3]) != 0;
  };
  int begin = 0;
  while (begin + Chunk <= width && !chunkLit(begin)) {
    begin += Chunk;
  }
  while (begin < width && row[begin] == 0) {
    ++begin;
  }
  if (begin == width) {
    return {width, width};
  }
  int end = width;
  while (end - Chunk >= begin && !chunkLit(end - Chunk)) {
    end -= Chunk;
  }
  while (row[end - 1] == 0) {
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

FrameScaler::FrameScaler(int screenWidth, int screenHeight)
    : screenWidth_(screenWidth),
      screenHeight_(screenHeight),
      picture_(PictureRect(screenWidth, screenHeight)),
      identity_(picture_.width == glide::ScreenWidth && picture_.height == glide::ScreenHeight),
      rows_(MakeTaps(glide::ScreenHeight, picture_.height)),
      firstReaching_(glide::ScreenWidth),
      endReaching_(glide::ScreenWidth),
      lit_(static_cast<std::size_t>(picture_.height)) {
  const std::vector<Tap> taps = MakeTaps(glide::ScreenWidth, picture_.width);
  // The last group may reach past the picture's right edge: it repeats the last column there,
  // and those pixels never reach the screen.
  columns_.resize(static_cast<std::size_t>(WholeGroups(picture_.width)));
  for (std::size_t group = 0; group < columns_.size(); ++group) {
    for (int lane = 0; lane < Group; ++lane) {
      const std::size_t column = std::min(group * Group + static_cast<std::size_t>(lane), taps.size() - 1);
      columns_[group].first[lane] = taps[column].first;
      columns_[group].second[lane] = taps[column].second;
      for (int channel = 0; channel < 4; ++channel) {
        columns_[group].weight[lane * 4 + channel] = static_cast<std::uint16_t>(taps[column].weight);
      }
    }
  }
  // Both tables rise with the column, so one pass over the picture's columns fills them: a
  // picture column reads source columns `first` and `second` and nothing between.
  int reaching = 0;
  for (int source = 0; source < glide::ScreenWidth; ++source) {
    while (reaching < picture_.width && taps[static_cast<std::size_t>(reaching)].second < source) {
      ++reaching;
    }
    firstReaching_[static_cast<std::size_t>(source)] = reaching;
  }
  reaching = picture_.width;
  for (int source = glide::ScreenWidth - 1; source >= 0; --source) {
    while (reaching > 0 && taps[static_cast<std::size_t>(reaching - 1)].first > source) {
      --reaching;
    }
    endReaching_[static_cast<std::size_t>(source)] = reaching;
  }
  const std::size_t rowLength = columns_.size() * Group;
  upper_.pixels.assign(rowLength, 0);
  lower_.pixels.assign(rowLength, 0);
}

FrameScaler::Span FrameScaler::GroupsReached(int begin, int end) const {
  if (begin >= end) {
    return {};
  }
  return {firstReaching_[static_cast<std::size_t>(begin)] / Group,
          WholeGroups(endReaching_[static_cast<std::size_t>(end - 1)])};
}

void FrameScaler::ClearOutside(std::uint32_t* row, Span old, Span kept) const {
  const auto clear = [&](int beginGroup, int endGroup) {
    const int begin = beginGroup * Group;
    const int end = std::min(endGroup * Group, picture_.width);
    if (begin < end) {
      std::memset(row + begin, 0, static_cast<std::size_t>(end - begin) * sizeof(std::uint32_t));
    }
  };
  if (kept.Empty()) {
    clear(old.begin, old.end);
    return;
  }
  clear(old.begin, std::min(old.end, kept.begin));
  clear(std::max(old.begin, kept.end), old.end);
}

void FrameScaler::Fill(ScaledRow& row, const FrameView& frame, int sourceRow) const {
  const std::uint32_t* source = frame.pixels + static_cast<std::ptrdiff_t>(sourceRow) * frame.stride;
  const auto [litBegin, litEnd] = LitColumns(source, glide::ScreenWidth);
  const Span span = GroupsReached(litBegin, litEnd);
  // The scaled row stays within the picture's width, rounded up to groups, and each row buffer
  // is that long.
  ClearOutside(row.pixels.data(), row.written, span);
  row.written = span;
  row.source = sourceRow;
  std::uint32_t* out = row.pixels.data();
  if (identity_) {
    const int begin = span.begin * Group;
    const int end = std::min(span.end * Group, picture_.width);
    if (begin < end) {
      std::memcpy(out + begin, source + begin, static_cast<std::size_t>(end - begin) * sizeof(std::uint32_t));
    }
    return;
  }
  static_assert(Group == 4, "the gathers below name four lanes");
  for (int index = span.begin; index < span.end; ++index) {
    const ColumnGroup& group = columns_[static_cast<std::size_t>(index)];
    const GroupWords first{source[group.first[0]], source[group.first[1]], source[group.first[2]], source[group.first[3]]};
    const GroupWords second{source[group.second[0]], source[group.second[1]], source[group.second[2]],
                            source[group.second[3]]};
    StoreGroup(out + index * Group,
               Mix(std::bit_cast<GroupBytes>(first), std::bit_cast<GroupBytes>(second), group.weight));
  }
}

void FrameScaler::PrepareRows(const FrameView& frame, int upper, int lower) {
  if (upper_.source != upper) {
    if (lower_.source == upper) {
      // Walking down the picture, the row that was below becomes the one above.
      std::swap(upper_, lower_);
    } else {
      Fill(upper_, frame, upper);
    }
  }
  if (lower >= 0 && lower_.source != lower) {
    Fill(lower_, frame, lower);
  }
}

ScreenRect FrameScaler::Scale(const FrameView& frame, std::uint32_t* screen, int screenStride) {
  // The scaled rows describe the previous frame: they must be filled afresh (what they hold
  // outside their spans stays black).
  upper_.source = -1;
  lower_.source = -1;
  std::uint32_t* pictureOrigin = screen + static_cast<std::ptrdiff_t>(picture_.y) * screenStride + picture_.x;
  Span changedColumns;
  int firstChangedRow = picture_.height;
  int lastChangedRow = -1;
  for (int row = 0; row < picture_.height; ++row) {
    const Tap& tap = rows_[static_cast<std::size_t>(row)];
    PrepareRows(frame, tap.first, tap.weight == 0 ? -1 : tap.second);
    const Span lit = tap.weight == 0 ? upper_.written : Hull(upper_.written, lower_.written);
    Span& wasLit = lit_[static_cast<std::size_t>(row)];
    const Span changed = Hull(wasLit, lit);
    if (changed.Empty()) {
      continue;
    }
    changedColumns = Hull(changedColumns, changed);
    firstChangedRow = std::min(firstChangedRow, row);
    lastChangedRow = row;

    std::uint32_t* out = pictureOrigin + static_cast<std::ptrdiff_t>(row) * screenStride;
    ClearOutside(out, wasLit, lit);
    wasLit = lit;
    const int begin = lit.begin * Group;
    const int end = std::min(lit.end * Group, picture_.width);
    if (begin >= end) {
      continue;
    }
    const std::uint32_t* upper = upper_.pixels.data();
    if (tap.weight == 0) {
      std::memcpy(out + begin, upper + begin, static_cast<std::size_t>(end - begin) * sizeof(std::uint32_t));
      continue;
    }
    const std::uint32_t* lower = lower_.pixels.data();
    const GroupLanes weight = GroupLanes{} + static_cast<std::uint16_t>(tap.weight);
    int column = begin;
    for (; column + Group <= end; column += Group) {
      StoreGroup(out + column, Mix(LoadGroup(upper + column), LoadGroup(lower + column), weight));
    }
    if (column < end) {
      // The scaled rows are whole groups long; the screen row may end inside one.
      std::uint32_t last[Group];
      StoreGroup(last, Mix(LoadGroup(upper + column), LoadGroup(lower + column), weight));
      std::memcpy(out + column, last, static_cast<std::size_t>(end - column) * sizeof(std::uint32_t));
    }
  }
  if (lastChangedRow < 0) {
    return {picture_.x, picture_.y, 0, 0};
  }
  const int left = changedColumns.begin * Group;
  const int right = std::min(changedColumns.end * Group, picture_.width);
  return {picture_.x + left, picture_.y + firstChangedRow, right - left, lastChangedRow - firstChangedRow + 1};
}

FramePacer::Clock::time_point FramePacer::NextPresentTime(Clock::time_point now) {
  const Clock::time_point next = started_ ? std::max(previous_ + Period, now) : now;
  previous_ = next;
  started_ = true;
  return next;
}

} // namespace glide
