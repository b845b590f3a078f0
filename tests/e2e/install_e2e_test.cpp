// Whole-process tests of a staged install (DESTDIR): the files it puts in place, and the installed show and launchers under Xvfb.
#include "tests/e2e/e2e_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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

const std::string CMake = PYROVANE_CMAKE;
const std::string BuildDirectory = PYROVANE_BUILD_DIRECTORY;
const std::string Flare = BuildDirectory + "/flare.3df";

// Everything a staged install under the prefix /usr holds, and nothing else.
const std::set<std::string> ExpectedFiles = {
    "usr/bin/pyrovane",
    "usr/bin/pyrovane-record",
    "usr/share/pyrovane/flare.3df",
    "usr/share/man/man6/pyrovane.6",
    "usr/share/xscreensaver/config/pyrovane.xml",
    "usr/libexec/xscreensaver/pyrovane",
    "usr/libexec/xsecurelock/saver_pyrovane",
};

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

// One staged install for all the tests here: `cmake --install` of the build tree with the
// prefix /usr under DESTDIR, the "root" in a temporary directory, as a package build does it.
// The tests' own files go next to the root, never into it.
class StagedInstall : public testing::Test {
protected:
  static void SetUpTestSuite() {
    stage_ = new e2e::TemporaryDirectory;
    const Finished install = RunToEnd({CMake, "--install", BuildDirectory, "--prefix", "/usr"},
                                      {{"DESTDIR", Root()}}, stage_->File("install.log"));
    installed_ = install.succeeded;
    installLog_ = install.output;
  }
  static void TearDownTestSuite() {
    delete stage_;
    stage_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(installed_) << installLog_; }

  static std::string Root() { return stage_->File("root"); }
  static std::string Staged(const std::string& relative) { return Root() + "/" + relative; }

  static e2e::TemporaryDirectory* stage_;
  static bool installed_;
  static std::string installLog_;
};

e2e::TemporaryDirectory* StagedInstall::stage_ = nullptr;
bool StagedInstall::installed_ = false;
std::string StagedInstall::installLog_;

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

TEST_F(StagedInstall, TheManualPageAndTheSettingsFileAreWellFormed) {
  // groff warns about unknown macros, escapes and requests; a clean page renders silently.
  const Finished manual = RunToEnd({"groff", "-man", "-ww", "-z", Staged("usr/share/man/man6/pyrovane.6")}, {},
                                   stage_->File("groff.log"));
  EXPECT_TRUE(manual.succeeded) << manual.output;
  EXPECT_EQ(manual.output, "");
  // xscreensaver finds the settings file of the hack whose command is "pyrovane /s" by that
  // command's name: the file's name, its <screensaver name>, its command and the launcher in the
  // hack directory must agree.
  const std::string settings = Staged("usr/share/xscreensaver/config/pyrovane.xml");
  const Finished name = RunToEnd({"xmllint", "--xpath", "string(/screensaver/@name)", settings}, {}, stage_->File("name.log"));
  EXPECT_TRUE(name.succeeded) << name.output;
  EXPECT_EQ(name.output, "pyrovane\n");
  const Finished command = RunToEnd({"xmllint", "--xpath", "string(/screensaver/command/@arg)", settings}, {},
                                    stage_->File("command.log"));
  EXPECT_TRUE(command.succeeded) << command.output;
  EXPECT_EQ(command.output, "/s\n");
}

TEST_F(StagedInstall, TheInstalledShowStartsFromItsTextureDirectory) {
  SKIP_WITHOUT_XVFB();
  XvfbServer server(640, 480);
  ASSERT_TRUE(server.Started());
  ChildProcess program(e2e::InDirectory(Staged("usr/share/pyrovane"), {Staged("usr/bin/pyrovane"), "/s"}),
                       server.Environment(), stage_->File("show.log"));
  EXPECT_TRUE(e2e::WaitForWindow(server, "^Pyrovane$")) << program.Output();
  EXPECT_TRUE(program.Running()) << program.Output();
  EXPECT_TRUE(e2e::EndedBySigterm(program));
  EXPECT_EQ(program.Output(), "");
}

TEST_F(StagedInstall, TheLaunchersStartTheShowInTheHostsWindowFromAnyDirectory) {
  SKIP_WITHOUT_XVFB();
  // The hack directory that the README has a /usr/local install link into xscreensaver's own.
  e2e::TemporaryDirectory linkedHackDirectory;
  fs::create_symlink(Staged("usr/libexec/xscreensaver/pyrovane"), linkedHackDirectory.File("pyrovane"));
  const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin";
  struct Case {
    const char* name;
    std::vector<std::string> command;
    std::string hackDirectory; // put first on PATH, as xscreensaver does with its own
  };
  const Case cases[] = {
      {"xsecurelock's saver module", {Staged("usr/libexec/xsecurelock/saver_pyrovane")}, ""},
      // xscreensaver runs its programs line "pyrovane /s" with its hack directory first on PATH.
      {"xscreensaver's hack", {"/bin/sh", "-c", "exec pyrovane /s"}, Staged("usr/libexec/xscreensaver")},
      {"xscreensaver's hack through a link", {"/bin/sh", "-c", "exec pyrovane /s"}, linkedHackDirectory.Path()},
  };
  constexpr e2e::Rect Placement{50, 50, 400, 300};
  for (const Case& c : cases) {
    XvfbServer server(640, 480);
    ASSERT_TRUE(server.Started()) << c.name;
    HostWindow host(server, Placement);
    ASSERT_TRUE(host.Created()) << c.name;
    EnvironmentChanges environment = server.Environment();
    environment["XSCREENSAVER_WINDOW"] = host.HexadecimalId();
    if (!c.hackDirectory.empty()) environment["PATH"] = c.hackDirectory + ":" + path;
    // Hosts start their savers wherever they themselves run; "/" holds no texture.
    ChildProcess launched(e2e::InDirectory("/", c.command), environment, stage_->File("launcher.log"));
    EXPECT_TRUE(e2e::WaitUntilPainted(server, Placement, stage_->File("shot.ppm"))) << c.name << ": " << launched.Output();
    // The launcher hands its process over to the show, so that the host's SIGTERM reaches it.
    std::error_code error;
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(launched.Pid()) + "/exe", error),
              fs::canonical(Staged("usr/bin/pyrovane")))
        << c.name;
    EXPECT_TRUE(e2e::EndedBySigterm(launched)) << c.name;
    EXPECT_EQ(launched.Output(), "") << c.name;
    EXPECT_TRUE(host.Intact()) << c.name;
  }
}

} // namespace
