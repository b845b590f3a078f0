// The AVX2 inner loop of the sprite path: 16 columns per step, 8 pixels per store.
// This file alone is compiled with AVX2 enabled; callers check the processor first.
#include <immintrin.h>

#include "device/sprite_kernel.h"

namespace glide {
namespace {

constexpr int GroupWidth = 16;
constexpr int MaxGroups = MaxSpanWidth / GroupWidth + 1;

// (a·(256 − w) + b·w + 128) >> 8 on 16 lanes of 16 bits, given w·128. The sum is 256·a + (b − a)·w,
// so the result is a + ((b − a)·w + 128) >> 8, and the rounding multiply gives exactly that:
// ((b − a) · w·128 + 2^14) >> 15.
__m256i Blend(__m256i a, __m256i b, __m256i weightTimes128) {
  return _mm256_add_epi16(a, _mm256_mulhrs_epi16(_mm256_sub_epi16(b, a), weightTimes128));
}

// Sixteen 32-bit lanes (two registers) narrowed to sixteen 16-bit lanes, in order.
__m256i Narrow(__m256i low, __m256i high) { return _mm256_permute4x64_epi64(_mm256_packus_epi32(low, high), 0xD8); }

// What 16 consecutive columns sample: both texel indices (bytes) and the second one's weight
// (times 128, for Blend).
// The columns are kept in the order 0–3, 8–11 | 4–7, 12–15, so that once widened to 16 bits the
// first eight columns lie in the low half of each 128-bit lane and the last eight in the high
// half, where the per-lane byte shuffles that spread them into pixels can reach them.
struct ColumnGroup {
  __m128i index0;
  __m128i index1;
  __m256i weight;
};

struct Constants {
  __m256i scale;
  __m256i spread[2][2]; // [which eight columns][pixels 0, 1 | 4, 5 or 2, 3 | 6, 7]
  __m256i lanes;
};

// Adds eight texels × colour onto eight pixels (the first or second eight columns of a group, as
// `half` says), of which only the first `count` change: the others get 0 added and are written
// back as they were.
void AddEight(std::uint32_t* pixels, __m256i texels, int half, const Constants& constants, int count) {
  // Each texel goes to the high byte of its pixel's blue, green and red lanes, pixels 0, 1 | 4, 5
  // in `first` and 2, 3 | 6, 7 in `second`; (texel·256 · scale) >> 16 is (texel · scale) >> 8.
  const __m256i first = _mm256_mulhi_epu16(_mm256_shuffle_epi8(texels, constants.spread[half][0]), constants.scale);
  const __m256i second = _mm256_mulhi_epu16(_mm256_shuffle_epi8(texels, constants.spread[half][1]), constants.scale);
  __m256i colour = _mm256_packus_epi16(first, second);
  if (count < 8) colour = _mm256_and_si256(colour, _mm256_cmpgt_epi32(_mm256_set1_epi32(count), constants.lanes));
  auto* target = reinterpret_cast<__m256i*>(pixels);
  _mm256_storeu_si256(target, _mm256_adds_epu8(_mm256_loadu_si256(target), colour));
}

// The registers that AddEight needs for one sprite.
Constants MakeConstants(const SpriteSource& source) {
  const auto* scale = source.colourScale;
  Constants constants;
  constants.scale = _mm256_set1_epi64x(static_cast<long long>(scale[0]) | static_cast<long long>(scale[1]) << 16 |
                                       static_cast<long long>(scale[2]) << 32);
  // Texel word w of each lane to the blue, green and red high bytes of two pixels.
  for (int half = 0; half < 2; ++half) {
    for (int pair = 0; pair < 2; ++pair) {
      const char a = static_cast<char>(8 * half + 4 * pair);
      const char b = static_cast<char>(a + 2);
      constants.spread[half][pair] =
          _mm256_setr_epi8(-128, a, -128, a, -128, a, -128, -128, -128, b, -128, b, -128, b, -128, -128, -128, a, -128,
                           a, -128, a, -128, -128, -128, b, -128, b, -128, b, -128, -128);
    }
  }
  constants.lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  return constants;
}

// What a sprite's column groups are made from: u's step over eight lanes and the level's masks.
struct ColumnSteps {
  __m256i columnStep; // u of lanes 0–7 past the group's first column
  __m256i eightColumns;
  __m256i widthMask;
  __m256i fractionMask;
  __m128i widthMaskBytes;
};

ColumnSteps MakeColumnSteps(const SpriteSource& source, __m256i lanes) {
  ColumnSteps steps;
  steps.columnStep = _mm256_mullo_epi32(_mm256_set1_epi32(static_cast<int>(source.uPerColumn)), lanes);
  steps.eightColumns = _mm256_set1_epi32(static_cast<int>(source.uPerColumn * 8));
  steps.widthMask = _mm256_set1_epi32(source.levelWidth - 1);
  steps.fractionMask = _mm256_set1_epi32(static_cast<int>(source.fractionMask));
  steps.widthMaskBytes = _mm_set1_epi8(static_cast<char>(source.levelWidth - 1));
  return steps;
}

// The 16 columns from column x.
ColumnGroup GroupAt(const SpriteSource& source, const ColumnSteps& steps, int x) {
  const std::uint32_t start = source.uOrigin + source.uPerColumn * static_cast<std::uint32_t>(x - source.originColumn);
  const __m256i low = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(start)), steps.columnStep);
  const __m256i high = _mm256_add_epi32(low, steps.eightColumns);
  const __m256i indices = Narrow(_mm256_and_si256(_mm256_srli_epi32(low, 16), steps.widthMask),
                                 _mm256_and_si256(_mm256_srli_epi32(high, 16), steps.widthMask));
  const __m128i inOrder = _mm_packus_epi16(_mm256_castsi256_si128(indices), _mm256_extracti128_si256(indices, 1));
  ColumnGroup group;
  group.index0 = _mm_shuffle_epi32(inOrder, 0xD8); // columns 0–3, 8–11, 4–7, 12–15
  group.index1 = _mm_and_si128(_mm_add_epi8(group.index0, _mm_set1_epi8(1)), steps.widthMaskBytes);
  const __m256i weights = Narrow(_mm256_and_si256(_mm256_srli_epi32(low, 8), steps.fractionMask),
                                 _mm256_and_si256(_mm256_srli_epi32(high, 8), steps.fractionMask));
  group.weight = _mm256_slli_epi16(_mm256_permute4x64_epi64(weights, 0xD8), 7);
  return group;
}

// The level's texel row for one frame row, blended between the two rows it lies between: 16
// texels, a byte each.
__m128i BlendedRow(const SpriteSource& source, int row) {
  const unsigned heightMask = static_cast<unsigned>(source.levelHeight - 1);
  const std::uint32_t v = source.vOrigin + source.vPerRow * static_cast<std::uint32_t>(row - source.originRow);
  const unsigned row0 = v >> 16 & heightMask;
  const unsigned row1 = (row0 + 1) & heightMask;
  const auto* upperRow = source.intensity + row0 * static_cast<unsigned>(source.levelWidth);
  const auto* lowerRow = source.intensity + row1 * static_cast<unsigned>(source.levelWidth);
  const __m256i upper = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(upperRow)));
  const __m256i lower = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lowerRow)));
  const __m256i rowWeight = _mm256_set1_epi16(static_cast<short>((v >> 8 & source.fractionMask) << 7));
  const __m256i blendedWords = Blend(upper, lower, rowWeight);
  return _mm_packus_epi16(_mm256_castsi256_si128(blendedWords), _mm256_extracti128_si256(blendedWords, 1));
}

// Adds one span's texels, blended between the columns from its row's blended texels, onto its pixels.
void AddSpan(const SpriteSpan& span, const ColumnGroup* group, __m128i blended, const Constants& constants) {
  for (int x = span.begin; x < span.end; x += GroupWidth, ++group) {
    const __m256i left = _mm256_cvtepu8_epi16(_mm_shuffle_epi8(blended, group->index0));
    const __m256i right = _mm256_cvtepu8_epi16(_mm_shuffle_epi8(blended, group->index1));
    const __m256i texels = Blend(left, right, group->weight);
    AddEight(span.pixels + x, texels, 0, constants, span.end - x);
    if (span.end - x > 8) AddEight(span.pixels + x + 8, texels, 1, constants, span.end - x - 8);
  }
}

} // namespace

void AddSpriteSpansAvx2(const SpriteSource& source, const SpriteSpan* spans, int count) {
  // One register holds a blended texel row of at most 16 texels; wider levels, drawn only for
  // sprites far larger than the show's, take the portable code.
  if (source.levelWidth > GroupWidth) {
    AddSpriteSpansPortable(source, spans, count);
    return;
  }
  const Constants constants = MakeConstants(source);
  const ColumnSteps steps = MakeColumnSteps(source, constants.lanes);
  // The column groups depend on the span's columns only: a square's rows share them.
  ColumnGroup groups[MaxGroups];
  int groupsBegin = -1, groupsEnd = -1;
  for (const SpriteSpan* span = spans; span != spans + count; ++span) {
    if (span->begin != groupsBegin || span->end != groupsEnd) {
      groupsBegin = span->begin;
      groupsEnd = span->end;
      ColumnGroup* group = groups;
      for (int x = span->begin; x < span->end; x += GroupWidth, ++group) *group = GroupAt(source, steps, x);
    }
    AddSpan(*span, groups, BlendedRow(source, span->row), constants);
  }
}

} // namespace glide
