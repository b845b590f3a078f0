// Support for whole-process tests on GNOME's and KDE's compositors run headless: a private session bus, mutter, KWin, and their pointers.
#include "headless_desktops.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace e2e {

using namespace support;

std::string HeadlessDesktopsMissing() {
  for (const char* tool : {"dbus-daemon", "mutter", "kwin_wayland"}) {
    if (!ProgramAvailable(tool)) {
      return std::string(tool) +
             " is not installed (scripts/bootstrap installs it): the tests on GNOME and KDE need it";
    }
  }
  return {};
}

SessionBus::SessionBus() {
  const std::string address = "unix:path=" + directory_.File("bus");
  daemon_.emplace(std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--address=" + address},
                  EnvironmentChanges{}, directory_.File("bus.log"));
  if (daemon_->Started() &&
      Eventually([&] { return std::filesystem::exists(directory_.File("bus")) || !daemon_->Running(); }) &&
      daemon_->Running()) {
    address_ = address;
  }
}

SessionBus::~SessionBus() {
  if (daemon_) daemon_->Signal(SIGTERM);
}

PointerHelper::PointerHelper(const std::string& program, const EnvironmentChanges& environment,
                             const std::string& workDirectory)
    : fifo_(workDirectory + "/pointer.fifo") {
  if (mkfifo(fifo_.c_str(), 0600) != 0) return;
  process_.emplace(std::vector<std::string>{program, fifo_}, environment, workDirectory + "/pointer.log");
  ready_ = process_->WaitForOutput("ready\n", PatienceLimit);
}

bool PointerHelper::Send(const std::string& command) {
  if (!ready_) return false;
  // Not blocking: a helper that has gone leaves no reader, and the open fails instead of waiting.
  const int pipe = open(fifo_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (pipe < 0) return false;
  const std::string line = command + "\n";
  const bool written = write(pipe, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  close(pipe);
  ++sent_;
  return written && process_->WaitForOutput("done " + std::to_string(sent_) + "\n", PatienceLimit);
}

namespace {

// A runtime folder for a compositor, mode 700 as the sockets' folder must be.
std::string MakeRuntime(const TemporaryDirectory& directory) {
  const std::string runtime = directory.File("runtime");
  return mkdir(runtime.c_str(), 0700) == 0 ? runtime : std::string();
}

// Waits until the compositor's socket is there; its path, or empty when the compositor ended first.
std::string WaitForSocket(ChildProcess& server, const std::string& socket) {
  const bool up = server.Started() && Eventually([&] { return std::filesystem::exists(socket) || !server.Running(); },
                                                 std::chrono::milliseconds(100));
  return up && server.Running() ? socket : std::string();
}

} // namespace

HeadlessCompositor::~HeadlessCompositor() {
  pointer_.reset();
  if (server_) server_->Signal(SIGTERM);
}

void HeadlessCompositor::Start(const std::string& name, const std::vector<std::string>& command,
                               EnvironmentChanges environment, const std::string& pointerHelper) {
  const std::string runtime = MakeRuntime(directory_);
  if (runtime.empty() || !bus_.Started()) return;
  environment.merge(EnvironmentChanges{{"XDG_RUNTIME_DIR", runtime},
                                       {"DBUS_SESSION_BUS_ADDRESS", bus_.Address()},
                                       {"XDG_CONFIG_HOME", directory_.File("config")}});
  server_.emplace(command, environment, directory_.File(name + ".log"));
  const std::string socket = WaitForSocket(*server_, runtime + "/wayland-test");
  if (socket.empty()) return;
  socket_ = socket;
  pointer_.emplace(pointerHelper, Environment(), directory_.Path());
}

std::string HeadlessCompositor::Log() const {
  return bus_.Log() + (server_ ? server_->Output() : std::string()) + (pointer_ ? pointer_->Log() : std::string());
}

EnvironmentChanges HeadlessCompositor::Environment() const {
  return {{"WAYLAND_DISPLAY", socket_},
          {"XDG_RUNTIME_DIR", directory_.File("runtime")},
          {"DBUS_SESSION_BUS_ADDRESS", bus_.Address()}};
}

bool HeadlessCompositor::Kill() { return server_ && server_->Signal(SIGKILL).has_value(); }

MutterServer::MutterServer(const std::vector<OutputSize>& monitors) {
  std::vector<std::string> command{"mutter",   "--headless",        "--wayland",
                                   "--no-x11", "--wayland-display", "wayland-test"};
  for (const OutputSize& monitor : monitors) {
    command.insert(command.end(),
                   {"--virtual-monitor", std::to_string(monitor.width) + "x" + std::to_string(monitor.height)});
  }
  Start("mutter", command, {}, PYROVANE_REMOTE_DESKTOP_POINTER);
}

KwinServer::KwinServer(OutputSize size, int outputs) {
  std::error_code error;
  std::filesystem::create_directory(File("bin"), error);
  const std::string binary = File("bin/kwin_wayland");
  std::filesystem::copy_file("/usr/bin/kwin_wayland", binary, error);
  if (error) return;
  Start("kwin",
        {binary, "--virtual", "--width", std::to_string(size.width), "--height", std::to_string(size.height),
         "--output-count", std::to_string(outputs), "--socket", "wayland-test", "--no-lockscreen",
         "--no-global-shortcuts", "--no-kactivities"},
        {{"XDG_DATA_HOME", File("data")},
         {"XDG_CACHE_HOME", File("cache")},
         {"KWIN_WAYLAND_NO_PERMISSION_CHECKS", "1"},
         {"KWIN_SCREENSHOT_NO_PERMISSION_CHECKS", "1"}},
        PYROVANE_FAKE_INPUT_POINTER);
}

} // namespace e2e
