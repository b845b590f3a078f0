// Batching the X requests of a frame: the changed rectangles joined into fewer, larger ones.
#pragma once

#include <span>
#include <vector>

#include "frame_scaler.h"

namespace desktop {

// Rectangles that cover all of `rects`, in fewer requests to the X server: each rectangle is
// joined to the one before it when their union adds at most CoalesceLimit pixels. A request
// costs the server about as much as copying a few thousand pixels (measured under Xvfb), so
// joining the many small rectangles of a frame costs less than sending them one by one.
inline constexpr long long CoalesceLimit = 4096;
void CoalesceRects(std::span<const ScreenRect> rects, std::vector<ScreenRect>& out);

} // namespace desktop
