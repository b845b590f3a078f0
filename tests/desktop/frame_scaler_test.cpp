// Tests of fitting the frame to a screen: the picture rectangle, the scaler of what changed and the pacer.
#include "damage.h"
#include "frame_pacer.h"
#include "frame_scaler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/frames.h"

namespace {

using desktop::FrameScaler;
using desktop::ScreenRect;

// Marks screen pixels that the scaler must leave alone.
constexpr std::uint32_t Untouched = 0xDEADBEEF;

struct Frame {
  std::vector<std::uint32_t> pixels = std::vector<std::uint32_t>(glide::ScreenWidth * glide::ScreenHeight);
  glide::FrameView View() const { return {pixels.data(), glide::ScreenWidth, glide::ScreenHeight, glide::ScreenWidth}; }
};

// A frame of unrelated pixels from a fixed linear congruential sequence, so that every channel
// of every pixel differs from its neighbours.
Frame NoiseFrame(std::uint32_t seed) {
  Frame frame;
  std::uint32_t state = seed;
  for (std::uint32_t& pixel : frame.pixels) {
    state = state * 1664525u + 1013904223u;
    pixel = state >> 8;
  }
  return frame;
}

// A screen as the board hands it over: the picture black, everything else marked Untouched.
struct Screen {
  int width;
  int height;
  std::vector<std::uint32_t> pixels;
  Screen(int screenWidth, int screenHeight)
      : width(screenWidth), height(screenHeight),
        pixels(static_cast<std::size_t>(screenWidth) * static_cast<std::size_t>(screenHeight), Untouched) {
    const ScreenRect picture = desktop::PictureRect(screenWidth, screenHeight);
    for (int y = picture.y; y < picture.y + picture.height; ++y) {
      std::fill_n(pixels.begin() + static_cast<std::ptrdiff_t>(y) * width + picture.x, picture.width, 0u);
    }
  }
  std::uint32_t At(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
  }
  // Brings the picture up to date with `frame`, told how it differs from `previous` when that is
  // given; the rectangles redrawn, in screen coordinates.
  std::vector<ScreenRect> Update(FrameScaler& scaler, const Frame& frame, const Frame* previous = nullptr) {
    const ScreenRect picture = scaler.Picture();
    glide::FrameView view = frame.View();
    const glide::FrameDamage damage =
        previous != nullptr ? support::DamageBetween(previous->pixels, frame.pixels) : glide::FrameDamage{};
    if (previous != nullptr) {
      view.damage = &damage;
    }
    std::vector<ScreenRect> redrawn;
    for (ScreenRect rect :
         scaler.Update(view, pixels.data() + static_cast<std::ptrdiff_t>(picture.y) * width + picture.x, width)) {
      redrawn.push_back({picture.x + rect.x, picture.y + rect.y, rect.width, rect.height});
    }
    return redrawn;
  }
};

// Squares of `size` pixels, each in its own colour, with their top left corners at `corners`
// (x, y); everything else black.
Frame SquaresFrame(const std::vector<std::pair<int, int>>& corners, int size) {
  Frame frame;
  std::uint32_t colour = 0x3060F0;
  for (const auto& [left, top] : corners) {
    colour = colour * 2654435761u >> 8 | 0x010101;
    for (int y = top; y < std::min(top + size, glide::ScreenHeight); ++y) {
      for (int x = left; x < std::min(left + size, glide::ScreenWidth); ++x) {
        frame.pixels[static_cast<std::size_t>(y) * glide::ScreenWidth + static_cast<std::size_t>(x)] = colour;
      }
    }
  }
  return frame;
}

int Channel(std::uint32_t pixel, int shift) { return static_cast<int>((pixel >> shift) & 0xFF); }

// Bilinear filtering written out plainly in floating point, pixel centres aligned and edges
// clamped: what the integer tables must reproduce to within the rounding of their 256ths.
double Reference(const Frame& frame, double sourceX, double sourceY, int shift) {
  const auto clampTo = [](double value, int size) { return std::clamp(value, 0.0, static_cast<double>(size - 1)); };
  const double x = clampTo(sourceX, glide::ScreenWidth);
  const double y = clampTo(sourceY, glide::ScreenHeight);
  const int x0 = static_cast<int>(x);
  const int y0 = static_cast<int>(y);
  const int x1 = std::min(x0 + 1, glide::ScreenWidth - 1);
  const int y1 = std::min(y0 + 1, glide::ScreenHeight - 1);
  const double fx = x - x0;
  const double fy = y - y0;
  const auto sample = [&](int column, int row) {
    return static_cast<double>(Channel(
        frame.pixels[static_cast<std::size_t>(row) * glide::ScreenWidth + static_cast<std::size_t>(column)], shift));
  };
  const double upper = sample(x0, y0) * (1 - fx) + sample(x1, y0) * fx;
  const double lower = sample(x0, y1) * (1 - fx) + sample(x1, y1) * fx;
  return upper * (1 - fy) + lower * fy;
}

TEST(PictureRect, LargestCentredFourByThree) {
  struct Case {
    int width;
    int height;
    ScreenRect expected;
  };
  const Case cases[] = {
      {640, 480, {0, 0, 640, 480}},       // the frame's own size
      {1024, 768, {0, 0, 1024, 768}},     // 4:3, larger
      {1920, 1080, {240, 0, 1440, 1080}}, // wide: bars left and right
      {2560, 1080, {560, 0, 1440, 1080}},
      {1366, 768, {171, 0, 1024, 768}},  // an odd leftover: the extra column goes right
      {1280, 1024, {0, 32, 1280, 960}},  // 5:4: bars above and below
      {1080, 1920, {0, 555, 1080, 810}}, // portrait
      {1001, 751, {0, 0, 1001, 751}},    // nearest whole pixels to 4:3
      {1280, 800, {106, 0, 1067, 800}},  // 16:10: 1066.7 columns round up
      {320, 240, {0, 0, 320, 240}},      // smaller than the frame
  };
  for (const Case& c : cases) {
    EXPECT_EQ(desktop::PictureRect(c.width, c.height), c.expected) << c.width << "x" << c.height;
  }
}

TEST(BoundedPictureRect, KeepsEveryMonitorsWholePictureUpToTheBoundAndCentresTheLargestBeyondIt) {
  struct Case {
    int width;
    int height;
    ScreenRect expected;
  };
  const Case cases[] = {
      {1920, 1080, {240, 0, 1440, 1080}},  // as PictureRect
      {3840, 2160, {480, 0, 2880, 2160}},  // a 4K monitor
      {7680, 2160, {2400, 0, 2880, 2160}}, // two of them side by side in one area
      {3840, 4320, {0, 720, 3840, 2880}},  // and one above the other
      {4096, 3072, {0, 0, 4096, 3072}},    // the largest picture itself
      {7680, 4320, {1792, 624, 4096, 3072}}, {32767, 24575, {14335, 10751, 4096, 3072}},
      {5000, 3200, {452, 64, 4096, 3072}}, // just over the bound in both directions
  };
  for (const Case& c : cases) {
    EXPECT_EQ(desktop::BoundedPictureRect(c.width, c.height), c.expected) << c.width << "x" << c.height;
  }
}

TEST(FrameScalerTaps, KnownTables) {
  using Tap = FrameScaler::Tap;
  struct Case {
    int source;
    int output;
    std::vector<Tap> expected;
  };
  const Case cases[] = {
      {4, 4, {{0, 1, 0}, {1, 2, 0}, {2, 3, 0}, {3, 3, 0}}},                // identity: no mixing
      {2, 4, {{0, 1, 0}, {0, 1, 64}, {0, 1, 192}, {1, 1, 0}}},             // doubling, edges clamped
      {4, 2, {{0, 1, 128}, {2, 3, 128}}},                                  // halving: midway pairs
      {3, 5, {{0, 1, 0}, {0, 1, 102}, {1, 2, 0}, {1, 2, 154}, {2, 2, 0}}}, // 3/5: centre lands on a sample
  };
  for (const Case& c : cases) {
    const std::vector<Tap> taps = FrameScaler::MakeTaps(c.source, c.output);
    ASSERT_EQ(taps.size(), c.expected.size()) << c.source << "->" << c.output;
    for (std::size_t index = 0; index < taps.size(); ++index) {
      EXPECT_EQ(taps[index].first, c.expected[index].first) << c.source << "->" << c.output << " at " << index;
      EXPECT_EQ(taps[index].second, c.expected[index].second) << c.source << "->" << c.output << " at " << index;
      EXPECT_EQ(taps[index].weight, c.expected[index].weight) << c.source << "->" << c.output << " at " << index;
    }
  }
}

TEST(FrameScalerTaps, StayInsideTheSourceAndMirrorAboutTheCentre) {
  struct Case {
    int source;
    int output;
  };
  for (const Case c :
       {Case{640, 1440}, Case{480, 1080}, Case{640, 1024}, Case{480, 960}, Case{640, 171}, Case{480, 810}}) {
    const auto taps = FrameScaler::MakeTaps(c.source, c.output);
    for (std::size_t index = 0; index < taps.size(); ++index) {
      const auto& tap = taps[index];
      ASSERT_GE(tap.first, 0);
      ASSERT_LT(tap.second, c.source);
      ASSERT_TRUE(tap.second == tap.first + 1 || (tap.second == tap.first && tap.weight == 0));
      ASSERT_LT(tap.weight, 256u);
      if (index > 0) {
        ASSERT_GE(tap.first * 256 + static_cast<int>(tap.weight),
                  taps[index - 1].first * 256 + static_cast<int>(taps[index - 1].weight));
      }
      // Output samples i and n-1-i lie at mirrored positions about the source's centre; the
      // tables round each to 256ths, so the two may differ by one.
      const auto& mirror = taps[taps.size() - 1 - index];
      const int position = tap.first * 256 + static_cast<int>(tap.weight);
      const int mirrored = mirror.first * 256 + static_cast<int>(mirror.weight);
      const bool clamped = position == 0 || mirrored == 0;
      if (!clamped) {
        EXPECT_NEAR(position + mirrored, (c.source - 1) * 256, 1) << c.source << "->" << c.output << " at " << index;
      }
    }
  }
}

struct ScreenCase {
  int width;
  int height;
  std::string Name() const { return std::to_string(width) + "x" + std::to_string(height); }
};
const ScreenCase ScreenSizes[] = {{640, 480},  {1024, 768}, {1920, 1080}, {1280, 1024},
                                  {1366, 768}, {320, 240},  {1080, 1920}};

// What a scaler that sees only `frame` draws on a fresh screen: what any redraw must end as.
std::vector<std::uint32_t> FullRedraw(const ScreenCase& c, const Frame& frame) {
  FrameScaler fresh(c.width, c.height);
  Screen full(c.width, c.height);
  full.Update(fresh, frame);
  return full.pixels;
}

// Checks a scaled screen against plain bilinear filtering of `frame`: the bars untouched, black
// exactly where the filtered frame is black, and every channel within the rounding of the
// integer tables (each of the two passes rounds once, and positions are in 256ths).
void ExpectScaledFrom(const Frame& frame, const Screen& screen, const std::string& name) {
  const ScreenRect picture = desktop::PictureRect(screen.width, screen.height);
  const double scaleX = static_cast<double>(glide::ScreenWidth) / picture.width;
  const double scaleY = static_cast<double>(glide::ScreenHeight) / picture.height;
  int worst = 0;
  for (int y = 0; y < screen.height; ++y) {
    for (int x = 0; x < screen.width; ++x) {
      const bool inside =
          x >= picture.x && x < picture.x + picture.width && y >= picture.y && y < picture.y + picture.height;
      if (!inside) {
        ASSERT_EQ(screen.At(x, y), Untouched) << name << ": bar pixel " << x << "," << y;
        continue;
      }
      ASSERT_EQ(screen.At(x, y) >> 24, 0u) << name << ": bits above red at " << x << "," << y;
      const double sourceX = (x - picture.x + 0.5) * scaleX - 0.5;
      const double sourceY = (y - picture.y + 0.5) * scaleY - 0.5;
      for (int shift : {0, 8, 16}) {
        const double expected = Reference(frame, sourceX, sourceY, shift);
        const int actual = Channel(screen.At(x, y), shift);
        if (expected == 0) {
          ASSERT_EQ(actual, 0) << name << ": stray light at " << x << "," << y;
        }
        worst = std::max(worst, static_cast<int>(std::ceil(std::abs(actual - expected))));
      }
    }
  }
  EXPECT_LE(worst, 2) << name;
}

TEST(FrameScaler, MatchesPlainBilinearFilteringAndLeavesTheBars) {
  for (const ScreenCase c : ScreenSizes) {
    FrameScaler scaler(c.width, c.height);
    Screen screen(c.width, c.height);
    // Scale one frame, then another: the second result must not keep anything of the first.
    const Frame first = NoiseFrame(1);
    screen.Update(scaler, first);
    const Frame frame = NoiseFrame(2);
    screen.Update(scaler, frame, &first);
    ExpectScaledFrom(frame, screen, c.Name());
  }
}

TEST(FrameScaler, RedrawsOnlyWhatChangedAndEndsAsAFullRedrawWould) {
  // Sparks that move, vanish and come back, as fireworks do; in between, a black frame and a
  // full one. After every frame the picture must be exactly what a scaler that saw only that
  // frame draws on a black screen: nothing left over, nothing missed. Every pixel that changed
  // must lie in a reported rectangle, and a small change must not redraw much more than the
  // tiles it touches.
  using Corners = std::vector<std::pair<int, int>>;
  struct Step {
    Frame frame;
    int changedTiles; // source tiles that differ from the step before, when it is a few; 0: many
  };
  const std::vector<Step> sequence = {
      {SquaresFrame({{300, 400}}, 3), 0}, // the first frame: drawn whole
      {SquaresFrame({{301, 400}}, 3), 1}, // one column further
      {SquaresFrame({{300, 380}, {100, 20}}, 6), 9},
      {SquaresFrame({{0, 0}, {637, 477}, {320, 240}}, 3), 0},     // corners and centre
      {SquaresFrame(Corners{}, 0), 0},                            // all black
      {SquaresFrame({{200, 100}, {204, 100}, {600, 101}}, 4), 0}, // sparks far apart on one row
      {NoiseFrame(7), 0},
      {SquaresFrame({{50, 460}}, 12), 0},
      {SquaresFrame({{50, 461}}, 12), 8}, // a spark one row lower
      {SquaresFrame(Corners{}, 0), 0},
  };
  for (const ScreenCase c : ScreenSizes) {
    FrameScaler scaler(c.width, c.height);
    Screen screen(c.width, c.height);
    const ScreenRect picture = scaler.Picture();
    // Screen pixels per source tile, rounded up, plus the neighbours that bilinear filtering reaches.
    const long tileArea = static_cast<long>((FrameScaler::TileWidth + 2) * picture.width / glide::ScreenWidth + 2) *
                          ((FrameScaler::TileHeight + 2) * picture.height / glide::ScreenHeight + 2);
    for (std::size_t index = 0; index < sequence.size(); ++index) {
      const std::string name = c.Name() + " frame " + std::to_string(index);
      const std::vector<std::uint32_t> before = screen.pixels;
      const Frame black;
      const std::vector<ScreenRect> redrawn =
          screen.Update(scaler, sequence[index].frame, index == 0 ? &black : &sequence[index - 1].frame);
      ASSERT_TRUE(screen.pixels == FullRedraw(c, sequence[index].frame))
          << name << ": the picture differs from a full redraw";
      long area = 0;
      for (const ScreenRect& rect : redrawn) {
        area += static_cast<long>(rect.width) * rect.height;
      }
      for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
          const std::size_t at =
              static_cast<std::size_t>(y) * static_cast<std::size_t>(c.width) + static_cast<std::size_t>(x);
          if (screen.pixels[at] != before[at]) {
            ASSERT_TRUE(std::any_of(
                redrawn.begin(), redrawn.end(),
                [&](const ScreenRect& r) { return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height; }))
                << name << ": pixel " << x << "," << y << " changed outside the reported rectangles";
          }
        }
      }
      if (sequence[index].changedTiles > 0) {
        EXPECT_LE(area, sequence[index].changedTiles * tileArea) << name << ": redrew far more than changed";
      }
    }
  }
}

TEST(FrameScaler, RedrawsWhatTheDamageSaysAndAllOfAFrameThatSaysNothing) {
  for (const ScreenCase c : ScreenSizes) {
    const std::string name = c.Name();
    FrameScaler scaler(c.width, c.height);
    Screen screen(c.width, c.height);
    const Frame black;
    const Frame spark = SquaresFrame({{10, 10}}, 2);
    const Frame moved = SquaresFrame({{300, 200}}, 2);
    // The first frame is drawn whole, whatever its damage says; only lit pixels change a black picture.
    EXPECT_FALSE(screen.Update(scaler, spark, &spark).empty()) << name << ": the first frame was not drawn";
    EXPECT_TRUE(screen.Update(scaler, spark, &spark).empty()) << name;
    EXPECT_FALSE(screen.Update(scaler, black, &spark).empty()) << name;
    EXPECT_TRUE(screen.Update(scaler, black, &black).empty()) << name;
    // A frame that says nothing of what changed may have changed anywhere.
    screen.Update(scaler, moved);
    EXPECT_EQ(screen.pixels, FullRedraw(c, moved)) << name << ": a frame without damage was not drawn whole";
    EXPECT_FALSE(screen.Update(scaler, black, &moved).empty()) << name << ": the spark must be cleared";
    EXPECT_EQ(screen.pixels, Screen(c.width, c.height).pixels) << name << ": the spark was not cleared";
  }
}

TEST(FrameScaler, AScaledPictureRedrawsWhereTilesChangedNotWhereTheyWereMarked) {
  // The library may mark tiles that hold what they held before. Marked all over, with one pixel
  // changed, a scaled picture redraws about what that pixel reaches and still ends as a full
  // redraw would; a picture that is the frame copies what was marked.
  glide::FrameDamage everything;
  std::fill_n(&everything.tiles[0][0], glide::DamageRows * glide::DamageColumns, true);
  const Frame before = SquaresFrame({{100, 100}, {400, 300}}, 6);
  Frame after = before;
  after.pixels[200 * glide::ScreenWidth + 250] = 0xFFFFFF;
  for (const ScreenCase c : ScreenSizes) {
    const std::string name = c.Name();
    FrameScaler scaler(c.width, c.height);
    Screen screen(c.width, c.height);
    screen.Update(scaler, before);
    glide::FrameView view = after.View();
    view.damage = &everything;
    const ScreenRect picture = scaler.Picture();
    long area = 0;
    for (const ScreenRect& rect : scaler.Update(
             view, screen.pixels.data() + static_cast<std::ptrdiff_t>(picture.y) * c.width + picture.x, c.width)) {
      area += static_cast<long>(rect.width) * rect.height;
    }
    const long reach =
        static_cast<long>(3 * picture.width / glide::ScreenWidth + 2) * (3 * picture.height / glide::ScreenHeight + 2);
    if (picture.width == glide::ScreenWidth && picture.height == glide::ScreenHeight) {
      EXPECT_EQ(area, static_cast<long>(glide::ScreenWidth) * glide::ScreenHeight) << name;
    } else {
      EXPECT_LE(area, reach) << name;
      EXPECT_GT(area, 0) << name;
    }
    EXPECT_EQ(screen.pixels, FullRedraw(c, after)) << name;
  }
}

TEST(FrameScaler, KeepsFlatColoursExactAndTheTopRowOnTop) {
  // Quadrants of pure colours: a flat area must come out exactly (no darkening from rounding),
  // and the frame's top rows and left columns must land at the screen's top and left.
  const auto [topLeft, topRight] = support::QuadrantColours[0];
  const auto [bottomLeft, bottomRight] = support::QuadrantColours[1];
  const Frame frame{support::QuadrantsFrame()};
  for (const ScreenCase c : ScreenSizes) {
    FrameScaler scaler(c.width, c.height);
    Screen screen(c.width, c.height);
    screen.Update(scaler, frame);
    const ScreenRect p = scaler.Picture();
    const int right = p.x + p.width - 1;
    const int bottom = p.y + p.height - 1;
    EXPECT_EQ(screen.At(p.x, p.y), topLeft) << c.Name();
    EXPECT_EQ(screen.At(right, p.y), topRight) << c.Name();
    EXPECT_EQ(screen.At(p.x, bottom), bottomLeft) << c.Name();
    EXPECT_EQ(screen.At(right, bottom), bottomRight) << c.Name();
    EXPECT_EQ(screen.At(p.x + p.width / 4, p.y + p.height / 4), topLeft) << c.Name();
    EXPECT_EQ(screen.At(p.x + 3 * p.width / 4, p.y + 3 * p.height / 4), bottomRight) << c.Name();
  }
}

TEST(CoalesceRects, JoinsNeighboursWhoseUnionAddsLittle) {
  // The corner that a 64×64 square and a 128×64 band below it leave out is 4,096 pixels: exactly
  // the most a join may add.
  struct Case {
    const char* name;
    std::vector<ScreenRect> rects;
    std::vector<ScreenRect> expected;
  };
  const std::vector<Case> cases = {
      {"none", {}, {}},
      {"one run after another", {{0, 0, 8, 8}, {12, 0, 8, 8}, {24, 0, 4, 8}}, {{0, 0, 28, 8}}},
      {"the next tile row", {{100, 0, 20, 8}, {96, 8, 20, 8}}, {{96, 0, 24, 16}}},
      {"a union that adds exactly the limit", {{0, 0, 64, 64}, {0, 64, 128, 64}}, {{0, 0, 128, 128}}},
      {"a union that adds more", {{0, 0, 64, 64}, {0, 64, 129, 64}}, {{0, 0, 64, 64}, {0, 64, 129, 64}}},
      {"far apart", {{0, 0, 4, 8}, {600, 400, 4, 8}, {604, 400, 4, 8}}, {{0, 0, 4, 8}, {600, 400, 8, 8}}},
  };
  std::vector<ScreenRect> out;
  for (const Case& c : cases) {
    desktop::CoalesceRects(c.rects, out);
    EXPECT_EQ(out, c.expected) << c.name;
  }
}

TEST(FramePacer, FramesComeAtMostOncePerPeriodAndNeverCatchUp) {
  using Clock = desktop::FramePacer::Clock;
  const Clock::duration period = desktop::FramePacer::Period;
  const auto ms = [](int value) { return Clock::duration(std::chrono::milliseconds(value)); };
  struct Step {
    Clock::duration now;      // when the frame is ready
    Clock::duration expected; // when it is to be shown
  };
  const std::vector<Step> steps = {
      {ms(100), ms(100)},                           // the first frame goes at once
      {ms(101), ms(100) + period},                  // a quick frame waits a full period
      {ms(100) + period, ms(100) + 2 * period},     // so does one ready exactly on time
      {ms(500), ms(500)},                           // a late frame goes at once...
      {ms(501), ms(500) + period},                  // ...and the next does not catch up
      {ms(500) + 2 * period, ms(500) + 2 * period}, // ready at its slot: shown at it
  };
  desktop::FramePacer pacer;
  const Clock::time_point origin{};
  for (std::size_t index = 0; index < steps.size(); ++index) {
    EXPECT_EQ(pacer.NextPresentTime(origin + steps[index].now), origin + steps[index].expected) << "step " << index;
  }
}

} // namespace
