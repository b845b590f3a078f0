// Tests of the library's operations around the rasterizer: the session and its board, shutdown,
// the operation observer, saving and restoring the state, texture memory, clearing, and the
// promise not to allocate while drawing a frame.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "glide_test_support.h"
#include "support/case_name.h"
#include "support/frames.h"
#include "support/recording_board.h"

// Counts every allocation of this test program, so a test can see that a frame allocates nothing.
namespace {
std::atomic<long> allocations{0};
}
// (Kept out of line, so the compiler does not pair the malloc inside with deletes elsewhere.)
[[gnu::noinline]] void* operator new(std::size_t size) {
  ++allocations;
  if (void* memory = std::malloc(size ? size : 1)) return memory;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* memory) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

using namespace glidetest;

class SessionTest : public ::testing::Test {
protected:
  void SetUp() override {
    grGlideShutdown();
    glide::SelectBoard(&board_);
  }
  void TearDown() override {
    grGlideShutdown();
    glide::SelectBoard(nullptr);
    glide::SetOperationObserver(nullptr, nullptr);
  }
  support::RecordingBoard board_;
};

TEST_F(SessionTest, OpensTheSelectedBoardAndPresentsEverySwap) {
  ASSERT_TRUE(OpenDisplay());
  EXPECT_EQ(board_.queries, 1);
  EXPECT_EQ(board_.opened, 1);
  grClipWindow(0, 0, 640, 480);
  grBufferClear(0x00332211, 0, 0xFFFF); // ABGR: red 0x11, green 0x22, blue 0x33
  grBufferSwap(1);
  grBufferSwap(1);
  EXPECT_EQ(board_.presented, 2);
  EXPECT_EQ(board_.firstPixel, Rgb(0x11, 0x22, 0x33));
}

TEST_F(SessionTest, ShutdownClosesAnOpenDisplayOnceAndIsHarmlessAfterwards) {
  ASSERT_TRUE(OpenDisplay());
  grGlideShutdown();
  EXPECT_EQ(board_.closed, 1);
  grGlideShutdown();
  grGlideShutdown();
  EXPECT_EQ(board_.closed, 1);
  grBufferSwap(1); // nothing is open: nothing is presented
  EXPECT_EQ(board_.presented, 0);
}

TEST_F(SessionTest, ShutdownWithoutInitOrWithoutADisplayClosesNothing) {
  grGlideShutdown();
  grGlideInit();
  grGlideShutdown();
  grGlideShutdown();
  EXPECT_EQ(board_.closed, 0);
}

TEST_F(SessionTest, TheLibraryCanBeOpenedAgainAfterShutdown) {
  ASSERT_TRUE(OpenDisplay());
  grGlideShutdown();
  ASSERT_TRUE(OpenDisplay());
  EXPECT_EQ(board_.opened, 2);
}

TEST_F(SessionTest, NoHardwareMeansTheQueryFails) {
  board_.hardware = false;
  grGlideInit();
  GrHwConfiguration configuration;
  std::memset(&configuration, 0xFF, sizeof configuration);
  EXPECT_FALSE(grSstQueryHardware(&configuration));
  EXPECT_EQ(configuration.num_sst, 0);
}

TEST_F(SessionTest, TheQueryDescribesOneBoard) {
  grGlideInit();
  GrHwConfiguration configuration{};
  ASSERT_TRUE(grSstQueryHardware(&configuration));
  EXPECT_EQ(configuration.num_sst, 1);
  EXPECT_EQ(configuration.SSTs[0].type, GR_SSTTYPE_VOODOO);
  EXPECT_EQ(configuration.SSTs[0].nTexelfx, 1);
  EXPECT_EQ(configuration.SSTs[0].tmuRam, 4);
}

TEST_F(SessionTest, ABoardThatCannotOpenFailsTheOpenAndIsNotClosed) {
  board_.opens = false;
  EXPECT_FALSE(OpenDisplay());
  grGlideShutdown();
  EXPECT_EQ(board_.closed, 0);
}

struct OpenCase {
  std::string name;
  bool initialise;
  GrScreenResolution_t resolution;
  GrColorFormat_t colourFormat;
  GrOriginLocation_t origin;
};

class RefusedOpenTest : public SessionTest, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(RefusedOpenTest, FailsWithoutOpeningTheBoard) {
  const OpenCase& open = GetParam();
  if (open.initialise) grGlideInit();
  EXPECT_FALSE(grSstWinOpen(0, open.resolution, GR_REFRESH_60Hz, open.colourFormat, open.origin, 1, 2));
  EXPECT_EQ(board_.opened, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, RefusedOpenTest,
    ::testing::Values(
        OpenCase{"NotInitialised", false, GR_RESOLUTION_640x480, GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT},
        OpenCase{"OtherResolution", true, 0x8, GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT},
        OpenCase{"UpperLeftOrigin", true, GR_RESOLUTION_640x480, GR_COLORFORMAT_ABGR, GR_ORIGIN_UPPER_LEFT},
        OpenCase{"UnknownColourFormat", true, GR_RESOLUTION_640x480, 7, GR_ORIGIN_LOWER_LEFT}),
    support::CaseName<OpenCase>);

TEST_F(SessionTest, ASecondOpenFails) {
  ASSERT_TRUE(OpenDisplay());
  EXPECT_FALSE(
      grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT, 1, 2));
  EXPECT_EQ(board_.opened, 1);
}

TEST(DefaultBoardTest, WithoutASelectionTheBuiltInHeadlessBoardIsUsed) {
  grGlideShutdown();
  glide::SelectBoard(nullptr);
  EXPECT_TRUE(OpenDisplay());
  grGlideShutdown();
}

TEST(HeadlessBoardTest, CountsAndHandsOnEveryPresentedFrame) {
  grGlideShutdown();
  glide::HeadlessBoard board;
  std::uint32_t seen = 0;
  board.onPresent = [&seen](const glide::FrameView& frame) { seen = frame.Pixel(5, frame.height - 1); };
  glide::SelectBoard(&board);
  ASSERT_TRUE(OpenDisplay());
  EXPECT_TRUE(board.IsOpen());
  guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
  DrawRectangle(0, 0, 10, 10, 9, 8, 7);
  grBufferSwap(1);
  EXPECT_EQ(board.PresentedFrames(), 1u);
  EXPECT_EQ(seen, Rgb(9, 8, 7));
  grGlideShutdown();
  EXPECT_FALSE(board.IsOpen());
  glide::SelectBoard(nullptr);
}

// ---------------------------------------------------------------------------------------------
// The operation observer.

std::vector<glide::Operation> observed;
void Record(glide::Operation operation, void* context) {
  observed.push_back(operation);
  ++*static_cast<int*>(context);
}

TEST_F(SessionTest, TheObserverSeesEveryOperationOnceInOrder) {
  int calls = 0;
  observed.clear();
  glide::SetOperationObserver(Record, &calls);
  GrHwConfiguration configuration;
  Gu3dfInfo info{};
  GrState state;
  const GrVertex vertex = Vertex(0, 0, 0, 0, 0);
  grGlideInit();
  grSstQueryHardware(&configuration);
  grSstSelect(0);
  grSstWinOpen(0, GR_RESOLUTION_640x480, GR_REFRESH_60Hz, GR_COLORFORMAT_ABGR, GR_ORIGIN_LOWER_LEFT, 1, 2);
  grClipWindow(0, 0, 639, 479);
  gu3dfGetInfo("missing.3df", &info);
  gu3dfLoad("missing.3df", &info);
  const GrMipMapId_t id =
      guTexAllocateMemory(GR_TMU0, GR_MIPMAPLEVELMASK_BOTH, 1, 1, GR_TEXFMT_INTENSITY_8, GR_MIPMAP_NEAREST, GR_LOD_1,
                          GR_LOD_1, GR_ASPECT_1x1, GR_TEXTURECLAMP_WRAP, GR_TEXTURECLAMP_WRAP,
                          GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_BILINEAR, 0.0f, FXFALSE);
  guTexDownloadMipMap(id, "\x80", nullptr);
  guTexSource(id);
  guColorCombineFunction(GR_COLORCOMBINE_ITRGB);
  grColorCombine(GR_COMBINE_FUNCTION_LOCAL, GR_COMBINE_FACTOR_ZERO, GR_COMBINE_LOCAL_ITERATED,
                 GR_COMBINE_OTHER_CONSTANT, FXFALSE);
  grAlphaCombine(GR_COMBINE_FUNCTION_SCALE_OTHER, GR_COMBINE_FACTOR_ONE, GR_COMBINE_LOCAL_CONSTANT,
                 GR_COMBINE_OTHER_ITERATED, FXFALSE);
  grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ONE, GR_BLEND_ZERO);
  guAlphaSource(GR_ALPHASOURCE_ITERATED_ALPHA);
  grTexCombineFunction(GR_TMU0, GR_TEXTURECOMBINE_ADD);
  grGlideGetState(&state);
  grGlideSetState(&state);
  grBufferClear(0, 0, 0xFFFF);
  grBufferSwap(1);
  grDrawTriangle(&vertex, &vertex, &vertex);
  grGlideShutdown();

  // Each call above, once, in the order made, and the context handed over with every one.
  std::string names;
  for (glide::Operation operation : observed)
    names += std::string(names.empty() ? "" : " ") + glide::OperationName(operation);
  EXPECT_EQ(names, "grGlideInit grSstQueryHardware grSstSelect grSstWinOpen grClipWindow gu3dfGetInfo gu3dfLoad "
                   "guTexAllocateMemory guTexDownloadMipMap guTexSource guColorCombineFunction grColorCombine "
                   "grAlphaCombine grAlphaBlendFunction guAlphaSource grTexCombineFunction grGlideGetState "
                   "grGlideSetState grBufferClear grBufferSwap grDrawTriangle grGlideShutdown");
  EXPECT_EQ(calls, static_cast<int>(observed.size()));

  // Unset, it sees nothing more.
  const int seen = calls;
  glide::SetOperationObserver(nullptr, nullptr);
  grGlideShutdown();
  EXPECT_EQ(calls, seen);
}

// ---------------------------------------------------------------------------------------------
// Saving and restoring the whole state.

bool SameBytes(const GrState& a, const GrState& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST_F(GlideTest, SetStateRestoresExactlyWhatGetStateSaved) {
  SetBlendingState();
  grClipWindow(10, 20, 300, 200);
  GrState saved, changed, restored;
  grGlideGetState(&saved);
  SetSquareState(3);
  grClipWindow(0, 0, 639, 479);
  grGlideGetState(&changed);
  EXPECT_FALSE(SameBytes(saved, changed));
  grGlideSetState(&saved);
  grGlideGetState(&restored);
  EXPECT_TRUE(SameBytes(saved, restored));
}

TEST_F(GlideTest, TheRestoredStateIsTheOneThatDraws) {
  SetBlendingState();
  grClipWindow(0, 0, 100, 100);
  GrState saved;
  grGlideGetState(&saved);
  // Additive, and a window that reaches further.
  SetCountingState();
  grClipWindow(0, 0, 640, 480);
  grGlideSetState(&saved);
  DrawRectangle(0, 0, 200, 200, 200, 100, 0, 255);
  DrawRectangle(0, 0, 200, 200, 0, 0, 200, 64); // a quarter over the first
  EXPECT_EQ(PixelAt(50, 50), Rgb(150, 75, 50));
  EXPECT_EQ(PixelAt(150, 50), 0u); // outside the restored window
}

TEST_F(GlideTest, AnyStateBlockIsSafeToRestore) {
  GrState garbage;
  for (std::uint8_t fill : {0x00, 0x7F, 0x80, 0xFF}) {
    std::memset(&garbage, fill, sizeof garbage);
    grGlideSetState(&garbage);
    DrawRectangle(-10, -10, 700, 500, 255, 255, 255);
    DrawSquare(320, 240, 40, 255, 255, 255, 255);
    grBufferClear(0x123456, 0, 0);
  }
  GrState restored;
  grGlideGetState(&restored);
  grGlideSetState(&restored);
  GrState again;
  grGlideGetState(&again);
  EXPECT_TRUE(SameBytes(restored, again)); // a sanitised state restores unchanged
}

// ---------------------------------------------------------------------------------------------
// Texture memory.

GrMipMapId_t Allocate(int size, GrTextureFormat_t format = GR_TEXFMT_ARGB_4444) {
  const int lod = 8 - static_cast<int>(std::log2(size));
  return guTexAllocateMemory(GR_TMU0, GR_MIPMAPLEVELMASK_BOTH, size, size, format, GR_MIPMAP_NEAREST, GR_LOD_1, lod,
                             GR_ASPECT_1x1, GR_TEXTURECLAMP_WRAP, GR_TEXTURECLAMP_WRAP, GR_TEXTUREFILTER_BILINEAR,
                             GR_TEXTUREFILTER_BILINEAR, 0.0f, FXFALSE);
}

TEST_F(GlideTest, TextureMemoryRunsOutAtItsBudget) {
  // 256 × 256 argb4444 with every level: 174,762 bytes; 24 of them fit in the 4 MiB that the
  // hardware query reports, a 25th not.
  GrHwConfiguration configuration{};
  ASSERT_TRUE(grSstQueryHardware(&configuration));
  const auto budget = static_cast<std::uint32_t>(configuration.SSTs[0].tmuRam) << 20;
  int allocated = 0;
  while (Allocate(256) != GR_NULL_MIPMAP_HANDLE) ++allocated;
  EXPECT_EQ(allocated, static_cast<int>(budget / 174762));
  EXPECT_NE(Allocate(2), GR_NULL_MIPMAP_HANDLE); // the 16 bytes left still take a 2 × 2 texture
  grGlideShutdown();
  SetUp();
  EXPECT_NE(Allocate(256), GR_NULL_MIPMAP_HANDLE); // shutdown gave it all back
}

TEST_F(GlideTest, TextureHandlesRunOutAtTheirCount) {
  int allocated = 0;
  while (Allocate(1, GR_TEXFMT_INTENSITY_8) != GR_NULL_MIPMAP_HANDLE && allocated < 1000) ++allocated;
  EXPECT_EQ(allocated, 64);
}

struct AllocationCase {
  std::string name;
  GrChipID_t tmu = GR_TMU0;
  FxU8 mask = GR_MIPMAPLEVELMASK_BOTH;
  int width = 64, height = 64;
  GrTextureFormat_t format = GR_TEXFMT_INTENSITY_8;
  GrMipMapMode_t mipmapMode = GR_MIPMAP_NEAREST;
  GrLOD_t smallLod = GR_LOD_1, largeLod = GR_LOD_64;
  GrAspectRatio_t aspect = GR_ASPECT_1x1;
  GrTextureClampMode_t clamp = GR_TEXTURECLAMP_WRAP;
  GrTextureFilterMode_t filter = GR_TEXTUREFILTER_BILINEAR;
  FxBool trilinear = FXFALSE;
};

class RefusedAllocationTest : public GlideTest, public ::testing::WithParamInterface<AllocationCase> {};

TEST_P(RefusedAllocationTest, ReturnsTheNullHandle) {
  const AllocationCase& c = GetParam();
  EXPECT_EQ(guTexAllocateMemory(c.tmu, c.mask, c.width, c.height, c.format, c.mipmapMode, c.smallLod, c.largeLod,
                                c.aspect, c.clamp, c.clamp, c.filter, c.filter, 0.0f, c.trilinear),
            GR_NULL_MIPMAP_HANDLE);
}

AllocationCase Refused(std::string name, void (*change)(AllocationCase&)) {
  AllocationCase c;
  c.name = std::move(name);
  change(c);
  return c;
}

INSTANTIATE_TEST_SUITE_P(Arguments, RefusedAllocationTest,
                         ::testing::Values(Refused("SecondTextureUnit", [](AllocationCase& c) { c.tmu = 1; }),
                                           Refused("NoLevels", [](AllocationCase& c) { c.mask = 0; }),
                                           Refused("ReservedFormat", [](AllocationCase& c) { c.format = 6; }),
                                           Refused("UnknownFormat", [](AllocationCase& c) { c.format = 0xF; }),
                                           Refused("LevelsOutOfOrder",
                                                   [](AllocationCase& c) {
                                                     c.smallLod = GR_LOD_64;
                                                     c.largeLod = GR_LOD_1;
                                                   }),
                                           Refused("LevelBeyondTheRange", [](AllocationCase& c) { c.smallLod = 9; }),
                                           Refused("NegativeLevel", [](AllocationCase& c) { c.largeLod = -1; }),
                                           Refused("UnknownAspect", [](AllocationCase& c) { c.aspect = 7; }),
                                           Refused("SizeNotOfTheLevels", [](AllocationCase& c) { c.width = 32; }),
                                           Refused("NegativeSize", [](AllocationCase& c) { c.width = -64; }),
                                           Refused("Clamping",
                                                   [](AllocationCase& c) { c.clamp = GR_TEXTURECLAMP_CLAMP; }),
                                           Refused("UnknownFilter", [](AllocationCase& c) { c.filter = 2; }),
                                           Refused("UnknownMipmapMode", [](AllocationCase& c) { c.mipmapMode = 5; }),
                                           Refused("Trilinear", [](AllocationCase& c) { c.trilinear = FXTRUE; })),
                         support::CaseName<AllocationCase>);

TEST_F(GlideTest, DownloadsToUnknownHandlesAndDrawingWithThemChangeNothing) {
  guTexDownloadMipMap(12345, "\xFF", nullptr);
  guTexDownloadMipMap(GR_NULL_MIPMAP_HANDLE, "\xFF", nullptr);
  SetSquareState(12345);
  DrawSquare(100, 100, 20, 255, 255, 255, 255);
  EXPECT_EQ(PixelAt(100, 100), 0u); // no texture: the texels count as black
}

// ---------------------------------------------------------------------------------------------
// The flare texture the build makes.

TEST(FlareTest, TheBuildsFlareIsASixtyFourTexelGlowWithEveryLevel) {
  Gu3dfInfo info{};
  ASSERT_TRUE(gu3dfGetInfo(PYROVANE_FLARE_PATH, &info));
  EXPECT_EQ(info.header.width, 64u);
  EXPECT_EQ(info.header.height, 64u);
  EXPECT_EQ(info.header.large_lod, GR_LOD_64);
  EXPECT_EQ(info.header.small_lod, GR_LOD_1);
  EXPECT_EQ(info.header.format, GR_TEXFMT_INTENSITY_8);
  std::vector<std::uint8_t> texels(info.mem_required);
  info.data = texels.data();
  ASSERT_TRUE(gu3dfLoad(PYROVANE_FLARE_PATH, &info));
  auto at = [&](int row, int column) { return texels[row * 64 + column]; };
  EXPECT_GE(at(31, 31), 240); // a bright core
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(at(0, i), 0) << i; // black edges, so wrapping never shows
    EXPECT_EQ(at(i, 0), 0) << i;
    EXPECT_EQ(at(i, 63), 0) << i;
  }
  for (int row = 0; row < 64; ++row) {
    for (int column = 0; column < 64; ++column) {
      ASSERT_EQ(at(row, column), at(63 - row, column)) << row << ", " << column; // round
      ASSERT_EQ(at(row, column), at(column, row));
    }
  }
  for (int column = 33; column < 64; ++column) EXPECT_LE(at(32, column), at(32, column - 1)); // fading outwards
}

// ---------------------------------------------------------------------------------------------
// A frame allocates nothing.

TEST_F(GlideTest, AFrameAllocatesNothing) {
  const GrMipMapId_t texture = LoadTexture(SquareTexture(4, std::vector<std::uint16_t>(16, 0xFFFF)));
  SetSquareState(texture);
  const long before = allocations;
  for (int frame = 0; frame < 3; ++frame) {
    grBufferClear(0, 0, 0xFFFF);
    for (int i = 0; i < 200; ++i)
      DrawSquare(static_cast<float>(i * 3 % 640), static_cast<float>(i), 18.5f, 255, 128, 0, 255);
    DrawRectangle(-1e6f, -1e6f, 1e6f, 1e6f, 1, 1, 1); // cut to the guard band
    grBufferSwap(1);
  }
  EXPECT_EQ(allocations - before, 0);
}

// ---------------------------------------------------------------------------------------------
// What a present says has changed.

TEST_F(GlideTest, EachPresentMarksEveryTileThatChangedAndClearsLeaveNothingBehind) {
  // Drawings and clears between presents, some of the clears in clip windows that cut tiles in
  // part: after each present, every pixel that differs from the frame presented before lies in
  // a marked tile; after a black clear of the whole screen, everything is black again.
  support::DamageAudit audit(FrameCopy());
  int markedTiles = 0;
  board_.onPresent = [&](const glide::FrameView& frame) { markedTiles = audit.See(frame); };
  const auto clearIn = [](FxU32 minX, FxU32 minY, FxU32 maxX, FxU32 maxY, GrColor_t colour) {
    grClipWindow(minX, minY, maxX, maxY);
    grBufferClear(colour, 0, 0xFFFF);
    grClipWindow(0, 0, glide::ScreenWidth, glide::ScreenHeight);
  };
  struct Step {
    const char* name;
    std::function<void()> draw;
    bool blackAfter;
    int mostMarkedTiles;
  };
  const Step steps[] = {
      {"the first frame, whole", [] {}, true, glide::DamageRows * glide::DamageColumns},
      {"a small rectangle", [] { DrawRectangle(100, 100, 110, 115, 255, 0, 0); }, false, 12},
      {"a black clear", [] { grBufferClear(0, 0, 0xFFFF); }, true, 12},
      {"a colour in a window that cuts tiles", [&] { clearIn(3, 5, 13, 21, 0xFFFFFF); }, false, 12},
      {"black in part of that window", [&] { clearIn(5, 9, 11, 17, 0); }, false, 6},
      {"a black clear of what is left", [] { grBufferClear(0, 0, 0xFFFF); }, true, 12},
      {"rectangles over the edges",
       [] {
         DrawRectangle(-5, -5, 3, 3, 0, 255, 0);
         DrawRectangle(636, 476, 650, 490, 0, 0, 255);
       },
       false, 4},
      {"a black clear", [] { grBufferClear(0, 0, 0xFFFF); }, true, 4},
      {"nothing", [] {}, true, 0},
  };
  SetBlendingState();
  for (const Step& step : steps) {
    step.draw();
    grBufferSwap(1);
    EXPECT_EQ(audit.unmarkedChanges, 0u) << step.name;
    EXPECT_LE(markedTiles, step.mostMarkedTiles) << step.name;
    const std::vector<std::uint32_t> pixels = FrameCopy();
    if (step.blackAfter) {
      EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0u), static_cast<long>(pixels.size())) << step.name;
    } else {
      EXPECT_NE(std::count(pixels.begin(), pixels.end(), 0u), static_cast<long>(pixels.size())) << step.name;
    }
  }
}

} // namespace
