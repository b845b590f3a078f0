// Test helper: stands in for a lock screen that runs a saver on a connection of its own, handed over in WAYLAND_SOCKET, with some globals hidden.
//
//   wayland_proxy [--hide interface,interface,...] -- program [arguments...]
//
// connects to the compositor named by WAYLAND_DISPLAY, starts the program with one end of a socket
// pair in WAYLAND_SOCKET (and neither WAYLAND_DISPLAY nor DISPLAY), and carries the bytes and file
// descriptors between the two ends unchanged, except the registry's announcements of the hidden
// interfaces' globals, which the program never sees. SIGUSR1 closes the program's connection, as
// such a host ends its saver; the proxy then waits for the program and ends with its exit status
// (128 + the signal when a signal ended it). It ends the same way when the program ends first.
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int ExitUsage = 2;
constexpr int ExitSetUp = 3;
// At most this many file descriptors come with one read; libwayland sends fewer.
constexpr std::size_t MaxDescriptors = 28;
constexpr std::size_t HeaderBytes = 8;
constexpr std::uint32_t DisplayObject = 1;
constexpr std::uint32_t GetRegistryOpcode = 1;
constexpr std::uint32_t GlobalOpcode = 0;
constexpr std::uint32_t GlobalRemoveOpcode = 1;

std::uint32_t Word(const std::string& bytes, std::size_t at) {
  std::uint32_t word = 0;
  std::memcpy(&word, bytes.data() + at, sizeof word);
  return word;
}

// One direction of the connection: what has come and is not yet a whole message, and the
// descriptors that came with it.
struct Direction {
  int from;
  int to;
  std::string pending;
  std::vector<int> descriptors;
};

// The proxy's view of the protocol: which objects are registries, and which globals it hides.
struct Filter {
  std::set<std::string> hidden;
  std::set<std::uint32_t> registries;
  std::set<std::uint32_t> hiddenNames;

  // Whether a whole message going to the program may pass.
  bool PassesToProgram(const std::string& message) {
    const std::uint32_t object = Word(message, 0);
    const std::uint32_t opcode = Word(message, 4) & 0xFFFF;
    if (registries.count(object) == 0) return true;
    const std::uint32_t name = Word(message, HeaderBytes);
    if (opcode == GlobalOpcode) {
      // name, then the interface as a length (with its terminating zero) and the characters.
      const std::uint32_t length = Word(message, HeaderBytes + 4);
      const std::string interface = message.substr(HeaderBytes + 8, length > 0 ? length - 1 : 0);
      if (hidden.count(interface) == 0) return true;
      hiddenNames.insert(name);
      return false;
    }
    return opcode != GlobalRemoveOpcode || hiddenNames.count(name) == 0;
  }
  // Notes the registries the program asks for.
  void NoteFromProgram(const std::string& message) {
    if (Word(message, 0) == DisplayObject && (Word(message, 4) & 0xFFFF) == GetRegistryOpcode) {
      registries.insert(Word(message, HeaderBytes));
    }
  }
};

// Reads what has come on one direction and passes on its whole messages; false once either end
// has closed.
bool Carry(Direction& direction, Filter& filter, bool towardsProgram) {
  std::array<char, 4096> buffer{};
  iovec vector{buffer.data(), buffer.size()};
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int) * MaxDescriptors)> control{};
  msghdr message{};
  message.msg_iov = &vector;
  message.msg_iovlen = 1;
  message.msg_control = control.data();
  message.msg_controllen = control.size();
  const ssize_t got = recvmsg(direction.from, &message, MSG_CMSG_CLOEXEC);
  if (got <= 0) return false;
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
    const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    const auto* descriptors = reinterpret_cast<const int*>(CMSG_DATA(header));
    direction.descriptors.insert(direction.descriptors.end(), descriptors, descriptors + count);
  }
  direction.pending.append(buffer.data(), static_cast<std::size_t>(got));
  std::string passed;
  while (direction.pending.size() >= HeaderBytes) {
    const std::size_t size = Word(direction.pending, 4) >> 16;
    if (size < HeaderBytes || direction.pending.size() < size) break;
    const std::string whole = direction.pending.substr(0, size);
    direction.pending.erase(0, size);
    if (towardsProgram ? filter.PassesToProgram(whole) : (filter.NoteFromProgram(whole), true)) passed += whole;
  }
  if (passed.empty() && direction.descriptors.empty()) return true;
  // Descriptors go with the first bytes after them: the receiving library queues them apart from
  // the bytes, so arriving early does no harm.
  iovec out{passed.data(), passed.size()};
  alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(int) * MaxDescriptors)> outControl{};
  msghdr send{};
  send.msg_iov = &out;
  send.msg_iovlen = 1;
  if (!direction.descriptors.empty()) {
    send.msg_control = outControl.data();
    send.msg_controllen = CMSG_SPACE(sizeof(int) * direction.descriptors.size());
    cmsghdr* header = CMSG_FIRSTHDR(&send);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int) * direction.descriptors.size());
    std::memcpy(CMSG_DATA(header), direction.descriptors.data(), sizeof(int) * direction.descriptors.size());
  }
  const bool sent = sendmsg(direction.to, &send, MSG_NOSIGNAL) >= 0;
  for (const int descriptor : direction.descriptors) close(descriptor);
  direction.descriptors.clear();
  return sent;
}

int ConnectToCompositor() {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (name == nullptr) return -1;
  std::string path = name;
  if (path.front() != '/') {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr) return -1;
    path = std::string(runtime) + "/" + path;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return -1;
  std::strcpy(address.sun_path, path.c_str());
  const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0 || connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return -1;
  return socket;
}

pid_t StartProgram(char** command, int socket) {
  const pid_t child = fork();
  if (child != 0) return child;
  const int inherited = dup(socket); // without close-on-exec
  setenv("WAYLAND_SOCKET", std::to_string(inherited).c_str(), 1);
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("DISPLAY");
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execvp(command[0], command);
  std::perror(command[0]);
  _exit(127);
}

int StatusOf(pid_t child) {
  int status = 0;
  if (waitpid(child, &status, 0) != child) return ExitSetUp;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

int main(int argc, char** argv) {
  Filter filter;
  int first = 1;
  if (first + 1 < argc && std::strcmp(argv[first], "--hide") == 0) {
    std::istringstream names(argv[first + 1]);
    for (std::string name; std::getline(names, name, ',');) filter.hidden.insert(name);
    first += 2;
  }
  if (first >= argc || std::strcmp(argv[first], "--") != 0 || first + 1 >= argc) {
    std::fprintf(stderr, "usage: wayland_proxy [--hide interface,...] -- program [arguments...]\n");
    return ExitUsage;
  }
  const int compositor = ConnectToCompositor();
  int ends[2];
  if (compositor < 0 || socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    std::fprintf(stderr, "wayland_proxy: no compositor to connect to\n");
    return ExitSetUp;
  }
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGUSR1);
  sigaddset(&signals, SIGCHLD);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  const int signalled = signalfd(-1, &signals, SFD_CLOEXEC);
  const pid_t child = StartProgram(argv + first + 1, ends[1]);
  close(ends[1]);
  Direction toCompositor{ends[0], compositor, {}, {}};
  Direction toProgram{compositor, ends[0], {}, {}};
  for (bool open = true; open;) {
    std::array<pollfd, 3> watched{{{ends[0], POLLIN, 0}, {compositor, POLLIN, 0}, {signalled, POLLIN, 0}}};
    if (poll(watched.data(), watched.size(), -1) < 0) continue;
    if (watched[2].revents != 0) break; // SIGUSR1, or the program ended
    if (watched[0].revents != 0) open = Carry(toCompositor, filter, false);
    if (open && watched[1].revents != 0) open = Carry(toProgram, filter, true);
  }
  close(ends[0]);
  close(compositor);
  return StatusOf(child);
}
