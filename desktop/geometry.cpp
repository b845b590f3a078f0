// The 4:3 picture on a screen of any shape.
#include "geometry.h"

#include <algorithm>

namespace desktop {

ScreenRect PictureRect(int screenWidth, int screenHeight) {
  // Compare 4:3 against the screen's shape in integers: a screen wider than 4:3 gets bars left and
  // right, a taller one bars above and below.
  if (static_cast<long long>(screenWidth) * 3 >= static_cast<long long>(screenHeight) * 4) {
    const int width = static_cast<int>((static_cast<long long>(screenHeight) * 4 + 1) / 3);
    const int fitted = std::min(width, screenWidth);
    return {(screenWidth - fitted) / 2, 0, fitted, screenHeight};
  }
  const int height = static_cast<int>((static_cast<long long>(screenWidth) * 3 + 2) / 4);
  const int fitted = std::min(height, screenHeight);
  return {0, (screenHeight - fitted) / 2, screenWidth, fitted};
}

ScreenRect BoundedPictureRect(int screenWidth, int screenHeight) {
  const ScreenRect picture = PictureRect(screenWidth, screenHeight);
  if (picture.width <= LargestPictureWidth && picture.height <= LargestPictureHeight) {
    return picture;
  }
  const ScreenRect largest =
      PictureRect(std::min(screenWidth, LargestPictureWidth), std::min(screenHeight, LargestPictureHeight));
  return {(screenWidth - largest.width) / 2, (screenHeight - largest.height) / 2, largest.width, largest.height};
}

} // namespace desktop
