// Whole-process tests of a staged install (DESTDIR): the files it puts in place, and the installed show and launchers under Xvfb.
#include "processes.h"
#include "screenshots.h"
#include "staged_install.h"
#include "support/case_name.h"
#include "x_servers.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace e2e;
using namespace support;

// Everything a staged install under the prefix /usr holds, and nothing else.
const std::set<std::string> ExpectedFiles = {
    "usr/bin/pyrovane",
    "usr/bin/pyrovane-record",
    "usr/bin/pyrovane-idle",
    "usr/lib/systemd/user/pyrovane-idle.service",
    "usr/libexec/pyrovane/pyrovane",
    "usr/share/pyrovane/flare.3df",
    "usr/share/man/man6/pyrovane.6",
    "usr/share/man/man1/pyrovane-record.1",
    "usr/share/man/man1/pyrovane-idle.1",
    "usr/share/xscreensaver/config/pyrovane.xml",
    "usr/libexec/xscreensaver/pyrovane",
    "usr/libexec/xsecurelock/saver_pyrovane",
    "usr/share/applications/pyrovane.desktop",
    "usr/share/icons/hicolor/256x256/apps/pyrovane.png",
};
const std::string InstalledProgram = "usr/libexec/pyrovane/pyrovane";

// One staged install for all the tests here. The tests' own files go next to the root, never into it.
using StagedInstall = StagedInstallTest;

TEST_F(StagedInstall, PutsInPlaceExactlyTheExpectedFiles) {
  std::set<std::string> found;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(Root())) {
    if (!entry.is_directory()) found.insert(fs::relative(entry.path(), Root()).string());
  }
  EXPECT_EQ(found, ExpectedFiles);

  // Programs and launchers can be run by anyone; data cannot be run at all.
  for (const std::string& file : ExpectedFiles) {
    struct stat status {};
    ASSERT_EQ(stat(Staged(file).c_str(), &status), 0) << file;
    const bool runnable = file.find("/bin/") != std::string::npos || file.find("/libexec/") != std::string::npos;
    EXPECT_EQ((status.st_mode & 0111) == 0111, runnable) << file;
    EXPECT_TRUE((status.st_mode & 0444) == 0444) << file << " is not readable by everyone";
  }
  EXPECT_EQ(ReadWhole(Staged("usr/share/pyrovane/flare.3df")), ReadWhole(Flare))
      << "the installed texture is not the generated one";
}

TEST_F(StagedInstall, TheManualPagesTheSettingsFileAndTheDesktopEntryAreWellFormed) {
  // groff warns about unknown macros, escapes and requests; a clean page renders silently.
  for (const char* page : {"usr/share/man/man6/pyrovane.6", "usr/share/man/man1/pyrovane-record.1",
                           "usr/share/man/man1/pyrovane-idle.1"}) {
    EXPECT_EQ(RunToEnd({"groff", "-man", "-ww", "-z", Staged(page)}), (Ended{0, ""})) << page;
  }
  // xscreensaver finds the settings file of the hack whose command is "pyrovane --root" by that
  // command's name: the file's name, its <screensaver name>, its command and the launcher in the
  // hack directory must agree. Its settings program warns about a switch without a leading hyphen.
  const std::string settings = Staged("usr/share/xscreensaver/config/pyrovane.xml");
  EXPECT_EQ(RunToEnd({"xmllint", "--xpath", "string(/screensaver/@name)", settings}), (Ended{0, "pyrovane\n"}));
  EXPECT_EQ(RunToEnd({"xmllint", "--xpath", "string(/screensaver/command/@arg)", settings}), (Ended{0, "--root\n"}));

  // Shells match the windows to the entry by their app id, which is the entry's name, and by
  // their X11 class; the entry names its icon, which the hicolor theme holds at its size.
  const std::string entry = Staged("usr/share/applications/pyrovane.desktop");
  if (ProgramAvailable("desktop-file-validate")) {
    EXPECT_EQ(RunToEnd({"desktop-file-validate", entry}), (Ended{0, ""}));
  }
  const std::string text = ReadWhole(entry);
  for (const char* line :
       {"\nIcon=pyrovane\n", "\nNoDisplay=true\n", "\nStartupWMClass=Pyrovane\n", "\nExec=pyrovane /s\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(
      RunToEnd({"identify", "-format", "%m %w %h %A", Staged("usr/share/icons/hicolor/256x256/apps/pyrovane.png")}),
      (Ended{0, "PNG 256 256 True"}));
}

TEST_F(StagedInstall, TheIdleWatchersUserUnitNamesTheInstalledWatcherAndIsValid) {
  const std::string unit = ReadWhole(Staged("usr/lib/systemd/user/pyrovane-idle.service"));
  const std::string command = "\nExecStart=/usr/bin/pyrovane-idle\n";
  const std::size_t at = unit.find(command);
  ASSERT_NE(at, std::string::npos) << "the unit does not start the watcher of the install's prefix: " << unit;
  EXPECT_NE(unit.find("\nWantedBy=graphical-session.target\n"), std::string::npos) << unit;
  // systemd's own check, of a copy that names the staged watcher, which must then be there to run.
  TemporaryDirectory check;
  std::string staged = unit;
  staged.replace(at, command.size(), "\nExecStart=" + Staged("usr/bin/pyrovane-idle") + "\n");
  std::ofstream(check.File("pyrovane-idle.service")) << staged;
  ASSERT_EQ(mkdir(check.File("runtime").c_str(), 0700), 0);
  EXPECT_EQ(RunToEnd({"systemd-analyze", "--user", "verify", "--man=no", check.File("pyrovane-idle.service")},
                     {{"XDG_RUNTIME_DIR", check.File("runtime")}}),
            (Ended{0, ""}));
}

TEST_F(StagedInstall, TheRecorderFindsTheInstalledTextureFromAnyDirectory) {
  TemporaryDirectory elsewhere;
  EXPECT_EQ(RunToEnd(InDirectory(elsewhere.Path(), {Staged("usr/bin/pyrovane-record"), "--frames", "3"})),
            (Ended{0, ""}));
}

// The command passes the program's own switches on unchanged, and turns the switches that hosts
// give every hack into the show.
enum class Outcome { Show, Settings, ImmediateExit };
struct CommandCase {
  const char* name;
  std::vector<std::string> arguments;
  Outcome outcome;
};

class PyrovaneCommand : public StagedInstallTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(PyrovaneCommand, WorksFromAnyDirectory) {
  const CommandCase& c = GetParam();
  START_X_SERVER(server, 640, 480);
  // "/" holds no texture: the command finds the installed one.
  ChildProcess program(InDirectory("/", Command(Staged("usr/bin/pyrovane"), c.arguments)), server.Environment(),
                       WorkFile("command.log"));
  if (c.outcome == Outcome::ImmediateExit) {
    EXPECT_EQ(program.WaitForEnd().exitCode, 0);
    EXPECT_FALSE(server.Xdotool({"search", "--name", "Pyrovane"})) << "nothing is shown";
  } else {
    EXPECT_TRUE(WaitForWindow(server, c.outcome == Outcome::Show ? ShowWindow : SettingsWindow)) << program.Output();
    EXPECT_EQ(ExecutableOf(program.Pid()), fs::canonical(Staged(InstalledProgram)));
    EXPECT_TRUE(EndedBySigterm(program));
  }
  EXPECT_EQ(program.Output(), "");
}

INSTANTIATE_TEST_SUITE_P(Arguments, PyrovaneCommand,
                         ::testing::Values(CommandCase{"show", {"/s"}, Outcome::Show},
                                           CommandCase{"settings", {"/c"}, Outcome::Settings},
                                           CommandCase{"no argument", {}, Outcome::Settings},
                                           CommandCase{"capital C", {"/C"}, Outcome::ImmediateExit},
                                           CommandCase{"hyphen s", {"-s"}, Outcome::ImmediateExit},
                                           CommandCase{"root", {"--root"}, Outcome::Show},
                                           CommandCase{"rooted", {"--rooted"}, Outcome::ImmediateExit}),
                         CaseName<CommandCase>);

// xsecurelock starts its modules with -root; xscreensaver runs its programs line (through the
// shell, its hack directory first on PATH) and gives its settings preview --window-id.
struct LauncherCase {
  const char* name;
  // "{window}" stands for the host's window id; where it is given, XSCREENSAVER_WINDOW is not.
  std::vector<std::string> command;
  // Put first on PATH, as xscreensaver does with its own: the staged hack directory, a directory
  // that holds a link to the staged hack, or nothing.
  enum class HackDirectory { None, Staged, Linked } hackDirectory;
};

class HostsLaunchers : public StagedInstallTest, public ::testing::WithParamInterface<LauncherCase> {};

TEST_P(HostsLaunchers, RunTheShowInTheirWindowWhateverTheyPass) {
  const LauncherCase& c = GetParam();
  const std::string stagedHacks = Staged("usr/libexec/xscreensaver");
  // The hack directory that the README has a /usr/local install link into xscreensaver's own.
  TemporaryDirectory linkedHacks;
  fs::create_symlink(stagedHacks + "/pyrovane", linkedHacks.File("pyrovane"));
  const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin";
  constexpr Rect Placement{50, 50, 400, 300};
  START_X_SERVER(server, 640, 480);
  HostWindow host(server, Placement);
  ASSERT_TRUE(host.Created());
  EnvironmentChanges environment = server.Environment();
  std::vector<std::string> command = c.command;
  bool idOnCommandLine = false;
  for (std::string& argument : command) {
    if (const std::size_t at = argument.find("{window}"); at != std::string::npos) {
      argument.replace(at, 8, host.DecimalId());
      idOnCommandLine = true;
    }
  }
  if (!idOnCommandLine) environment["XSCREENSAVER_WINDOW"] = host.HexadecimalId();
  const std::vector<std::uint32_t> windowsBefore = host.VisibleTopLevelWindows();
  if (c.hackDirectory == LauncherCase::HackDirectory::Staged) environment["PATH"] = stagedHacks + ":" + path;
  if (c.hackDirectory == LauncherCase::HackDirectory::Linked) environment["PATH"] = linkedHacks.Path() + ":" + path;
  if (command.front() == "saver_pyrovane") command.front() = Staged("usr/libexec/xsecurelock/saver_pyrovane");
  if (command.front() == "pyrovane") command.front() = Staged("usr/bin/pyrovane");
  // Hosts start their savers wherever they themselves run; "/" holds no texture.
  ChildProcess launched(InDirectory("/", command), environment, WorkFile("launcher.log"));
  EXPECT_TRUE(WaitUntilPainted(server, Placement, WorkFile("shot.ppm"))) << launched.Output();
  EXPECT_EQ(host.VisibleTopLevelWindows(), windowsBefore) << "a window of its own appeared";
  // The launcher hands its process over to the show, so that the host's SIGTERM reaches it.
  EXPECT_EQ(ExecutableOf(launched.Pid()), fs::canonical(Staged(InstalledProgram)));
  EXPECT_TRUE(EndedBySigterm(launched));
  EXPECT_EQ(launched.Output(), "");
  EXPECT_TRUE(host.Intact());
}

using Hacks = LauncherCase::HackDirectory;
INSTANTIATE_TEST_SUITE_P(
    Hosts, HostsLaunchers,
    ::testing::Values(
        LauncherCase{"xsecurelock's module with -root", {"saver_pyrovane", "-root"}, Hacks::None},
        LauncherCase{"xsecurelock's module with nothing", {"saver_pyrovane"}, Hacks::None},
        LauncherCase{"xscreensaver's hack with --root", {"/bin/sh", "-c", "exec pyrovane --root"}, Hacks::Staged},
        LauncherCase{"xscreensaver's hack with -root as xsecurelock writes it",
                     {"/bin/sh", "-c", "exec pyrovane -root"},
                     Hacks::Staged},
        LauncherCase{
            "xscreensaver's preview", {"/bin/sh", "-c", "exec pyrovane --root --window-id 0x1234"}, Hacks::Staged},
        LauncherCase{"xscreensaver's hack through a link", {"/bin/sh", "-c", "exec pyrovane --root"}, Hacks::Linked},
        LauncherCase{"an old programs line", {"/bin/sh", "-c", "exec pyrovane /s"}, Hacks::Staged},
        LauncherCase{"the command given only the window's switch", {"pyrovane", "-window-id", "{window}"}, Hacks::None},
        LauncherCase{"xscreensaver's hack given only the window's switch",
                     {"/bin/sh", "-c", "exec pyrovane --root --window-id {window}"},
                     Hacks::Staged}),
    CaseName<LauncherCase>);

} // namespace
