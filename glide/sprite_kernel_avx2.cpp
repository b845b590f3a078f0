// The AVX2 inner loop of the sprite path: 16 columns per step, 8 pixels per store.
// This file alone is compiled with AVX2 enabled; callers check the processor first.
#include <immintrin.h>

#include "glide/sprite_kernel.h"

namespace glide {
namespace {

// (a·(256 − w) + b·w + 128) >> 8 on 16 lanes of 16 bits. Every product and sum stays below 65536.
__m256i Blend(__m256i a, __m256i b, __m256i weight) {
  const __m256i inverse = _mm256_sub_epi16(_mm256_set1_epi16(256), weight);
  const __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(a, inverse), _mm256_mullo_epi16(b, weight));
  return _mm256_srli_epi16(_mm256_add_epi16(sum, _mm256_set1_epi16(128)), 8);
}

// Adds eight pixels, given as 16-bit channels shifted up by 8 (pixels 0, 1 | 4, 5 in `first` and
// 2, 3 | 6, 7 in `second`, lane by lane), onto the frame; only the first `count` are written.
void AddEight(std::uint32_t* pixels, __m256i first, __m256i second, __m256i scale, int count) {
  // (texel·256 · scale) >> 16 is (texel · scale) >> 8, the same product as the portable code.
  const __m256i colour = _mm256_packus_epi16(_mm256_mulhi_epu16(first, scale), _mm256_mulhi_epu16(second, scale));
  auto* target = reinterpret_cast<__m256i*>(pixels);
  if (count >= 8) {
    _mm256_storeu_si256(target, _mm256_adds_epu8(_mm256_loadu_si256(target), colour));
    return;
  }
  const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(count), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
  auto* words = reinterpret_cast<int*>(pixels);
  _mm256_maskstore_epi32(words, mask, _mm256_adds_epu8(_mm256_maskload_epi32(words, mask), colour));
}

} // namespace

void AddSpriteRowAvx2(const SpriteRow& row, std::uint32_t* pixels, int begin, int end) {
  // One register holds a blended texel row of at most 16 texels; wider levels, drawn only for
  // sprites far larger than the show's, take the portable code.
  if (row.levelWidth > 16) {
    AddSpriteRowPortable(row, pixels, begin, end);
    return;
  }
  const __m256i upper = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row.texelRow0)));
  const __m256i lower = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row.texelRow1)));
  const __m256i blendedWords = Blend(upper, lower, _mm256_set1_epi16(static_cast<short>(row.texelRowWeight)));
  const __m128i blended =
      _mm_packus_epi16(_mm256_castsi256_si128(blendedWords), _mm256_extracti128_si256(blendedWords, 1));

  const __m256i scale = _mm256_setr_epi16(
      static_cast<short>(row.colourScale[0]), static_cast<short>(row.colourScale[1]),
      static_cast<short>(row.colourScale[2]), 0, static_cast<short>(row.colourScale[0]),
      static_cast<short>(row.colourScale[1]), static_cast<short>(row.colourScale[2]), 0,
      static_cast<short>(row.colourScale[0]), static_cast<short>(row.colourScale[1]),
      static_cast<short>(row.colourScale[2]), 0, static_cast<short>(row.colourScale[0]),
      static_cast<short>(row.colourScale[1]), static_cast<short>(row.colourScale[2]), 0);
  // Each texel (the low byte of a 16-bit lane) goes to the high byte of its pixel's blue, green
  // and red lanes; the unused fourth lane stays 0.
  const __m256i spreadFirst = _mm256_setr_epi8(
      -128, 0, -128, 0, -128, 0, -128, -128, -128, 2, -128, 2, -128, 2, -128, -128,
      -128, 8, -128, 8, -128, 8, -128, -128, -128, 10, -128, 10, -128, 10, -128, -128);
  const __m256i spreadSecond = _mm256_setr_epi8(
      -128, 4, -128, 4, -128, 4, -128, -128, -128, 6, -128, 6, -128, 6, -128, -128,
      -128, 12, -128, 12, -128, 12, -128, -128, -128, 14, -128, 14, -128, 14, -128, -128);

  for (int x = begin; x < end; x += 16) {
    const __m128i left = _mm_shuffle_epi8(blended, _mm_loadu_si128(reinterpret_cast<const __m128i*>(row.column0 + x)));
    const __m128i right = _mm_shuffle_epi8(blended, _mm_loadu_si128(reinterpret_cast<const __m128i*>(row.column1 + x)));
    const __m256i weight = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row.columnWeight + x));
    const __m256i texels = Blend(_mm256_cvtepu8_epi16(left), _mm256_cvtepu8_epi16(right), weight);

    const __m256i low = _mm256_permute4x64_epi64(texels, 0x44); // texels 0..7 in both lanes
    AddEight(pixels + x, _mm256_shuffle_epi8(low, spreadFirst), _mm256_shuffle_epi8(low, spreadSecond), scale,
             end - x);
    if (end - x > 8) {
      const __m256i high = _mm256_permute4x64_epi64(texels, 0xEE); // texels 8..15 in both lanes
      AddEight(pixels + x + 8, _mm256_shuffle_epi8(high, spreadFirst), _mm256_shuffle_epi8(high, spreadSecond),
               scale, end - x - 8);
    }
  }
}

} // namespace glide
