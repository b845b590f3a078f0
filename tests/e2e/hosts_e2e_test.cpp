// Whole-process tests of a staged install in the real screen-saver hosts, xsecurelock and xscreensaver, on a private Xvfb server.
#include "processes.h"
#include "screenshots.h"
#include "staged_install.h"
#include "x_servers.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace e2e;
using namespace support;

// Screenshots with sparks, each unlike the one before, that make a show that goes on drawing.
constexpr int FramesToSee = 5;
constexpr std::chrono::milliseconds PollInterval{100};

// Polls `condition` until it holds or PatienceLimit has passed; whether it held.
bool WaitUntil(const std::function<bool()>& condition) { return Eventually(condition, PollInterval); }

// The processes that run `program` now.
std::set<pid_t> ProcessesRunning(const fs::path& program) {
  return ProcessesWhere([&](pid_t pid) { return ExecutableOf(pid) == program; });
}

// The live processes with this display in their environment: everything a host started on it,
// whatever became of its parent.
std::set<pid_t> ProcessesOnDisplay(const std::string& display) {
  return ProcessesWhere([&](pid_t pid) { return EnvironmentHolds(pid, "DISPLAY=" + display); });
}

// Ends a host as a session does, with SIGTERM, and expects nothing it started to outlive it.
void EndAndExpectNothingLeft(ChildProcess& host, const XvfbServer& server) {
  // Else an empty list below would prove nothing.
  ASSERT_EQ(ProcessesOnDisplay(server.Display()).count(host.Pid()), 1u) << "the host itself is not seen on its display";
  EXPECT_TRUE(host.Signal(SIGTERM).has_value()) << "SIGTERM did not end the host";
  EXPECT_TRUE(WaitUntil([&] { return ProcessesOnDisplay(server.Display()).empty(); }))
      << "left behind:\n"
      << DescribeProcesses(ProcessesOnDisplay(server.Display()));
}

struct Watched {
  bool drawing = false;
  // Every process seen running the show meanwhile: one for a show that was never restarted.
  std::set<pid_t> shows;
};

// Watches the screen until the show draws fireworks and goes on drawing them, noting the
// processes that run it at every look.
Watched WatchTheShow(const XvfbServer& server, const fs::path& program, const std::string& workPath) {
  Watched watched;
  std::optional<Image> previous;
  int frames = 0;
  watched.drawing = WaitUntil([&] {
    const std::set<pid_t> running = ProcessesRunning(program);
    watched.shows.insert(running.begin(), running.end());
    std::optional<Image> shot = Screenshot(server.Display(), workPath);
    if (shot && shot->CountBrightColoured(server.Screen()) >= FewestSparkPixels &&
        (!previous || shot->CountDifferent(*previous, server.Screen()) > 0)) {
      ++frames;
      previous = std::move(shot);
    }
    return frames >= FramesToSee;
  });
  return watched;
}

// One staged install for both hosts.
class Hosts : public StagedInstallTest {
protected:
  static fs::path Program() { return fs::canonical(Staged("usr/libexec/pyrovane/pyrovane")); }
};

TEST_F(Hosts, XsecurelockDrawsTheShowFromOneProcessAndLeavesNothingBehind) {
  START_X_SERVER(server, 640, 480);
  ASSERT_TRUE(ProgramAvailable("xsecurelock")) << "xsecurelock is missing (scripts/bootstrap installs it)";
  EnvironmentChanges environment = server.Environment();
  // By absolute path, so that a module of an installed package is not taken for the staged one.
  environment["XSECURELOCK_SAVER"] = Staged("usr/libexec/xsecurelock/saver_pyrovane");
  environment["XSECURELOCK_NO_COMPOSITE"] = "1";
  ChildProcess locker({"xsecurelock"}, environment, WorkFile("xsecurelock.log"));
  ASSERT_TRUE(locker.Started());

  // xsecurelock restarts a module that ends, at once: a show that ended on its switch would
  // leave a black screen and a new process at every look.
  const Watched watched = WatchTheShow(server, Program(), WorkFile("xsecurelock.ppm"));
  EXPECT_TRUE(watched.drawing) << locker.Output();
  EXPECT_EQ(watched.shows.size(), 1u) << "processes that ran the show: " << watched.shows.size();
  EXPECT_TRUE(locker.Running()) << locker.Output();

  EndAndExpectNothingLeft(locker, server);
}

TEST_F(Hosts, XscreensaverDrawsTheShowWhenActivatedAndEndsItWhenDeactivated) {
  START_X_SERVER(server, 640, 480);
  ASSERT_TRUE(ProgramAvailable("xscreensaver")) << "xscreensaver is missing (scripts/bootstrap installs it)";

  // It writes no settings of its own until its settings program saves them: one hack, no lock,
  // no fading, and no time-out that could start it before the test does.
  TemporaryDirectory home;
  std::ofstream(home.File(".xscreensaver")) << "mode: one\n"
                                               "selected: 0\n"
                                               "lock: False\n"
                                               "fade: False\n"
                                               "unfade: False\n"
                                               "splash: False\n"
                                               "timeout: 8:00:00\n"
                                               "programs: \"Pyrovane\" pyrovane --root \\n\n";
  // xscreensaver refuses to run as root: then it runs as nobody, in that home folder of its own.
  std::vector<std::string> asUser;
  if (geteuid() == 0) {
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr) << "there is no user nobody to run xscreensaver as";
    asUser = {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid), "--regid=" + std::to_string(nobody->pw_gid),
              "--clear-groups", "--"};
    for (const std::string& path : {home.Path(), home.File(".xscreensaver")}) {
      ASSERT_EQ(chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0) << path;
    }
  }
  EnvironmentChanges environment = server.Environment();
  environment["HOME"] = home.Path();
  environment["XAUTHORITY"] = std::nullopt;
  // xscreensaver puts its own hack directory first on the PATH of its hacks; the staged one
  // comes next, where an installed package's launcher is not.
  const char* path = std::getenv("PATH");
  environment["PATH"] = Staged("usr/libexec/xscreensaver") + ":" + (path != nullptr ? path : "/usr/bin:/bin");
  auto asTheUser = [&](std::vector<std::string> command) {
    command.insert(command.begin(), asUser.begin(), asUser.end());
    return command;
  };

  ChildProcess saver(asTheUser({"xscreensaver", "-no-splash"}), environment, WorkFile("xscreensaver.log"));
  ASSERT_TRUE(saver.Started());
  EXPECT_TRUE(ProcessesRunning(Program()).empty()) << "the show runs before xscreensaver is activated";
  // The command fails until the daemon is ready to listen.
  ASSERT_TRUE(WaitUntil([&] {
    return RunToEnd(asTheUser({"xscreensaver-command", "-activate"}), environment).exitCode == 0;
  })) << saver.Output();

  const Watched watched = WatchTheShow(server, Program(), WorkFile("xscreensaver.ppm"));
  EXPECT_TRUE(watched.drawing) << saver.Output();
  EXPECT_EQ(watched.shows.size(), 1u)
      << "processes that ran the staged show: " << watched.shows.size()
      << " (a pyrovane in xscreensaver's own hack directory, from an installed package, would come first)";

  EXPECT_EQ(RunToEnd(asTheUser({"xscreensaver-command", "-deactivate"}), environment).exitCode, 0);
  EXPECT_TRUE(WaitUntil([&] { return ProcessesRunning(Program()).empty(); })) << "the show outlived the deactivation";

  EndAndExpectNothingLeft(saver, server);
}

} // namespace
