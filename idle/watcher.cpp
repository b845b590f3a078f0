// The watcher: a show when the user has been idle, its end when the user is back, waiting in poll() on the session and on signals.
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "idle/idle.h"
#include "platform/platform.h"

namespace idle {

ShowEnd Classify(int status, bool endRequested) {
  // A program that catches the signal says so by the shell's status for it.
  constexpr int ExitAfterSigterm = 128 + SIGTERM;
  const bool diedOfSigterm = WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
  const bool exited = WIFEXITED(status);
  if (endRequested && (diedOfSigterm || (exited && WEXITSTATUS(status) == ExitAfterSigterm))) {
    return ShowEnd::ByOurSignal;
  }
  if (exited && WEXITSTATUS(status) == 0) return endRequested ? ShowEnd::ByOurSignal : ShowEnd::ByItself;
  return ShowEnd::Failed;
}

void Watcher::OnChange(Change change) {
  if (change == Change::UserIdle && !show_.Running()) {
    endRequested_ = false;
    show_.Start(report_);
  } else if (change == Change::UserActive && show_.Running() && !endRequested_) {
    endRequested_ = true;
    show_.End();
  }
  // An idle period while a show runs or ends cannot start a second one, and input while none
  // runs has nothing to end: the next show waits for the next idle period.
}

void Watcher::OnChildEnded() {
  if (const std::optional<int> status = show_.Collect(Show::Wait::IfEnded)) Collected(*status);
}

void Watcher::Finish() {
  if (!show_.Running()) return;
  if (!endRequested_) {
    endRequested_ = true;
    show_.End();
  }
  // How the show ended is of no more interest as the watcher ends.
  show_.Collect(Show::Wait::UntilEnded);
  endRequested_ = false;
}

void Watcher::Collected(int status) {
  // A show that could not start (no display, no texture: status 255) has said why in its own
  // line; this one says that the watcher goes on, and the next try waits for the next idle period.
  if (Classify(status, endRequested_) == ShowEnd::Failed) {
    if (WIFEXITED(status)) {
      std::fprintf(report_, "pyrovane-idle: the show ended with status %d\n", WEXITSTATUS(status));
    } else {
      std::fprintf(report_, "pyrovane-idle: the show ended by signal %d\n", WTERMSIG(status));
    }
    std::fflush(report_);
  }
  endRequested_ = false;
}

int OpenSignalDescriptor() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signalNumber : {SIGTERM, SIGINT, SIGCHLD}) sigaddset(&signals, signalNumber);
  if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) return -1;
  return signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

namespace {

enum class Signalled { Nothing, ChildEnded, EndWatcher };

// Reads every signal that has arrived: ending the watcher outweighs a child's end, which the
// caller then collects as it ends the show.
Signalled ReadSignals(int signals) {
  Signalled result = Signalled::Nothing;
  signalfd_siginfo information{};
  while (read(signals, &information, sizeof information) == static_cast<ssize_t>(sizeof information)) {
    if (information.ssi_signo == SIGCHLD && result == Signalled::Nothing) result = Signalled::ChildEnded;
    if (information.ssi_signo == SIGTERM || information.ssi_signo == SIGINT) result = Signalled::EndWatcher;
  }
  return result;
}

} // namespace

int Watch(IdleSource& source, Show& show, int signals, std::FILE* report) {
  Watcher watcher(show, report);
  for (;;) {
    const WaitFor wait = source.PrepareWait();
    pollfd descriptors[2] = {{signals, POLLIN, 0}, {wait.descriptor, wait.events, 0}};
    const int ready = poll(descriptors, 2, wait.timeoutMilliseconds);
    if (ready < 0 && errno != EINTR) {
      std::fprintf(report, "pyrovane-idle: cannot wait: %s\n", std::strerror(errno));
      watcher.Finish();
      return platform::FailureStatus;
    }
    const Signalled signalled = (descriptors[0].revents & POLLIN) != 0 ? ReadSignals(signals) : Signalled::Nothing;
    if (signalled == Signalled::EndWatcher) {
      watcher.Finish();
      return 0;
    }
    if (signalled == Signalled::ChildEnded) watcher.OnChildEnded();
    if (descriptors[1].revents == 0 && ready != 0) continue;
    const std::optional<std::vector<Change>> changes = source.Read();
    if (!changes) {
      std::fputs(source.LostLine(), report);
      std::fflush(report);
      watcher.Finish();
      return platform::FailureStatus;
    }
    for (const Change change : *changes) watcher.OnChange(change);
  }
}

ScriptedSource::ScriptedSource(std::deque<std::vector<Change>> script)
    : script_(std::move(script)), readable_(eventfd(1, EFD_CLOEXEC)) {}

ScriptedSource::~ScriptedSource() {
  if (readable_ >= 0) close(readable_);
}

WaitFor ScriptedSource::PrepareWait() { return {readable_, POLLIN, -1}; }

std::optional<std::vector<Change>> ScriptedSource::Read() {
  if (script_.empty()) return std::nullopt;
  std::vector<Change> changes = std::move(script_.front());
  script_.pop_front();
  return changes;
}

} // namespace idle
