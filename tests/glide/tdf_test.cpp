// Tests of the .3df reader: every format and shape read back texel-exact from files the tests
// write, the colours every format decodes to, the header variants it tolerates, and every
// malformed case, from memory and from disk alike.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "glide_test_support.h"
#include "support/case_name.h"
#include "support/tdf_cases.h"

namespace {

using namespace glidetest;

using tdf_cases::Failure;

// What the reader made of a file: its two results, and the block and buffer it filled.
struct ReadResult {
  bool described = false;
  bool loaded = false;
  Gu3dfInfo info{};
  std::vector<std::uint8_t> data;
};

// Byte patterns that show whether a failed read left the caller's block and buffer alone.
constexpr std::uint8_t UntouchedInfo = 0xA5;
constexpr std::uint8_t UntouchedData = 0x5A;

enum class Source { Memory, File };

// Every file is read from memory and from disk, and its case is named after both.
const auto BothSources = ::testing::Values(Source::Memory, Source::File);
template <typename File>
std::string NameWithSource(const ::testing::TestParamInfo<std::tuple<File, Source>>& info) {
  std::string name = std::get<0>(info.param).name + (std::get<1>(info.param) == Source::File ? "_File" : "_Memory");
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

std::string WriteTemporary(const std::vector<std::uint8_t>& bytes) {
  std::string path = ::testing::TempDir() + "tdf_test.3df";
  tdf_writer::WriteFile(path, bytes);
  return path;
}

// Describes the file, then loads it into a buffer of the size the description asked for (or, when
// the description failed, of the size the largest texture needs).
ReadResult Read(const std::vector<std::uint8_t>& bytes, Source source) {
  ReadResult result;
  std::memset(&result.info, UntouchedInfo, sizeof result.info);
  const std::string path = source == Source::File ? WriteTemporary(bytes) : "";
  result.described = source == Source::File ? gu3dfGetInfo(path.c_str(), &result.info)
                                            : glide::Get3dfInfoFromMemory(bytes.data(), bytes.size(), &result.info);
  Gu3dfInfo block = result.info;
  if (!result.described) block.mem_required = 256 * 256 * 2 * 4 / 3 + 2;
  result.data.assign(block.mem_required, UntouchedData);
  block.data = result.data.data();
  result.loaded = source == Source::File ? gu3dfLoad(path.c_str(), &block)
                                         : glide::Load3dfFromMemory(bytes.data(), bytes.size(), &block);
  if (result.loaded) result.info = block;
  return result;
}

bool AllBytesAre(const void* block, std::size_t size, std::uint8_t value) {
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  return std::all_of(bytes, bytes + size, [value](std::uint8_t byte) { return byte == value; });
}

// ---------------------------------------------------------------------------------------------
// Every format and shape, read back.

struct Shape {
  int smallSize, largeSize, aspectWidth, aspectHeight;
  // What the header must say.
  FxU32 width, height;
  int smallLod, largeLod, aspect;
};

constexpr Shape Shapes[] = {
    {1, 8, 1, 1, 8, 8, GR_LOD_1, GR_LOD_8, GR_ASPECT_1x1},
    {1, 64, 1, 1, 64, 64, GR_LOD_1, GR_LOD_64, GR_ASPECT_1x1},
    {1, 256, 8, 1, 256, 32, GR_LOD_1, GR_LOD_256, GR_ASPECT_8x1},
    {4, 4, 1, 8, 1, 4, GR_LOD_4, GR_LOD_4, GR_ASPECT_1x8},
    {2, 128, 1, 2, 64, 128, GR_LOD_2, GR_LOD_128, GR_ASPECT_1x2},
    {16, 32, 4, 1, 32, 8, GR_LOD_16, GR_LOD_32, GR_ASPECT_4x1},
    {1, 1, 1, 4, 1, 1, GR_LOD_1, GR_LOD_1, GR_ASPECT_1x4},
};

class RoundTripTest : public ::testing::TestWithParam<std::tuple<GrTextureFormat_t, Shape, Source>> {};

TEST_P(RoundTripTest, ReadsBackHeaderTableAndEveryTexel) {
  const auto [format, shape, source] = GetParam();
  const tdf_writer::Texture texture =
      tdf_cases::SampleTexture(format, shape.smallSize, shape.largeSize, shape.aspectWidth, shape.aspectHeight);
  const ReadResult result = Read(tdf_writer::Encode(texture), source);
  ASSERT_TRUE(result.described);
  ASSERT_TRUE(result.loaded);
  const Gu3dfHeader& header = result.info.header;
  EXPECT_EQ(header.width, shape.width);
  EXPECT_EQ(header.height, shape.height);
  EXPECT_EQ(header.small_lod, shape.smallLod);
  EXPECT_EQ(header.large_lod, shape.largeLod);
  EXPECT_EQ(header.aspect_ratio, shape.aspect);
  EXPECT_EQ(header.format, format);
  const std::size_t bytesPerTexel = tdf_cases::IsWide(format) ? 2 : 1;
  ASSERT_EQ(result.info.mem_required, texture.texels.size() * bytesPerTexel);

  for (std::size_t i = 0; i < texture.texels.size(); ++i) {
    std::uint16_t texel = result.data[i];
    if (bytesPerTexel == 2) std::memcpy(&texel, &result.data[2 * i], 2);
    ASSERT_EQ(texel, texture.texels[i]) << "texel " << i;
  }
  if (format == GR_TEXFMT_P_8 || format == GR_TEXFMT_AP_88) {
    EXPECT_EQ(0, std::memcmp(&result.info.table.palette, &texture.table.palette, sizeof texture.table.palette));
  }
  if (format == GR_TEXFMT_YIQ_422 || format == GR_TEXFMT_AYIQ_8422) {
    const GuNccTable& read = result.info.table.nccTable;
    const GuNccTable& written = texture.table.nccTable;
    EXPECT_EQ(0, std::memcmp(read.yRGB, written.yRGB, sizeof read.yRGB));
    EXPECT_EQ(0, std::memcmp(read.iRGB, written.iRGB, sizeof read.iRGB));
    EXPECT_EQ(0, std::memcmp(read.qRGB, written.qRGB, sizeof read.qRGB));
  }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, RoundTripTest,
                         ::testing::Combine(::testing::ValuesIn(tdf_cases::AllFormats), ::testing::ValuesIn(Shapes),
                                            BothSources));

TEST(TdfReaderTest, MemoryRequiredCountsEveryLevelInTheFilesTexelSize) {
  // 64 × 64 argb4444 down to 1 × 1: (4096 + 1024 + 256 + 64 + 16 + 4 + 1) · 2 bytes.
  const auto file = tdf_writer::Encode(tdf_cases::SampleTexture(GR_TEXFMT_ARGB_4444, 1, 64, 1, 1));
  Gu3dfInfo info{};
  ASSERT_TRUE(glide::Get3dfInfoFromMemory(file.data(), file.size(), &info));
  EXPECT_EQ(info.mem_required, 10922u);
}

// ---------------------------------------------------------------------------------------------
// What every format decodes to, seen through the rasterizer at texel centres.

// Named after its format.
struct DecodeCase {
  GrTextureFormat_t format;
  std::array<std::uint16_t, 4> texels;
  std::array<std::uint32_t, 4> expected;
};

GuTexTable DecodeTable() {
  GuTexTable table{};
  GuNccTable& ncc = table.nccTable;
  ncc.yRGB[0] = 10;
  ncc.yRGB[8] = 100;
  ncc.yRGB[15] = 200;
  const FxI16 i1[3] = {10, -20, 30}, i3[3] = {-100, -100, -100}, q2[3] = {-5, 5, 100}, q3[3] = {200, 0, -50};
  std::copy(i1, i1 + 3, ncc.iRGB[1]);
  std::copy(i3, i3 + 3, ncc.iRGB[3]);
  std::copy(q2, q2 + 3, ncc.qRGB[2]);
  std::copy(q3, q3 + 3, ncc.qRGB[3]);
  return table;
}

GuTexTable PaletteTable() {
  GuTexTable table{};
  table.palette.data[0] = 0xFF000000;
  table.palette.data[1] = 0xFFFFFFFF;
  table.palette.data[5] = 0x80123456; // the entry's alpha is not drawn
  table.palette.data[255] = 0x00ABCDEF;
  return table;
}

class DecodeTest : public GlideTest, public ::testing::WithParamInterface<DecodeCase> {};

TEST_P(DecodeTest, GivesTheTexelsColours) {
  const DecodeCase& decode = GetParam();
  // A 4 × 1 texture: s spans the four texels, t (0..64 for 4:1) its one row.
  tdf_writer::Texture texture;
  texture.format = decode.format;
  texture.smallSize = 4;
  texture.largeSize = 4;
  texture.aspectWidth = 4;
  texture.texels.assign(decode.texels.begin(), decode.texels.end());
  texture.table = decode.format == GR_TEXFMT_P_8 || decode.format == GR_TEXFMT_AP_88 ? PaletteTable() : DecodeTable();
  const GrMipMapId_t id = LoadTexture(tdf_writer::Encode(texture));
  ASSERT_NE(id, GR_NULL_MIPMAP_HANDLE);
  grAlphaBlendFunction(GR_BLEND_ONE, GR_BLEND_ZERO, GR_BLEND_ONE, GR_BLEND_ZERO);
  guColorCombineFunction(GR_COLORCOMBINE_TEXTURE_TIMES_ITRGB);
  guTexSource(id);
  grTexCombineFunction(GR_TMU0, GR_TEXTURECOMBINE_DECAL);
  DrawRectangle(100, 100, 104, 101, 255, 255, 255, 255, {0, 256, 64, 0});
  for (int i = 0; i < 4; ++i) EXPECT_EQ(PixelAt(100 + i, 100), decode.expected[i]) << "texel " << i;
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, DecodeTest,
    ::testing::Values(
        // Fields widen by repeating their bits: 3-bit 2 is 0b01001001, 2-bit 1 is 0b01010101.
        DecodeCase{GR_TEXFMT_RGB_332, {0xE0, 0x1C, 0x03, 0x49}, {0xFF0000, 0x00FF00, 0x0000FF, 0x494955}},
        // Y 15, I 1, Q 2: 200 + (10, −20, 30) + (−5, 5, 100), clamped; Y 0, I 3: 10 − 100 → 0;
        // Y 8, Q 3: 100 + (200, 0, −50); Y 0 alone.
        DecodeCase{GR_TEXFMT_YIQ_422, {0xF6, 0x0C, 0x83, 0x00}, {0xCDB9FF, 0x000000, 0xFF6432, 0x0A0A0A}},
        // Alpha-only texels are drawn as grey (their colour is their alpha).
        DecodeCase{GR_TEXFMT_ALPHA_8, {0x00, 0x80, 0xFF, 0x01}, {0x000000, 0x808080, 0xFFFFFF, 0x010101}},
        DecodeCase{GR_TEXFMT_INTENSITY_8, {0x40, 0x00, 0xFF, 0x7F}, {0x404040, 0x000000, 0xFFFFFF, 0x7F7F7F}},
        DecodeCase{GR_TEXFMT_ALPHA_INTENSITY_44, {0x3C, 0xF0, 0x0F, 0x55}, {0xCCCCCC, 0x000000, 0xFFFFFF, 0x555555}},
        DecodeCase{GR_TEXFMT_P_8, {5, 255, 1, 0}, {0x123456, 0xABCDEF, 0xFFFFFF, 0x000000}},
        DecodeCase{GR_TEXFMT_ARGB_8332, {0xFFE0, 0x001C, 0x8003, 0x1249}, {0xFF0000, 0x00FF00, 0x0000FF, 0x494955}},
        DecodeCase{GR_TEXFMT_AYIQ_8422, {0xFFF6, 0x000C, 0x7F83, 0x0000}, {0xCDB9FF, 0x000000, 0xFF6432, 0x0A0A0A}},
        // 5-bit 16 is 0b10000100, 6-bit 32 is 0b10000010.
        DecodeCase{GR_TEXFMT_RGB_565, {0xF800, 0x07E0, 0x001F, 0x8410}, {0xFF0000, 0x00FF00, 0x0000FF, 0x848284}},
        DecodeCase{GR_TEXFMT_ARGB_1555, {0x7C00, 0x83E0, 0x001F, 0x0421}, {0xFF0000, 0x00FF00, 0x0000FF, 0x080808}},
        DecodeCase{GR_TEXFMT_ARGB_4444, {0xFF00, 0x00F0, 0x000F, 0x0123}, {0xFF0000, 0x00FF00, 0x0000FF, 0x112233}},
        DecodeCase{
            GR_TEXFMT_ALPHA_INTENSITY_88, {0x12AB, 0xFF00, 0x00FF, 0x8080}, {0xABABAB, 0x000000, 0xFFFFFF, 0x808080}},
        DecodeCase{GR_TEXFMT_AP_88, {0xFF05, 0x00FF, 0x1201, 0x3400}, {0x123456, 0xABCDEF, 0xFFFFFF, 0x000000}}),
    [](const ::testing::TestParamInfo<DecodeCase>& info) { return tdf_writer::FormatName(info.param.format); });

// ---------------------------------------------------------------------------------------------
// Header variants the reader tolerates, and the files it must refuse.

class AcceptedTest : public ::testing::TestWithParam<std::tuple<tdf_cases::NamedFile, Source>> {};

TEST_P(AcceptedTest, ReadsTheFile) {
  const auto& [file, source] = GetParam();
  const ReadResult result = Read(file.bytes, source);
  ASSERT_TRUE(result.described);
  ASSERT_TRUE(result.loaded);
  EXPECT_EQ(result.info.header.format, GR_TEXFMT_RGB_565);
  std::uint16_t texel;
  std::memcpy(&texel, result.data.data(), 2);
  EXPECT_EQ(texel, 0x1234);
}

INSTANTIATE_TEST_SUITE_P(Variants, AcceptedTest,
                         ::testing::Combine(::testing::ValuesIn(tdf_cases::AcceptedVariants()), BothSources),
                         NameWithSource<tdf_cases::NamedFile>);

class MalformedTest : public ::testing::TestWithParam<std::tuple<tdf_cases::MalformedFile, Source>> {};

TEST_P(MalformedTest, GivesTheZeroResultAndTouchesNothing) {
  const auto& [file, source] = GetParam();
  const ReadResult result = Read(file.bytes, source);
  EXPECT_FALSE(result.loaded);
  EXPECT_TRUE(AllBytesAre(result.data.data(), result.data.size(), UntouchedData)) << "the buffer was written";
  if (file.failure == Failure::Header) {
    EXPECT_FALSE(result.described);
    EXPECT_TRUE(AllBytesAre(&result.info, sizeof result.info, UntouchedInfo)) << "the block was written";
  } else {
    EXPECT_TRUE(result.described) << "the header alone is sound";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedTest,
                         ::testing::Combine(::testing::ValuesIn(tdf_cases::MalformedFiles()), BothSources),
                         NameWithSource<tdf_cases::MalformedFile>);

// A failed read says why in errno, as the C library's file functions do, so that a caller can
// tell a file that is not a texture from a process that cannot open any file.
TEST(TdfReaderTest, AFileThatCannotBeReadGivesTheZeroResultAndSaysWhy) {
  const std::string garbage = WriteTemporary({'n', 'o', 't', '\n'});
  const std::string valid = ::testing::TempDir() + "tdf_test_valid.3df";
  tdf_writer::WriteFile(valid, tdf_cases::ValidHeader());
  const auto useUpFileDescriptors = [](rlimit& limit) {
    const int lowestFree = dup(0);
    close(lowestFree);
    rlimit lowered = limit;
    lowered.rlim_cur = static_cast<rlim_t>(lowestFree);
    setrlimit(RLIMIT_NOFILE, &lowered);
  };
  struct Case {
    const char* name;
    const char* path;
    int error;
    void (*prepare)(rlimit& limit) = nullptr;
  };
  const Case cases[] = {
      {"a missing file", "no-such-directory/no-such-file.3df", ENOENT},
      {"no name", nullptr, EINVAL},
      {"a directory", "/", EINVAL},
      {"bytes that are not a texture", garbage.c_str(), EINVAL},
      {"a sound file, no file descriptor left", valid.c_str(), EMFILE, useUpFileDescriptors},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (c.prepare) c.prepare(limit);
    Gu3dfInfo info{};
    errno = 0;
    const FxBool described = gu3dfGetInfo(c.path, &info);
    const int describeError = errno;
    std::vector<std::uint8_t> buffer(256 * 256 * 2 * 4 / 3 + 2);
    info.data = buffer.data();
    info.mem_required = static_cast<FxU32>(buffer.size());
    errno = 0;
    const FxBool loaded = gu3dfLoad(c.path, &info);
    const int loadError = errno;
    setrlimit(RLIMIT_NOFILE, &limit);
    EXPECT_FALSE(described);
    EXPECT_EQ(describeError, c.error);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(loadError, c.error);
  }
}

// Only a regular file (or a link to one) can be a texture. Each read runs in a child process that
// an alarm ends if the read waits: a named pipe that nobody writes into must not stop it.
TEST(TdfReaderDeathTest, AnythingButARegularFileGivesTheZeroResultWithoutWaiting) {
  const std::string directory = ::testing::TempDir() + "tdf_test_kinds";
  std::filesystem::remove_all(directory);
  std::filesystem::create_directory(directory);
  const std::string valid = directory + "/valid.3df";
  const std::vector<std::uint8_t> header = tdf_cases::ValidHeader();
  std::ofstream(valid, std::ios::binary) << std::string(header.begin(), header.end());
  ASSERT_EQ(mkfifo((directory + "/pipe.3df").c_str(), 0600), 0);
  std::filesystem::create_symlink(valid, directory + "/link.3df");
  std::filesystem::create_symlink(directory + "/pipe.3df", directory + "/link-to-pipe.3df");
  std::filesystem::create_directory(directory + "/directory.3df");
  struct Case {
    const char* name;
    std::string path;
    bool readable;
    bool heldOpenForWriting = false;
  };
  const Case cases[] = {
      {"a regular file", valid, true},
      {"a link to a regular file", directory + "/link.3df", true},
      {"a directory", directory + "/directory.3df", false},
      {"a named pipe", directory + "/pipe.3df", false},
      {"a link to a named pipe", directory + "/link-to-pipe.3df", false},
      // A pipe with a writer that writes nothing: a read of it would wait for ever.
      {"a named pipe held open by a writer", directory + "/pipe.3df", false, true},
      {"a device of endless zeros", "/dev/zero", false},
  };
  constexpr unsigned HangLimitSeconds = 20;
  for (const Case& c : cases) {
    EXPECT_EXIT(
        {
          alarm(HangLimitSeconds);
          if (c.heldOpenForWriting && open(c.path.c_str(), O_RDWR) < 0) std::exit(2);
          Gu3dfInfo info{};
          const bool described = gu3dfGetInfo(c.path.c_str(), &info) != FXFALSE;
          std::vector<std::uint8_t> buffer(info.mem_required + 1);
          info.data = buffer.data();
          const bool loaded = gu3dfLoad(c.path.c_str(), &info) != FXFALSE;
          std::exit(described == c.readable && loaded == c.readable ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "")
        << c.name;
  }
  std::filesystem::remove_all(directory);
}

TEST(TdfReaderTest, LoadingWithoutABufferGivesTheZeroResult) {
  const auto file = tdf_cases::ValidHeader();
  Gu3dfInfo info{};
  ASSERT_TRUE(glide::Get3dfInfoFromMemory(file.data(), file.size(), &info));
  info.data = nullptr;
  EXPECT_FALSE(glide::Load3dfFromMemory(file.data(), file.size(), &info));
}

TEST(TdfReaderTest, AFileThatGrewSinceItsDescriptionIsNotLoadedPastTheBuffer) {
  const std::string path =
      WriteTemporary(tdf_writer::Encode(tdf_cases::SampleTexture(GR_TEXFMT_INTENSITY_8, 1, 8, 1, 1)));
  Gu3dfInfo info{};
  ASSERT_TRUE(gu3dfGetInfo(path.c_str(), &info));
  std::vector<std::uint8_t> buffer(info.mem_required, UntouchedData);
  info.data = buffer.data();
  WriteTemporary(tdf_writer::Encode(tdf_cases::SampleTexture(GR_TEXFMT_INTENSITY_8, 1, 64, 1, 1)));
  EXPECT_FALSE(gu3dfLoad(path.c_str(), &info));
  EXPECT_TRUE(AllBytesAre(buffer.data(), buffer.size(), UntouchedData));
  // Nor into a buffer a single byte short of what the file holds.
  ASSERT_TRUE(gu3dfGetInfo(path.c_str(), &info));
  std::vector<std::uint8_t> shortBuffer(info.mem_required - 1, UntouchedData);
  info.data = shortBuffer.data();
  info.mem_required -= 1;
  EXPECT_FALSE(gu3dfLoad(path.c_str(), &info));
  EXPECT_TRUE(AllBytesAre(shortBuffer.data(), shortBuffer.size(), UntouchedData));
}

} // namespace
