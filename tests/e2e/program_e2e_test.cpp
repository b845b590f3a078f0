// Whole-process tests of pyrovane itself on a private Xvfb server: the modes, the show, its end.
#include "tests/e2e/e2e_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
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
  // Rockets rise for a second or more before they burst.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const auto shot = e2e::Screenshot(server.Display(), show.directory.File("shot"));
  ASSERT_TRUE(shot.has_value());
  int black = 0, brightColoured = 0;
  for (int y = 0; y < shot->height; ++y) {
    for (int x = 0; x < shot->width; ++x) {
      const e2e::Colour c = shot->At(x, y);
      const int brightest = std::max({c.red, c.green, c.blue});
      const int dimmest = std::min({c.red, c.green, c.blue});
      if (brightest < 8) ++black;
      if (brightest > 160 && brightest - dimmest > 60) ++brightColoured;
    }
  }
  const int pixels = shot->width * shot->height;
  EXPECT_GT(black, pixels / 2) << "the sky is mostly black";
  EXPECT_GT(brightColoured, 100) << "bright coloured sparks";
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
