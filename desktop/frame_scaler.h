// Fitting the 640×480 frame to a screen: a scaler that redraws only what changed.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "geometry.h"
#include "glide/board.h"

namespace desktop {

// Keeps a picture of one screen size up to date with the frames, with bilinear filtering.
// Everything per pixel is integer arithmetic driven by two tables made once per screen size:
// for each column and each row of the picture, the two source samples it lies between and the
// weight (0..255, in 256ths) of the second one. Each source row is first scaled across, then
// picture rows are mixed from the two scaled rows they lie between.
//
// Frames of fireworks change in a small part of the screen from one frame to the next, and a
// large screen costs in proportion to what is redrawn and sent. So the scaler redraws only the
// parts of the picture that the frame's changed pixels reach: it looks for them in the tiles the
// graphics library says it wrote, against a copy of the frame before. What it does not redraw
// already holds what a full redraw would give, since no pixel it depends on has changed.
class FrameScaler {
public:
  // The tiles in which the graphics library tells what changed.
  static constexpr int TileWidth = glide::DamageTileWidth;
  static constexpr int TileHeight = glide::DamageTileHeight;
  static constexpr int TileColumns = glide::DamageColumns;
  static constexpr int TileRows = glide::DamageRows;
  // Changed tiles of one tile row closer than this many unchanged tiles are redrawn as one
  // rectangle, with the tiles between them.
  static constexpr int MergeGap = 2;
  // At most one rectangle per tile, so the list of rectangles never grows in the frame loop.
  static constexpr int MaxRects = TileColumns * TileRows;

  FrameScaler(int screenWidth, int screenHeight);

  int ScreenWidth() const { return screenWidth_; }
  int ScreenHeight() const { return screenHeight_; }
  ScreenRect Picture() const { return picture_; }

  // Brings the picture up to date with `frame`. `picture` is the picture rectangle's top left
  // pixel (0x00RRGGBB, `stride` pixels from one row to the next); nothing outside the rectangle
  // is written. Only what the frame's damage marks is redrawn, except in the first update, which
  // redraws everything; the picture must hold what the previous update left there. Returns the
  // rectangles redrawn, in picture coordinates, valid until the next call.
  std::span<const ScreenRect> Update(const glide::FrameView& frame, std::uint32_t* picture, int stride);

  // The part of the picture that the frame's pixels in `area` reach, in picture coordinates: all
  // a change there can change. Empty (zero size) where they reach none.
  ScreenRect ReachOf(const ScreenRect& area) const;

  // One entry of a table: the output lies between source samples `first` and `second`
  // (equal at the edges), `weight` 256ths of the way to `second`.
  struct Tap {
    int first;
    int second;
    std::uint32_t weight;
  };
  // The table for `outputSize` samples taken across `sourceSize` ones, pixel centres aligned.
  static std::vector<Tap> MakeTaps(int sourceSize, int outputSize);

  // The column taps, one array a field, as the scaling loop reads them.
  struct ColumnTable {
    std::vector<int> first;
    std::vector<int> second;
    std::vector<std::uint32_t> weight;
  };

private:
  // A source row scaled across some columns of the picture.
  struct ScaledRow {
    std::vector<std::uint32_t> pixels;
    int source = -1; // which source row it holds; -1: none
  };

  // For each sample of one axis of the source, the picture samples that read it: [begin, end).
  struct Reach {
    std::vector<int> begin;
    std::vector<int> end;
    Reach(const std::vector<Tap>& taps, int sourceSize);
  };

  // Shrinks `run` to the smallest rectangle that holds every pixel in which `frame` differs from
  // the frame before it; false when none does. The library marks whole tiles, but much of a
  // marked tile (around a sprite's edge) holds what it held before.
  bool TrimToChanges(const glide::FrameView& frame, ScreenRect& run) const;
  // Redraws the part of a scaled picture that the frame's pixels in `run` reach, and reports it.
  void Redraw(const glide::FrameView& frame, const ScreenRect& run, std::uint32_t* picture, int stride);
  int screenWidth_;
  int screenHeight_;
  ScreenRect picture_;
  bool identity_; // the picture is the frame, pixel for pixel
  ColumnTable columns_;
  std::vector<Tap> rows_;
  Reach columnReach_;
  Reach rowReach_;
  bool fresh_ = true;                   // no update yet
  std::vector<std::uint32_t> previous_; // the frame before, where the picture is not the frame itself
  ScaledRow upper_;
  ScaledRow lower_;
  std::vector<ScreenRect> redrawn_;
};

} // namespace desktop
