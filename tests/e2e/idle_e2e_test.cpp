// Whole-process tests of pyrovane-idle from a staged install: the show when idle and its end at the user's return, on sway, KWin, mutter and Xvfb.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "headless_desktops.h"
#include "processes.h"
#include "staged_install.h"
#include "wayland_compositors.h"
#include "x_servers.h"

namespace {

namespace fs = std::filesystem;
using namespace e2e;
using namespace support;

const std::string IdleInhibitorClient = PYROVANE_IDLE_INHIBITOR_CLIENT;
const std::string SessionManagerInhibitor = PYROVANE_SESSION_MANAGER_INHIBITOR;
constexpr char LostDisplay[] = "pyrovane-idle: lost the connection to the display\n";

class IdleWatcher : public StagedInstallTest {
protected:
  // The watcher as a user starts it, from the staged install, waiting for 3 s of idle time.
  ChildProcess StartWatcher(const EnvironmentChanges& environment, const std::string& logName,
                            const char* seconds = "3") const {
    return ChildProcess(InDirectory("/", {Staged("usr/bin/pyrovane-idle"), "--after", seconds}), environment,
                        WorkFile(logName));
  }

  // The show the watcher runs now: its child, the launcher having handed its process over to the
  // installed program. 0 when there is none.
  pid_t ShowOf(ChildProcess& watcher) const {
    const fs::path program = fs::canonical(Staged("usr/libexec/pyrovane/pyrovane"));
    const pid_t parent = watcher.Pid();
    const std::set<pid_t> shows = ProcessesWhere([&](pid_t pid) {
      const std::optional<ProcessState> state = StateOf(pid);
      return state && state->parent == parent && state->state != 'Z' && ExecutableOf(pid) == program;
    });
    return shows.empty() ? 0 : *shows.begin();
  }

  // Waits until the watcher runs a show: its process id, or 0 when none came within PatienceLimit.
  pid_t WaitForShow(ChildProcess& watcher) const {
    pid_t show = 0;
    Eventually([&] {
      show = ShowOf(watcher);
      return show != 0 || !watcher.Running();
    });
    return show;
  }

  // The scenario of every desktop: once input stops the show starts; input ends it; the next idle
  // period starts the next; SIGTERM to the watcher ends it and its show, silently. Then a second
  // watcher loses its display, which ends it with one line and 255, and its show with it.
  void WatchesTheSession(const EnvironmentChanges& environment, const std::function<bool()>& userActivity,
                         const std::function<bool()>& loseTheDisplay) const {
    ChildProcess watcher = StartWatcher(environment, "idle.log");
    for (int show = 1; show <= 2; ++show) {
      const pid_t pid = WaitForShow(watcher);
      ASSERT_NE(pid, 0) << "show " << show << " did not start: " << watcher.Output();
      ASSERT_TRUE(userActivity());
      EXPECT_TRUE(Eventually([&] { return ProcessEnded(pid); })) << "show " << show << " outlived the user's return";
    }
    const pid_t last = WaitForShow(watcher);
    ASSERT_NE(last, 0) << watcher.Output();
    const std::optional<int> status = watcher.Signal(SIGTERM);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(ExitCode(*status), 0);
    EXPECT_TRUE(ProcessEnded(last)) << "the show outlived its watcher";
    EXPECT_EQ(watcher.Output(), "");

    ChildProcess orphaned = StartWatcher(environment, "orphaned.log");
    const pid_t show = WaitForShow(orphaned);
    ASSERT_NE(show, 0) << orphaned.Output();
    ASSERT_TRUE(loseTheDisplay());
    const Ended ended = orphaned.WaitForEnd();
    EXPECT_EQ(ended.exitCode, 255) << ended.output;
    EXPECT_NE(ended.output.find(LostDisplay), std::string::npos) << ended.output;
    EXPECT_TRUE(Eventually([&] { return ProcessEnded(show); }));
  }
};

TEST_F(IdleWatcher, OnSwayThroughKdeIdleWithTheVirtualPointer) {
  SKIP_WITHOUT_WAYLAND_TOOLS();
  SwayServer sway({{800, 600}}, 1);
  ASSERT_TRUE(sway.Started()) << sway.Log();
  int moves = 0;
  WatchesTheSession(
      sway.Environment(),
      [&] {
        ++moves;
        // "--": a negative number is no option.
        return sway.Swaymsg({"--", "seat", "seat0", "cursor", "move", std::to_string(moves % 2 == 0 ? -5 : 5), "5"})
            .has_value();
      },
      [&] { return sway.Kill(); });
}

TEST_F(IdleWatcher, OnKwinThroughTheIdleNotifierWithFakeInput) {
  SKIP_IF_MISSING(HeadlessDesktopsMissing());
  KwinServer kwin({1024, 768}, 1);
  ASSERT_TRUE(kwin.Started()) << kwin.Log();
  WatchesTheSession(
      kwin.Environment(), [&] { return kwin.Pointer().Move(5, 5); }, [&] { return kwin.Kill(); });
}

TEST_F(IdleWatcher, OnMutterThroughItsIdleMonitorWithRemoteDesktopMotion) {
  SKIP_IF_MISSING(HeadlessDesktopsMissing());
  MutterServer mutter({{1024, 768}});
  ASSERT_TRUE(mutter.Started()) << mutter.Log();
  WatchesTheSession(
      mutter.Environment(), [&] { return mutter.Pointer().Move(5, 5); }, [&] { return mutter.Kill(); });
}

TEST_F(IdleWatcher, OnXvfbThroughTheIdleCounterWithXdotool) {
  START_X_SERVER(server, 640, 480);
  int moves = 0;
  WatchesTheSession(
      server.Environment(),
      [&] {
        ++moves;
        return server.Xdotool({"mousemove", std::to_string(10 * moves), "10"});
      },
      [&] { return server.Kill(); });

  // A watcher killed outright cannot end its show itself: the show gets SIGTERM as it dies.
  START_X_SERVER(second, 640, 480);
  ChildProcess killed = StartWatcher(second.Environment(), "killed.log");
  const pid_t show = WaitForShow(killed);
  ASSERT_NE(show, 0) << killed.Output();
  ASSERT_TRUE(killed.Signal(SIGKILL).has_value());
  EXPECT_TRUE(Eventually([&] { return ProcessEnded(show); })) << "the show outlived its watcher";
}

TEST_F(IdleWatcher, AWindowThatInhibitsIdlingOnKwinKeepsTheShowFromStarting) {
  SKIP_IF_MISSING(HeadlessDesktopsMissing());
  SKIP_IF_MISSING(XvfbMissing());
  KwinServer kwin({1024, 768}, 1);
  ASSERT_TRUE(kwin.Started()) << kwin.Log();
  ChildProcess inhibitor({IdleInhibitorClient}, kwin.Environment(), WorkFile("inhibitor.log"));
  ASSERT_TRUE(inhibitor.WaitForOutput("inhibiting\n", PatienceLimit)) << inhibitor.Output() << kwin.Log();
  ChildProcess inhibited = StartWatcher(kwin.Environment(), "inhibited.log");
  // The clock to compare with: a watcher started after the inhibited one, with a longer period,
  // on a server where nothing inhibits. Once its show runs, the inhibited watcher has been idle
  // for longer than its own period.
  START_X_SERVER(reference, 640, 480);
  ChildProcess referenceWatcher = StartWatcher(reference.Environment(), "reference.log", "5");
  ASSERT_NE(WaitForShow(referenceWatcher), 0) << referenceWatcher.Output();
  EXPECT_EQ(ShowOf(inhibited), 0) << "a show started while a window inhibited idling";
  // Without the window, the idle period runs to its end.
  ASSERT_TRUE(EndedBySigterm(inhibitor));
  EXPECT_NE(WaitForShow(inhibited), 0) << inhibited.Output();
}

TEST_F(IdleWatcher, OnGnomeTheSessionManagersInhibitorHoldsTheShowBackUntilItGoes) {
  SKIP_IF_MISSING(HeadlessDesktopsMissing());
  MutterServer mutter({{1024, 768}});
  ASSERT_TRUE(mutter.Started()) << mutter.Log();
  ChildProcess sessionManager({SessionManagerInhibitor}, mutter.Environment(), WorkFile("session-manager.log"));
  ASSERT_TRUE(sessionManager.WaitForOutput("inhibiting\n", PatienceLimit)) << sessionManager.Output();
  ChildProcess watcher = StartWatcher(mutter.Environment(), "gnome-inhibited.log");
  // The idle period has passed when the watcher asks; the answer holds the show back.
  ASSERT_TRUE(sessionManager.WaitForOutput("asked: inhibited\n", PatienceLimit)) << watcher.Output();
  EXPECT_EQ(ShowOf(watcher), 0) << "a show started while GNOME inhibited idling";
  // The inhibitor goes while the user is still idle: the watcher asks again at once, and the show
  // starts. The helper ends after answering that second question.
  const std::optional<int> removed = sessionManager.Signal(SIGTERM);
  ASSERT_TRUE(removed.has_value()) << "the watcher did not ask again: " << sessionManager.Output();
  EXPECT_EQ(ExitCode(*removed), 0);
  EXPECT_NE(WaitForShow(watcher), 0) << watcher.Output();
}

TEST_F(IdleWatcher, SaysWhatItNeedsInOneLine) {
  TemporaryDirectory nowhere;
  const std::string watcher = Staged("usr/bin/pyrovane-idle");
  const std::string usage = "usage: pyrovane-idle [--after SECONDS]\n";
  const std::string noSession = "pyrovane-idle: this session offers no idle time (no Wayland idle protocol, no GNOME "
                                "idle monitor, no X11 idle counter)\n";
  const EnvironmentChanges noDesktop{{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + nowhere.File("bus")},
                                     {"XDG_RUNTIME_DIR", nowhere.Path()}};
  const struct {
    std::vector<std::string> arguments;
    EnvironmentChanges environment;
    Ended expected;
  } cases[] = {
      {{"--help"}, {}, {0, usage}},
      {{"--after"}, {}, {2, usage}},
      {{"--after", "0"}, {}, {2, usage}},
      {{"--after", "86401"}, {}, {2, usage}},
      {{"--after", "3s"}, {}, {2, usage}},
      {{"/s"}, {}, {2, usage}},
      {{}, noDesktop, {255, noSession}},
      {{"--after", "3"}, {{"DISPLAY", ":99999"}, {"WAYLAND_DISPLAY", nowhere.File("wayland-0")}}, {255, noSession}},
  };
  for (const auto& c : cases) {
    EnvironmentChanges environment = noDesktop;
    for (const auto& [name, value] : c.environment) environment[name] = value;
    EXPECT_EQ(RunToEnd(Command(watcher, c.arguments), environment), c.expected)
        << (c.arguments.empty() ? "no argument" : c.arguments.front());
  }
}

} // namespace
