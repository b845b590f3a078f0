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
using e2e::PatienceLimit;
using e2e::XvfbServer;

const std::string Program = PYROVANE_PROGRAM;
const std::string Flare = PYROVANE_FLARE;
const std::string SdlCallLog = PYROVANE_SDL_CALL_LOG;
const std::string ShowWindow = "^Pyrovane$";
const std::string SettingsWindow = "^Pyrovane ScreenSaver Configuration$";

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Polls until `condition` holds; false if it does not within PatienceLimit.
bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + PatienceLimit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// A bad texture

struct BadTexture {
  const char* name;
  std::function<void(const std::string& path)> make;
  std::string expectedOutput;
};

std::vector<BadTexture> BadTextures() {
  const std::string flare = ReadFile(Flare);
  return {
      {"truncated to half its length",
       [flare](const std::string& path) { std::ofstream(path, std::ios::binary) << flare.substr(0, flare.size() / 2); },
       "could not load texture file flare.3df\n"},
      {"empty", [](const std::string& path) { std::ofstream{path}; }, "could not get info on flare.3df\n"},
      {"garbage",
       [](const std::string& path) {
         std::ofstream file(path, std::ios::binary);
         std::uint32_t state = 1;
         for (int i = 0; i < 4096; ++i) {
           state = state * 1103515245u + 12345u;
           file.put(static_cast<char>(state >> 16));
         }
       },
       "could not get info on flare.3df\n"},
      {"a directory", [](const std::string& path) { std::filesystem::create_directory(path); },
       "could not get info on flare.3df\n"},
      {"a named pipe nobody writes into", [](const std::string& path) { mkfifo(path.c_str(), 0600); },
       "could not get info on flare.3df\n"},
      {"a link to itself", [](const std::string& path) { std::filesystem::create_symlink("flare.3df", path); },
       "could not get info on flare.3df\n"},
  };
}

TEST(Robustness, ABadTextureEndsTheShowWithItsLineAfterTheDisplayIsShutDown) {
  SKIP_WITHOUT_XVFB();
  XvfbServer server(640, 480);
  ASSERT_TRUE(server.Started());
  for (const BadTexture& c : BadTextures()) {
    SCOPED_TRACE(c.name);
    e2e::TemporaryDirectory directory;
    c.make(directory.File("flare.3df"));
    const std::string log = directory.File("sdl-calls.txt");
    EnvironmentChanges environment = server.Environment();
    environment["LD_PRELOAD"] = SdlCallLog;
    environment["PYROVANE_SDL_CALL_LOG"] = log;
    ChildProcess program(e2e::InDirectory(directory.Path(), {Program, "/s"}), environment, directory.File("out.txt"));
    const auto status = program.WaitForExit(PatienceLimit);
    ASSERT_TRUE(status.has_value()) << "the show did not end";
    EXPECT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status);
    EXPECT_EQ(e2e::ExitCode(*status), 255);
    EXPECT_EQ(program.Output(), c.expectedOutput);
    // The display was open when the texture was read, and was shut down before the process ended.
    EXPECT_EQ(ReadFile(log), "SDL_CreateWindow\nSDL_DestroyWindow\nSDL_QuitSubSystem(SDL_INIT_VIDEO)\nexit(-1)\n");
  }
}

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
      const std::string stat = ReadFile(entry.path() / "stat");
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

// How many System V shared-memory segments that process `pid` created still exist. The board
// shows frames through one; it is marked for removal at once, so it goes when the process does.
int SharedMemorySegmentsOf(pid_t pid) {
  std::istringstream table(ReadFile("/proc/sysvipc/shm"));
  std::string line;
  std::getline(table, line); // the column names
  int count = 0;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string key, id, permissions, size;
    pid_t creator = 0;
    if (fields >> key >> id >> permissions >> size >> creator && creator == pid) ++count;
  }
  return count;
}

std::set<std::string> EntriesOf(const std::string& directory) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) names.insert(entry.path().filename().string());
  return names;
}

// The screen's size as xdotool reports it, for instance "800 600".
std::string ScreenGeometry(const XvfbServer& server, const e2e::TemporaryDirectory& directory) {
  ChildProcess xdotool({"xdotool", "getdisplaygeometry"}, server.Environment(), directory.File("geometry.txt"));
  const auto status = xdotool.WaitForExit(PatienceLimit);
  return status && e2e::ExitCode(*status) == 0 ? xdotool.Output() : "";
}

TEST(Robustness, SignalsEndTheShowAndTheDialogAtOnceAndLeaveNothingBehind) {
  SKIP_WITHOUT_XVFB();
  struct Case {
    const char* mode;
    std::vector<std::string> arguments;
    std::string window;
    int signalNumber;
  };
  const Case cases[] = {
      {"show", {"/s"}, ShowWindow, SIGTERM},
      {"show", {"/s"}, ShowWindow, SIGINT},
      {"settings dialog", {"/c"}, SettingsWindow, SIGTERM},
      {"settings dialog", {}, SettingsWindow, SIGINT},
  };
  XvfbServer server(800, 600);
  ASSERT_TRUE(server.Started());
  e2e::TemporaryDirectory scratch;
  const std::string geometry = ScreenGeometry(server, scratch);
  ASSERT_NE(geometry, "");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + ", signal " + std::to_string(c.signalNumber));
    e2e::TemporaryDirectory directory;
    std::filesystem::copy_file(Flare, directory.File("flare.3df"));
    ChildProcess program(e2e::InDirectory(directory.Path(), e2e::Command(Program, c.arguments)), server.Environment(),
                         directory.File("out.txt"));
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
    EXPECT_TRUE(Eventually([&] { return !server.Xdotool({"search", "--name", "^Pyrovane"}); })) << "a window stayed";
    for (const pid_t descendant : descendants) {
      EXPECT_TRUE(Eventually([&] { return ProcessGone(descendant); })) << "process " << descendant << " stayed";
    }
    EXPECT_TRUE(Eventually([&] { return SharedMemorySegmentsOf(program.Pid()) == 0; })) << "shared memory stayed";
    EXPECT_EQ(EntriesOf(directory.Path()), entriesBefore);
    EXPECT_EQ(ScreenGeometry(server, scratch), geometry);
  }
}

} // namespace
