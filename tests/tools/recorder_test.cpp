// Tests of pyrovane-record: golden traces and frames, its outputs, options and a missing texture.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/files.h"
#include "support/golden.h"
#include "support/process.h"
#include "tools/tools.h"

namespace {

namespace fs = std::filesystem;

const fs::path GoldenDirectory = fs::path(PYROVANE_SOURCE_DIR) / "tests/tools/golden";

// Runs the recorder with these arguments in `directory`, to its end: it takes longer under the
// sanitizers than other commands, so its limit is longer too.
support::Ended Record(const std::vector<std::string>& arguments, const fs::path& directory) {
  return support::RunToEnd(support::InDirectory(directory, support::Command(PYROVANE_RECORD, arguments)), {},
                           std::chrono::minutes(10));
}

class RecorderTest : public ::testing::Test {
protected:
  // A working directory that holds the build's flare texture, as the recorder expects.
  void ProvideFlare() { fs::copy_file(PYROVANE_FLARE, directory_ / "flare.3df"); }

  support::TemporaryDirectory temporary_;
  const fs::path directory_ = temporary_.Path();
};

TEST_F(RecorderTest, TracesMatchTheirGoldens) {
  ProvideFlare();
  struct Case {
    const char* golden;
    const char* framesPerSecond;
  };
  // Golden traces are kept compressed with xz: megabytes of digits shrink to a fifth.
  for (const Case& c :
       {Case{"01-trace-2000-frames-60fps.txt.xz", "60"}, Case{"02-trace-2000-frames-144fps.txt.xz", "144"}}) {
    SCOPED_TRACE(c.golden);
    const support::Ended recorded =
        Record({"--frames", "2000", "--fps", c.framesPerSecond, "--trace", "trace.txt"}, directory_);
    ASSERT_EQ(recorded.exitCode, 0) << recorded.output;
    const std::string trace = support::ReadWhole(directory_ / "trace.txt");
    const fs::path goldenPath = GoldenDirectory / c.golden;
    if (support::UpdatingGoldens()) {
      ASSERT_EQ(std::system(("xz -9 -c " + (directory_ / "trace.txt").string() + " > " + goldenPath.string()).c_str()),
                0);
      continue;
    }
    const support::Ended unpacked = support::RunToEnd({"xz", "-dc", goldenPath});
    ASSERT_EQ(unpacked.exitCode, 0) << "no golden trace; run with PYROVANE_UPDATE_GOLDEN=1: " << unpacked.output;
    const std::string& golden = unpacked.output;
    if (trace != golden) {
      // Name the first line that differs rather than printing megabytes.
      std::istringstream got(trace), expected(golden);
      std::string gotLine, expectedLine;
      int line = 1;
      while (std::getline(got, gotLine) && std::getline(expected, expectedLine) && gotLine == expectedLine) ++line;
      ADD_FAILURE() << "line " << line << " differs:\n  got      " << gotLine << "\n  expected " << expectedLine;
    }
  }
}

TEST_F(RecorderTest, TraceHasOneFrameRecordPerFrameAndSlotRecordsInListOrder) {
  ProvideFlare();
  ASSERT_EQ(Record({"--frames", "5", "--trace", "trace.txt"}, directory_).exitCode, 0);
  std::istringstream trace(support::ReadWhole(directory_ / "trace.txt"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(trace, line);) lines.push_back(line);
  // Five frames of the three opening rockets, newest first; no launch before frame 11.
  ASSERT_EQ(lines.size(), 20u);
  EXPECT_EQ(lines[0], "F 1 0 0 22");
  EXPECT_EQ(lines[4], "F 2 1 1 23");
  EXPECT_EQ(lines[1].substr(0, 13), "S 2 0 10 150 ");
  EXPECT_EQ(lines[2].substr(0, 13), "S 1 0 10 150 ");
  EXPECT_EQ(lines[3].substr(0, 13), "S 0 0 10 150 ");
  EXPECT_EQ(lines[16], "F 5 1 4 26");
}

TEST_F(RecorderTest, GoldenFramesBeforeDuringAndAfterABurst) {
  ProvideFlare();
  // The first rocket (slot 0) bursts in frame 68 at 60 fps; others follow, then fade.
  struct Case {
    int frame;
    const char* golden;
  };
  const Case cases[] = {
      {30, "03-frame-00030-rising.png"},
      {69, "04-frame-00069-first-burst.png"},
      {120, "05-frame-00120-bursts-fading.png"},
  };
  ASSERT_EQ(Record({"--frames", "120", "--png", "frames"}, directory_).exitCode, 0);
  int written = 0;
  for (const auto& entry : fs::directory_iterator(directory_ / "frames")) written += entry.is_regular_file() ? 1 : 0;
  EXPECT_EQ(written, 120);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.golden);
    char name[32];
    std::snprintf(name, sizeof name, "frame-%05d.png", c.frame);
    const auto frame = image_io::ReadPng((directory_ / "frames" / name).string());
    ASSERT_TRUE(frame) << name;
    support::ExpectMatchesGolden(*frame, (GoldenDirectory / c.golden).string());
  }
}

// The icon is a square of the last frame, pixel for pixel, opaque but for its rounded corners;
// frame 120 is the golden one.
TEST_F(RecorderTest, TheIconIsASquareOfTheLastFrameWithRoundedCorners) {
  ProvideFlare();
  ASSERT_EQ(Record({"--frames", "120", "--icon", "icon.png"}, directory_), (support::Ended{0, ""}));
  const auto icon = image_io::ReadPng((directory_ / "icon.png").string(), image_io::Alpha::Kept);
  const auto frame = image_io::ReadPng((GoldenDirectory / "05-frame-00120-bursts-fading.png").string());
  ASSERT_TRUE(icon && frame);
  const int side = image_io::IconSide;
  ASSERT_EQ(icon->width, side);
  ASSERT_EQ(icon->height, side);
  const auto at = [](const image_io::Image& image, int x, int y) { return image.pixels[y * image.width + x]; };
  for (const auto& [x, y] : {std::pair{0, 0}, {side - 1, 0}, {0, side - 1}, {side - 1, side - 1}}) {
    EXPECT_EQ(at(*icon, x, y) >> 24, 0u) << "corner " << x << "," << y;
  }
  for (const auto& [x, y] : {std::pair{side / 2, 0}, {0, side / 2}, {side / 2, side / 2}, {side - 1, side / 2}}) {
    EXPECT_EQ(at(*icon, x, y) >> 24, 255u) << "edge " << x << "," << y;
  }
  // The icon's colours are those of one square of the frame, and it holds a burst.
  const auto matches = [&](int left, int top) {
    for (int y = 0; y < side; ++y) {
      for (int x = 0; x < side; ++x) {
        if ((at(*icon, x, y) & 0xFFFFFF) != at(*frame, left + x, top + y)) return false;
      }
    }
    return true;
  };
  bool found = false;
  for (int top = 0; top + side <= frame->height && !found; ++top) {
    for (int left = 0; left + side <= frame->width && !found; ++left) found = matches(left, top);
  }
  EXPECT_TRUE(found) << "the icon is no square of the frame";
  const auto bright = std::count_if(icon->pixels.begin(), icon->pixels.end(), [](std::uint32_t pixel) {
    return (pixel >> 16 & 0xFF) + (pixel >> 8 & 0xFF) + (pixel & 0xFF) > 3 * 128;
  });
  EXPECT_GT(bright, side * side / 100);
}

TEST_F(RecorderTest, AnimationIsAnAnimatedWebP) {
  ProvideFlare();
  ASSERT_EQ(Record({"--frames", "20", "--fps", "30", "--animation", "show.webp"}, directory_).exitCode, 0);
  const std::string file = support::ReadWhole(directory_ / "show.webp");
  ASSERT_GT(file.size(), 64u);
  EXPECT_EQ(file.substr(0, 4), "RIFF");
  EXPECT_EQ(file.substr(8, 4), "WEBP");
  EXPECT_NE(file.find("ANIM"), std::string::npos);
  // The chunks after the 12 bytes of the RIFF header: one frame chunk per frame, whose duration
  // in milliseconds is the 24-bit little-endian field 12 bytes into its payload.
  const auto number = [&file](std::size_t at, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(file[at + i]);
    return value;
  };
  std::vector<std::uint32_t> durations;
  for (std::size_t at = 12; at + 8 <= file.size(); at += 8 + ((number(at + 4, 4) + 1) & ~1u)) {
    if (file.compare(at, 4, "ANMF") == 0) durations.push_back(number(at + 8 + 12, 3));
  }
  ASSERT_EQ(durations.size(), 20u);
  // At 30 frames a second a frame lasts 33 or 34 ms, and twenty of them 666 ms.
  std::uint32_t total = 0;
  for (const std::uint32_t duration : durations) {
    EXPECT_TRUE(duration == 33 || duration == 34) << duration;
    total += duration;
  }
  EXPECT_EQ(total, 666u);
}

TEST_F(RecorderTest, BadOptionsAreRefusedWithAMessage) {
  const std::vector<std::vector<std::string>> cases = {
      {"--frames", "0"},
      {"--frames", "-3"},
      {"--frames", "12x"},
      {"--frames"},
      {"--frames", "100000001"},
      {"--fps", "0"},
      {"--fps", ""},
      {"--fps", "1e3"},
      {"--fps", "1001"},
      {"--colour", "red"},
      {"--trace", "/nonexistent-directory/trace.txt"},
  };
  for (const auto& arguments : cases) {
    const support::Ended outcome = Record(arguments, directory_);
    EXPECT_NE(outcome.exitCode, 0) << arguments[0];
    EXPECT_NE(outcome.output.find("pyrovane-record: "), std::string::npos) << outcome.output;
  }
  EXPECT_EQ(Record({"--help"}, directory_).exitCode, 0);
}

TEST_F(RecorderTest, AMissingTextureEndsTheShowBeforeAnyFrame) {
  // Without a texture in the working directory the recorder looks for the installed one, which
  // a build tree does not have.
  const support::Ended outcome = Record({"--frames", "5", "--png", "frames"}, directory_);
  EXPECT_EQ(outcome.exitCode, 255);
  EXPECT_TRUE(outcome.output.starts_with("could not get info on /")) << outcome.output;
  EXPECT_TRUE(outcome.output.ends_with("/share/pyrovane/flare.3df\n")) << outcome.output;
  EXPECT_TRUE(fs::is_empty(directory_ / "frames"));
}

TEST_F(RecorderTest, TheNamedTextureComesFirstThenTheWorkingDirectorysOwn) {
  struct Case {
    const char* name;
    bool emptyFileInWorkingDirectory; // a "flare.3df" that is no texture
    std::vector<std::string> textureOption;
    support::Ended expected;
  };
  const Case cases[] = {
      {"a texture named, none here", false, {"--texture", PYROVANE_FLARE}, {0, ""}},
      {"a texture named beats a bad one here", true, {"--texture", PYROVANE_FLARE}, {0, ""}},
      {"a missing texture named",
       false,
       {"--texture", "/nonexistent/flare.3df"},
       {255, "could not get info on /nonexistent/flare.3df\n"}},
      {"a bad one here is used, not passed over", true, {}, {255, "could not get info on flare.3df\n"}},
  };
  for (const Case& c : cases) {
    fs::remove(directory_ / "flare.3df");
    if (c.emptyFileInWorkingDirectory) std::ofstream(directory_ / "flare.3df").close();
    std::vector<std::string> arguments{"--frames", "3"};
    arguments.insert(arguments.end(), c.textureOption.begin(), c.textureOption.end());
    EXPECT_EQ(Record(arguments, directory_), c.expected) << c.name;
  }
}

// ---------------------------------------------------------------------------------------------
// Memory. These run only in the sanitizer build (as the test recorder_leak_check), where the
// recorder is built with AddressSanitizer and its leak checker: ten thousand frames must touch
// no memory amiss and leak nothing. The texture the show keeps until the process ends stays
// reachable through the program's pointer to it, so it is not a leak.

void* volatile leakedBlock = nullptr;

// Leaks one block, out of line so that no copy of its address is left where the checker looks.
[[gnu::noinline]] void LeakABlock() {
  leakedBlock = std::malloc(64);
  leakedBlock = nullptr;
}

class RecorderLeakCheck : public RecorderTest {};

// Without this, a checker that is off (or cannot run here) would pass everything.
TEST_F(RecorderLeakCheck, DISABLED_TheCheckerSeesALeak) {
  EXPECT_EXIT(
      {
        LeakABlock();
        std::exit(0);
      },
      [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; }, "LeakSanitizer: detected memory leaks");
}

TEST_F(RecorderLeakCheck, DISABLED_TenThousandFramesTouchNoMemoryAmissAndLeakNothing) {
  ProvideFlare();
  const support::Ended outcome = Record({"--frames", "10000"}, directory_);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.output;
  EXPECT_EQ(outcome.output.find("Sanitizer"), std::string::npos) << outcome.output;
}

} // namespace
