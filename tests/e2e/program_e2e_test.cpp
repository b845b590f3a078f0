// Whole-process tests of pyrovane itself on a private Xvfb server: the modes, the show, its end.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using e2e::ChildProcess;
using e2e::EnvironmentChanges;
using e2e::PatienceLimit;
using e2e::XvfbServer;

const std::string Program = PYROVANE_PROGRAM;
const std::string Flare = PYROVANE_FLARE;
const std::string ShowWindow = "^Pyrovane$";
const std::string SettingsWindow = "^Pyrovane ScreenSaver Configuration$";

// The program started in `directory`, as a screen-saver launcher starts it.
std::vector<std::string> InDirectory(const std::string& directory, const std::vector<std::string>& arguments) {
  return e2e::InDirectory(directory, e2e::Command(Program, arguments));
}

// A working directory holding the flare texture, as the show expects.
struct ShowDirectory {
  e2e::TemporaryDirectory directory;
  ShowDirectory() { std::filesystem::copy_file(Flare, directory.File("flare.3df")); }
};

using e2e::ExitCode;
using e2e::WaitForWindow;

TEST(Program, ShowsFireworksFullScreenUntilAClick) {
  SKIP_WITHOUT_XVFB();
  XvfbServer server(1024, 768);
  ASSERT_TRUE(server.Started());
  ShowDirectory show;
  ChildProcess program(InDirectory(show.directory.Path(), {"/s"}), server.Environment(), show.directory.File("out.txt"));
  ASSERT_TRUE(WaitForWindow(server, ShowWindow)) << program.Output();
  // Rockets rise for a second or more before they burst; then the sky is black with bright
  // coloured sparks.
  const auto shot = e2e::WaitForScreen(server, show.directory.File("shot"), [](const e2e::Image& image) {
    const e2e::Rect screen{0, 0, image.width, image.height};
    return image.CountBlack(screen) > image.width * image.height / 2 && image.CountBrightColoured(screen) > 100;
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

TEST(Program, TheFirstArgumentChoosesTheMode) {
  SKIP_WITHOUT_XVFB();
  enum class Outcome { Settings, Show, ImmediateExit };
  struct Case {
    std::vector<std::string> arguments;
    Outcome outcome;
  };
  const Case cases[] = {
      {{}, Outcome::Settings},
      {{"/c"}, Outcome::Settings},
      {{"/c:1234"}, Outcome::Settings},
      {{"/C"}, Outcome::ImmediateExit},
      {{"/s"}, Outcome::Show},
      {{"/S"}, Outcome::Show},
      {{"/scr"}, Outcome::Show},
      {{"/Sx"}, Outcome::Show},
      {{"/s", "/c"}, Outcome::Show},
      {{"/p", "1234"}, Outcome::ImmediateExit},
      {{"-s"}, Outcome::ImmediateExit},
      {{"s"}, Outcome::ImmediateExit},
  };
  XvfbServer server(640, 480);
  ASSERT_TRUE(server.Started());
  ShowDirectory show;
  for (const Case& c : cases) {
    const std::string name = c.arguments.empty() ? "(none)" : c.arguments[0];
    ChildProcess program(InDirectory(show.directory.Path(), c.arguments), server.Environment(),
                         show.directory.File("out.txt"));
    if (c.outcome == Outcome::ImmediateExit) {
      const auto status = program.WaitForExit(PatienceLimit);
      ASSERT_TRUE(status.has_value()) << name;
      EXPECT_EQ(ExitCode(*status), 0) << name;
      EXPECT_EQ(program.Output(), "") << name;
      EXPECT_FALSE(server.Xdotool({"search", "--name", "Pyrovane"})) << name << ": nothing is shown";
      continue;
    }
    const std::string window = c.outcome == Outcome::Show ? ShowWindow : SettingsWindow;
    EXPECT_TRUE(WaitForWindow(server, window)) << name;
    EXPECT_TRUE(program.Running()) << name;
    kill(program.Pid(), SIGTERM);
    const auto status = program.WaitForExit(PatienceLimit);
    ASSERT_TRUE(status.has_value()) << name << ": SIGTERM did not end it";
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM) << name;
    // The next case starts on an empty screen.
    for (int i = 0; i < 100 && server.Xdotool({"search", "--name", "Pyrovane"}); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
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
      {"no display", show.directory.Path(), {}, "main: grSstQueryHardware failed!\n"},
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
    ChildProcess program(InDirectory(show.directory.Path(), arguments), {}, show.directory.File("out.txt"));
    const auto status = program.WaitForExit(PatienceLimit);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(ExitCode(*status), 0) << program.Output();
  }
}

// The show's shared-memory segments, from the kernel's list: each one's permissions, with the
// flag that it is marked for removal.
std::vector<unsigned> SegmentsCreatedBy(pid_t pid) {
  std::ifstream list("/proc/sysvipc/shm");
  std::string header;
  std::getline(list, header);
  std::vector<unsigned> permissions;
  std::string line;
  while (std::getline(list, line)) {
    std::istringstream fields(line);
    long key = 0, id = 0, size = 0;
    unsigned mode = 0;
    pid_t creator = 0;
    fields >> key >> id >> std::oct >> mode >> std::dec >> size >> creator;
    if (creator == pid) permissions.push_back(mode);
  }
  return permissions;
}

TEST(Program, NoOtherUserCanReachWhatItShows) {
  SKIP_WITHOUT_XVFB();
  constexpr unsigned OwnerOnly = 0600;
  constexpr unsigned MarkedForRemoval = 01000; // the kernel's SHM_DEST
  XvfbServer server(1024, 768);
  ASSERT_TRUE(server.Started());
  ShowDirectory show;
  ChildProcess program(InDirectory(show.directory.Path(), {"/s"}), server.Environment(), show.directory.File("out.txt"));
  // A local server gets the frames through shared memory, made when the window is.
  std::vector<unsigned> segments;
  for (auto deadline = std::chrono::steady_clock::now() + PatienceLimit;
       segments.empty() && std::chrono::steady_clock::now() < deadline;
       std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    segments = SegmentsCreatedBy(program.Pid());
  }
  ASSERT_FALSE(segments.empty()) << program.Output();
  for (const unsigned mode : segments) {
    EXPECT_EQ(mode & 0777, OwnerOnly) << std::oct << mode;
    EXPECT_NE(mode & MarkedForRemoval, 0u) << "a segment stays attachable after the server took it: " << std::oct << mode;
  }
  ASSERT_TRUE(server.Xdotool({"click", "1"}));
  const auto status = program.WaitForExit(PatienceLimit);
  ASSERT_TRUE(status.has_value());
  // The server lets go of the segment when it notices the connection closed.
  const auto deadline = std::chrono::steady_clock::now() + PatienceLimit;
  while (!SegmentsCreatedBy(program.Pid()).empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(SegmentsCreatedBy(program.Pid()).empty()) << "a segment outlived the show";
}

TEST(Program, EndsWithItsDisplay) {
  SKIP_WITHOUT_XVFB();
  // A session that ends or a server that crashes takes the display away under the show.
  XvfbServer server(640, 480);
  ASSERT_TRUE(server.Started());
  ShowDirectory show;
  ChildProcess program(InDirectory(show.directory.Path(), {"/s"}), server.Environment(), show.directory.File("out.txt"));
  ASSERT_TRUE(WaitForWindow(server, ShowWindow)) << program.Output();
  ASSERT_TRUE(server.Kill());
  const auto status = program.WaitForExit(PatienceLimit);
  ASSERT_TRUE(status.has_value()) << "the show outlived its display";
  EXPECT_EQ(ExitCode(*status), 255);
  EXPECT_EQ(program.Output(), "main: lost the connection to the display\n");
}

TEST(Program, SignalsEndTheShowAtOnce) {
  SKIP_WITHOUT_XVFB();
  for (const int signalNumber : {SIGTERM, SIGINT}) {
    XvfbServer server(640, 480);
    ASSERT_TRUE(server.Started());
    ShowDirectory show;
    ChildProcess program(InDirectory(show.directory.Path(), {"/s"}), server.Environment(), show.directory.File("out.txt"));
    ASSERT_TRUE(WaitForWindow(server, ShowWindow)) << program.Output();
    kill(program.Pid(), signalNumber);
    const auto status = program.WaitForExit(PatienceLimit);
    ASSERT_TRUE(status.has_value()) << "signal " << signalNumber;
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == signalNumber);
  }
}

} // namespace
