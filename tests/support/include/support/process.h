// Child processes for tests: started with a clean environment, waited for by condition, never by a fixed time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace support {

// Changes to the test's own environment for a child: a value sets the variable, nullopt removes
// it. The variables that name a desktop (its displays, a host's window, SDL's driver, the message
// bus) are always removed first, so that nothing of the machine's own desktop leaks into a test;
// a test sets what it means.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

// Limit for anything that should happen promptly: generous, so that a loaded machine does not
// fail a test; it only keeps a broken program from hanging the suite.
inline constexpr std::chrono::milliseconds PatienceLimit{20'000};

// Polls `condition` every `interval` until it holds; false if it does not within PatienceLimit.
bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds interval = std::chrono::milliseconds(50));

// How a process ended: its exit code (as ExitCode gives it, or NotEnded while it still ran) and
// everything it wrote.
struct Ended {
  static constexpr int NotEnded = -2;
  int exitCode;
  std::string output;
  bool operator==(const Ended&) const = default;
};
void PrintTo(const Ended& ended, std::ostream* stream);

// A child process, started with its standard output and error in one file. The destructor
// kills and reaps it if it is still running.
class ChildProcess {
public:
  ChildProcess(const std::vector<std::string>& arguments, const EnvironmentChanges& environment,
               const std::string& outputPath);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // The wait status once the process has ended within `limit`, nullopt while it runs.
  std::optional<int> WaitForExit(std::chrono::milliseconds limit);
  bool Running() { return !WaitForExit(std::chrono::milliseconds(0)).has_value(); }
  // Waits up to `limit` for the end of the process: how it ended.
  Ended WaitForEnd(std::chrono::milliseconds limit = PatienceLimit);
  // Sends the signal to the process while it is still this test's unreaped child, so that the
  // number can name no other process; then waits for its end. The wait status, or nullopt when
  // it did not end within PatienceLimit.
  std::optional<int> Signal(int signalNumber);
  // Everything the process has written so far.
  std::string Output() const;
  // Waits up to `limit` until the output holds `text`; false if it does not, or the process ended first.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit);

private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::string outputPath_;
};

// The exit code of a process that exited, or -1 for one that a signal ended.
int ExitCode(int status);

// Runs a command to its end, its output kept in a temporary file, killing it if it has not ended
// within `limit`. A command that cannot be started fails the test, naming it.
Ended RunToEnd(const std::vector<std::string>& arguments, const EnvironmentChanges& environment = {},
               std::chrono::milliseconds limit = PatienceLimit);

// True when the program is found on PATH.
bool ProgramAvailable(const std::string& name);

// The command line of `program` with these arguments.
std::vector<std::string> Command(const std::string& program, const std::vector<std::string>& arguments);

// A command line that runs `command` with `directory` as its working directory, as a
// screen-saver launcher runs the show.
std::vector<std::string> InDirectory(const std::string& directory, const std::vector<std::string>& command);

} // namespace support
