// The frame being drawn, with a record of the tiles written since it was last presented, and its clearing.
#pragma once

#include <cstdint>

#include "device/render_state.h"
#include "device/sprite_kernel.h"
#include "glide/board.h"

namespace glide {

// Which tiles were written since the last present, and which may hold anything but black. A
// tile that is known to be black needs no clearing, and one that was not written needs no
// redrawing on the screen; together they keep the show's per-frame clear and present small.
class DamageTracker {
public:
  // Pixels [columnBegin, columnEnd) of rows [rowBegin, rowEnd), top row first, were written.
  void MarkWritten(int columnBegin, int columnEnd, int rowBegin, int rowEnd);
  // Every tile is written, with black: the frame was blackened as a whole.
  void MarkAllBlack();
  // What changed since the last present; after presenting, Presented() starts afresh.
  const FrameDamage& Damage() const { return damage_; }
  void Presented();

  // Fills the window [columnBegin, columnEnd) × [rowBegin, rowEnd) of `pixels` (top row first)
  // with `colour`, skipping the whole tiles that are black already when the colour is black.
  void Fill(std::uint32_t* pixels, int columnBegin, int columnEnd, int rowBegin, int rowEnd, std::uint32_t colour);

private:
  FrameDamage damage_ = {};
  bool mayBeLit_[DamageRows][DamageColumns] = {};
};

// The back buffer, top row first, 0x00RRGGBB, with a few pixels of slack for the sprite code.
struct FrameBuffer {
  alignas(64) std::uint32_t pixels[ScreenWidth * ScreenHeight + FrameSlack] = {};
  DamageTracker damage;
};

// Fills the clip window of the frame with one 0x00RRGGBB colour.
void ClearClipWindow(const RenderState& state, std::uint32_t colour, FrameBuffer& frame);

} // namespace glide
