// The show's process: the launcher found beside this program, started so that it cannot outlive the watcher, ended by its PID.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "idle/idle.h"

namespace idle {

std::string FindLauncher() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::filesystem::path beside = self.parent_path() / "pyrovane";
    if (access(beside.c_str(), X_OK) == 0) return beside.string();
  }
  return "pyrovane";
}

ShowProcess::ShowProcess(std::vector<std::string> command) : command_(std::move(command)) {}

ShowProcess::~ShowProcess() {
  if (Running()) {
    End();
    Collect(Wait::UntilEnded);
  }
}

namespace {

// In the child, between fork and exec: only async-signal-safe calls. The show gets SIGTERM when
// the watcher dies; a watcher that died before that was set is seen through the parent's
// number. The signals the watcher blocks for its signalfd are unblocked again, and the one it
// ignores has its usual action. If the launcher
// cannot be run, its errno goes back through the pipe, which exec closes otherwise.
[[noreturn]] void RunInChild(const std::vector<char*>& arguments, pid_t watcher, int errorPipe) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != watcher) _exit(0);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGPIPE, SIG_DFL);
  execvp(arguments[0], arguments.data());
  const int error = errno;
  (void)!write(errorPipe, &error, sizeof error);
  _exit(127);
}

} // namespace

bool ShowProcess::Start(std::FILE* report) {
  std::vector<char*> arguments;
  arguments.reserve(command_.size() + 1);
  for (std::string& argument : command_) arguments.push_back(argument.data());
  arguments.push_back(nullptr);
  int errorPipe[2];
  if (pipe2(errorPipe, O_CLOEXEC) != 0) {
    std::fprintf(report, "pyrovane-idle: cannot start the show: %s\n", std::strerror(errno));
    return false;
  }
  const pid_t watcher = getpid();
  const pid_t pid = fork();
  if (pid == 0) RunInChild(arguments, watcher, errorPipe[1]);
  close(errorPipe[1]);
  int error = 0;
  const bool forked = pid > 0;
  const bool execFailed = forked && read(errorPipe[0], &error, sizeof error) == static_cast<ssize_t>(sizeof error);
  close(errorPipe[0]);
  if (!forked) error = errno;
  if (execFailed) waitpid(pid, nullptr, 0);
  if (!forked || execFailed) {
    std::fprintf(report, "pyrovane-idle: cannot run %s: %s\n", command_.front().c_str(), std::strerror(error));
    std::fflush(report);
    return false;
  }
  pid_ = pid;
  return true;
}

void ShowProcess::End() {
  // pid_ is set only while the child is unreaped, so the number still names the show.
  if (pid_ > 0) kill(pid_, SIGTERM);
}

std::optional<int> ShowProcess::Collect(Wait wait) {
  if (pid_ <= 0) return std::nullopt;
  int status = 0;
  pid_t reaped = 0;
  do {
    reaped = waitpid(pid_, &status, wait == Wait::UntilEnded ? 0 : WNOHANG);
  } while (reaped < 0 && errno == EINTR);
  if (reaped != pid_) return std::nullopt;
  pid_ = 0;
  return status;
}

} // namespace idle
