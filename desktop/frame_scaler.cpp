// Fitting the 640×480 frame to a screen: the picture rectangle and the scaler of what changed.
#include "frame_scaler.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>
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
ScaleAcrossEach(const std::uint32_t* __restrict source, const int* __restrict first, const int* __restrict second,
                const std::uint32_t* __restrict weight, int begin, int end, std::uint32_t* __restrict out) {
  for (int column = begin; column < end; ++column) {
    out[column] = Mix(source[first[column]], source[second[column]], weight[column]);
  }
}

// Mix on eight pixels at once, lane by lane the same arithmetic.
__attribute__((target("avx2"))) __m256i MixEight(__m256i first, __m256i second, __m256i weight) {
  const __m256i keep = _mm256_sub_epi32(_mm256_set1_epi32(256), weight);
  const __m256i redBlueMask = _mm256_set1_epi32(0xFF00FF);
  const __m256i greenMask = _mm256_set1_epi32(0xFF);
  const __m256i redBlue = _mm256_srli_epi32(
      _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(_mm256_and_si256(first, redBlueMask), keep),
                                        _mm256_mullo_epi32(_mm256_and_si256(second, redBlueMask), weight)),
                       _mm256_set1_epi32(0x800080)),
      8);
  const __m256i green = _mm256_srli_epi32(
      _mm256_add_epi32(
          _mm256_add_epi32(_mm256_mullo_epi32(_mm256_and_si256(_mm256_srli_epi32(first, 8), greenMask), keep),
                           _mm256_mullo_epi32(_mm256_and_si256(_mm256_srli_epi32(second, 8), greenMask), weight)),
          _mm256_set1_epi32(0x80)),
      8);
  return _mm256_or_si256(_mm256_and_si256(redBlue, redBlueMask), _mm256_slli_epi32(green, 8));
}

// ScaleAcrossEach without fetching source pixels one by one, which took most of a large screen's
// time: where eight neighbouring columns read no more than eight neighbouring source pixels (a
// picture wider than the frame), those are loaded at once and shuffled into place. Columns
// where they do not (near the row's end, or a picture narrower than the frame) go the general way.
__attribute__((target("avx2"))) void ScaleAcrossShuffled(const std::uint32_t* source, const int* first,
                                                         const int* second, const std::uint32_t* weight, int begin,
                                                         int end, std::uint32_t* out) {
  int column = begin;
  for (; column + 8 <= end; column += 8) {
    const int base = first[column];
    if (second[column + 7] - base > 7 || base + 8 > glide::ScreenWidth) {
      break;
    }
    const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + base));
    const __m256i offset = _mm256_set1_epi32(base);
    const __m256i firsts = _mm256_permutevar8x32_epi32(
        pixels, _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(first + column)), offset));
    const __m256i seconds = _mm256_permutevar8x32_epi32(
        pixels, _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(second + column)), offset));
    const __m256i weights = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(weight + column));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + column), MixEight(firsts, seconds, weights));
  }
  ScaleAcrossEach(source, first, second, weight, column, end, out);
}

void ScaleAcross(const std::uint32_t* source, const int* first, const int* second, const std::uint32_t* weight,
                 int begin, int end, std::uint32_t* out) {
  static const bool shuffle = __builtin_cpu_supports("avx2");
  if (shuffle) {
    ScaleAcrossShuffled(source, first, second, weight, begin, end, out);
  } else {
    ScaleAcrossEach(source, first, second, weight, begin, end, out);
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

// Copies `area` of the frame to the same place in `out`, whose rows are `stride` pixels apart.
void CopyFromFrame(const glide::FrameView& frame, const ScreenRect& area, std::uint32_t* out, int stride) {
  for (int row = area.y; row < area.y + area.height; ++row) {
    std::memcpy(out + static_cast<std::ptrdiff_t>(row) * stride + area.x,
                frame.pixels + static_cast<std::ptrdiff_t>(row) * frame.stride + area.x,
                static_cast<std::size_t>(area.width) * sizeof(std::uint32_t));
  }
}

} // namespace

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
      rowReach_(rows_, glide::ScreenHeight) {
  for (const Tap& tap : MakeTaps(glide::ScreenWidth, picture_.width)) {
    columns_.first.push_back(tap.first);
    columns_.second.push_back(tap.second);
    columns_.weight.push_back(tap.weight);
  }
  if (!identity_) {
    previous_.assign(static_cast<std::size_t>(glide::ScreenWidth) * glide::ScreenHeight, 0);
  }
  upper_.pixels.assign(static_cast<std::size_t>(picture_.width), 0);
  lower_.pixels.assign(static_cast<std::size_t>(picture_.width), 0);
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
      ScreenRect run{tile * TileWidth, top, (end - tile) * TileWidth, TileHeight};
      tile = end;
      if (identity_) {
        // The picture is the frame: copying a run costs less than finding what in it changed.
        CopyFromFrame(frame, run, picture, stride);
        redrawn_.push_back(run);
        continue;
      }
      if (damage != nullptr && !TrimToChanges(frame, run)) {
        continue;
      }
      Redraw(frame, run, picture, stride);
      CopyFromFrame(frame, run, previous_.data(), glide::ScreenWidth);
    }
  }
  return redrawn_;
}

bool FrameScaler::TrimToChanges(const glide::FrameView& frame, ScreenRect& run) const {
  const int end = run.x + run.width;
  int left = end;
  int right = run.x;
  int top = -1;
  int bottom = -1;
  for (int row = run.y; row < run.y + run.height; ++row) {
    const std::uint32_t* now = frame.pixels + static_cast<std::ptrdiff_t>(row) * frame.stride;
    const std::uint32_t* before = previous_.data() + static_cast<std::ptrdiff_t>(row) * glide::ScreenWidth;
    if (std::memcmp(now + run.x, before + run.x, static_cast<std::size_t>(run.width) * sizeof(std::uint32_t)) == 0) {
      continue;
    }
    // Only columns outside those already known to have changed can widen the rectangle.
    int first = run.x;
    while (first < left && now[first] == before[first]) {
      ++first;
    }
    left = first;
    int last = end;
    while (last > right && now[last - 1] == before[last - 1]) {
      --last;
    }
    right = last;
    top = top < 0 ? row : top;
    bottom = row + 1;
  }
  if (top < 0) {
    return false;
  }
  run = {left, top, right - left, bottom - top};
  return true;
}

ScreenRect FrameScaler::ReachOf(const ScreenRect& area) const {
  if (identity_) {
    return area;
  }
  const int firstColumn = columnReach_.begin[static_cast<std::size_t>(area.x)];
  const int endColumn = columnReach_.end[static_cast<std::size_t>(area.x + area.width - 1)];
  const int firstRow = rowReach_.begin[static_cast<std::size_t>(area.y)];
  const int endRow = rowReach_.end[static_cast<std::size_t>(area.y + area.height - 1)];
  // A picture smaller than the frame skips some source samples altogether.
  if (firstColumn >= endColumn || firstRow >= endRow) {
    return {firstColumn, firstRow, 0, 0};
  }
  return {firstColumn, firstRow, endColumn - firstColumn, endRow - firstRow};
}

void FrameScaler::Redraw(const glide::FrameView& frame, const ScreenRect& run, std::uint32_t* picture, int stride) {
  const ScreenRect reach = ReachOf(run);
  if (reach.width == 0 || reach.height == 0) {
    return;
  }
  const int firstColumn = reach.x;
  const int endColumn = reach.x + reach.width;
  const int firstRow = reach.y;
  const int endRow = reach.y + reach.height;
  // Each source row is scaled across once and serves every picture row between it and its
  // neighbours; the two at hand are kept. They hold another part of the picture, or another
  // frame, until they are filled here. Black mixes to black, so the whole reach is recomputed
  // rather than kept track of where light was: that costs less than the bookkeeping would.
  upper_.source = -1;
  lower_.source = -1;
  const auto prepare = [&](ScaledRow& row, int source) {
    row.source = source;
    ScaleAcross(frame.pixels + static_cast<std::ptrdiff_t>(source) * frame.stride, columns_.first.data(),
                columns_.second.data(), columns_.weight.data(), firstColumn, endColumn, row.pixels.data());
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
    std::uint32_t* out = picture + static_cast<std::ptrdiff_t>(row) * stride;
    if (tap.weight == 0) {
      std::memcpy(out + firstColumn, upper_.pixels.data() + firstColumn,
                  static_cast<std::size_t>(endColumn - firstColumn) * sizeof(std::uint32_t));
      continue;
    }
    if (lower_.source != tap.second) {
      prepare(lower_, tap.second);
    }
    MixRows(upper_.pixels.data(), lower_.pixels.data(), tap.weight, firstColumn, endColumn, out);
  }
  redrawn_.push_back(reach);
}

} // namespace desktop
