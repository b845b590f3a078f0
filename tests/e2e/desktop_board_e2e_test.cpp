// Whole-process tests of the desktop board and its button, on a private Xvfb server.
#include "screenshots.h"
#include "support/case_name.h"
#include "x_servers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace e2e;
using namespace support;

const std::string Probe = DESKTOP_BOARD_PROBE;
constexpr int ProbeFoundDisplay = 0;
constexpr int ProbeNoDisplay = 3;

// The frame count of the probe's last progress line ("presented N").
int LastPresentedCount(const std::string& output) {
  const std::size_t at = output.rfind("presented ");
  return at == std::string::npos ? 0 : std::atoi(output.c_str() + at + 10);
}

// A renderer may round a channel differently from our scaler.
constexpr int ChannelTolerance = 3;

bool Near(Colour actual, Colour expected) { return e2e::Near(actual, expected, ChannelTolerance); }

// A running probe that shows the pattern, once it has presented its first ten frames.
struct RunningProbe {
  ChildProcess process;
  bool presenting;
  RunningProbe(const XvfbServer& server, const std::string& outputPath, const std::string& path = "automatic",
               EnvironmentChanges more = {})
      : process({Probe, "show", "--path", path, "--pattern", "quadrants"}, WithDisplay(server, std::move(more)),
                outputPath),
        presenting(process.WaitForOutput("presented 10\n", PatienceLimit)) {}

  // The probe's environment: the server's display, and what the test adds.
  static EnvironmentChanges WithDisplay(const XvfbServer& server, EnvironmentChanges more) {
    more.merge(server.Environment());
    return more;
  }
  // Waits until the probe has presented `frames` (a multiple of ten) more frames than it had reported.
  bool PresentsMore(int frames) {
    const int target = LastPresentedCount(process.Output()) + frames;
    return process.WaitForOutput("presented " + std::to_string(target) + "\n", PatienceLimit);
  }
};

TEST(DesktopBoardQuery, FindsOnlyADisplayAPersonCanSee) {
  START_X_SERVER(server, 640, 480);
  TemporaryDirectory directory;
  // A display number that nothing listens on: Xvfb chose a free one, and the next thousand up
  // is as free in practice.
  const std::string deadDisplay = ":" + std::to_string(std::atoi(server.Display().c_str() + 1) + 1000);
  struct Case {
    const char* name;
    EnvironmentChanges environment;
    int expectedExit;
  };
  const Case cases[] = {
      {"an X display", {{"DISPLAY", server.Display()}}, ProbeFoundDisplay},
      {"no DISPLAY at all", {}, ProbeNoDisplay},
      {"DISPLAY naming a dead server", {{"DISPLAY", deadDisplay}}, ProbeNoDisplay},
      // SDL's invisible drivers, which it would otherwise fall back on quietly, are never used.
      {"SDL's offscreen driver named, no display", {{"SDL_VIDEODRIVER", "offscreen"}}, ProbeNoDisplay},
      {"a dead compositor, and an X display",
       {{"WAYLAND_DISPLAY", "no-such-compositor"}, {"DISPLAY", server.Display()}},
       ProbeFoundDisplay},
      {"a dead compositor only", {{"WAYLAND_DISPLAY", "no-such-compositor"}}, ProbeNoDisplay},
  };
  for (const Case& c : cases) {
    const Ended query = RunToEnd({Probe, "query"}, c.environment);
    EXPECT_EQ(query.exitCode, c.expectedExit) << c.name << ": " << query.output;
    if (c.expectedExit == ProbeNoDisplay) {
      // A failed start must leave nothing but its own line on the terminal.
      EXPECT_EQ(query.output, "no display\n") << c.name;
    }
  }
}

// Expects the probe's pattern in `picture` and black bars around it, in `area` of the screenshot
// (the screen, or a host's window): both rectangles in the screenshot's pixels.
void ExpectPattern(const Image& shot, Rect area, Rect picture) {
  for (const PatternSample& s : PatternSamples(area, picture)) {
    EXPECT_TRUE(Near(shot.At(s.x, s.y), s.expected))
        << s.what << " at " << s.x << "," << s.y << " is " << Describe(shot.At(s.x, s.y));
  }
}

struct ScreenCase {
  const char* name;
  int width;
  int height;
  const char* path;
  Rect picture; // where the frame must appear; black bars elsewhere
};

class DesktopBoardScreen : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(DesktopBoardScreen, FillsTheScreenWithTheFrameInFourByThree) {
  const ScreenCase& c = GetParam();
  START_X_SERVER(server, c.width, c.height);
  TemporaryDirectory directory;
  RunningProbe probe(server, directory.File("probe.out"), c.path);
  ASSERT_TRUE(probe.presenting) << probe.process.Output();
  const auto shot = Screenshot(server.Display(), directory.File("shot.ppm"));
  ASSERT_TRUE(shot.has_value());
  ASSERT_EQ(shot->width, c.width);
  ASSERT_EQ(shot->height, c.height);
  ExpectPattern(*shot, server.Screen(), c.picture);

  // Along a row through the red and green halves, scaling is smooth when pixels between the two
  // mix them; at the frame's own size every pixel is one or the other.
  const Rect p = c.picture;
  int mixed = 0;
  const int row = p.y + p.height / 4;
  for (int x = p.x; x < p.x + p.width; ++x) {
    const Colour colour = shot->At(x, row);
    if (!Near(colour, Red) && !Near(colour, Green)) {
      ++mixed;
      EXPECT_GT(colour.red + colour.green, 200) << "a mixed pixel at " << x << " is " << Describe(colour);
    }
  }
  if (p.width == 640) {
    EXPECT_EQ(mixed, 0);
  } else {
    EXPECT_GT(mixed, 0) << "no smooth step between red and green";
    EXPECT_LE(mixed, 4) << "the step between red and green is blurred too wide";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DesktopBoardScreen,
    ::testing::Values(ScreenCase{"640x480 automatic", 640, 480, "automatic", {0, 0, 640, 480}},
                      ScreenCase{"1024x768 images", 1024, 768, "images", {0, 0, 1024, 768}},
                      ScreenCase{"1024x768 renderer", 1024, 768, "renderer", {0, 0, 1024, 768}},
                      ScreenCase{"1920x1080 images", 1920, 1080, "images", {240, 0, 1440, 1080}},
                      ScreenCase{"1920x1080 renderer", 1920, 1080, "renderer", {240, 0, 1440, 1080}},
                      ScreenCase{"1280x1024 images", 1280, 1024, "images", {0, 32, 1280, 960}},
                      ScreenCase{"1280x1024 automatic", 1280, 1024, "automatic", {0, 32, 1280, 960}}),
    CaseName<ScreenCase>);

// The host's window starts at 400×300, where the picture fills it, and is then resized; SDL sees
// no resize of a window it did not make unless the board asks for it.
struct ResizeCase {
  const char* name;
  const char* path;
  int width;
  int height;
  Rect picture; // in the resized window
};

class DesktopBoardHostWindow : public ::testing::TestWithParam<ResizeCase> {};

TEST_P(DesktopBoardHostWindow, KeepsFourByThreeAndFollowsTheWindowsSize) {
  const ResizeCase& c = GetParam();
  constexpr Rect Placement{100, 50, 400, 300};
  START_X_SERVER(server, 1024, 768);
  HostWindow host(server, Placement);
  ASSERT_TRUE(host.Created());
  TemporaryDirectory directory;
  const auto before = Screenshot(server.Display(), directory.File("before.ppm"));
  ASSERT_TRUE(before.has_value());
  RunningProbe probe(server, directory.File("probe.out"), c.path, {{"XSCREENSAVER_WINDOW", host.HexadecimalId()}});
  ASSERT_TRUE(probe.presenting) << probe.process.Output();

  // The pattern where it must be in the window, bars elsewhere, and nothing outside the window.
  const auto check = [&](Rect picture, int windowWidth, int windowHeight) {
    const auto shot = Screenshot(server.Display(), directory.File("shot.ppm"));
    ASSERT_TRUE(shot.has_value());
    const Rect window{Placement.x, Placement.y, windowWidth, windowHeight};
    ExpectPattern(*shot, window, {Placement.x + picture.x, Placement.y + picture.y, picture.width, picture.height});
    EXPECT_EQ(shot->CountDifferent(*before, server.Screen(), window), 0);
  };
  {
    SCOPED_TRACE("before the resize");
    check({0, 0, Placement.width, Placement.height}, Placement.width, Placement.height);
  }
  ASSERT_TRUE(host.Resize(c.width, c.height));
  ASSERT_TRUE(probe.PresentsMore(30)) << probe.process.Output();
  {
    SCOPED_TRACE("after the resize");
    check(c.picture, c.width, c.height);
  }
  EXPECT_TRUE(probe.process.Running());
}

INSTANTIATE_TEST_SUITE_P(Sizes, DesktopBoardHostWindow,
                         ::testing::Values(ResizeCase{"images wider", "images", 800, 300, {200, 0, 400, 300}},
                                           ResizeCase{"renderer wider", "renderer", 800, 300, {200, 0, 400, 300}},
                                           ResizeCase{"images taller", "images", 400, 600, {0, 150, 400, 300}},
                                           ResizeCase{"renderer larger", "renderer", 640, 480, {0, 0, 640, 480}}),
                         CaseName<ResizeCase>);

// The probe's sparks move for 60 frames, each frame telling which tiles changed, and then stay. A
// second probe that starts with them where they stay draws its first frame whole. Both screens
// must be the same to the bit: nothing left behind, nothing missed, whether the frames go through
// shared memory or in the requests themselves.
struct RepaintCase {
  const char* name;
  int width;
  int height;
  XvfbServer::SharedMemory sharedMemory;
};

class DesktopBoardRepaint : public ::testing::TestWithParam<RepaintCase> {};

TEST_P(DesktopBoardRepaint, WhatChangedIsRedrawnToExactlyWhatAFullRepaintShows) {
  const RepaintCase& c = GetParam();
  START_X_SERVER(server, c.width, c.height, c.sharedMemory);
  TemporaryDirectory directory;
  const auto screenAfter = [&](const std::string& firstFrame, int frames) -> std::optional<Image> {
    ChildProcess probe({Probe, "show", "--path", "images", "--pattern", "sparks", "--first-frame", firstFrame},
                       server.Environment(), directory.File("probe.out"));
    if (!probe.WaitForOutput("presented " + std::to_string(frames) + "\n", PatienceLimit)) {
      ADD_FAILURE() << probe.Output();
      return std::nullopt;
    }
    return Screenshot(server.Display(), directory.File("shot.ppm"));
  };
  const std::optional<Image> step = screenAfter("0", 80);
  const std::optional<Image> whole = screenAfter("60", 10);
  ASSERT_TRUE(step && whole);
  EXPECT_EQ(step->CountDifferent(*whole, server.Screen()), 0);
  EXPECT_GT(whole->CountBrightColoured(server.Screen()), 1000) << "the sparks are not there";
}

INSTANTIATE_TEST_SUITE_P(
    Screens, DesktopBoardRepaint,
    ::testing::Values(RepaintCase{"1920x1080 through shared memory", 1920, 1080, XvfbServer::SharedMemory::Offered},
                      RepaintCase{"1280x1024 through requests", 1280, 1024, XvfbServer::SharedMemory::NotOffered},
                      RepaintCase{"640x480 through shared memory", 640, 480, XvfbServer::SharedMemory::Offered}),
    CaseName<RepaintCase>);

// Xvfb offers no direct rendering, so OpenGL there is a software rasterizer that costs
// milliseconds a frame and a hundred megabytes. Whether the process loaded it shows in its
// memory map; the forced renderer shows that the check can see it. Whatever the path, nothing is
// started on the board's behalf: where no message bus is named, SDL's video would otherwise have
// the bus library start one, which outlives the show.
struct PresentPathCase {
  const char* name; // the probe's --path
  bool expectOpenGl;
};

class DesktopBoardPresentPath : public ::testing::TestWithParam<PresentPathCase> {};

TEST_P(DesktopBoardPresentPath, AvoidsSoftwareOpenGlWithoutDirectRendering) {
  START_X_SERVER(server, 640, 480);
  TemporaryDirectory directory;
  const std::string calls = directory.File("calls.txt");
  RunningProbe probe(server, directory.File("probe.out"), GetParam().name,
                     {{"LD_PRELOAD", PYROVANE_CALL_HOOKS}, {"PYROVANE_CALL_LOG", calls}});
  ASSERT_TRUE(probe.presenting) << probe.process.Output();
  const std::string maps = ReadWhole("/proc/" + std::to_string(probe.process.Pid()) + "/maps");
  EXPECT_EQ(maps.find("/libGL") != std::string::npos, GetParam().expectOpenGl);
  EXPECT_EQ(ReadWhole(calls).find("fork"), std::string::npos) << "a process was started";
}

INSTANTIATE_TEST_SUITE_P(Paths, DesktopBoardPresentPath,
                         ::testing::Values(PresentPathCase{"automatic", false}, PresentPathCase{"images", false},
                                           PresentPathCase{"renderer", true}),
                         CaseName<PresentPathCase>);

struct ButtonCase {
  const char* name;
  std::vector<std::vector<std::string>> actions; // xdotool command lines, in order
  bool coverWithAnotherWindow;
  unsigned expectedBits; // bits that the first changed value has; 0: the value must not change
};

class DesktopButton : public ::testing::TestWithParam<ButtonCase> {};

TEST_P(DesktopButton, ChangesOnPressesOnly) {
  const ButtonCase& c = GetParam();
  START_X_SERVER(server, 640, 480);
  TemporaryDirectory directory;
  RunningProbe probe(server, directory.File("probe.out"));
  ASSERT_TRUE(probe.presenting) << probe.process.Output();
  std::optional<ChildProcess> cover;
  if (c.coverWithAnotherWindow) {
    // With no window manager, a window mapped later lies on top of ours.
    cover.emplace(std::vector<std::string>{"xmessage", "-geometry", "200x100+0+0", "a window on top"},
                  server.Environment(), directory.File("xmessage.out"));
    ASSERT_TRUE(Eventually([&] {
      return !cover->Running() || server.Xdotool({"search", "--onlyvisible", "--class", "Xmessage"});
    }));
    ASSERT_TRUE(cover->Running()) << cover->Output();
  }
  for (const auto& action : c.actions) {
    ASSERT_TRUE(server.Xdotool(action));
  }
  if (c.expectedBits == 0) {
    // Let the probe read the button over enough frames that the events have surely arrived:
    // the count goes on, and the value stays as it was.
    const std::size_t before = probe.process.Output().size();
    EXPECT_TRUE(probe.PresentsMore(30)) << probe.process.Output();
    EXPECT_EQ(probe.process.Output().find("button", before), std::string::npos) << probe.process.Output();
    EXPECT_TRUE(probe.process.Running());
    ASSERT_TRUE(server.Xdotool({"click", "1"}));
  }
  const Ended ended = probe.process.WaitForEnd();
  ASSERT_EQ(ended.exitCode, 0) << "the probe did not see the button: " << ended.output;
  const std::string& output = ended.output;
  const std::size_t at = output.find("button 0x");
  ASSERT_NE(at, std::string::npos) << output;
  const unsigned value = static_cast<unsigned>(std::stoul(output.substr(at + 9, 4), nullptr, 16));
  const unsigned expected = c.expectedBits == 0 ? 0x0001 : c.expectedBits;
  EXPECT_EQ(value & expected, expected) << output;
  server.Xdotool({"mouseup", "1"});
}

INSTANTIATE_TEST_SUITE_P(
    Input, DesktopButton,
    ::testing::Values(
        ButtonCase{"a held button", {{"mousemove", "320", "240", "mousedown", "1"}}, false, 0x8001},
        // Down and up in one command, far quicker than a frame: no state query sees it.
        ButtonCase{"a click shorter than a frame",
                   {{"mousemove", "320", "240", "mousedown", "1", "mouseup", "1"}},
                   false,
                   0x0001},
        ButtonCase{"a button held over another window", {{"mousemove", "60", "20", "mousedown", "1"}}, true, 0x8000},
        ButtonCase{"keys and motion",
                   {{"mousemove", "10", "10"},
                    {"mousemove", "600", "400"},
                    {"key", "a"},
                    {"key", "Escape"},
                    {"key", "space"},
                    {"mousedown", "3", "mouseup", "3"}},
                   false,
                   0}),
    CaseName<ButtonCase>);

} // namespace
