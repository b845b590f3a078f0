// The headless board: always present, opens at once, hands presented frames to its observer.
#include "glide/board.h"

namespace glide {

bool HeadlessBoard::Open() {
  open_ = true;
  return true;
}

void HeadlessBoard::Present(const FrameView& frame) {
  ++presentedFrames_;
  if (onPresent) onPresent(frame);
}

void HeadlessBoard::Close() { open_ = false; }

} // namespace glide
