// Screenshots and images for whole-process tests: pictures of a screen, what they hold, and waiting for what they should show.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "x_servers.h"

namespace e2e {

// A running show has a hundred bright coloured pixels or more in a 400×300 picture once the first
// rockets have burst; a show that has not drawn has none, and neither has a black lock screen.
inline constexpr int FewestSparkPixels = 50;

struct Colour {
  int red;
  int green;
  int blue;
};
// Whether each channel is within `tolerance` of the expected one's.
bool Near(Colour actual, Colour expected, int tolerance);
// The colour as "(red, green, blue)", for a failure's message.
std::string Describe(Colour colour);

// The desktop probe's pattern: the frame's top half red on the left and green on the right, its
// bottom half blue and white.
inline constexpr Colour Black{0, 0, 0}, Red{255, 0, 0}, Green{0, 255, 0}, Blue{0, 0, 255}, White{255, 255, 255};

// Where the pattern must show in `picture`, and black bars around it in `area` (the screen, an
// output or a host's window): points of a screenshot and their colours, each with what it is.
struct PatternSample {
  int x, y;
  Colour expected;
  const char* what;
};
std::vector<PatternSample> PatternSamples(Rect area, Rect picture);

// An RGB image read from a screenshot.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
  Colour At(int x, int y) const;
  // How many pixels of `rect` hold exactly this colour (0xRRGGBB).
  int CountEqual(Rect rect, std::uint32_t colour) const;
  // How many pixels of `rect` are next to black (every channel under 8).
  int CountBlack(Rect rect) const;
  // How many pixels of `rect` are bright and coloured, as sparks of fireworks are.
  int CountBrightColoured(Rect rect) const;
  // How many pixels inside `inside` and outside `outside` differ from those of `other`.
  int CountDifferent(const Image& other, Rect inside, Rect outside = {0, 0, 0, 0}) const;
};

// Reads a binary PPM (P6, 8 bits per channel); nullopt when the file is not one.
std::optional<Image> ReadPpm(const std::string& path);

// A picture of the whole screen of `display`, taken with ImageMagick's `import`.
std::optional<Image> Screenshot(const std::string& display, const std::string& workPath);

// Takes shots with `take` until one satisfies `condition`, and returns it; nullopt if none does
// within PatienceLimit.
std::optional<Image> WaitForShot(const std::function<std::optional<Image>()>& take,
                                 const std::function<bool(const Image&)>& condition);

// Takes screenshots until one satisfies `condition`, and returns it; nullopt if none does
// within PatienceLimit.
std::optional<Image> WaitForScreen(const XvfbServer& server, const std::string& workPath,
                                   const std::function<bool(const Image&)>& condition);

// Waits until nothing of a host window's own background is left in `rect`, the sign that a show
// has drawn all over it; the last screenshot, or nullopt if that did not happen in time.
std::optional<Image> WaitUntilPainted(const XvfbServer& server, Rect rect, const std::string& workPath);

// Waits until the show has burst rockets in `rect`: the screenshot that shows them.
std::optional<Image> WaitForSparks(const XvfbServer& server, Rect rect, const std::string& workPath);

// The show's pictures on a screen: one in each monitor (a head), 4:3 kept within it, black bars
// beside it.
std::vector<Rect> PicturesIn(const std::vector<Rect>& monitors);

// Waits until every picture has sparks while everything outside the pictures stays black: the
// screenshot that shows it.
std::optional<Image> WaitForPictures(const XvfbServer& server, const std::vector<Rect>& pictures,
                                     const std::string& workPath);

} // namespace e2e
