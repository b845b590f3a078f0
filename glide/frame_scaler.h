// Fitting the 640×480 frame to a screen: the 4:3 picture rectangle, a smooth integer scaler and frame pacing.
#pragma once

#include "glide/glide.h"

#include <chrono>
#include <cstdint>
#include <vector>

namespace glide {

struct ScreenRect {
  int x;
  int y;
  int width;
  int height;
  bool operator==(const ScreenRect&) const = default;
};

// The largest 4:3 rectangle centred on a screen of the given size; what is left over on two
// sides stays black.
ScreenRect PictureRect(int screenWidth, int screenHeight);

// Scales frames of ScreenWidth × ScreenHeight into the picture rectangle of one screen size with
// bilinear filtering. Everything per pixel is integer arithmetic driven by two tables made once
// per screen size: for each column and each row of the picture, the two source samples it lies
// between and the weight (0..255, in 256ths) of the second one.
//
// Frames of fireworks are mostly black, so the scaler works only where a frame is not: in each
// source row it finds the span of pixels that are not black and scales that span alone, and on
// the screen it clears only what it lit in the previous frame. It therefore relies on the
// picture rectangle being black when the scaler is made, and on nothing else writing there.
class FrameScaler {
public:
  FrameScaler(int screenWidth, int screenHeight);

  int ScreenWidth() const { return screenWidth_; }
  int ScreenHeight() const { return screenHeight_; }
  ScreenRect Picture() const { return picture_; }

  // Writes the picture rectangle of `screen` (0x00RRGGBB pixels, `screenStride` pixels from one
  // row to the next); the pixels outside it are left alone. Returns the rectangle, in screen
  // pixels, outside which nothing changed since the previous call (empty: width 0).
  ScreenRect Scale(const FrameView& frame, std::uint32_t* screen, int screenStride);

  // One entry of a table: the output lies between source samples `first` and `second`
  // (equal at the edges), `weight` 256ths of the way to `second`.
  struct Tap {
    int first;
    int second;
    std::uint32_t weight;
  };
  // The table for `outputSize` samples taken across `sourceSize` ones, pixel centres aligned.
  static std::vector<Tap> MakeTaps(int sourceSize, int outputSize);

  // Pixels are mixed PixelsPerGroup at a time, each byte widened to a 16-bit lane: the vector
  // types below compile to SSE2 or NEON without intrinsics.
  static constexpr int PixelsPerGroup = 4;
  typedef std::uint8_t GroupBytes __attribute__((vector_size(4 * PixelsPerGroup)));
  typedef std::uint16_t GroupLanes __attribute__((vector_size(2 * 4 * PixelsPerGroup)));
  typedef std::uint32_t GroupWords __attribute__((vector_size(4 * PixelsPerGroup)));

  // A run of whole groups of a picture row, [begin, end); empty when begin >= end.
  struct Span {
    int begin = 0;
    int end = 0;
    bool Empty() const { return begin >= end; }
  };

private:
  // The column table in groups: the two source columns of each output pixel, and each pixel's
  // weight spread over its four byte lanes.
  struct ColumnGroup {
    GroupLanes weight;
    int first[PixelsPerGroup];
    int second[PixelsPerGroup];
  };

  // A source row scaled across the picture's width (rounded up to whole groups). Outside
  // `written` it is black.
  struct ScaledRow {
    std::vector<std::uint32_t> pixels;
    int source = -1; // which source row it holds in the current frame; -1: none
    Span written;
  };

  // Makes sure that the two scaled rows hold source rows `upper` and `lower` (-1: not needed).
  void PrepareRows(const FrameView& frame, int upper, int lower);
  void Fill(ScaledRow& row, const FrameView& frame, int sourceRow) const;
  // The groups of the picture that source columns [begin, end) reach.
  Span GroupsReached(int begin, int end) const;
  // Clears the pixels of `row` that lie in `old` but not in `kept`.
  void ClearOutside(std::uint32_t* row, Span old, Span kept) const;

  int screenWidth_;
  int screenHeight_;
  ScreenRect picture_;
  bool identity_; // the picture is the frame, pixel for pixel
  std::vector<ColumnGroup> columns_;
  std::vector<Tap> rows_;
  // For each source column: the first picture column whose samples reach it, and one past the last.
  std::vector<int> firstReaching_;
  std::vector<int> endReaching_;
  ScaledRow upper_;
  ScaledRow lower_;
  // For each picture row, the groups that may hold something other than black.
  std::vector<Span> lit_;
};

// Spaces presented frames at least one refresh period of 60 Hz apart without ever catching up:
// a frame that comes late is shown at once, and the next one a full period after it.
class FramePacer {
public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration Period = std::chrono::nanoseconds(1'000'000'000 / 60);

  // When to show the frame that is ready at `now`.
  Clock::time_point NextPresentTime(Clock::time_point now);

private:
  Clock::time_point previous_{};
  bool started_ = false;
};

} // namespace glide
