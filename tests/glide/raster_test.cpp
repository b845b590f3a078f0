// Pixel-exact tests of the rasterizer: coverage and the fill rule, clipping, blending, texture
// sampling, each state setter, level choice, hostile coordinates and what survives the guard band,
// and equal pixels from every sprite path.
#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "glide_test_support.h"
#include "support/case_name.h"

namespace {

using namespace glidetest;

constexpr float Nan = std::numeric_limits<float>::quiet_NaN();
constexpr float Infinity = std::numeric_limits<float>::infinity();

struct Point {
  double x, y;
};
using Triangle = std::array<Point, 3>;

void DrawFlat(const Triangle& triangle, float red) {
  const GrVertex a = Vertex(static_cast<float>(triangle[0].x), static_cast<float>(triangle[0].y), red, 0, 0);
  const GrVertex b = Vertex(static_cast<float>(triangle[1].x), static_cast<float>(triangle[1].y), red, 0, 0);
  const GrVertex c = Vertex(static_cast<float>(triangle[2].x), static_cast<float>(triangle[2].y), red, 0, 0);
  grDrawTriangle(&a, &b, &c);
}

// How many times each pixel was drawn, under the counting state: its red channel.
int Count(int x, int y) { return static_cast<int>(PixelAt(x, y) >> 16); }

// A box of pixels in Glide coordinates, ends exclusive.
struct Box {
  int x0, y0, x1, y1;
  bool Contains(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

// Every pixel of the screen is drawn exactly once inside the box and never outside it.
void ExpectDrawnOnceExactlyIn(const Box& box) {
  int wrong = 0;
  for (int y = 0; y < glide::ScreenHeight; ++y) {
    for (int x = 0; x < glide::ScreenWidth; ++x) {
      const int expected = box.Contains(x, y) ? 1 : 0;
      if (Count(x, y) != expected && ++wrong <= 5) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") drawn " << Count(x, y) << " times, expected " << expected;
      }
    }
  }
  EXPECT_EQ(wrong, 0);
}

// ---------------------------------------------------------------------------------------------
// Coverage: triangles that share edges tile the area they cover, without gaps or overlaps.

struct CoverageCase {
  std::string name;
  std::vector<Triangle> triangles;
  Box expected; // drawn exactly once, and nothing else
};

class CoverageTest : public GlideTest, public ::testing::WithParamInterface<CoverageCase> {};

TEST_P(CoverageTest, DrawsEveryPixelOfItsBoxExactlyOnceAndNoOther) {
  SetCountingState();
  for (const Triangle& triangle : GetParam().triangles) DrawFlat(triangle, 1);
  ExpectDrawnOnceExactlyIn(GetParam().expected);
}

std::vector<Triangle> SplitRising(double x0, double y0, double x1, double y1) {
  return {Triangle{{{x0, y0}, {x1, y0}, {x1, y1}}}, Triangle{{{x1, y1}, {x0, y1}, {x0, y0}}}};
}

std::vector<Triangle> SplitFalling(double x0, double y0, double x1, double y1) {
  return {Triangle{{{x0, y0}, {x1, y0}, {x0, y1}}}, Triangle{{{x1, y0}, {x1, y1}, {x0, y1}}}};
}

std::vector<Triangle> Clockwise(std::vector<Triangle> triangles) {
  for (Triangle& triangle : triangles) std::swap(triangle[1], triangle[2]);
  return triangles;
}

// Four triangles around the centre (a pixel centre), their shared edges through pixel centres.
std::vector<Triangle> Fan(double x0, double y0, double x1, double y1) {
  const Point centre{(x0 + x1) / 2, (y0 + y1) / 2};
  const Point corners[4] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
  std::vector<Triangle> triangles;
  triangles.reserve(4);
  for (int i = 0; i < 4; ++i) triangles.push_back(Triangle{{centre, corners[i], corners[(i + 1) % 4]}});
  return triangles;
}

INSTANTIATE_TEST_SUITE_P(
    SharedEdges, CoverageTest,
    ::testing::Values(
        // The diagonal runs through the pixel centres (k + 0.5, k + 0.5).
        CoverageCase{"RisingDiagonalThroughCentres", SplitRising(10, 10, 30, 30), {10, 10, 30, 30}},
        CoverageCase{"FallingDiagonalThroughCentres", SplitFalling(10, 10, 30, 30), {10, 10, 30, 30}},
        CoverageCase{"ClockwiseHalves", Clockwise(SplitRising(10, 10, 30, 30)), {10, 10, 30, 30}},
        // Outer edges through pixel centres: the left and bottom ones keep them, the others not.
        CoverageCase{"EdgesThroughCentres", SplitRising(10.5, 20.5, 40.5, 35.5), {10, 20, 40, 35}},
        CoverageCase{"FallingEdgesThroughCentres", SplitFalling(10.5, 20.5, 40.5, 35.5), {10, 20, 40, 35}},
        CoverageCase{"FractionalCorners", SplitFalling(5.3, 7.9, 200.7, 9.2), {5, 8, 201, 9}},
        CoverageCase{"ShallowDiagonal", SplitRising(0.25, 100.75, 633.6, 103.1), {0, 101, 634, 103}},
        CoverageCase{"SteepDiagonal", SplitFalling(300.1, 0.2, 301.9, 479.6), {300, 0, 302, 480}},
        // Horizontal and vertical shared edges through pixel centres, and a shared vertex on one.
        CoverageCase{"FanAroundAPixelCentre", Fan(80, 60, 121, 101), {80, 60, 121, 101}},
        CoverageCase{"FanWithEdgesThroughCentres", Fan(80.5, 60.5, 120.5, 100.5), {80, 60, 120, 100}},
        // A right edge at x = 20.4 keeps the centre 19.5; a top edge at y = 10.6 keeps 10.5.
        CoverageCase{"EdgesBetweenCentres", SplitRising(10, 2, 20.4, 10.6), {10, 2, 20, 11}},
        // On one line, a point, and along a row of centres: no area, nothing drawn.
        CoverageCase{"ZeroArea",
                     {Triangle{{{10, 10}, {20, 20}, {30, 30}}}, Triangle{{{10.5, 10.5}, {10.5, 10.5}, {10.5, 10.5}}},
                      Triangle{{{10, 10.5}, {40, 10.5}, {25, 10.5}}}},
                     {0, 0, 0, 0}}),
    support::CaseName<CoverageCase>);

// ---------------------------------------------------------------------------------------------
// Clipping: the window's minima are inside, its maxima outside.

struct ClipCase {
  std::string name;
  unsigned minX, minY, maxX, maxY;
  Box expected;
};

class ClipTest : public GlideTest, public ::testing::WithParamInterface<ClipCase> {};

TEST_P(ClipTest, DrawsOnlyInsideTheWindow) {
  const ClipCase& clip = GetParam();
  grClipWindow(clip.minX, clip.minY, clip.maxX, clip.maxY);
  SetCountingState();
  DrawRectangle(-100, -100, 740, 580, 1, 0, 0); // over every edge of the screen
  ExpectDrawnOnceExactlyIn(clip.expected);
}

TEST_P(ClipTest, ClearFillsOnlyTheWindow) {
  const ClipCase& clip = GetParam();
  grClipWindow(clip.minX, clip.minY, clip.maxX, clip.maxY);
  grBufferClear(0x000001, 0, 0xFFFF); // ABGR: red 1
  ExpectDrawnOnceExactlyIn(clip.expected);
}

INSTANTIATE_TEST_SUITE_P(Windows, ClipTest,
                         ::testing::Values(ClipCase{"Inner", 100, 60, 300, 200, {100, 60, 300, 200}},
                                           // The show's window leaves the rightmost column and the top row unpainted.
                                           ClipCase{"TheShows", 0, 0, 639, 479, {0, 0, 639, 479}},
                                           ClipCase{"WholeScreen", 0, 0, 640, 480, {0, 0, 640, 480}},
                                           ClipCase{"BeyondTheScreen", 0, 0, 100000, 100000, {0, 0, 640, 480}},
                                           ClipCase{"OneColumn", 320, 0, 321, 480, {320, 0, 321, 480}},
                                           ClipCase{"Empty", 200, 200, 200, 300, {0, 0, 0, 0}},
                                           ClipCase{"Inverted", 300, 300, 200, 200, {0, 0, 0, 0}}),
                         support::CaseName<ClipCase>);

TEST_F(GlideTest, GlideYZeroIsTheBottomRowOfTheFrame) {
  SetCountingState();
  DrawRectangle(0, 0, 1, 1, 7, 0, 0);
  const glide::FrameView frame = glide::CurrentFrame();
  EXPECT_EQ(frame.Pixel(0, glide::ScreenHeight - 1), Rgb(7, 0, 0));
  EXPECT_EQ(frame.Pixel(0, 0), 0u);
}

// ---------------------------------------------------------------------------------------------
// Blending and colour.

// A blend's source and destination factors.
struct Factors {
  GrAlphaBlendFnc_t source, destination;
};
constexpr Factors Additive{GR_BLEND_ONE, GR_BLEND_ONE};
constexpr Factors ByAlpha{GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA};

struct BlendCase {
  std::string name;
  std::array<float, 3> first;  // drawn with (ONE, ZERO)
  std::array<float, 4> second; // red, green, blue, alpha, drawn with the blend under test
  Factors factors;
  std::uint32_t expected;
};

enum class BlendSetting { Set, SavedAndRestored };

class BlendTest : public GlideTest, public ::testing::WithParamInterface<BlendCase> {
protected:
  // Draws the first rectangle over the frame, then the second with the blend under test: set
  // just before, or set, saved in a state block, set over with another blend and restored.
  void DrawBoth(BlendSetting setting) {
    const BlendCase& blend = GetParam();
    guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
    grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO);
    DrawRectangle(10, 10, 20, 20, blend.first[0], blend.first[1], blend.first[2]);
    grAlphaBlendFunction(blend.factors.source, blend.factors.destination, GR_BLEND_ZERO, GR_BLEND_ZERO);
    if (setting == BlendSetting::SavedAndRestored) {
      GrState saved;
      grGlideGetState(&saved);
      grAlphaBlendFunction(GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ZERO);
      grGlideSetState(&saved);
    }
    DrawRectangle(10, 10, 20, 20, blend.second[0], blend.second[1], blend.second[2], blend.second[3]);
  }
};

TEST_P(BlendTest, CombinesWithTheFrame) {
  DrawBoth(BlendSetting::Set);
  EXPECT_EQ(PixelAt(15, 15), GetParam().expected);
  EXPECT_EQ(PixelAt(10, 19), GetParam().expected);
}

// The library keeps a blend in the device's terms from the moment it is set, and a saved state
// block carries it: restored over another blend, it draws exactly what it drew when set.
TEST_P(BlendTest, CombinesTheSameOnceSavedAndRestored) {
  DrawBoth(BlendSetting::SavedAndRestored);
  EXPECT_EQ(PixelAt(15, 15), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Factors, BlendTest,
    ::testing::Values(BlendCase{"AdditiveSums", {10, 20, 30}, {100, 50, 25, 0}, Additive, Rgb(110, 70, 55)},
                      BlendCase{"AdditiveSaturates", {200, 100, 50}, {200, 100, 50, 0}, Additive, Rgb(255, 200, 100)},
                      BlendCase{"AdditiveAtFull", {255, 255, 255}, {255, 255, 255, 0}, Additive, Rgb(255, 255, 255)},
                      BlendCase{"AlphaQuarter", {0, 0, 200}, {200, 100, 0, 64}, ByAlpha, Rgb(50, 25, 150)},
                      BlendCase{"AlphaOpaque", {0, 0, 200}, {200, 100, 0, 255}, ByAlpha, Rgb(200, 100, 0)},
                      BlendCase{"AlphaTransparent", {0, 0, 200}, {200, 100, 0, 0}, ByAlpha, Rgb(0, 0, 200)},
                      BlendCase{"AlphaHalf", {255, 0, 100}, {0, 255, 100, 128}, ByAlpha, Rgb(127, 128, 100)},
                      // Vertex alpha above 255 counts as 255, and colours outside 0..255 are clamped.
                      BlendCase{"AlphaClamped", {0, 0, 200}, {300, -20, 0, 1000}, ByAlpha, Rgb(255, 0, 0)},
                      BlendCase{"Replace", {9, 9, 9}, {1, 2, 3, 0}, {GR_BLEND_ONE, GR_BLEND_ZERO}, Rgb(1, 2, 3)},
                      // A source factor this library does not know counts as ONE, a destination one as ZERO.
                      BlendCase{"UnknownFactors", {9, 9, 9}, {1, 2, 3, 0}, {7, 9}, Rgb(1, 2, 3)}),
    support::CaseName<BlendCase>);

TEST_F(GlideTest, IteratedColourFollowsTheVerticesAndIsClamped) {
  guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
  // Red rises by one per pixel from -20 at x = 0; green falls from 300.
  const GrVertex a = Vertex(0, 0, -20, 300, 7);
  const GrVertex b = Vertex(400, 0, 380, -100, 7);
  const GrVertex c = Vertex(0, 400, -20, 300, 7);
  grDrawTriangle(&a, &b, &c);
  struct Probe {
    int x;
    std::uint32_t expected;
  };
  // At the centre x + 0.5: red = x − 19.5 and green = 299.5 − x, each rounded to nearest.
  for (const Probe& probe : {Probe{0, Rgb(0, 255, 7)}, Probe{19, Rgb(0, 255, 7)}, Probe{20, Rgb(1, 255, 7)},
                             Probe{100, Rgb(81, 200, 7)}, Probe{280, Rgb(255, 20, 7)}, Probe{350, Rgb(255, 0, 7)}}) {
    EXPECT_EQ(PixelAt(probe.x, 1), probe.expected) << probe.x;
  }
}

// ---------------------------------------------------------------------------------------------
// Texture sampling: texel centres, between texels, wrapping, point sampling.

// Texel rows from the top: row 0 black, white, red, blue; the rest flat colours.
const std::vector<std::uint16_t> SamplingTexels = {
    0x0000, 0xFFFF, 0xF800, 0x001F, //
    0x07E0, 0x07E0, 0x07E0, 0x07E0, //
    0x0000, 0x0000, 0x0000, 0x0000, //
    0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
};

struct SampleCase {
  std::string name;
  GrTextureFilterMode_t filter;
  float x0, s0, s1; // the rectangle from x0 to x0 + 4 or + 8, texture rows 1:1
  float width;
  int x, y; // probe
  std::uint32_t expected;
};

class SamplingTest : public GlideTest, public ::testing::WithParamInterface<SampleCase> {};

TEST_P(SamplingTest, GivesTheExpectedTexel) {
  const SampleCase& sample = GetParam();
  TextureOptions options;
  options.filter = sample.filter;
  const GrMipMapId_t texture = LoadTexture(SquareTexture(4, SamplingTexels), options);
  ASSERT_NE(texture, GR_NULL_MIPMAP_HANDLE);
  grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO);
  guColorCombineFunction(GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB);
  guTexSource(texture);
  grTexCombineFunction(GR_TMU0, GR_TEXTURECOMBINE_DECAL);
  // White, with t over the texture's whole height.
  DrawRectangle(sample.x0, 100, sample.x0 + sample.width, 104, 255, 255, 255, 255, {sample.s0, sample.s1, 256, 0});
  EXPECT_EQ(PixelAt(sample.x, sample.y), sample.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texels, SamplingTest,
    ::testing::Values(
        // One texel per pixel: every pixel centre is a texel centre. The top pixel row is texel row 0.
        SampleCase{"CentreBlack", GR_TEXTUREFILTER_BILINEAR, 100, 0, 256, 4, 100, 103, Rgb(0, 0, 0)},
        SampleCase{"CentreWhite", GR_TEXTUREFILTER_BILINEAR, 100, 0, 256, 4, 101, 103, Rgb(255, 255, 255)},
        SampleCase{"CentreRed", GR_TEXTUREFILTER_BILINEAR, 100, 0, 256, 4, 102, 103, Rgb(255, 0, 0)},
        SampleCase{"CentreBlue", GR_TEXTUREFILTER_BILINEAR, 100, 0, 256, 4, 103, 103, Rgb(0, 0, 255)},
        SampleCase{"CentreGreenRow", GR_TEXTUREFILTER_BILINEAR, 100, 0, 256, 4, 100, 102, Rgb(0, 255, 0)},
        SampleCase{"CentreBottomRow", GR_TEXTUREFILTER_BILINEAR, 100, 0, 256, 4, 102, 100, Rgb(255, 255, 255)},
        // Shifted by half a texel: each pixel takes the mean of two texels, rounded.
        SampleCase{"BetweenBlackAndWhite", GR_TEXTUREFILTER_BILINEAR, 100, 32, 288, 4, 100, 103, Rgb(128, 128, 128)},
        SampleCase{"BetweenWhiteAndRed", GR_TEXTUREFILTER_BILINEAR, 100, 32, 288, 4, 101, 103, Rgb(255, 128, 128)},
        // The last texel of a row blends with the first: wrapping.
        SampleCase{"BetweenBlueAndBlackWrapping", GR_TEXTUREFILTER_BILINEAR, 100, 32, 288, 4, 103, 103, Rgb(0, 0, 128)},
        SampleCase{"WrappedBelowZero", GR_TEXTUREFILTER_BILINEAR, 100, -32, 224, 4, 100, 103, Rgb(0, 0, 128)},
        // Twice enlarged: pixel centres fall a quarter texel from texel centres.
        SampleCase{"QuarterTowardsWhite", GR_TEXTUREFILTER_BILINEAR, 100, 0, 256, 8, 101, 103, Rgb(64, 64, 64)},
        SampleCase{"QuarterTowardsBlack", GR_TEXTUREFILTER_BILINEAR, 100, 0, 256, 8, 102, 103, Rgb(191, 191, 191)},
        // Point sampling takes the texel that holds the sample point; a boundary belongs to the
        // texel on its right.
        SampleCase{"PointBeforeABoundary", GR_TEXTUREFILTER_POINT_SAMPLED, 100, 30, 286, 4, 100, 103, Rgb(0, 0, 0)},
        SampleCase{"PointOnABoundary", GR_TEXTUREFILTER_POINT_SAMPLED, 100, 32, 288, 4, 100, 103, Rgb(255, 255, 255)}),
    support::CaseName<SampleCase>);

TEST_F(GlideTest, TextureTimesIteratedScalesTheTexel) {
  const GrMipMapId_t texture = LoadTexture(SquareTexture(1, {0xFFFF}));
  grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO);
  guColorCombineFunction(GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB);
  guTexSource(texture);
  grTexCombineFunction(GR_TMU0, GR_TEXTURECOMBINE_ADD);
  DrawRectangle(0, 0, 10, 10, 255, 128, 0);
  EXPECT_EQ(PixelAt(5, 5), Rgb(255, 128, 0));
}

TEST_F(GlideTest, TheTextureUnitDeliversNothingUntilACombineIsSet) {
  const GrMipMapId_t texture = LoadTexture(SquareTexture(1, {0xFFFF}));
  grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ZERO);
  guColorCombineFunction(GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB);
  guTexSource(texture);
  DrawRectangle(0, 0, 10, 10, 255, 255, 255);
  EXPECT_EQ(PixelAt(5, 5), 0u);
  grTexCombineFunction(GR_TMU0, GR_TEXTURECOMBINE_ADD);
  DrawRectangle(0, 0, 10, 10, 255, 255, 255);
  EXPECT_EQ(PixelAt(5, 5), Rgb(255, 255, 255));
}

// ---------------------------------------------------------------------------------------------
// Every state setter alone changes the picture. A square is drawn in two halves, as the show
// draws its sprites, with the setter called between them: the second half shows the new state,
// and the first, which the sprite path holds back until the setter comes, the state before.

// What a setter may set: a darker texture, and the state block saved right after opening.
struct SetterScene {
  GrMipMapId_t darkerTexture;
  GrState openingState;
};

// The show's sprite state (additive), or the same blended by source alpha, which is what the
// alpha setters need to be seen.
enum class Blend { Additive, SourceAlpha };

struct SetterCase {
  std::string name;
  Blend blend;
  void (*set)(const SetterScene& scene);
  std::uint32_t expected; // the second half, over a frame of blue 100
};

class StateSetterTest : public GlideTest, public ::testing::WithParamInterface<SetterCase> {};

TEST_P(StateSetterTest, AloneChangesTheHalfDrawnAfterIt) {
  const SetterCase& setter = GetParam();
  SetterScene scene;
  grGlideGetState(&scene.openingState);
  const GrMipMapId_t texture = LoadTexture(SquareTexture(1, {128}, GR_TEXFMT_INTENSITY_8));
  scene.darkerTexture = LoadTexture(SquareTexture(1, {64}, GR_TEXFMT_INTENSITY_8));
  SetSquareState(texture);
  if (setter.blend == Blend::SourceAlpha) {
    grAlphaBlendFunction(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO, GR_BLEND_ZERO);
  }
  grBufferClear(0x640000, 0, 0xFFFF); // ABGR: blue 100
  const GrVertex a = Vertex(10, 10, 255, 255, 0), b = Vertex(30, 10, 255, 255, 0);
  const GrVertex c = Vertex(30, 30, 255, 255, 0), d = Vertex(10, 30, 255, 255, 0);
  grDrawTriangle(&a, &b, &c);
  setter.set(scene);
  grDrawTriangle(&c, &d, &a);
  // Before the setter: texel 128 × yellow, added onto the blue or, at alpha 255, replacing it.
  const std::uint32_t before = setter.blend == Blend::Additive ? Rgb(128, 128, 100) : Rgb(128, 128, 0);
  EXPECT_EQ(PixelAt(25, 15), before);
  EXPECT_EQ(PixelAt(15, 25), setter.expected);
  EXPECT_NE(setter.expected, before);
}

INSTANTIATE_TEST_SUITE_P(
    Setters, StateSetterTest,
    ::testing::Values(
        SetterCase{"ClipWindow", Blend::Additive, [](const SetterScene&) { grClipWindow(0, 0, 640, 20); },
                   Rgb(0, 0, 100)},
        SetterCase{"ColorCombineFunction", Blend::Additive,
                   [](const SetterScene&) { guColorCombineFunction(GR_COLORCOMBINE_ITRGB); }, Rgb(255, 255, 100)},
        SetterCase{"ColorCombine", Blend::Additive,
                   [](const SetterScene&) {
                     grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
                                    GR_COMBINE_OTHER_CONSTANT, FXFALSE);
                   },
                   Rgb(255, 255, 100)},
        SetterCase{
            "AlphaBlendFunction", Blend::Additive,
            [](const SetterScene&) { grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO); },
            Rgb(128, 128, 0)},
        SetterCase{"TexCombineFunction", Blend::Additive,
                   [](const SetterScene&) { grTexCombineFunction(GR_TMU0, GR_TEXTURECOMBINE_ZERO); }, Rgb(0, 0, 100)},
        SetterCase{"TexSource", Blend::Additive, [](const SetterScene& scene) { guTexSource(scene.darkerTexture); },
                   Rgb(64, 64, 100)},
        SetterCase{"GlideSetState", Blend::Additive,
                   [](const SetterScene& scene) { grGlideSetState(&scene.openingState); }, Rgb(255, 255, 0)},
        SetterCase{"AlphaCombine", Blend::SourceAlpha,
                   [](const SetterScene&) {
                     grAlphaCombine(GR_COMBINE_FUNCTION_ZERO, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_CONSTANT,
                                    GR_COMBINE_OTHER_CONSTANT, FXFALSE);
                   },
                   Rgb(0, 0, 100)},
        SetterCase{"AlphaSource", Blend::SourceAlpha,
                   [](const SetterScene&) { guAlphaSource(GR_ALPHASOURCE_CC_ALPHA); }, Rgb(0, 0, 100)}),
    support::CaseName<SetterCase>);

// ---------------------------------------------------------------------------------------------
// Level of detail: one level per triangle, the nearest to its texel-to-pixel scale.

// A 64 × 64 texture whose seven levels are each one flat colour.
constexpr std::uint16_t LevelColours[7] = {0xF800, 0x07E0, 0x001F, 0xFFE0, 0xF81F, 0x07FF, 0xFFFF};
constexpr std::uint32_t LevelRgb[7] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

std::vector<std::uint8_t> LevelTexture() {
  tdf_writer::Texture texture;
  texture.format = GR_TEXFMT_RGB_565;
  texture.smallSize = 1;
  texture.largeSize = 64;
  for (int level = 0, size = 64; size >= 1; ++level, size /= 2) {
    texture.texels.insert(texture.texels.end(), static_cast<std::size_t>(size) * static_cast<std::size_t>(size),
                          LevelColours[level]);
  }
  return tdf_writer::Encode(texture);
}

struct LevelCase {
  std::string name;
  float size;
  float lodBias;
  GrMipMapMode_t mipmapMode;
  int expectedLevel;
};

class LevelTest : public GlideTest, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(LevelTest, SpriteOfASixtyFourTexelTextureUsesTheNearestLevel) {
  const LevelCase& level = GetParam();
  TextureOptions options;
  options.lodBias = level.lodBias;
  options.mipmapMode = level.mipmapMode;
  const GrMipMapId_t texture = LoadTexture(LevelTexture(), options);
  ASSERT_NE(texture, GR_NULL_MIPMAP_HANDLE);
  SetSquareState(texture);
  // Centred on a pixel centre, so that even a one-pixel sprite covers that pixel.
  DrawSquare(320.5f, 240.5f, level.size, 255, 255, 255, 255);
  EXPECT_EQ(PixelAt(320, 240), LevelRgb[level.expectedLevel]);
}

// A sprite spans 255 texel units over `size` pixels: with 64 texels that is 64·255/256/size
// texels per pixel, log2 of it rounded to the nearest level.
INSTANTIATE_TEST_SUITE_P(Sizes, LevelTest,
                         ::testing::Values(LevelCase{"Size10", 10, 0, GR_MIPMAP_NEAREST, 3}, // 6.4 texels: log2 2.67
                                           LevelCase{"Size18", 18, 0, GR_MIPMAP_NEAREST, 2}, // 3.5: log2 1.82
                                           LevelCase{"Size18AndAHalf", 18.5f, 0, GR_MIPMAP_NEAREST, 2},
                                           LevelCase{"Size64", 64, 0, GR_MIPMAP_NEAREST, 0}, // 1.0
                                           LevelCase{"Size46", 46, 0, GR_MIPMAP_NEAREST, 0}, // 1.39: log2 0.47
                                           LevelCase{"Size44", 44, 0, GR_MIPMAP_NEAREST, 1}, // 1.45: log2 0.54
                                           LevelCase{"Size3", 3, 0, GR_MIPMAP_NEAREST, 4},   // 21.3: log2 4.41
                                           LevelCase{"Size1", 1, 0, GR_MIPMAP_NEAREST, 6},   // 63.8: the last level
                                           LevelCase{"Size300Magnified", 300, 0, GR_MIPMAP_NEAREST, 0},
                                           LevelCase{"Size10BiasUp", 10, 1.0f, GR_MIPMAP_NEAREST, 4},
                                           LevelCase{"Size10BiasDown", 10, -1.0f, GR_MIPMAP_NEAREST, 2},
                                           LevelCase{"Size10NoMipmapping", 10, 0, GR_MIPMAP_DISABLE, 0}),
                         support::CaseName<LevelCase>);

// ---------------------------------------------------------------------------------------------
// Hostile coordinates: never a write outside the frame, never a hang, and the right picture.

constexpr double Huge = 1e30;

INSTANTIATE_TEST_SUITE_P(
    HostileCoordinates, CoverageTest,
    ::testing::Values(
        CoverageCase{"NotANumber", {Triangle{{{Nan, 10}, {100, 10}, {50, 100}}}}, {0, 0, 0, 0}},
        CoverageCase{"Infinite", {Triangle{{{-Infinity, 10}, {100, 10}, {50, Infinity}}}}, {0, 0, 0, 0}},
        CoverageCase{"HugeCoversTheScreen", {Triangle{{{-Huge, -Huge}, {Huge, -Huge}, {0, Huge}}}}, {0, 0, 640, 480}},
        // Both halves are cut to the guard band along their shared diagonal, and still tile.
        CoverageCase{"HugeSquareHalvesTile", SplitRising(-1e7, -3e6, 2e7, 5e6), {0, 0, 640, 480}},
        CoverageCase{"HugeThinSlivers", SplitFalling(-1e9, 200.5, 1e9, 210.5), {0, 200, 640, 210}},
        CoverageCase{"FarAwayDrawsNothing", {Triangle{{{1e20, 1e20}, {2e20, 1e20}, {1e20, 2e20}}}}, {0, 0, 0, 0}},
        CoverageCase{"OffScreenDrawsNothing", SplitRising(-50, -50, -1, 480), {0, 0, 0, 0}},
        CoverageCase{"PartlyOffScreen", SplitRising(600.5, 470.5, 700, 500), {600, 470, 640, 480}},
        CoverageCase{"TinyDrawsNothing", {Triangle{{{10.1, 10.1}, {10.2, 10.1}, {10.1, 10.2}}}}, {0, 0, 0, 0}}),
    support::CaseName<CoverageCase>);

// A primitive cut to the guard band keeps its attributes: a square reaching far past the band
// gives on the screen the very pixels of a square with the same planes inside it.

// An attribute that changes linearly over the screen. Steps of powers of two keep the values at
// the corners exact and every pixel centre clear of a rounding or texel boundary.
struct Linear {
  float atOrigin, perX, perY;
  float At(float x, float y) const { return atOrigin + perX * x + perY * y; }
};

enum class Texturing { None, PointSampled };

struct ClippedCase {
  std::string name;
  Texturing texturing;
  std::array<Linear, 6> planes; // red, green, blue, alpha, s, t
  std::uint32_t atProbe;        // the pixel (100, 200), worked out by hand
};

class ClippedAttributeTest : public GlideTest, public ::testing::WithParamInterface<ClippedCase> {};

TEST_P(ClippedAttributeTest, MatchesTheSamePlanesInsideTheBand) {
  const ClippedCase& clipped = GetParam();
  if (clipped.texturing == Texturing::PointSampled) {
    std::vector<std::uint16_t> texels; // sixteen greys, one for each texel
    for (std::uint16_t texel = 0; texel < 16; ++texel) texels.push_back(static_cast<std::uint16_t>(16 * texel + 8));
    TextureOptions options;
    options.filter = GR_TEXTUREFILTER_POINT_SAMPLED;
    guTexSource(LoadTexture(SquareTexture(4, texels, GR_TEXFMT_INTENSITY_8), options));
    grTexCombineFunction(GR_TMU0, GR_TEXTURECOMBINE_ADD);
    guColorCombineFunction(GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB);
  } else {
    guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
    grAlphaBlendFunction(GR_BLEND_SRC_ALPHA, GR_BLEND_ONE_MINUS_SRC_ALPHA, GR_BLEND_ZERO, GR_BLEND_ZERO);
  }
  auto drawSquare = [&](float low, float high) {
    auto corner = [&](float x, float y) {
      float at[6];
      for (int i = 0; i < 6; ++i) at[i] = clipped.planes[i].At(x, y);
      return Vertex(x, y, at[0], at[1], at[2], at[3], at[4], at[5]);
    };
    const GrVertex a = corner(low, low), b = corner(high, low), c = corner(high, high), d = corner(low, high);
    grBufferClear(0x3C3C3C, 0, 0xFFFF);
    grDrawTriangle(&a, &b, &c);
    grDrawTriangle(&c, &d, &a);
    return FrameCopy();
  };
  const std::vector<std::uint32_t> cut = drawSquare(-65536, 131072);
  EXPECT_TRUE(cut == drawSquare(-16, 656));
  EXPECT_EQ(PixelAt(100, 200), clipped.atProbe);
}

// Colours: at (100.5, 200.5) red 112.56, green 149.88, blue 51.34 and alpha 229.88, blended over
// grey 60 with alpha 231/256. Texels: u = x/8 + y/16 and v = −x/16 + y/8 there are 25.09 and
// 18.78, texel column 1 of row 2 once wrapped, grey 16·9 + 8.
INSTANTIATE_TEST_SUITE_P(
    Attributes, ClippedAttributeTest,
    ::testing::Values(ClippedCase{"ColoursAndAlpha",
                                  Texturing::None,
                                  {{{100, 0.125f, 0}, {200, 0, -0.25f}, {20, 0.0625f, 0.125f}, {255, -0.25f, 0}}},
                                  Rgb(108, 141, 52)},
                      ClippedCase{"TextureCoordinates",
                                  Texturing::PointSampled,
                                  {{{255, 0, 0}, {255, 0, 0}, {255, 0, 0}, {255, 0, 0}, {0, 8, 4}, {0, -4, 8}}},
                                  Rgb(152, 152, 152)}),
    support::CaseName<ClippedCase>);

TEST_F(GlideTest, HostileColoursAndTextureCoordinatesStayInRange) {
  const GrMipMapId_t texture = LoadTexture(SquareTexture(4, SamplingTexels));
  SetSquareState(texture);
  for (float bad : {Nan, Infinity, -Infinity, 1e30f, -1e30f}) {
    GrVertex a = Vertex(10, 10, bad, 255, 0, bad, bad, 0);
    GrVertex b = Vertex(100, 10, 255, bad, 0, 255, 0, bad);
    GrVertex c = Vertex(10, 100, 0, 0, bad, 255, bad, bad, bad);
    grDrawTriangle(&a, &b, &c);
  }
  // The perspective path with a zero and a negative 1/w.
  GrVertex a = Vertex(200, 200, 255, 255, 255, 255, 10, 10, 0.0f);
  GrVertex b = Vertex(300, 200, 255, 255, 255, 255, 10, 10, -1.0f);
  GrVertex c = Vertex(200, 300, 255, 255, 255, 255, 10, 10, 2.0f);
  grDrawTriangle(&a, &b, &c);
  // Nothing outside the two triangles' boxes changed (the sanitizers watch the memory around).
  const Box boxes[] = {{10, 10, 101, 101}, {200, 200, 301, 301}};
  for (int y = 0; y < glide::ScreenHeight; ++y) {
    for (int x = 0; x < glide::ScreenWidth; ++x) {
      if (!boxes[0].Contains(x, y) && !boxes[1].Contains(x, y)) {
        ASSERT_EQ(PixelAt(x, y), 0u) << x << ", " << y;
      }
    }
  }
}

TEST_F(GlideTest, ANegativeSizeDrawsTheSquareTurnedByHalfATurn) {
  const GrMipMapId_t texture = LoadTexture(SquareTexture(4, SamplingTexels));
  SetSquareState(texture);
  // The show's corners with a size of −4, and s and t over the full 0..256 so that pixel centres
  // meet texel centres.
  const float h = -2;
  DrawRectangle(100 - h, 100 - h, 100 + h, 100 + h, 255, 255, 255, 255, {0, 256, 256, 0});
  // Turned by half a turn, texel row 0 (black, white, red, blue) runs right to left along the
  // bottom row, and the last texel row (white) is at the top.
  EXPECT_EQ(PixelAt(101, 98), Rgb(0, 0, 0));
  EXPECT_EQ(PixelAt(100, 98), Rgb(255, 255, 255));
  EXPECT_EQ(PixelAt(99, 98), Rgb(255, 0, 0));
  EXPECT_EQ(PixelAt(98, 98), Rgb(0, 0, 255));
  EXPECT_EQ(PixelAt(99, 99), Rgb(0, 255, 0));
  EXPECT_EQ(PixelAt(98, 101), Rgb(255, 255, 255));
}

// ---------------------------------------------------------------------------------------------
// Every sprite path gives the same pixels: the general per-pixel pipeline, the portable sprite
// code and the AVX2 sprite code.

// A small linear congruential generator, so the scene is the same on every machine.
class SceneRandom {
public:
  float Between(float low, float high) {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return low + (high - low) * static_cast<float>(state_ >> 40) / static_cast<float>(1 << 24);
  }

private:
  std::uint64_t state_ = 12345;
};

std::vector<std::uint8_t> GreyGlow(int size, int smallSize) {
  tdf_writer::Texture texture;
  texture.format = GR_TEXFMT_INTENSITY_8;
  texture.smallSize = smallSize;
  texture.largeSize = size;
  for (int level = size; level >= smallSize; level /= 2) {
    for (int row = 0; row < level; ++row) {
      for (int column = 0; column < level; ++column) {
        const double dx = (column + 0.5) / level - 0.5, dy = (row + 0.5) / level - 0.5;
        texture.texels.push_back(static_cast<std::uint16_t>(std::max(0.0, 255 * (1 - 3 * (dx * dx + dy * dy)))));
      }
    }
  }
  return tdf_writer::Encode(texture);
}

// How the second half of each square is drawn.
enum class Halves {
  Matching,   // as the show draws them
  Mismatched, // by turns: another colour, other texture coordinates, another diagonal, another 1/w
};

struct PathScene {
  std::string name;
  std::vector<std::uint8_t> texture;
  GrTextureFilterMode_t filter;
  float minimumSize, maximumSize;
  Halves halves = Halves::Matching;
};

// A square whose second half differs from the first in one way (or in none), chosen by `kind`.
void DrawMismatchedSquare(float x, float y, float size, float red, float green, float blue, int kind) {
  const float h = size * 0.5f;
  const GrVertex a = Vertex(x - h, y - h, red, green, blue, 255, 0, 255);
  const GrVertex b = Vertex(x + h, y - h, red, green, blue, 255, 255, 255);
  const GrVertex c = Vertex(x + h, y + h, red, green, blue, 255, 255, 0);
  GrVertex d = Vertex(x - h, y + h, red, green, blue, 255, 0, 0);
  grDrawTriangle(&a, &b, &c);
  switch (kind) {
  case 0: grDrawTriangle(&c, &d, &a); return;
  case 1: {
    GrVertex other[3] = {c, d, a};
    for (GrVertex& vertex : other) vertex.g = green * 0.5f;
    grDrawTriangle(&other[0], &other[1], &other[2]);
    return;
  }
  case 2: {
    GrVertex other[3] = {c, d, a};
    for (GrVertex& vertex : other) vertex.tmuvtx[0].tow += 37;
    grDrawTriangle(&other[0], &other[1], &other[2]);
    return;
  }
  case 3:
    d.tmuvtx[0].sow = 60; // the first vertex agrees, the plane does not
    grDrawTriangle(&c, &d, &a);
    return;
  case 4: grDrawTriangle(&b, &c, &d); return; // overlaps the first half
  default: {
    GrVertex other[3] = {c, d, a};
    for (GrVertex& vertex : other) {
      vertex.oow = 2;
      vertex.tmuvtx[0].sow *= 2;
      vertex.tmuvtx[0].tow *= 2;
    }
    grDrawTriangle(&other[0], &other[1], &other[2]);
    return;
  }
  }
}

class SpritePathTest : public GlideTest, public ::testing::WithParamInterface<PathScene> {
protected:
  std::vector<std::uint32_t> DrawScene(glide::SpritePath path) {
    EXPECT_TRUE(glide::SelectSpritePath(path));
    grClipWindow(0, 0, 639, 479);
    grBufferClear(0, 0, 0xFFFF);
    TextureOptions options;
    options.filter = GetParam().filter;
    const GrMipMapId_t texture = LoadTexture(GetParam().texture, options);
    EXPECT_NE(texture, GR_NULL_MIPMAP_HANDLE);
    SetSquareState(texture);
    SceneRandom random;
    for (int i = 0; i < 600; ++i) {
      const float size = random.Between(GetParam().minimumSize, GetParam().maximumSize);
      float x = random.Between(-40, 680), y = random.Between(-40, 520);
      if (i % 7 == 0) x = std::round(x) + 0.5f; // edges through pixel centres
      if (i % 5 == 0) y = std::round(y);
      const float red = random.Between(-40, 300), green = random.Between(0, 255), blue = random.Between(0, 400);
      const float alpha = random.Between(0, 255);
      if (GetParam().halves == Halves::Matching) {
        DrawSquare(x, y, size, red, green, blue, alpha);
      } else {
        DrawMismatchedSquare(x, y, size, red, green, blue, i % 6);
      }
    }
    std::vector<std::uint32_t> frame = FrameCopy();
    grGlideShutdown();
    SetUp();
    return frame;
  }
};

TEST_P(SpritePathTest, GivesTheSamePixelsOnEveryPath) {
  const std::vector<std::uint32_t> general = DrawScene(glide::SpritePath::General);
  const std::vector<std::uint32_t> portable = DrawScene(glide::SpritePath::Portable);
  EXPECT_GT(std::count_if(general.begin(), general.end(), [](std::uint32_t pixel) { return pixel != 0; }), 10000);
  EXPECT_TRUE(general == portable) << "portable sprite code differs from the general pipeline";
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2 on this processor";
  const std::vector<std::uint32_t> avx2 = DrawScene(glide::SpritePath::Avx2);
  EXPECT_TRUE(general == avx2) << "AVX2 sprite code differs from the general pipeline";
}

INSTANTIATE_TEST_SUITE_P(
    Scenes, SpritePathTest,
    ::testing::Values(PathScene{"ShowSizes", GreyGlow(64, 1), GR_TEXTUREFILTER_BILINEAR, 0.5f, 20},
                      PathScene{"NegativeAndTinySizes", GreyGlow(64, 1), GR_TEXTUREFILTER_BILINEAR, -20, 2},
                      PathScene{"LargeSpritesOfAWideLevel", GreyGlow(256, 32), GR_TEXTUREFILTER_BILINEAR, 30, 200},
                      PathScene{"PointSampled", GreyGlow(64, 1), GR_TEXTUREFILTER_POINT_SAMPLED, 2, 40},
                      PathScene{"SmallTexture", GreyGlow(4, 4), GR_TEXTUREFILTER_BILINEAR, 3, 30},
                      PathScene{"MismatchedHalves", GreyGlow(64, 1), GR_TEXTUREFILTER_BILINEAR, -20, 40,
                                Halves::Mismatched}),
    support::CaseName<PathScene>);

} // namespace
