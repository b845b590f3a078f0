// Processes for whole-process tests: the program under test, how it ran and ended, and what the kernel knows of processes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/process.h"

namespace e2e {

// What the tests run, from this build tree: the program and the flare texture the build makes.
extern const std::string Program;
extern const std::string Flare;

// Skips the calling test when `reason`, such as XvfbMissing(), says what it misses.
#define SKIP_IF_MISSING(reason)                                                                                        \
  do {                                                                                                                 \
    const std::string missing = (reason);                                                                              \
    if (!missing.empty()) GTEST_SKIP() << missing;                                                                     \
  } while (false)

// The program run to its end in `directory`, as a screen-saver launcher runs it.
support::Ended RunProgram(const std::string& directory, const std::vector<std::string>& arguments,
                          const support::EnvironmentChanges& environment = {});

// A working directory holding the flare texture, as the show expects.
class ShowDirectory final : public support::TemporaryDirectory {
public:
  ShowDirectory();
  // The program started here with these arguments, as a screen-saver launcher starts it, its
  // output in the file `outputName` here.
  support::ChildProcess Start(const std::vector<std::string>& arguments, const support::EnvironmentChanges& environment,
                              const std::string& outputName = "out.txt") const;
};

// Sends SIGTERM to the process; true when that ends it, by that signal, within PatienceLimit.
bool EndedBySigterm(support::ChildProcess& process);

// The executable a process runs now: a launcher that handed its process over shows the program.
std::filesystem::path ExecutableOf(pid_t pid);

// The permissions of the System V shared-memory segments that process `pid` created and that
// still exist, from the kernel's list, each with the flag that it is marked for removal.
std::vector<unsigned> SharedMemorySegmentsOf(pid_t pid);

// The ids of the processes on the machine now that `matches` accepts.
std::set<pid_t> ProcessesWhere(const std::function<bool(pid_t)>& matches);
// Whether the environment of process `pid` holds this "NAME=value" entry; never for a zombie,
// whose environment is gone.
bool EnvironmentHolds(pid_t pid, const std::string& entry);
// The processes as "pid name" lines, for a failure's message.
std::string DescribeProcesses(const std::set<pid_t>& pids);

// A process's state letter and its parent, from the kernel's table; nullopt once it is gone.
struct ProcessState {
  char state;
  pid_t parent;
};
std::optional<ProcessState> StateOf(pid_t pid);
// Whether process `pid` (not necessarily a child of the test) has ended: it is gone, or a zombie.
bool ProcessEnded(pid_t pid);

// The processor time that process `pid` has used so far, in its own code and in the kernel's.
std::chrono::milliseconds ProcessorTimeOf(pid_t pid);
// The size of the address space of process `pid`, in KiB, as `ulimit -v` counts it.
long AddressSpaceOf(pid_t pid);

} // namespace e2e
