// Whole-process tests of pyrovane meeting bad input and signals on a private Xvfb server: a bad
// "flare.3df" ends it with its line after the display is shut down, and SIGTERM or SIGINT end
// the show and the dialog at once, leaving nothing behind.
#include "processes.h"
#include "support/case_name.h"
#include "x_servers.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace e2e;
using namespace support;

const std::string CallHooks = PYROVANE_CALL_HOOKS;

// ---------------------------------------------------------------------------------------------
// A bad texture

struct BadTexture {
  const char* name;
  std::function<void(const std::string& path)> make;
  std::string expectedOutput;
  // The most files the process may have open (`ulimit -n`), or 0 for the usual limit.
  int openFileLimit = 0;
};

class BadTextureTest : public ::testing::TestWithParam<BadTexture> {};

TEST_P(BadTextureTest, EndsTheShowWithItsLineAfterTheDisplayIsShutDown) {
  START_X_SERVER(server, 640, 480);
  const BadTexture& c = GetParam();
  TemporaryDirectory directory;
  c.make(directory.File("flare.3df"));
  const std::string log = directory.File("calls.txt");
  EnvironmentChanges environment = server.Environment();
  environment["LD_PRELOAD"] = CallHooks;
  environment["PYROVANE_CALL_LOG"] = log;
  if (c.openFileLimit == 0) {
    EXPECT_EQ(RunProgram(directory.Path(), {"/s"}, environment), (Ended{255, c.expectedOutput}));
    // The display was open when the texture was read, and was shut down before the process
    // ended; nothing was started on the show's behalf (such as a message bus).
    EXPECT_EQ(ReadWhole(log), "XCreateWindow\nXDestroyWindow\nXCloseDisplay\nexit(-1)\n");
    return;
  }
  // With standard input, output and error and the display's connection open, no file is left to
  // open: not the texture, nor the log of calls, which stays empty. Descriptors that the test's
  // own runner may leave open are closed first, so that only those count.
  const std::vector<std::string> limited = {"/bin/sh",
                                            "-c",
                                            "exec 3<&- 4<&- 5<&- 6<&- 7<&- 8<&- 9<&-; ulimit -n " +
                                                std::to_string(c.openFileLimit) + " && exec \"$@\"",
                                            "sh",
                                            Program,
                                            "/s"};
  EXPECT_EQ(RunToEnd(InDirectory(directory.Path(), limited), environment), (Ended{255, c.expectedOutput}));
}

INSTANTIATE_TEST_SUITE_P(
    Textures, BadTextureTest,
    ::testing::Values(
        BadTexture{"truncated to half its length",
                   [](const std::string& path) {
                     const std::string flare = ReadWhole(Flare);
                     std::ofstream(path, std::ios::binary) << flare.substr(0, flare.size() / 2);
                   },
                   "could not load texture file flare.3df\n"},
        BadTexture{"empty", [](const std::string& path) { std::ofstream{path}; }, "could not get info on flare.3df\n"},
        BadTexture{"garbage",
                   [](const std::string& path) {
                     std::ofstream file(path, std::ios::binary);
                     std::uint32_t state = 1;
                     for (int i = 0; i < 4096; ++i) {
                       state = state * 1103515245u + 12345u;
                       file.put(static_cast<char>(state >> 16));
                     }
                   },
                   "could not get info on flare.3df\n"},
        BadTexture{"a directory", [](const std::string& path) { std::filesystem::create_directory(path); },
                   "could not get info on flare.3df\n"},
        BadTexture{"a named pipe nobody writes into", [](const std::string& path) { mkfifo(path.c_str(), 0600); },
                   "could not get info on flare.3df\n"},
        BadTexture{"a link to itself",
                   [](const std::string& path) { std::filesystem::create_symlink("flare.3df", path); },
                   "could not get info on flare.3df\n"},
        // A sound texture that the process has no file descriptor left to open: the line blames
        // the shortage, not the file.
        BadTexture{"sound but no file descriptor left (ulimit -n 4)",
                   [](const std::string& path) { std::filesystem::copy_file(Flare, path); },
                   "main: cannot open flare.3df: Too many open files\n", 4}),
    CaseName<BadTexture>);

// ---------------------------------------------------------------------------------------------
// Signals

// The processes descended from `ancestor`, found through their parents.
std::set<pid_t> DescendantsOf(pid_t ancestor) {
  std::set<pid_t> descendants{ancestor};
  for (std::size_t known = 0; known != descendants.size();) {
    known = descendants.size();
    const std::set<pid_t> children = ProcessesWhere([&](pid_t pid) {
      const std::optional<ProcessState> state = StateOf(pid);
      return state && descendants.count(state->parent) != 0;
    });
    descendants.insert(children.begin(), children.end());
  }
  descendants.erase(ancestor);
  return descendants;
}

std::set<std::string> EntriesOf(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    names.insert(entry.path().filename().string());
  return names;
}

// The screen's size as xdotool reports it, for instance "800 600".
Ended ScreenGeometry(const XvfbServer& server) {
  return RunToEnd({"xdotool", "getdisplaygeometry"}, server.Environment());
}

struct SignalCase {
  const char* name;
  std::vector<std::string> arguments;
  std::string window;
  int signalNumber;
};

class SignalTest : public ::testing::TestWithParam<SignalCase> {};

TEST_P(SignalTest, EndsAtOnceAndLeavesNothingBehind) {
  const SignalCase& c = GetParam();
  START_X_SERVER(server, 800, 600);
  ShowDirectory directory;
  const Ended geometry = ScreenGeometry(server);
  ASSERT_EQ(geometry.exitCode, 0) << geometry.output;
  ChildProcess program = directory.Start(c.arguments, server.Environment());
  ASSERT_TRUE(WaitForWindow(server, c.window)) << program.Output();
  // Let the show run a few frames (or the dialog settle) before the signal comes.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_TRUE(program.Running()) << program.Output();
  const std::set<std::string> entriesBefore = EntriesOf(directory.Path());
  const std::set<pid_t> descendants = DescendantsOf(program.Pid());

  const auto status = program.Signal(c.signalNumber);
  ASSERT_TRUE(status.has_value()) << "the signal did not end it";
  EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == c.signalNumber) << "status " << *status;

  // Nothing left behind: no window, no process, no shared memory, no file, the screen as it was.
  EXPECT_TRUE(WaitForNoWindow(server, "^Pyrovane")) << "a window stayed";
  for (const pid_t descendant : descendants) {
    EXPECT_TRUE(Eventually([&] { return ProcessEnded(descendant); })) << "process " << descendant << " stayed";
  }
  EXPECT_TRUE(Eventually([&] { return SharedMemorySegmentsOf(program.Pid()).empty(); })) << "shared memory stayed";
  EXPECT_EQ(EntriesOf(directory.Path()), entriesBefore);
  EXPECT_EQ(ScreenGeometry(server), geometry);
}

INSTANTIATE_TEST_SUITE_P(Modes, SignalTest,
                         ::testing::Values(SignalCase{"show, SIGTERM", {"/s"}, ShowWindow, SIGTERM},
                                           SignalCase{"show, SIGINT", {"/s"}, ShowWindow, SIGINT},
                                           SignalCase{"settings dialog, SIGTERM", {"/c"}, SettingsWindow, SIGTERM},
                                           SignalCase{"settings dialog, SIGINT", {}, SettingsWindow, SIGINT}),
                         CaseName<SignalCase>);

} // namespace
