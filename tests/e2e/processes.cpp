// Processes for whole-process tests: the program under test, how it ran and ended, and what the kernel knows of processes.
#include "processes.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace e2e {

using namespace support;

const std::string Program = PYROVANE_PROGRAM;
const std::string Flare = PYROVANE_FLARE;

Ended RunProgram(const std::string& directory, const std::vector<std::string>& arguments,
                 const EnvironmentChanges& environment) {
  return RunToEnd(InDirectory(directory, Command(Program, arguments)), environment);
}

ShowDirectory::ShowDirectory() { std::filesystem::copy_file(Flare, File("flare.3df")); }

ChildProcess ShowDirectory::Start(const std::vector<std::string>& arguments, const EnvironmentChanges& environment,
                                  const std::string& outputName) const {
  return ChildProcess(InDirectory(Path(), Command(Program, arguments)), environment, File(outputName));
}

bool EndedBySigterm(ChildProcess& process) {
  const std::optional<int> status = process.Signal(SIGTERM);
  return status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM;
}

std::filesystem::path ExecutableOf(pid_t pid) {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
}

std::vector<unsigned> SharedMemorySegmentsOf(pid_t pid) {
  std::istringstream table(ReadWhole("/proc/sysvipc/shm"));
  std::string line;
  std::getline(table, line); // the column names
  std::vector<unsigned> permissions;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    long key = 0, id = 0, size = 0;
    unsigned mode = 0;
    pid_t creator = 0;
    if (fields >> key >> id >> std::oct >> mode >> std::dec >> size >> creator && creator == pid) {
      permissions.push_back(mode);
    }
  }
  return permissions;
}

std::set<pid_t> ProcessesWhere(const std::function<bool(pid_t)>& matches) {
  std::set<pid_t> found;
  std::error_code error;
  for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = std::stoi(name);
    if (matches(pid)) found.insert(pid);
  }
  return found;
}

bool EnvironmentHolds(pid_t pid, const std::string& entry) {
  const std::string environment = '\0' + ReadWhole("/proc/" + std::to_string(pid) + "/environ") + '\0';
  return environment.find('\0' + entry + '\0') != std::string::npos;
}

std::string DescribeProcesses(const std::set<pid_t>& pids) {
  std::string lines;
  for (const pid_t pid : pids) {
    std::string name = ReadWhole("/proc/" + std::to_string(pid) + "/comm");
    if (name.ends_with('\n')) name.pop_back();
    lines += std::to_string(pid) + " " + name + "\n";
  }
  return lines;
}

std::optional<ProcessState> StateOf(pid_t pid) {
  // "pid (command) state parent ...": the command may hold spaces and parentheses.
  const std::string status = ReadWhole("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t end = status.rfind(')');
  ProcessState state{};
  if (end == std::string::npos || !(std::istringstream(status.substr(end + 2)) >> state.state >> state.parent)) {
    return std::nullopt;
  }
  return state;
}

bool ProcessEnded(pid_t pid) {
  const std::optional<ProcessState> state = StateOf(pid);
  return !state || state->state == 'Z';
}

std::chrono::milliseconds ProcessorTimeOf(pid_t pid) {
  // After the command's closing parenthesis: state, then ten fields up to utime and stime.
  const std::string status = ReadWhole("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t end = status.rfind(')');
  std::istringstream fields(end == std::string::npos ? "" : status.substr(end + 2));
  std::string skipped;
  for (int field = 0; field < 11; ++field) fields >> skipped;
  long long user = 0, system = 0;
  fields >> user >> system;
  return std::chrono::milliseconds((user + system) * 1000 / sysconf(_SC_CLK_TCK));
}

long AddressSpaceOf(pid_t pid) {
  std::istringstream lines(ReadWhole("/proc/" + std::to_string(pid) + "/status"));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.starts_with("VmSize:")) return std::atol(line.c_str() + 7);
  }
  return 0;
}

} // namespace e2e
