// Whole-process tests of a staged install (DESTDIR): the files it puts in place, and the installed show and launchers under Xvfb.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using e2e::ChildProcess;
using e2e::EnvironmentChanges;
using e2e::HostWindow;
using e2e::PatienceLimit;
using e2e::XvfbServer;

// Everything a staged install under the prefix /usr holds, and nothing else.
const std::set<std::string> ExpectedFiles = {
    "usr/bin/pyrovane",
    "usr/bin/pyrovane-record",
    "usr/libexec/pyrovane/pyrovane",
    "usr/share/pyrovane/flare.3df",
    "usr/share/man/man6/pyrovane.6",
    "usr/share/man/man1/pyrovane-record.1",
    "usr/share/xscreensaver/config/pyrovane.xml",
    "usr/libexec/xscreensaver/pyrovane",
    "usr/libexec/xsecurelock/saver_pyrovane",
};
const std::string InstalledProgram = "usr/libexec/pyrovane/pyrovane";

// Runs a command to its end with its output in `outputPath`; the output, or a description of the failure.
struct Finished {
  bool succeeded;
  std::string output;
};
Finished RunToEnd(const std::vector<std::string>& command, const EnvironmentChanges& environment,
                  const std::string& outputPath) {
  ChildProcess process(command, environment, outputPath);
  if (!process.Started()) return {false, command.front() + " could not be started (scripts/bootstrap installs it)"};
  const auto status = process.WaitForExit(PatienceLimit);
  const bool succeeded = status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
  return {succeeded, process.Output()};
}

// One staged install for all the tests here. The tests' own files go next to the root, never into it.
using StagedInstall = e2e::StagedInstallTest;

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
  EXPECT_EQ(e2e::ReadWhole(Staged("usr/share/pyrovane/flare.3df")), e2e::ReadWhole(e2e::Flare))
      << "the installed texture is not the generated one";
}

TEST_F(StagedInstall, TheManualPagesAndTheSettingsFileAreWellFormed) {
  // groff warns about unknown macros, escapes and requests; a clean page renders silently.
  for (const char* page : {"usr/share/man/man6/pyrovane.6", "usr/share/man/man1/pyrovane-record.1"}) {
    const Finished manual = RunToEnd({"groff", "-man", "-ww", "-z", Staged(page)}, {}, WorkFile("groff.log"));
    EXPECT_TRUE(manual.succeeded) << page << ": " << manual.output;
    EXPECT_EQ(manual.output, "") << page;
  }
  // xscreensaver finds the settings file of the hack whose command is "pyrovane --root" by that
  // command's name: the file's name, its <screensaver name>, its command and the launcher in the
  // hack directory must agree. Its settings program warns about a switch without a leading hyphen.
  const std::string settings = Staged("usr/share/xscreensaver/config/pyrovane.xml");
  const Finished name =
      RunToEnd({"xmllint", "--xpath", "string(/screensaver/@name)", settings}, {}, WorkFile("name.log"));
  EXPECT_TRUE(name.succeeded) << name.output;
  EXPECT_EQ(name.output, "pyrovane\n");
  const Finished command =
      RunToEnd({"xmllint", "--xpath", "string(/screensaver/command/@arg)", settings}, {}, WorkFile("command.log"));
  EXPECT_TRUE(command.succeeded) << command.output;
  EXPECT_EQ(command.output, "--root\n");
}

TEST_F(StagedInstall, TheRecorderFindsTheInstalledTextureFromAnyDirectory) {
  e2e::TemporaryDirectory elsewhere;
  const Finished recorded =
      RunToEnd(e2e::InDirectory(elsewhere.Path(), {Staged("usr/bin/pyrovane-record"), "--frames", "3"}), {},
               WorkFile("record.log"));
  EXPECT_TRUE(recorded.succeeded) << recorded.output;
}

// The command passes the program's own switches on unchanged, and turns the switches that hosts
// give every hack into the show.
enum class Outcome { Show, Settings, ImmediateExit };
struct CommandCase {
  const char* name;
  std::vector<std::string> arguments;
  Outcome outcome;
};

class PyrovaneCommand : public e2e::StagedInstallTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(PyrovaneCommand, WorksFromAnyDirectory) {
  SKIP_WITHOUT_XVFB();
  const CommandCase& c = GetParam();
  XvfbServer server(640, 480);
  ASSERT_TRUE(server.Started());
  // "/" holds no texture: the command finds the installed one.
  ChildProcess program(e2e::InDirectory("/", e2e::Command(Staged("usr/bin/pyrovane"), c.arguments)),
                       server.Environment(), WorkFile("command.log"));
  if (c.outcome == Outcome::ImmediateExit) {
    const auto status = program.WaitForExit(PatienceLimit);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(e2e::ExitCode(*status), 0);
    EXPECT_FALSE(server.Xdotool({"search", "--name", "Pyrovane"})) << "nothing is shown";
  } else {
    EXPECT_TRUE(e2e::WaitForWindow(server, c.outcome == Outcome::Show ? e2e::ShowWindow : e2e::SettingsWindow))
        << program.Output();
    EXPECT_EQ(e2e::ExecutableOf(program.Pid()), fs::canonical(Staged(InstalledProgram)));
    EXPECT_TRUE(e2e::EndedBySigterm(program));
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
                         e2e::CaseName<CommandCase>);

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

class HostsLaunchers : public e2e::StagedInstallTest, public ::testing::WithParamInterface<LauncherCase> {};

TEST_P(HostsLaunchers, RunTheShowInTheirWindowWhateverTheyPass) {
  SKIP_WITHOUT_XVFB();
  const LauncherCase& c = GetParam();
  const std::string stagedHacks = Staged("usr/libexec/xscreensaver");
  // The hack directory that the README has a /usr/local install link into xscreensaver's own.
  e2e::TemporaryDirectory linkedHacks;
  fs::create_symlink(stagedHacks + "/pyrovane", linkedHacks.File("pyrovane"));
  const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin";
  constexpr e2e::Rect Placement{50, 50, 400, 300};
  XvfbServer server(640, 480);
  ASSERT_TRUE(server.Started());
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
  ChildProcess launched(e2e::InDirectory("/", command), environment, WorkFile("launcher.log"));
  EXPECT_TRUE(e2e::WaitUntilPainted(server, Placement, WorkFile("shot.ppm"))) << launched.Output();
  EXPECT_EQ(host.VisibleTopLevelWindows(), windowsBefore) << "a window of its own appeared";
  // The launcher hands its process over to the show, so that the host's SIGTERM reaches it.
  EXPECT_EQ(e2e::ExecutableOf(launched.Pid()), fs::canonical(Staged(InstalledProgram)));
  EXPECT_TRUE(e2e::EndedBySigterm(launched));
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
    e2e::CaseName<LauncherCase>);

} // namespace
