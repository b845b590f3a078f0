// The screen's geometry: rectangles of pixels, the 4:3 picture on a screen, and where a window's pictures go.
#pragma once

#include <vector>

namespace desktop {

// A rectangle of pixels, from its top left corner.
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

// The largest picture the show keeps in memory of its own for one area. A 3840×2160 monitor gets
// its whole picture (2880×2160), and so do two of them side by side or one above the other
// (3840×2880) in one area; a larger area gets this picture, 48 MB, centred in it.
inline constexpr int LargestPictureWidth = 4096;
inline constexpr int LargestPictureHeight = 3072;

// PictureRect, at most LargestPictureWidth × LargestPictureHeight: where the 4:3 rectangle would be
// larger, the largest picture centred on the screen, with black all around it.
ScreenRect BoundedPictureRect(int screenWidth, int screenHeight);

// Where the show's pictures go in one window: the window's size, and the areas of it that each
// get the picture, 4:3 kept (one a monitor in the show's own window, or the whole of a host's
// window). Everything else of the window is black.
struct WindowLayout {
  int width = 0;
  int height = 0;
  std::vector<ScreenRect> areas; // in window coordinates, none the same as another
  bool operator==(const WindowLayout&) const = default;
};

} // namespace desktop
