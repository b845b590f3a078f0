// Wayland compositors for whole-process tests: a private headless sway with a pointer, and a private weston without a seat.
#include "wayland_compositors.h"

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace e2e {

using namespace support;

std::string WaylandToolsMissing() {
  for (const char* tool : {"sway", "swaymsg", "grim", "swayidle", "weston", "setpriv"}) {
    if (!ProgramAvailable(tool)) {
      return std::string(tool) + " is not installed (scripts/bootstrap installs it): the Wayland tests need it";
    }
  }
  return {};
}

namespace {

// The path of the first socket in `directory` whose name starts with `prefix`, or empty.
std::string SocketNamed(const std::string& directory, const std::string& prefix) {
  std::error_code error;
  for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(directory, error)) {
    if (entry.is_socket(error) && entry.path().filename().string().starts_with(prefix)) return entry.path().string();
  }
  return {};
}

} // namespace

SwayServer::SwayServer(const std::vector<Size>& outputs, int initialOutputs) : outputCount_(initialOutputs) {
  std::vector<std::string> configuration;
  for (std::size_t index = 0; index < outputs.size(); ++index) {
    configuration.push_back("output HEADLESS-" + std::to_string(index + 1) + " resolution " +
                            std::to_string(outputs[index].width) + "x" + std::to_string(outputs[index].height));
  }
  Start(configuration, {{"WLR_BACKENDS", "headless"}, {"WLR_HEADLESS_OUTPUTS", std::to_string(initialOutputs)}});
}

SwayServer::SwayServer(const Nested& nested) : host_(&nested.host), outputCount_(nested.outputs) {
  Start({}, {{"WLR_BACKENDS", "wayland"},
             {"WLR_WL_OUTPUTS", std::to_string(nested.outputs)},
             {"WAYLAND_DISPLAY", nested.host.socket_}});
}

void SwayServer::Start(const std::vector<std::string>& configuration, EnvironmentChanges environment) {
  std::ofstream config(directory_.File("config"));
  config << "xwayland disable\n";
  for (const std::string& line : configuration) config << line << "\n";
  config.close();
  const std::string runtime = directory_.File("runtime");
  if (mkdir(runtime.c_str(), 0700) != 0) return;
  std::vector<std::string> command{"sway", "-c", directory_.File("config")};
  // Sway refuses to run as root: a test run as root runs it as nobody, who must then read the
  // configuration here and own the runtime folder, where the sockets go.
  if (getuid() == 0) {
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr || chown(runtime.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) return;
    std::filesystem::permissions(directory_.Path(),
                                 std::filesystem::perms::others_read | std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add);
    command.insert(command.begin(), {"setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                                     "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups"});
  }
  environment.merge(
      EnvironmentChanges{{"XDG_RUNTIME_DIR", runtime}, {"WLR_RENDERER", "pixman"}, {"WLR_LIBINPUT_NO_DEVICES", "1"}});
  server_.emplace(command, environment, directory_.File("sway.log"));
  if (!server_->Started()) return;
  std::string socket;
  const bool listening = Eventually([&] {
    socket = SocketNamed(runtime, "wayland-");
    ipcSocket_ = SocketNamed(runtime, "sway-ipc.");
    return (!socket.empty() && !ipcSocket_.empty()) || !server_->Running();
  });
  if (!listening || !server_->Running() || !Swaymsg({"-t", "get_outputs"})) return;
  // The pointer comes before any client under test, which then finds it on the seat at once.
  pointer_.emplace(std::vector<std::string>{PYROVANE_VIRTUAL_POINTER_CLIENT},
                   EnvironmentChanges{{"WAYLAND_DISPLAY", socket}}, directory_.File("pointer.log"));
  if (pointer_->WaitForOutput("ready\n", PatienceLimit)) socket_ = socket;
}

SwayServer::~SwayServer() {
  pointer_.reset();
  if (server_) server_->Signal(SIGTERM);
}

std::string SwayServer::Log() const {
  return (server_ ? server_->Output() : std::string()) + (pointer_ ? pointer_->Output() : std::string());
}

std::optional<std::string> SwayServer::Swaymsg(const std::vector<std::string>& arguments) const {
  std::vector<std::string> command{"swaymsg", "-s", ipcSocket_};
  command.insert(command.end(), arguments.begin(), arguments.end());
  const Ended swaymsg = RunToEnd(command);
  return swaymsg.exitCode == 0 ? std::optional(swaymsg.output) : std::nullopt;
}

bool SwayServer::AddOutput() {
  const std::string name = "\"" + OutputName(outputCount_ + 1) + "\"";
  if (!Swaymsg({"create_output"})) return false;
  ++outputCount_;
  return Eventually([&] { return Swaymsg({"-t", "get_outputs"}).value_or("").find(name) != std::string::npos; });
}

std::optional<Image> SwayServer::Screenshot(int number, const std::string& workPath) const {
  const Ended taken = RunToEnd({"grim", "-t", "ppm", "-o", OutputName(number), workPath}, Environment());
  return taken.exitCode == 0 ? ReadPpm(workPath) : std::nullopt;
}

std::optional<Image> SwayServer::WaitForScreen(int number, const std::string& workPath,
                                               const std::function<bool(const Image&)>& condition) const {
  return WaitForShot([&] { return Screenshot(number, workPath); }, condition);
}

bool SwayServer::UnplugOutput(int number) {
  const std::string name = "\"" + OutputName(number) + "\"";
  return host_ != nullptr && host_->Swaymsg({"[title=\"wlroots - " + OutputName(number) + "\"]", "kill"}) &&
         Eventually([&] {
           return Swaymsg({"-t", "get_outputs"}).value_or(name).find(name) == std::string::npos;
         });
}

bool SwayServer::Kill() { return server_ && server_->Signal(SIGKILL).has_value(); }

WestonServer::WestonServer() {
  const std::string runtime = directory_.File("runtime");
  if (mkdir(runtime.c_str(), 0700) != 0) return;
  server_.emplace(std::vector<std::string>{"weston", "--backend=headless-backend.so", "--socket=wayland-test",
                                           "--no-config", "--idle-time=0"},
                  EnvironmentChanges{{"XDG_RUNTIME_DIR", runtime}}, directory_.File("weston.log"));
  const std::string socket = runtime + "/wayland-test";
  if (server_->Started() && Eventually([&] { return std::filesystem::exists(socket) || !server_->Running(); }) &&
      server_->Running()) {
    socket_ = socket;
  }
}

WestonServer::~WestonServer() {
  if (server_) server_->Signal(SIGTERM);
}

} // namespace e2e
