// Batching the X requests of a frame: neighbouring rectangles joined while that adds little.
#include "request_batching.h"

#include <algorithm>

namespace desktop {

void CoalesceRects(std::span<const ScreenRect> rects, std::vector<ScreenRect>& out) {
  out.clear();
  for (const ScreenRect& rect : rects) {
    if (!out.empty()) {
      ScreenRect& last = out.back();
      const int left = std::min(last.x, rect.x);
      const int top = std::min(last.y, rect.y);
      const int right = std::max(last.x + last.width, rect.x + rect.width);
      const int bottom = std::max(last.y + last.height, rect.y + rect.height);
      const long long added = static_cast<long long>(right - left) * (bottom - top) -
                              static_cast<long long>(last.width) * last.height -
                              static_cast<long long>(rect.width) * rect.height;
      if (added <= CoalesceLimit) {
        last = {left, top, right - left, bottom - top};
        continue;
      }
    }
    out.push_back(rect);
  }
}

} // namespace desktop
