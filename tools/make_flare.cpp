// Writes our own flare texture: a soft round glow with a bright core that fades smoothly to black
// at the edges, 64 × 64 grey texels with its full chain of mipmap levels, as a .3df file.
//
//   make-flare <flare.3df> [--png <preview.png>]
//
// The preview shows every level side by side, each enlarged to 256 × 256 without filtering.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/tools.h"

namespace {

constexpr int LargestSize = 64;
constexpr int SamplesPerSide = 8; // per texel of the largest level, to smooth the glow's centre
constexpr int PreviewSide = 256;

// Brightness 0..1 at distance r from the centre, in units of half the texture's side. A narrow
// Gaussian core sits on a wide halo that reaches zero, with zero slope, at r = 1: the corners and
// edges are black, so wrapping never shows a seam and the sprite square never shows its outline,
// while overlapping sprites of a burst still melt into one glow.
double Glow(double r) {
  if (r >= 1.0) return 0.0;
  const double fade = 1.0 - r * r;
  const double core = std::exp(-r * r / (2 * 0.12 * 0.12));
  return 0.5 * core * fade + 0.5 * fade * fade;
}

// The largest level as exact brightness values, each the mean over a texel's area.
std::vector<double> RenderLargestLevel() {
  std::vector<double> values(LargestSize * LargestSize);
  const double centre = LargestSize / 2.0;
  for (int row = 0; row < LargestSize; ++row) {
    for (int column = 0; column < LargestSize; ++column) {
      double sum = 0;
      for (int sy = 0; sy < SamplesPerSide; ++sy) {
        for (int sx = 0; sx < SamplesPerSide; ++sx) {
          const double x = column + (sx + 0.5) / SamplesPerSide - centre;
          const double y = row + (sy + 0.5) / SamplesPerSide - centre;
          sum += Glow(std::hypot(x, y) / centre);
        }
      }
      values[row * LargestSize + column] = sum / (SamplesPerSide * SamplesPerSide);
    }
  }
  return values;
}

// Every level, largest first: each texel is the mean of the largest level's texels it covers,
// rounded once to 8 bits, so the small levels keep the glow's total brightness.
std::vector<std::vector<std::uint8_t>> BuildLevels() {
  const std::vector<double> largest = RenderLargestLevel();
  std::vector<std::vector<std::uint8_t>> levels;
  for (int size = LargestSize; size >= 1; size /= 2) {
    const int block = LargestSize / size;
    std::vector<std::uint8_t> level(size * size);
    for (int row = 0; row < size; ++row) {
      for (int column = 0; column < size; ++column) {
        double sum = 0;
        for (int y = 0; y < block; ++y) {
          for (int x = 0; x < block; ++x) sum += largest[(row * block + y) * LargestSize + column * block + x];
        }
        level[row * size + column] = static_cast<std::uint8_t>(std::lround(255.0 * sum / (block * block)));
      }
    }
    levels.push_back(std::move(level));
  }
  return levels;
}

bool WritePreview(const std::string& path, const std::vector<std::vector<std::uint8_t>>& levels) {
  const int width = PreviewSide * static_cast<int>(levels.size());
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * PreviewSide);
  for (std::size_t index = 0; index < levels.size(); ++index) {
    const int size = LargestSize >> index;
    for (int row = 0; row < PreviewSide; ++row) {
      for (int column = 0; column < PreviewSide; ++column) {
        const std::uint32_t value = levels[index][(row * size / PreviewSide) * size + column * size / PreviewSide];
        pixels[static_cast<std::size_t>(row) * width + index * PreviewSide + column] = value * 0x010101u;
      }
    }
  }
  return image_io::WritePng(path, pixels.data(), width, PreviewSide, width);
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2 && !(argc == 4 && std::string(argv[2]) == "--png")) {
    std::fprintf(stderr, "usage: make-flare <flare.3df> [--png <preview.png>]\n");
    return 2;
  }
  const auto levels = BuildLevels();
  tdf_writer::Texture texture;
  texture.format = GR_TEXFMT_INTENSITY_8; // 256 grey levels keep the glow smooth; the sprite colour tints it
  texture.smallSize = 1;
  texture.largeSize = LargestSize;
  for (const auto& level : levels) texture.texels.insert(texture.texels.end(), level.begin(), level.end());
  if (!tdf_writer::WriteFile(argv[1], tdf_writer::Encode(texture))) {
    std::fprintf(stderr, "make-flare: cannot write %s\n", argv[1]);
    return 1;
  }
  if (argc == 4 && !WritePreview(argv[3], levels)) {
    std::fprintf(stderr, "make-flare: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
