// Choosing the monitors of an X screen from RandR's and Xinerama's reports.
#include "monitors.h"

#include <algorithm>

namespace desktop {

std::vector<ScreenRect> ChooseMonitors(std::span<const ScreenRect> randr, std::span<const ScreenRect> xinerama,
                                       int screenWidth, int screenHeight) {
  const std::span<const ScreenRect> reported = xinerama.size() > randr.size() ? xinerama : randr;
  std::vector<ScreenRect> monitors;
  for (const ScreenRect& monitor : reported) {
    const int left = std::max(monitor.x, 0);
    const int top = std::max(monitor.y, 0);
    const int right = std::min(monitor.x + monitor.width, screenWidth);
    const int bottom = std::min(monitor.y + monitor.height, screenHeight);
    const ScreenRect clipped{left, top, right - left, bottom - top};
    if (clipped.width > 0 && clipped.height > 0 &&
        std::find(monitors.begin(), monitors.end(), clipped) == monitors.end()) {
      monitors.push_back(clipped);
    }
  }
  if (monitors.empty() && screenWidth > 0 && screenHeight > 0) {
    monitors.push_back({0, 0, screenWidth, screenHeight});
  }
  return monitors;
}

} // namespace desktop
