// pyrovane-idle: starts the show when the session's user has been idle for a while and ends it when the user is back.
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "idle/idle.h"
#include "platform/platform.h"

namespace {

constexpr std::chrono::seconds DefaultPeriod{300};
constexpr char Usage[] = "usage: pyrovane-idle [--after SECONDS]\n";
// A command line that asks for something else: the usage, and the shell's usual status for it.
constexpr int UsageStatus = 2;

// The idle period from the command line, or nullopt when it says anything but "--after N" with N
// in range, or nothing.
std::optional<std::chrono::seconds> PeriodFrom(int argc, char** argv) {
  if (argc == 1) return DefaultPeriod;
  if (argc != 3 || std::strcmp(argv[1], "--after") != 0) return std::nullopt;
  const std::string_view text(argv[2]);
  long long seconds = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (error != std::errc() || end != text.data() + text.size() || seconds < idle::ShortestPeriod.count() ||
      seconds > idle::LongestPeriod.count()) {
    return std::nullopt;
  }
  return std::chrono::seconds(seconds);
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(Usage, stdout);
    return 0;
  }
  const std::optional<std::chrono::seconds> period = PeriodFrom(argc, argv);
  if (!period) {
    std::fputs(Usage, stderr);
    return UsageStatus;
  }
  // The signals are blocked before anything is started, so that none is missed. Writing to a
  // display that has gone must end in the source's line, not in SIGPIPE.
  const int signals = idle::OpenSignalDescriptor();
  std::signal(SIGPIPE, SIG_IGN);
  if (signals < 0) platform::Fail(nullptr, "pyrovane-idle: cannot wait for signals\n");
  const std::unique_ptr<idle::IdleSource> source = idle::OpenSessionSource(*period);
  if (!source) {
    platform::Fail(nullptr, "pyrovane-idle: this session offers no idle time (no Wayland idle protocol, no GNOME "
                            "idle monitor, no X11 idle counter)\n");
  }
  idle::ShowProcess show({idle::FindLauncher(), "/s"});
  return idle::Watch(*source, show, signals, stderr);
}
