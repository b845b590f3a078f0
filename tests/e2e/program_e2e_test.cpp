// Whole-process tests of pyrovane itself on a private Xvfb server: the show, its failures, its end.
#include "processes.h"
#include "screenshots.h"
#include "x_servers.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace e2e;
using namespace support;

TEST(Program, FailuresPrintTheirLineAndExitWith255) {
  START_X_SERVER(server, 640, 480);
  ShowDirectory show;
  TemporaryDirectory empty;
  struct Case {
    const char* name;
    std::string directory;
    EnvironmentChanges environment;
    std::string expectedOutput;
  };
  const Case cases[] = {
      {"no display", show.Path(), {}, "main: grSstQueryHardware failed!\n"},
      {"no texture", empty.Path(), server.Environment(), "could not get info on flare.3df\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunProgram(c.directory, {"/s"}, c.environment), (Ended{255, c.expectedOutput})) << c.name;
  }
}

TEST(Program, SettingsWithoutADisplayEndNormally) {
  ShowDirectory show;
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, std::vector<std::string>{"/c"}}) {
    const Ended settings = RunProgram(show.Path(), arguments);
    EXPECT_EQ(settings.exitCode, 0) << settings.output;
  }
}

TEST(Program, AShowKilledAsItSharesItsMemoryLeavesNoSegmentBehind) {
  // Hosts end their savers by signal all the time, at any moment: here the moment between making
  // the segment and the server's attaching it, when only the show holds it.
  START_X_SERVER(server, 640, 480);
  ShowDirectory show;
  ChildProcess program = show.Start(
      {"/s"}, {{"DISPLAY", server.Display()}, {"LD_PRELOAD", PYROVANE_CALL_HOOKS}, {"PYROVANE_KILL_AT", "XShmAttach"}});
  const auto status = program.WaitForExit(PatienceLimit);
  ASSERT_TRUE(status.has_value());
  ASSERT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL) << "not killed at the attach: " << *status;
  EXPECT_EQ(SharedMemorySegmentsOf(program.Pid()), std::vector<unsigned>{}) << "a segment outlived the show";
}

TEST(Program, ShowsTheSameShowOnEveryMonitor) {
  START_X_SERVER(host, 640, 480);
  START_X_SERVER(server, XvfbServer::TwoHeads{host, 1280, 720});
  ShowDirectory show;
  ChildProcess program = show.Start({"/s"}, server.Environment());
  const std::vector<Rect> pictures = PicturesIn({{0, 0, 1280, 720}, {1280, 0, 1280, 720}});
  const std::optional<Image> shot = WaitForPictures(server, pictures, show.File("shot.ppm"));
  ASSERT_TRUE(shot.has_value()) << "not a show in each head, 4:3 kept" << program.Output();
  // One show and one frame serve both: the heads are twins, pixel for pixel.
  int different = 0;
  for (int y = 0; y < 720; ++y) {
    for (int x = 0; x < 1280; ++x) {
      const Colour left = shot->At(x, y);
      const Colour right = shot->At(x + 1280, y);
      different += left.red != right.red || left.green != right.green || left.blue != right.blue ? 1 : 0;
    }
  }
  EXPECT_EQ(different, 0);
  EXPECT_TRUE(EndedBySigterm(program));
  EXPECT_EQ(program.Output(), "");
}

// One show through its life on one screen: full screen, what it shares with the server private,
// laid out again when the screen shrinks (as when a monitor is unplugged or set to a lower mode),
// and over at a click.
TEST(Program, ShowsFireworksPrivatelyOnTheWholeScreenAsItChangesUntilAClick) {
  constexpr unsigned OwnerOnly = 0600;
  constexpr unsigned MarkedForRemoval = 01000; // the kernel's SHM_DEST
  START_X_SERVER(server, 1024, 768);
  ShowDirectory show;
  ChildProcess program = show.Start({"/s"}, server.Environment());
  ASSERT_TRUE(WaitForWindow(server, ShowWindow)) << program.Output();
  // Rockets rise for a second or more before they burst; then the sky is black with bright
  // coloured sparks.
  const auto shot = WaitForScreen(server, show.File("shot"), [&](const Image& image) {
    return image.CountBlack(server.Screen()) > image.width * image.height / 2 &&
           image.CountBrightColoured(server.Screen()) > 100;
  });
  ASSERT_TRUE(shot.has_value()) << "no fireworks on the screen";
  // The window covers the whole screen.
  const auto screenshotCorner = shot->At(shot->width - 1, shot->height - 1);
  EXPECT_LT(std::max({screenshotCorner.red, screenshotCorner.green, screenshotCorner.blue}), 8);

  // A local server gets the frames through shared memory, made when the window is.
  const std::vector<unsigned> segments = SharedMemorySegmentsOf(program.Pid());
  ASSERT_FALSE(segments.empty()) << program.Output();
  for (const unsigned mode : segments) {
    EXPECT_EQ(mode & 0777, OwnerOnly) << std::oct << mode;
    EXPECT_NE(mode & MarkedForRemoval, 0u)
        << "a segment stays attachable after the server took it: " << std::oct << mode;
  }

  ASSERT_TRUE(server.ResizeScreen(1000, 600));
  EXPECT_TRUE(Eventually([&] {
    const std::optional<Rect> window = server.WindowGeometry(ShowWindow);
    return window && window->x == 0 && window->y == 0 && window->width == 1000 && window->height == 600;
  })) << "the window does not match the screen";
  EXPECT_TRUE(WaitForPictures(server, PicturesIn({{0, 0, 1000, 600}}), show.File("shot.ppm")))
      << "the picture is not laid out for the new screen";

  ASSERT_TRUE(server.Xdotool({"click", "1"}));
  EXPECT_EQ(program.WaitForEnd(), (Ended{0, ""})) << "a click did not end the show, or it failed";
  // The server lets go of the segment when it notices the connection closed.
  EXPECT_TRUE(Eventually([&] { return SharedMemorySegmentsOf(program.Pid()).empty(); }))
      << "a segment outlived the show";
}

TEST(Program, EndsWithItsDisplay) {
  // A session that ends or a server that crashes takes the display away under the show or the
  // settings dialog.
  for (const auto& [argument, window] : {std::pair{"/s", ShowWindow}, std::pair{"/c", SettingsWindow}}) {
    START_X_SERVER(server, 640, 480);
    ShowDirectory show;
    ChildProcess program = show.Start({argument}, server.Environment());
    ASSERT_TRUE(WaitForWindow(server, window)) << program.Output();
    ASSERT_TRUE(server.Kill());
    EXPECT_EQ(program.WaitForEnd(), (Ended{255, "main: lost the connection to the display\n"})) << argument;
  }
}

} // namespace
