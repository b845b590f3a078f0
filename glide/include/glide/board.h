// The board seam: what shows the graphics library's finished frames, chosen before the display opens.
#pragma once

#include <cstdint>
#include <functional>

namespace glide {

inline constexpr int ScreenWidth = 640;
inline constexpr int ScreenHeight = 480;

// The library keeps track of what it writes in tiles of DamageTileWidth × DamageTileHeight
// pixels, so that a board can show a frame by redrawing only the tiles that changed.
inline constexpr int DamageTileWidth = 4;
inline constexpr int DamageTileHeight = 8;
inline constexpr int DamageColumns = ScreenWidth / DamageTileWidth;
inline constexpr int DamageRows = ScreenHeight / DamageTileHeight;
static_assert(DamageColumns * DamageTileWidth == ScreenWidth && DamageRows * DamageTileHeight == ScreenHeight);

// Which tiles of a frame may differ from the frame presented before it, tile rows top first.
// A tile that is not marked holds exactly what it held then.
struct FrameDamage {
  bool tiles[DamageRows][DamageColumns];
};

// A frame of ScreenWidth × ScreenHeight pixels, top row first; each pixel is 0x00RRGGBB.
struct FrameView {
  const std::uint32_t* pixels;
  int width;
  int height;
  int stride; // pixels from one row to the next
  // What changed since the previous frame presented on the same board; null: any pixel may have.
  const FrameDamage* damage = nullptr;
  std::uint32_t Pixel(int column, int rowFromTop) const { return pixels[rowFromTop * stride + column]; }
};

class Board {
public:
  virtual ~Board() = default;
  // True when there is a display a person can see.
  virtual bool QueryHardware() = 0;
  // Makes the display ready to show ScreenWidth × ScreenHeight frames; false when it cannot.
  virtual bool Open() = 0;
  // Shows a finished frame at the next vertical retrace (waiting for it, or pacing itself).
  virtual void Present(const FrameView& frame) = 0;
  // Gives the display back. Called by shutdown when a display is open.
  virtual void Close() = 0;
};

// A board without a display: it is always there, opens at once and keeps the presented frames
// in memory. `onPresent`, when set, sees every presented frame (tests and the recorder use it
// to advance a virtual clock or to write the frame out).
class HeadlessBoard final : public Board {
public:
  bool QueryHardware() override { return true; }
  bool Open() override;
  void Present(const FrameView& frame) override;
  void Close() override;

  std::function<void(const FrameView&)> onPresent;
  std::uint64_t PresentedFrames() const { return presentedFrames_; }
  bool IsOpen() const { return open_; }

private:
  std::uint64_t presentedFrames_ = 0;
  bool open_ = false;
};

// Chooses the board behind the library; null chooses the built-in headless board, which is
// also the choice when nothing was selected.
void SelectBoard(Board* board);

} // namespace glide
