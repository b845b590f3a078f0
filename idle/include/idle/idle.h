// pyrovane-idle's parts: where the session's idle time comes from, the show's process, and the watcher between them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace idle {

// ---------------------------------------------------------------------------------------------
// Idle sources
//
// A source reports the user's idle time as two changes that alternate: UserIdle once the user has
// been idle for the period the source was opened with, UserActive at the first input after that.
// Every desktop's own interface already works this way (Wayland's idle notifications, GNOME's idle
// and user-active watches, X11's idle counter crossing a value), so a source only translates;
// none measures time itself.

enum class Change { UserIdle, UserActive };

// What the watcher waits on before it asks the source again: a descriptor and the poll() events
// for it, and how long to wait at most (-1: until the descriptor is ready; 0: the source already
// holds what it read and must be asked at once).
struct WaitFor {
  int descriptor;
  short events;
  int timeoutMilliseconds;
};

class IdleSource {
public:
  virtual ~IdleSource() = default;
  // Sends what the source has to send and says what to wait on.
  virtual WaitFor PrepareWait() = 0;
  // Reads what has arrived: the changes in the order they happened (often none), or nullopt once
  // the connection to the session is lost.
  virtual std::optional<std::vector<Change>> Read() = 0;
  // The line that says which connection was lost, ending in a newline.
  virtual const char* LostLine() const = 0;
};

// The shortest and longest idle period: whole seconds, at most a day (Wayland's timeouts are
// 32-bit milliseconds).
inline constexpr std::chrono::seconds ShortestPeriod{1};
inline constexpr std::chrono::seconds LongestPeriod{24 * 60 * 60};

// The first of the session's sources that it offers, for an idle period of `period`: Wayland's
// ext_idle_notifier_v1, Wayland's org_kde_kwin_idle, GNOME's idle monitor on the session bus, X11's
// IDLETIME counter. Null when the session offers none of them.
std::unique_ptr<IdleSource> OpenSessionSource(std::chrono::seconds period);

// The null source, for tests: it reports the changes it is given, one call of Read at a time,
// and reports the connection lost when the script has run out.
class ScriptedSource final : public IdleSource {
public:
  // Each entry is what one Read returns.
  explicit ScriptedSource(std::deque<std::vector<Change>> script);
  ~ScriptedSource() override;
  ScriptedSource(const ScriptedSource&) = delete;
  ScriptedSource& operator=(const ScriptedSource&) = delete;
  WaitFor PrepareWait() override;
  std::optional<std::vector<Change>> Read() override;
  const char* LostLine() const override { return "pyrovane-idle: the script has ended\n"; }

private:
  std::deque<std::vector<Change>> script_;
  int readable_ = -1; // an eventfd that is always readable, so that a wait returns at once
};

// ---------------------------------------------------------------------------------------------
// The show

// How a show's process ended, from its wait status: with 0 by itself (a click), through the
// watcher's SIGTERM, or failed (any other status or signal, such as 255 when it could not start).
enum class ShowEnd { ByItself, ByOurSignal, Failed };

// The show as the watcher sees it: one process at a time, started, asked to end, collected.
class Show {
public:
  virtual ~Show() = default;
  // Starts the show; false, with its one line written to `report`, when no process could be made
  // or the launcher could not be run.
  virtual bool Start(std::FILE* report) = 0;
  virtual bool Running() const = 0;
  // Asks the running show to end: SIGTERM to its process, while it is still this process's
  // unreaped child, so that the number can name no other process.
  virtual void End() = 0;
  // The show's wait status once its process has ended and been collected (Wait::UntilEnded
  // blocks until then); nullopt while it runs, or when no show runs.
  enum class Wait { IfEnded, UntilEnded };
  virtual std::optional<int> Collect(Wait wait) = 0;
};

// The real show: a child process running `command` (the launcher and "/s"), which gets SIGTERM
// when this process dies, so that no show outlives the watcher.
class ShowProcess final : public Show {
public:
  explicit ShowProcess(std::vector<std::string> command);
  ~ShowProcess() override;
  ShowProcess(const ShowProcess&) = delete;
  ShowProcess& operator=(const ShowProcess&) = delete;
  bool Start(std::FILE* report) override;
  bool Running() const override { return pid_ > 0; }
  void End() override;
  std::optional<int> Collect(Wait wait) override;
  pid_t Pid() const { return pid_; }

private:
  std::vector<std::string> command_;
  pid_t pid_ = 0;
};

// The show's launcher: `pyrovane` beside this program's own executable, where an install puts
// both, else the name alone, for a search of PATH.
std::string FindLauncher();

// ---------------------------------------------------------------------------------------------
// The watcher

// What the watcher does with each change and each end of the show, apart from any waiting: a
// show when the user has been idle, SIGTERM to it when the user is back, one show at a time. A
// show that ended by itself (a click) is followed by the next only after the user has been active
// and idle again, which is the next UserIdle. A show that failed is reported once, in one line,
// and tried again only then too, never in a fast loop.
class Watcher {
public:
  Watcher(Show& show, std::FILE* report) : show_(show), report_(report) {}
  void OnChange(Change change);
  // The process has been told that a child ended: collects the show if it was that one.
  void OnChildEnded();
  // Ends a running show and waits for its end, as the watcher ends.
  void Finish();

private:
  void Collected(int status);

  Show& show_;
  std::FILE* report_;
  bool endRequested_ = false;
};

// Classifies a show's wait status: `endRequested` tells whether the watcher sent its SIGTERM.
ShowEnd Classify(int status, bool endRequested);

// Signals that end the watcher (SIGTERM, SIGINT) and the end of a child (SIGCHLD), as a descriptor
// to wait on: they are blocked in this process and read from a signalfd. -1 on failure.
int OpenSignalDescriptor();

// Runs the watcher until a signal ends it (0) or the source's connection is lost (its line, and
// platform::FailureStatus). Waits in poll() on the source and on `signals` alone, never on a
// timer of its own.
int Watch(IdleSource& source, Show& show, int signals, std::FILE* report);

} // namespace idle
