// Whole-process tests of a staged install (DESTDIR): the files it puts in place, and the installed show and launchers under Xvfb.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using e2e::ChildProcess;
using e2e::EnvironmentChanges;
using e2e::HostWindow;
using e2e::PatienceLimit;
using e2e::XvfbServer;

const std::string Flare = PYROVANE_FLARE;

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
const std::string ShowWindow = "^Pyrovane$";
const std::string SettingsWindow = "^Pyrovane ScreenSaver Configuration$";

std::string ReadWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

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

// The executable a process runs now: a launcher that handed its process over shows the program.
fs::path ExecutableOf(pid_t pid) {
  std::error_code error;
  return fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
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
  EXPECT_EQ(ReadWhole(Staged("usr/share/pyrovane/flare.3df")), ReadWhole(Flare)) << "the installed texture is not the generated one";
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
  const Finished name = RunToEnd({"xmllint", "--xpath", "string(/screensaver/@name)", settings}, {}, WorkFile("name.log"));
  EXPECT_TRUE(name.succeeded) << name.output;
  EXPECT_EQ(name.output, "pyrovane\n");
  const Finished command = RunToEnd({"xmllint", "--xpath", "string(/screensaver/command/@arg)", settings}, {},
                                    WorkFile("command.log"));
  EXPECT_TRUE(command.succeeded) << command.output;
  EXPECT_EQ(command.output, "--root\n");
}

TEST_F(StagedInstall, TheRecorderFindsTheInstalledTextureFromAnyDirectory) {
  e2e::TemporaryDirectory elsewhere;
  const Finished recorded = RunToEnd(
      e2e::InDirectory(elsewhere.Path(), {Staged("usr/bin/pyrovane-record"), "--frames", "3"}), {}, WorkFile("record.log"));
  EXPECT_TRUE(recorded.succeeded) << recorded.output;
}

TEST_F(StagedInstall, ThePyrovaneCommandWorksFromAnyDirectory) {
  SKIP_WITHOUT_XVFB();
  // The command passes the program's own switches on unchanged, and turns the switches that hosts
  // give every hack into the show.
  enum class Outcome { Show, Settings, ImmediateExit };
  struct Case {
    std::vector<std::string> arguments;
    Outcome outcome;
  };
  const Case cases[] = {
      {{"/s"}, Outcome::Show},
      {{"/c"}, Outcome::Settings},
      {{}, Outcome::Settings},
      {{"/C"}, Outcome::ImmediateExit},
      {{"-s"}, Outcome::ImmediateExit},
      {{"--root"}, Outcome::Show},
      {{"-window-id", "1234"}, Outcome::Show},
      {{"--rooted"}, Outcome::ImmediateExit},
  };
  XvfbServer server(640, 480);
  ASSERT_TRUE(server.Started());
  for (const Case& c : cases) {
    const std::string name = c.arguments.empty() ? "(none)" : c.arguments[0];
    // "/" holds no texture: the command finds the installed one.
    ChildProcess program(e2e::InDirectory("/", e2e::Command(Staged("usr/bin/pyrovane"), c.arguments)),
                         server.Environment(), WorkFile("command.log"));
    if (c.outcome == Outcome::ImmediateExit) {
      const auto status = program.WaitForExit(PatienceLimit);
      ASSERT_TRUE(status.has_value()) << name;
      EXPECT_EQ(e2e::ExitCode(*status), 0) << name;
      EXPECT_FALSE(server.Xdotool({"search", "--name", "Pyrovane"})) << name << ": nothing is shown";
    } else {
      EXPECT_TRUE(e2e::WaitForWindow(server, c.outcome == Outcome::Show ? ShowWindow : SettingsWindow))
          << name << ": " << program.Output();
      EXPECT_EQ(ExecutableOf(program.Pid()), fs::canonical(Staged(InstalledProgram))) << name;
      EXPECT_TRUE(e2e::EndedBySigterm(program)) << name;
      // The next case starts on an empty screen.
      for (int i = 0; i < 100 && server.Xdotool({"search", "--name", "Pyrovane"}); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    EXPECT_EQ(program.Output(), "") << name;
  }
}

TEST_F(StagedInstall, TheHostsLaunchersRunTheShowInTheirWindowWhateverTheyPass) {
  SKIP_WITHOUT_XVFB();
  // The hack directory that the README has a /usr/local install link into xscreensaver's own.
  e2e::TemporaryDirectory linkedHackDirectory;
  fs::create_symlink(Staged("usr/libexec/xscreensaver/pyrovane"), linkedHackDirectory.File("pyrovane"));
  const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin";
  const std::string module = Staged("usr/libexec/xsecurelock/saver_pyrovane");
  constexpr e2e::Rect Placement{50, 50, 400, 300};
  struct Case {
    const char* name;
    std::vector<std::string> command;
    std::string hackDirectory; // put first on PATH, as xscreensaver does with its own
  };
  // xsecurelock starts its modules with -root; xscreensaver runs its programs line (through the
  // shell, its hack directory first on PATH) and gives its settings preview --window-id.
  const Case cases[] = {
      {"xsecurelock's module with -root", {module, "-root"}, ""},
      {"xsecurelock's module with nothing", {module}, ""},
      {"xscreensaver's hack with --root", {"/bin/sh", "-c", "exec pyrovane --root"}, Staged("usr/libexec/xscreensaver")},
      {"xscreensaver's hack with -root", {"/bin/sh", "-c", "exec pyrovane -root"}, Staged("usr/libexec/xscreensaver")},
      {"xscreensaver's preview", {"/bin/sh", "-c", "exec pyrovane --root --window-id 0x1234"}, Staged("usr/libexec/xscreensaver")},
      {"xscreensaver's hack through a link", {"/bin/sh", "-c", "exec pyrovane --root"}, linkedHackDirectory.Path()},
      {"an old programs line", {"/bin/sh", "-c", "exec pyrovane /s"}, Staged("usr/libexec/xscreensaver")},
  };
  for (const Case& c : cases) {
    XvfbServer server(640, 480);
    ASSERT_TRUE(server.Started()) << c.name;
    HostWindow host(server, Placement);
    ASSERT_TRUE(host.Created()) << c.name;
    EnvironmentChanges environment = server.Environment();
    environment["XSCREENSAVER_WINDOW"] = host.HexadecimalId();
    if (!c.hackDirectory.empty()) environment["PATH"] = c.hackDirectory + ":" + path;
    // Hosts start their savers wherever they themselves run; "/" holds no texture.
    ChildProcess launched(e2e::InDirectory("/", c.command), environment, WorkFile("launcher.log"));
    EXPECT_TRUE(e2e::WaitUntilPainted(server, Placement, WorkFile("shot.ppm"))) << c.name << ": " << launched.Output();
    // The launcher hands its process over to the show, so that the host's SIGTERM reaches it.
    EXPECT_EQ(ExecutableOf(launched.Pid()), fs::canonical(Staged(InstalledProgram))) << c.name;
    EXPECT_TRUE(e2e::EndedBySigterm(launched)) << c.name;
    EXPECT_EQ(launched.Output(), "") << c.name;
    EXPECT_TRUE(host.Intact()) << c.name;
  }
}

} // namespace
