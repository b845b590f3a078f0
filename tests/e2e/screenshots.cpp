// Screenshots and images for whole-process tests: pictures of a screen, what they hold, and waiting for what they should show.
#include "screenshots.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace e2e {

using namespace support;

bool Near(Colour actual, Colour expected, int tolerance) {
  return std::abs(actual.red - expected.red) <= tolerance && std::abs(actual.green - expected.green) <= tolerance &&
         std::abs(actual.blue - expected.blue) <= tolerance;
}

std::string Describe(Colour colour) {
  return "(" + std::to_string(colour.red) + ", " + std::to_string(colour.green) + ", " + std::to_string(colour.blue) +
         ")";
}

std::vector<PatternSample> PatternSamples(Rect area, Rect picture) {
  const int right = picture.x + picture.width - 1;
  const int bottom = picture.y + picture.height - 1;
  const int areaRight = area.x + area.width - 1;
  const int areaBottom = area.y + area.height - 1;
  std::vector<PatternSample> samples = {
      {picture.x, picture.y, Red, "top left corner"},
      {right, picture.y, Green, "top right corner"},
      {picture.x, bottom, Blue, "bottom left corner"},
      {right, bottom, White, "bottom right corner"},
      {picture.x + picture.width / 4, picture.y + picture.height / 4, Red, "top left quarter"},
      {picture.x + 3 * picture.width / 4, picture.y + 3 * picture.height / 4, White, "bottom right quarter"},
  };
  // The bars must be black; without them there would be what lies underneath.
  const int middleRow = area.y + area.height / 2;
  const int middleColumn = area.x + area.width / 2;
  if (picture.x > area.x) {
    samples.push_back({area.x, middleRow, Black, "left bar, outer edge"});
    samples.push_back({picture.x - 1, middleRow, Black, "left bar, inner edge"});
    samples.push_back({right + 1, middleRow, Black, "right bar, inner edge"});
    samples.push_back({areaRight, areaBottom, Black, "right bar, corner"});
  }
  if (picture.y > area.y) {
    samples.push_back({middleColumn, area.y, Black, "top bar, outer edge"});
    samples.push_back({middleColumn, picture.y - 1, Black, "top bar, inner edge"});
    samples.push_back({middleColumn, bottom + 1, Black, "bottom bar, inner edge"});
    samples.push_back({areaRight, areaBottom, Black, "bottom bar, corner"});
  }
  return samples;
}

Colour Image::At(int x, int y) const {
  const std::size_t offset =
      (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
  return {rgb[offset], rgb[offset + 1], rgb[offset + 2]};
}

namespace {

// Calls `visit` with the colour of every pixel of `rect` that lies on the image.
template <typename Visit>
void ForEachPixel(const Image& image, Rect rect, Visit visit) {
  for (int y = std::max(rect.y, 0); y < std::min(rect.y + rect.height, image.height); ++y) {
    for (int x = std::max(rect.x, 0); x < std::min(rect.x + rect.width, image.width); ++x) {
      visit(x, y, image.At(x, y));
    }
  }
}

} // namespace

int Image::CountEqual(Rect rect, std::uint32_t colour) const {
  const Colour wanted{static_cast<int>(colour >> 16), static_cast<int>((colour >> 8) & 0xFF),
                      static_cast<int>(colour & 0xFF)};
  int count = 0;
  ForEachPixel(*this, rect, [&](int, int, Colour c) {
    count += c.red == wanted.red && c.green == wanted.green && c.blue == wanted.blue ? 1 : 0;
  });
  return count;
}

int Image::CountBlack(Rect rect) const {
  int count = 0;
  ForEachPixel(*this, rect, [&](int, int, Colour c) { count += std::max({c.red, c.green, c.blue}) < 8 ? 1 : 0; });
  return count;
}

int Image::CountBrightColoured(Rect rect) const {
  int count = 0;
  ForEachPixel(*this, rect, [&](int, int, Colour c) {
    const int brightest = std::max({c.red, c.green, c.blue});
    const int dimmest = std::min({c.red, c.green, c.blue});
    count += brightest > 160 && brightest - dimmest > 60 ? 1 : 0;
  });
  return count;
}

int Image::CountDifferent(const Image& other, Rect inside, Rect outside) const {
  int count = 0;
  ForEachPixel(*this, inside, [&](int x, int y, Colour c) {
    if (outside.Contains(x, y) || x >= other.width || y >= other.height) return;
    const Colour o = other.At(x, y);
    count += c.red != o.red || c.green != o.green || c.blue != o.blue ? 1 : 0;
  });
  return count;
}

std::optional<Image> Screenshot(const std::string& display, const std::string& workPath) {
  const Ended taken = RunToEnd({"import", "-display", display, "-window", "root", "-depth", "8", "ppm:" + workPath});
  return taken.exitCode == 0 ? ReadPpm(workPath) : std::nullopt;
}

std::optional<Image> WaitForShot(const std::function<std::optional<Image>()>& take,
                                 const std::function<bool(const Image&)>& condition) {
  std::optional<Image> shot;
  const bool seen = Eventually(
      [&] {
        shot = take();
        return shot && condition(*shot);
      },
      std::chrono::milliseconds(100));
  return seen ? shot : std::nullopt;
}

std::optional<Image> WaitForScreen(const XvfbServer& server, const std::string& workPath,
                                   const std::function<bool(const Image&)>& condition) {
  return WaitForShot([&] { return Screenshot(server.Display(), workPath); }, condition);
}

std::optional<Image> WaitUntilPainted(const XvfbServer& server, Rect rect, const std::string& workPath) {
  return WaitForScreen(server, workPath,
                       [rect](const Image& shot) { return shot.CountEqual(rect, HostWindow::Background) == 0; });
}

std::optional<Image> WaitForSparks(const XvfbServer& server, Rect rect, const std::string& workPath) {
  return WaitForScreen(server, workPath,
                       [rect](const Image& shot) { return shot.CountBrightColoured(rect) > FewestSparkPixels; });
}

std::optional<Image> ReadPpm(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string magic;
  Image image;
  int maximum = 0;
  if (!(file >> magic >> image.width >> image.height >> maximum) || magic != "P6" || maximum != 255 ||
      image.width <= 0 || image.height <= 0) {
    return std::nullopt;
  }
  file.get(); // the single white-space character before the pixels
  image.rgb.resize(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3);
  if (!file.read(reinterpret_cast<char*>(image.rgb.data()), static_cast<std::streamsize>(image.rgb.size()))) {
    return std::nullopt;
  }
  return image;
}

std::vector<Rect> PicturesIn(const std::vector<Rect>& monitors) {
  std::vector<Rect> pictures;
  for (const Rect& monitor : monitors) {
    const int width = std::min(monitor.width, monitor.height * 4 / 3);
    const int height = std::min(monitor.height, monitor.width * 3 / 4);
    pictures.push_back(
        {monitor.x + (monitor.width - width) / 2, monitor.y + (monitor.height - height) / 2, width, height});
  }
  return pictures;
}

std::optional<Image> WaitForPictures(const XvfbServer& server, const std::vector<Rect>& pictures,
                                     const std::string& workPath) {
  return WaitForScreen(server, workPath, [&](const Image& shot) {
    int outside = shot.width * shot.height;
    for (const Rect& picture : pictures) {
      if (shot.CountBrightColoured(picture) <= FewestSparkPixels) return false;
      outside -= picture.width * picture.height;
    }
    int blackOutside = shot.CountBlack(server.Screen());
    for (const Rect& picture : pictures) blackOutside -= shot.CountBlack(picture);
    return blackOutside == outside;
  });
}

} // namespace e2e
