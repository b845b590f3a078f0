// Whole-process tests of pyrovane itself on a private Xvfb server: the show, its failures, its end.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using e2e::ChildProcess;
using e2e::EnvironmentChanges;
using e2e::ExitCode;
using e2e::PatienceLimit;
using e2e::ShowDirectory;
using e2e::XvfbServer;

// The program started in `directory`, as a screen-saver launcher starts it.
std::vector<std::string> InDirectory(const std::string& directory, const std::vector<std::string>& arguments) {
  return e2e::InDirectory(directory, e2e::Command(e2e::Program, arguments));
}

TEST(Program, ShowsFireworksFullScreenUntilAClick) {
  SKIP_WITHOUT_XVFB();
  XvfbServer server(1024, 768);
  ASSERT_TRUE(server.Started());
  ShowDirectory show;
  ChildProcess program(InDirectory(show.Path(), {"/s"}), server.Environment(), show.File("out.txt"));
  ASSERT_TRUE(e2e::WaitForWindow(server, e2e::ShowWindow)) << program.Output();
  // Rockets rise for a second or more before they burst; then the sky is black with bright
  // coloured sparks.
  const auto shot = e2e::WaitForScreen(server, show.File("shot"), [&](const e2e::Image& image) {
    return image.CountBlack(server.Screen()) > image.width * image.height / 2 &&
           image.CountBrightColoured(server.Screen()) > 100;
  });
  ASSERT_TRUE(shot.has_value()) << "no fireworks on the screen";
  // The window covers the whole screen.
  const auto screenshotCorner = shot->At(shot->width - 1, shot->height - 1);
  EXPECT_LT(std::max({screenshotCorner.red, screenshotCorner.green, screenshotCorner.blue}), 8);

  ASSERT_TRUE(server.Xdotool({"click", "1"}));
  const auto status = program.WaitForExit(PatienceLimit);
  ASSERT_TRUE(status.has_value()) << "a click did not end the show";
  EXPECT_EQ(ExitCode(*status), 0) << program.Output();
  EXPECT_EQ(program.Output(), "");
}

TEST(Program, FailuresPrintTheirLineAndExitWith255) {
  SKIP_WITHOUT_XVFB();
  XvfbServer server(640, 480);
  ASSERT_TRUE(server.Started());
  ShowDirectory show;
  e2e::TemporaryDirectory empty;
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
    ChildProcess program(InDirectory(c.directory, {"/s"}), c.environment, empty.File("out.txt"));
    const auto status = program.WaitForExit(PatienceLimit);
    ASSERT_TRUE(status.has_value()) << c.name;
    EXPECT_EQ(ExitCode(*status), 255) << c.name;
    EXPECT_EQ(program.Output(), c.expectedOutput) << c.name;
  }
}

TEST(Program, SettingsWithoutADisplayEndNormally) {
  ShowDirectory show;
  for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, std::vector<std::string>{"/c"}}) {
    ChildProcess program(InDirectory(show.Path(), arguments), {}, show.File("out.txt"));
    const auto status = program.WaitForExit(PatienceLimit);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(ExitCode(*status), 0) << program.Output();
  }
}

TEST(Program, NoOtherUserCanReachWhatItShows) {
  SKIP_WITHOUT_XVFB();
  constexpr unsigned OwnerOnly = 0600;
  constexpr unsigned MarkedForRemoval = 01000; // the kernel's SHM_DEST
  XvfbServer server(1024, 768);
  ASSERT_TRUE(server.Started());
  ShowDirectory show;
  ChildProcess program(InDirectory(show.Path(), {"/s"}), server.Environment(), show.File("out.txt"));
  // A local server gets the frames through shared memory, made when the window is.
  std::vector<unsigned> segments;
  ASSERT_TRUE(e2e::Eventually([&] {
    segments = e2e::SharedMemorySegmentsOf(program.Pid());
    return !segments.empty();
  })) << program.Output();
  for (const unsigned mode : segments) {
    EXPECT_EQ(mode & 0777, OwnerOnly) << std::oct << mode;
    EXPECT_NE(mode & MarkedForRemoval, 0u)
        << "a segment stays attachable after the server took it: " << std::oct << mode;
  }
  ASSERT_TRUE(server.Xdotool({"click", "1"}));
  const auto status = program.WaitForExit(PatienceLimit);
  ASSERT_TRUE(status.has_value());
  // The server lets go of the segment when it notices the connection closed.
  EXPECT_TRUE(e2e::Eventually([&] { return e2e::SharedMemorySegmentsOf(program.Pid()).empty(); }))
      << "a segment outlived the show";
}

TEST(Program, EndsWithItsDisplay) {
  SKIP_WITHOUT_XVFB();
  // A session that ends or a server that crashes takes the display away under the show.
  XvfbServer server(640, 480);
  ASSERT_TRUE(server.Started());
  ShowDirectory show;
  ChildProcess program(InDirectory(show.Path(), {"/s"}), server.Environment(), show.File("out.txt"));
  ASSERT_TRUE(e2e::WaitForWindow(server, e2e::ShowWindow)) << program.Output();
  ASSERT_TRUE(server.Kill());
  const auto status = program.WaitForExit(PatienceLimit);
  ASSERT_TRUE(status.has_value()) << "the show outlived its display";
  EXPECT_EQ(ExitCode(*status), 255);
  EXPECT_EQ(program.Output(), "main: lost the connection to the display\n");
}

} // namespace
