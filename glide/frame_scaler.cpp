// Fitting the 640×480 frame to a screen: the picture rectangle, the bilinear scaler and the pacer.
#include "glide/frame_scaler.h"

#include <algorithm>
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
      upperRow_(static_cast<std::size_t>(WholeGroups(picture_.width) * Group)),
      lowerRow_(upperRow_.size()) {
  // The last group may reach past the picture's right edge: it repeats the last column there,
  // and those pixels never reach the screen.
  const std::vector<Tap> taps = MakeTaps(glide::ScreenWidth, picture_.width);
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
}

void FrameScaler::ScaleRowAcross(const FrameView& frame, int sourceRow, std::uint32_t* out) const {
  const std::uint32_t* source = frame.pixels + static_cast<std::ptrdiff_t>(sourceRow) * frame.stride;
  static_assert(Group == 4, "the gathers below name four lanes");
  for (const ColumnGroup& group : columns_) {
    const GroupWords first{source[group.first[0]], source[group.first[1]], source[group.first[2]], source[group.first[3]]};
    const GroupWords second{source[group.second[0]], source[group.second[1]], source[group.second[2]],
                            source[group.second[3]]};
    StoreGroup(out, Mix(reinterpret_cast<const GroupBytes&>(first), reinterpret_cast<const GroupBytes&>(second), group.weight));
    out += Group;
  }
}

void FrameScaler::PrepareRows(const FrameView& frame, int upper, int lower) {
  if (upperSource_ != upper) {
    if (lowerSource_ == upper) {
      // Walking down the picture, the row that was below becomes the one above.
      std::swap(upperRow_, lowerRow_);
      std::swap(upperSource_, lowerSource_);
    } else {
      ScaleRowAcross(frame, upper, upperRow_.data());
      upperSource_ = upper;
    }
  }
  if (lower >= 0 && lowerSource_ != lower) {
    ScaleRowAcross(frame, lower, lowerRow_.data());
    lowerSource_ = lower;
  }
}

void FrameScaler::Scale(const FrameView& frame, std::uint32_t* screen, int screenStride) {
  std::uint32_t* pictureOrigin =
      screen + static_cast<std::ptrdiff_t>(picture_.y) * screenStride + picture_.x;
  const std::size_t rowBytes = static_cast<std::size_t>(picture_.width) * sizeof(std::uint32_t);
  if (identity_) {
    for (int row = 0; row < picture_.height; ++row) {
      std::memcpy(pictureOrigin + static_cast<std::ptrdiff_t>(row) * screenStride,
                  frame.pixels + static_cast<std::ptrdiff_t>(row) * frame.stride, rowBytes);
    }
    return;
  }
  // The row buffers describe the previous frame: start afresh.
  upperSource_ = -1;
  lowerSource_ = -1;
  for (int row = 0; row < picture_.height; ++row) {
    const Tap& tap = rows_[static_cast<std::size_t>(row)];
    PrepareRows(frame, tap.first, tap.weight == 0 ? -1 : tap.second);
    std::uint32_t* out = pictureOrigin + static_cast<std::ptrdiff_t>(row) * screenStride;
    if (tap.weight == 0) {
      std::memcpy(out, upperRow_.data(), rowBytes);
      continue;
    }
    const std::uint32_t* upper = upperRow_.data();
    const std::uint32_t* lower = lowerRow_.data();
    const GroupLanes weight = GroupLanes{} + static_cast<std::uint16_t>(tap.weight);
    int column = 0;
    for (; column + Group <= picture_.width; column += Group) {
      StoreGroup(out + column, Mix(LoadGroup(upper + column), LoadGroup(lower + column), weight));
    }
    if (column < picture_.width) {
      // The row buffers are whole groups long; the screen row may end inside one.
      std::uint32_t last[Group];
      StoreGroup(last, Mix(LoadGroup(upper + column), LoadGroup(lower + column), weight));
      std::memcpy(out + column, last, static_cast<std::size_t>(picture_.width - column) * sizeof(std::uint32_t));
    }
  }
}

FramePacer::Clock::time_point FramePacer::NextPresentTime(Clock::time_point now) {
  const Clock::time_point next = started_ ? std::max(previous_ + Period, now) : now;
  previous_ = next;
  started_ = true;
  return next;
}

} // namespace glide
