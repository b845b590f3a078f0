// Child processes for tests: spawning with a clean environment, waiting, signalling and running to the end.
#include "support/process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <thread>

#include "support/files.h"

namespace support {

namespace {

constexpr std::chrono::milliseconds PollInterval{20};

std::vector<std::string> ChildEnvironment(const EnvironmentChanges& changes) {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const std::size_t equals = text.find('=');
    if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "XSCREENSAVER_WINDOW", "SDL_VIDEODRIVER",
                           "DBUS_SESSION_BUS_ADDRESS"}) {
    variables.erase(name);
  }
  for (const auto& [name, value] : changes) {
    if (value) {
      variables[name] = *value;
    } else {
      variables.erase(name);
    }
  }
  std::vector<std::string> result;
  result.reserve(variables.size());
  for (const auto& [name, value] : variables) result.emplace_back(name).append("=").append(value);
  return result;
}

std::vector<char*> PointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (std::string& text : strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Starts a program found on PATH. Descriptors not marked close-on-exec are inherited, as a
// pipe end handed to Xvfb must be. The child starts with no signal blocked and the usual action
// for interrupts and termination requests, whatever the test itself was given: a suite run as a
// background job inherits an ignored SIGINT, which would hide how the program meets one.
pid_t Spawn(std::vector<std::string> arguments, const EnvironmentChanges& changes, const std::string& outputPath) {
  std::vector<std::string> environment = ChildEnvironment(changes);
  std::vector<char*> argv = PointersTo(arguments);
  std::vector<char*> envp = PointersTo(environment);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t noSignals, usualAction;
  sigemptyset(&noSignals);
  sigemptyset(&usualAction);
  for (const int signalNumber : {SIGINT, SIGTERM, SIGQUIT, SIGHUP}) sigaddset(&usualAction, signalNumber);
  posix_spawnattr_setsigmask(&attributes, &noSignals);
  posix_spawnattr_setsigdefault(&attributes, &usualAction);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Polls `condition` every `interval` until it holds or `limit` has passed; whether it held.
bool PollUntil(const std::function<bool()>& condition, std::chrono::milliseconds interval,
               std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(interval);
  }
  return true;
}

} // namespace

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds interval) {
  return PollUntil(condition, interval, PatienceLimit);
}

ChildProcess::ChildProcess(const std::vector<std::string>& arguments, const EnvironmentChanges& environment,
                           const std::string& outputPath)
    : pid_(Spawn(arguments, environment, outputPath)), outputPath_(outputPath) {}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

std::optional<int> ChildProcess::WaitForExit(std::chrono::milliseconds limit) {
  if (status_ || pid_ <= 0) return status_;
  PollUntil(
      [this] {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
        return status_.has_value();
      },
      PollInterval, limit);
  return status_;
}

Ended ChildProcess::WaitForEnd(std::chrono::milliseconds limit) {
  const std::optional<int> status = WaitForExit(limit);
  return {status ? ExitCode(*status) : Ended::NotEnded, Output()};
}

std::optional<int> ChildProcess::Signal(int signalNumber) {
  if (Started() && Running()) kill(pid_, signalNumber);
  return WaitForExit(PatienceLimit);
}

std::string ChildProcess::Output() const { return ReadWhole(outputPath_); }

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
  PollUntil([&] { return Output().find(text) != std::string::npos || !Running(); }, PollInterval, limit);
  return Output().find(text) != std::string::npos;
}

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

void PrintTo(const Ended& ended, std::ostream* stream) {
  if (ended.exitCode == Ended::NotEnded) {
    *stream << "not ended";
  } else {
    *stream << "exit code " << ended.exitCode;
  }
  *stream << ", output \"" << ended.output << "\"";
}

Ended RunToEnd(const std::vector<std::string>& arguments, const EnvironmentChanges& environment,
               std::chrono::milliseconds limit) {
  TemporaryDirectory directory;
  ChildProcess child(arguments, environment, directory.File("output"));
  if (!child.Started()) {
    ADD_FAILURE() << arguments.front() << " could not be started (scripts/bootstrap installs it)";
    return {-1, ""};
  }
  return child.WaitForEnd(limit);
}

bool ProgramAvailable(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream directories(path != nullptr ? path : "/usr/bin:/bin");
  std::string directory;
  while (std::getline(directories, directory, ':')) {
    if (!directory.empty() && access(directory.append("/").append(name).c_str(), X_OK) == 0) return true;
  }
  return false;
}

std::vector<std::string> Command(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> command{program};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

std::vector<std::string> InDirectory(const std::string& directory, const std::vector<std::string>& command) {
  std::vector<std::string> line = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", directory};
  line.insert(line.end(), command.begin(), command.end());
  return line;
}

} // namespace support
