// The context's session with its board, and its frame: clearing, presenting and drawing.
#include "api/context.h"

#include <algorithm>
#include <cstring>

namespace glide {

Context& TheContext() {
  static Context context;
  return context;
}

void Context::SetObserver(OperationObserver observer, void* observerContext) {
  observer_ = observer;
  observerContext_ = observerContext;
}

void Context::Init() {
  if (initialised_) return;
  state_ = DefaultRenderState();
  textures_.Reset();
  initialised_ = true;
}

bool Context::QueryHardware(GrHwConfiguration* configuration) {
  const bool found = CurrentBoard().QueryHardware();
  if (configuration) {
    std::memset(configuration, 0, sizeof *configuration);
    if (found) {
      configuration->num_sst = 1;
      configuration->SSTs[0].type = GR_SSTTYPE_VOODOO;
      configuration->SSTs[0].fbRam = 4;
      configuration->SSTs[0].nTexelfx = 1;
      configuration->SSTs[0].tmuRam = static_cast<int>(TextureMemoryBytes >> 20);
    }
  }
  return found;
}

bool Context::OpenDisplay(GrScreenResolution_t resolution, GrColorFormat_t colorFormat, GrOriginLocation_t origin) {
  // This library draws 640 × 480 with the origin at the lower left, and nothing else.
  if (!initialised_ || displayOpen_ || resolution != GR_RESOLUTION_640x480 || origin != GR_ORIGIN_LOWER_LEFT ||
      (colorFormat != GR_COLORFORMAT_ARGB && colorFormat != GR_COLORFORMAT_ABGR)) {
    return false;
  }
  Board& board = CurrentBoard();
  if (!board.Open()) return false;
  openBoard_ = &board;
  displayOpen_ = true;
  colorFormat_ = colorFormat;
  // A new display shows the whole first frame.
  std::fill(std::begin(frame_.pixels), std::end(frame_.pixels), 0u);
  frame_.damage.MarkAllBlack();
  return true;
}

void Context::Shutdown() {
  if (!initialised_) return;
  if (displayOpen_ && openBoard_) openBoard_->Close();
  displayOpen_ = false;
  openBoard_ = nullptr;
  textures_.Reset();
  state_ = DefaultRenderState();
  initialised_ = false;
}

void Context::SelectBoard(Board* board) { selectedBoard_ = board; }

void Context::Clear(GrColor_t color) {
  // The frame keeps colour only: no alpha or depth planes are cleared.
  std::uint32_t rgb = color & 0xFFFFFF;
  if (colorFormat_ == GR_COLORFORMAT_ABGR) rgb = (color & 0xFF) << 16 | (color & 0xFF00) | (color >> 16 & 0xFF);
  ClearClipWindow(state_, rgb, frame_);
}

void Context::Swap() {
  if (!displayOpen_ || !openBoard_) return;
  openBoard_->Present({frame_.pixels, ScreenWidth, ScreenHeight, ScreenWidth, &frame_.damage.Damage()});
  frame_.damage.Presented();
}

void Context::DrawTriangle(const GrVertex* a, const GrVertex* b, const GrVertex* c) {
  if (!a || !b || !c) return;
  rasterizer_.Draw(*a, *b, *c, state_, textures_, frame_);
}

FrameView Context::Frame() {
  Flush();
  return {frame_.pixels, ScreenWidth, ScreenHeight, ScreenWidth};
}

bool Context::SelectSpritePath(SpritePath path) {
  Flush();
  return rasterizer_.SelectPath(path);
}

} // namespace glide
