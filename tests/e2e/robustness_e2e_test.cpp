// Whole-process tests of pyrovane meeting bad input and signals on a private Xvfb server: a bad
// "flare.3df" ends it with its line after the display is shut down, and SIGTERM or SIGINT end
// the show and the dialog at once, leaving nothing behind.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using e2e::ChildProcess;
using e2e::EnvironmentChanges;
using e2e::Eventually;
using e2e::PatienceLimit;
using e2e::ReadWhole;
using e2e::XvfbServer;

const std::string CallHooks = PYROVANE_CALL_HOOKS;

// ---------------------------------------------------------------------------------------------
// A bad texture

struct BadTexture {
  const char* name;
  std::function<void(const std::string& path)> make;
  std::string expectedOutput;
};

class BadTextureTest : public ::testing::TestWithParam<BadTexture> {};

TEST_P(BadTextureTest, EndsTheShowWithItsLineAfterTheDisplayIsShutDown) {
  SKIP_WITHOUT_XVFB();
  XvfbServer server(640, 480);
  ASSERT_TRUE(server.Started());
  e2e::TemporaryDirectory directory;
  GetParam().make(directory.File("flare.3df"));
  const std::string log = directory.File("calls.txt");
  EnvironmentChanges environment = server.Environment();
  environment["LD_PRELOAD"] = CallHooks;
  environment["PYROVANE_CALL_LOG"] = log;
  ChildProcess program(e2e::InDirectory(directory.Path(), {e2e::Program, "/s"}), environment,
                       directory.File("out.txt"));
  const auto status = program.WaitForExit(PatienceLimit);
  ASSERT_TRUE(status.has_value()) << "the show did not end";
  EXPECT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status);
  EXPECT_EQ(e2e::ExitCode(*status), 255);
  EXPECT_EQ(program.Output(), GetParam().expectedOutput);
  // The display was open when the texture was read, and was shut down before the process ended;
  // nothing was started on the show's behalf (such as a message bus).
  EXPECT_EQ(ReadWhole(log), "XCreateWindow\nXDestroyWindow\nXCloseDisplay\nexit(-1)\n");
}

INSTANTIATE_TEST_SUITE_P(
    Textures, BadTextureTest,
    ::testing::Values(
        BadTexture{"truncated to half its length",
                   [](const std::string& path) {
                     const std::string flare = ReadWhole(e2e::Flare);
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
                   "could not get info on flare.3df\n"}),
    e2e::CaseName<BadTexture>);

// ---------------------------------------------------------------------------------------------
// Signals

// The processes descended from `ancestor`, found through their parents in /proc.
std::set<pid_t> DescendantsOf(pid_t ancestor) {
  std::set<pid_t> descendants{ancestor};
  bool grew = true;
  while (grew) {
    grew = false;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      // "pid (command) state parent ...": the command may hold spaces and parentheses.
      const std::string stat = ReadWhole(entry.path() / "stat");
      const std::size_t end = stat.rfind(')');
      if (end == std::string::npos) continue;
      std::istringstream fields(stat.substr(end + 2));
      char state = 0;
      pid_t parent = 0;
      fields >> state >> parent;
      const pid_t pid = std::stoi(name);
      if (descendants.count(parent) != 0 && descendants.insert(pid).second) grew = true;
    }
  }
  descendants.erase(ancestor);
  return descendants;
}

bool ProcessGone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

std::set<std::string> EntriesOf(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    names.insert(entry.path().filename().string());
  return names;
}

// The screen's size as xdotool reports it, for instance "800 600".
std::string ScreenGeometry(const XvfbServer& server, const e2e::TemporaryDirectory& directory) {
  ChildProcess xdotool({"xdotool", "getdisplaygeometry"}, server.Environment(), directory.File("geometry.txt"));
  const auto status = xdotool.WaitForExit(PatienceLimit);
  return status && e2e::ExitCode(*status) == 0 ? xdotool.Output() : "";
}

struct SignalCase {
  const char* name;
  std::vector<std::string> arguments;
  std::string window;
  int signalNumber;
};

class SignalTest : public ::testing::TestWithParam<SignalCase> {};

TEST_P(SignalTest, EndsAtOnceAndLeavesNothingBehind) {
  SKIP_WITHOUT_XVFB();
  const SignalCase& c = GetParam();
  XvfbServer server(800, 600);
  ASSERT_TRUE(server.Started());
  e2e::ShowDirectory directory;
  const std::string geometry = ScreenGeometry(server, directory);
  ASSERT_NE(geometry, "");
  ChildProcess program(e2e::InDirectory(directory.Path(), e2e::Command(e2e::Program, c.arguments)),
                       server.Environment(), directory.File("out.txt"));
  ASSERT_TRUE(e2e::WaitForWindow(server, c.window)) << program.Output();
  // Let the show run a few frames (or the dialog settle) before the signal comes.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_TRUE(program.Running()) << program.Output();
  const std::set<std::string> entriesBefore = EntriesOf(directory.Path());
  const std::set<pid_t> descendants = DescendantsOf(program.Pid());

  ASSERT_EQ(kill(program.Pid(), c.signalNumber), 0);
  const auto status = program.WaitForExit(PatienceLimit);
  ASSERT_TRUE(status.has_value()) << "the signal did not end it";
  EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == c.signalNumber) << "status " << *status;

  // Nothing left behind: no window, no process, no shared memory, no file, the screen as it was.
  EXPECT_TRUE(e2e::WaitForNoWindow(server, "^Pyrovane")) << "a window stayed";
  for (const pid_t descendant : descendants) {
    EXPECT_TRUE(Eventually([&] { return ProcessGone(descendant); })) << "process " << descendant << " stayed";
  }
  EXPECT_TRUE(Eventually([&] { return e2e::SharedMemorySegmentsOf(program.Pid()).empty(); })) << "shared memory stayed";
  EXPECT_EQ(EntriesOf(directory.Path()), entriesBefore);
  EXPECT_EQ(ScreenGeometry(server, directory), geometry);
}

INSTANTIATE_TEST_SUITE_P(Modes, SignalTest,
                         ::testing::Values(SignalCase{"show, SIGTERM", {"/s"}, e2e::ShowWindow, SIGTERM},
                                           SignalCase{"show, SIGINT", {"/s"}, e2e::ShowWindow, SIGINT},
                                           SignalCase{"settings dialog, SIGTERM", {"/c"}, e2e::SettingsWindow, SIGTERM},
                                           SignalCase{"settings dialog, SIGINT", {}, e2e::SettingsWindow, SIGINT}),
                         e2e::CaseName<SignalCase>);

} // namespace
