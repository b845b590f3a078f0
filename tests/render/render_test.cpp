// Tests of the display session, the flare texture's failures, the sprite and the three renderers.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "render_test_support.h"
#include "support/files.h"
#include "support/recording_board.h"
#include "tools/tools.h"

namespace {

using namespace render;
using namespace sim;

// Prints every library operation on standard error, so that a death test can see that the
// library was shut down before the process ended.
void PrintOperation(glide::Operation operation, void*) {
  std::fprintf(stderr, "[%s]", glide::OperationName(operation));
}

// A 4×4 texture, one level, black but for its second row: with wrapping bilinear filtering
// only that row's band lights up, well away from both edges.
std::vector<std::uint8_t> SecondRowTexture() {
  tdf_writer::Texture texture;
  texture.smallSize = texture.largeSize = 4;
  texture.texels.assign(16, 0);
  for (int column = 0; column < 4; ++column) texture.texels[4 + column] = 255;
  return tdf_writer::Encode(texture);
}

TEST(DisplaySessionDeathTest, AMissingOrUnopenableDisplayEndsTheProcessAfterShutdown) {
  // A display that is missing, or cannot be opened.
  struct Case {
    bool hardware;
    const char* expected;
  };
  for (const Case& c : {Case{false, "main: grSstQueryHardware failed!\n\\[grGlideShutdown\\]$"},
                        Case{true, "main: grSstOpen failed!\n\\[grGlideShutdown\\]$"}}) {
    EXPECT_EXIT(
        {
          support::RecordingBoard board;
          board.hardware = c.hardware;
          board.opens = false;
          glide::SelectBoard(&board);
          glide::SetOperationObserver(PrintOperation, nullptr);
          OpenDisplay();
        },
        ::testing::ExitedWithCode(255), c.expected);
  }
}

// Takes every 256 × 256 texture that texture memory has room for, which leaves 16 bytes.
void FillTextureMemory() {
  while (guTexAllocateMemory(GR_TMU0, GR_MIPMAPLEVELMASK_BOTH, 256, 256, GR_TEXFMT_ARGB_4444, GR_MIPMAP_NEAREST,
                             GR_LOD_1, GR_LOD_256, GR_ASPECT_1x1, GR_TEXTURECLAMP_WRAP, GR_TEXTURECLAMP_WRAP,
                             GR_TEXTUREFILTER_BILINEAR, GR_TEXTUREFILTER_BILINEAR, 0.0f,
                             FXFALSE) != GR_NULL_MIPMAP_HANDLE) {}
}

// Lets the address space grow by less than a large texture's texels, takes every block of the
// heap, and gives back 64 KiB: enough to read a file's header, too little for those texels.
void LeaveLittleHeap() {
  long pages = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  rlimit limit{};
  getrlimit(RLIMIT_AS, &limit);
  limit.rlim_cur = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE)) + 160 * 1024;
  setrlimit(RLIMIT_AS, &limit);
  void* last = nullptr; // the blocks taken, each holding the address of the one taken before
  while (void* block = std::malloc(1024)) {
    *static_cast<void**>(block) = last;
    last = block;
  }
  for (int given = 0; given < 64 && last != nullptr; ++given) {
    void* before = *static_cast<void**>(last);
    std::free(last);
    last = before;
  }
}

// Lowers the limit of open files to those open now, as `ulimit -n` does for a process that
// then opens a few more before it reads the texture.
void UseUpFileDescriptors() {
  const int lowestFree = dup(0);
  close(lowestFree);
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = static_cast<rlim_t>(lowestFree);
  setrlimit(RLIMIT_NOFILE, &limit);
}

// AddressSanitizer's allocator ends the process when the address space runs out, instead of
// returning null; the plain build tests that failure.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool HeapCanRunOut = false;
#else
constexpr bool HeapCanRunOut = true;
#endif
// The sanitizers' own checks at the process's end need a file descriptor of their own; where
// none is left they report errors that are not the program's. The whole-process test runs the
// plain build out of descriptors.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool DescriptorsCanRunOut = false;
#else
constexpr bool DescriptorsCanRunOut = true;
#endif

TEST(FlareTextureDeathTest, EachFailureNamesThePathShutsDownAndExits) {
  const support::TemporaryDirectory temporary;
  const std::string& directory = temporary.Path();
  const std::vector<std::uint8_t> whole = SecondRowTexture();
  ASSERT_TRUE(
      tdf_writer::WriteFile(directory + "/short.3df", std::vector<std::uint8_t>(whole.begin(), whole.end() - 3)));
  ASSERT_TRUE(tdf_writer::WriteFile(directory + "/garbage.3df", {'n', 'o', 't', '\n'}));
  tdf_writer::Texture large; // 174,762 bytes of texels
  large.format = GR_TEXFMT_ARGB_4444;
  large.largeSize = 256;
  large.texels.assign(tdf_writer::TexelCount(1, 256, 1, 1), 0);
  ASSERT_TRUE(tdf_writer::WriteFile(directory + "/large.3df", tdf_writer::Encode(large)));
  struct Case {
    std::string path;
    std::string message;
    void (*prepare)() = nullptr; // after the display opens
  };
  std::vector<Case> cases = {
      {directory + "/missing.3df", "could not get info on " + directory + "/missing.3df\n"},
      {directory + "/garbage.3df", "could not get info on " + directory + "/garbage.3df\n"},
      {directory + "/short.3df", "could not load texture file " + directory + "/short.3df\n"},
      {directory + "/large.3df", "could not allocate memory for texture file " + directory + "/large.3df\n",
       FillTextureMemory},
  };
  if (DescriptorsCanRunOut) {
    // No fault of the file's: the line says what ran out.
    cases.push_back({directory + "/short.3df", "main: cannot open " + directory + "/short.3df: Too many open files\n",
                     UseUpFileDescriptors});
  }
  if (HeapCanRunOut) {
    cases.push_back(
        {directory + "/large.3df", "out of memory for texture file " + directory + "/large.3df\n", LeaveLittleHeap});
  }
  for (const Case& c : cases) {
    EXPECT_EXIT(
        {
          OpenDisplay();
          if (c.prepare) c.prepare();
          glide::SetOperationObserver(PrintOperation, nullptr);
          LoadFlareTexture(c.path.c_str());
        },
        ::testing::ExitedWithCode(255), "^\\[gu3dfGetInfo\\].*" + c.message + "\\[grGlideShutdown\\]$");
  }
}

using ShowDisplayTest = rendertest::ShowDisplayTest;

TEST_F(ShowDisplayTest, SpritesLightNeitherTheRightmostColumnNorTheTopRow) {
  const std::string path = directory_.File("white.3df");
  tdf_writer::Texture white;
  white.texels = {255};
  ASSERT_TRUE(tdf_writer::WriteFile(path, tdf_writer::Encode(white)));
  Open(path);
  SetSpriteState(*flareTexture);
  for (float x : {0.0f, 639.0f}) {
    for (float y : {0.0f, 479.0f}) DrawSprite(x, y, 18.5f, 255, 0, 0, 255);
  }
  // Each sprite reaches 9.25 pixels from its centre, but the show's window ends a column and a
  // row short of the screen.
  for (int x : {0, 8, 630, 638}) EXPECT_TRUE(Lit(x, 0)) << x;
  for (int y : {0, 8, 470, 478}) EXPECT_TRUE(Lit(0, y)) << y;
  EXPECT_FALSE(Lit(9, 0));
  EXPECT_FALSE(Lit(629, 0));
  for (int y = 0; y < glide::ScreenHeight; ++y) EXPECT_FALSE(Lit(639, y)) << y;
  for (int x = 0; x < glide::ScreenWidth; ++x) EXPECT_FALSE(Lit(x, 479)) << x;
}

class SpriteTest : public rendertest::ShowDisplayTest {
protected:
  void SetUp() override {
    const std::string path = directory_.File("second-row.3df");
    ASSERT_TRUE(tdf_writer::WriteFile(path, SecondRowTexture()));
    Open(path);
  }
};

TEST_F(SpriteTest, TheSquareIsCentredAndTheTexturesFirstRowsRunAlongItsTop) {
  SetSpriteState(*flareTexture);
  DrawSprite(100, 200, 40, 255, 255, 255, 255);
  // The square covers pixel centres 180.5 to 219.5 both ways; t runs from 0 at its top edge to
  // 255 at its bottom, so the second texture row lights a band in the upper half.
  EXPECT_TRUE(Lit(100, 212));
  EXPECT_FALSE(Lit(100, 219));
  EXPECT_FALSE(Lit(100, 190));
  int litColumns = 0;
  for (int x = 70; x < 130; ++x) litColumns += Lit(x, 212) ? 1 : 0;
  EXPECT_EQ(litColumns, 40);
  EXPECT_TRUE(Lit(80, 212));
  EXPECT_TRUE(Lit(119, 212));
}

TEST_F(SpriteTest, RenderersDrawTheirPictureInsideOneSavedAndRestoredState) {
  struct Case {
    const char* name;
    DrawFn renderer;
    SlotState state;
    int particleCount;
    int trailCount;
    int sprites;
  };
  const Case cases[] = {
      {"head, rising", DrawHeadOrBurst, SlotState::Rising, 150, 20, 1},
      {"head and trail, rising", DrawHeadTrailOrBurst, SlotState::Rising, 150, 20, 21},
      {"trail, rising", DrawTrailOrBurst, SlotState::Rising, 150, 20, 20},
      {"trail, rising, no trail points", DrawTrailOrBurst, SlotState::Rising, 150, 0, 0},
      {"head, burst", DrawHeadOrBurst, SlotState::Burst, 150, 0, 150},
      {"head and trail, burst", DrawHeadTrailOrBurst, SlotState::Burst, 140, 20, 140},
      {"trail, finished this frame", DrawTrailOrBurst, SlotState::Finished, 150, 20, 150},
      {"burst with no particles", DrawHeadOrBurst, SlotState::Burst, 0, 20, 0},
  };
  static FireworkSlot slot{};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    slot.state = c.state;
    slot.particleCount = c.particleCount;
    slot.trailCount = c.trailCount;
    slot.size = 10;
    std::string log;
    glide::SetOperationObserver(
        [](glide::Operation operation, void* context) {
          auto* text = static_cast<std::string*>(context);
          *text += operation == glide::Operation::DrawTriangle    ? 't'
                   : operation == glide::Operation::GlideGetState ? '('
                   : operation == glide::Operation::GlideSetState ? ')'
                                                                  : '.';
        },
        &log);
    GrState before;
    grGlideGetState(&before);
    log.clear();
    c.renderer(slot);
    glide::SetOperationObserver(nullptr, nullptr);
    EXPECT_EQ(log, "(....." + std::string(2 * c.sprites, 't') + ")");
    GrState after;
    grGlideGetState(&after);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0) << "the base state is back";
  }
}

} // namespace
