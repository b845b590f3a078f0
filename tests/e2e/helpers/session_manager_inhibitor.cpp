// Test helper: GNOME's session manager as far as idle inhibitors go, holding one inhibitor until SIGTERM.
//
// It owns org.gnome.SessionManager on the session bus and answers IsInhibited: true for the idle
// flag while its inhibitor is held, as gnome-session does while a video plays. It prints
// "inhibiting" once it owns the name, and "asked: inhibited" or "asked: not inhibited" at each
// question. SIGTERM removes the inhibitor (the signal InhibitorRemoved); the helper then ends
// after its next answer, so that whoever asks still finds it. Status 1 when it cannot take the name.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace {

constexpr char Name[] = "org.gnome.SessionManager";
constexpr char Path[] = "/org/gnome/SessionManager";
constexpr std::uint32_t InhibitIdle = 8;

struct State {
  bool inhibiting = true;
  bool answeredAfterRemoval = false;
};

int IsInhibited(sd_bus_message* message, void* data, sd_bus_error*) {
  auto& state = *static_cast<State*>(data);
  std::uint32_t flags = 0;
  if (sd_bus_message_read(message, "u", &flags) < 0) return -1;
  const bool inhibited = state.inhibiting && (flags & InhibitIdle) != 0;
  std::printf("asked: %s\n", inhibited ? "inhibited" : "not inhibited");
  std::fflush(stdout);
  state.answeredAfterRemoval = !state.inhibiting;
  return sd_bus_reply_method_return(message, "b", static_cast<int>(inhibited));
}

const sd_bus_vtable Vtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("IsInhibited", "u", "b", IsInhibited, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("InhibitorRemoved", "o", 0),
    SD_BUS_VTABLE_END,
};

} // namespace

int main() {
  sigset_t terminate;
  sigemptyset(&terminate);
  sigaddset(&terminate, SIGTERM);
  sigprocmask(SIG_BLOCK, &terminate, nullptr);
  const int signals = signalfd(-1, &terminate, SFD_CLOEXEC);
  State state;
  sd_bus* bus = nullptr;
  if (signals < 0 || sd_bus_open_user(&bus) < 0 ||
      sd_bus_add_object_vtable(bus, nullptr, Path, Name, Vtable, &state) < 0 || sd_bus_request_name(bus, Name, 0) < 0) {
    std::fprintf(stderr, "session_manager_inhibitor: cannot take %s\n", Name);
    return 1;
  }
  std::printf("inhibiting\n");
  std::fflush(stdout);
  while (!state.answeredAfterRemoval) {
    while (sd_bus_process(bus, nullptr) > 0) {}
    if (state.answeredAfterRemoval) break;
    pollfd descriptors[2] = {{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0}, {signals, POLLIN, 0}};
    if (poll(descriptors, 2, -1) < 0) return 1;
    signalfd_siginfo information{};
    if ((descriptors[1].revents & POLLIN) != 0 && read(signals, &information, sizeof information) > 0) {
      state.inhibiting = false;
      sd_bus_emit_signal(bus, Path, Name, "InhibitorRemoved", "o", "/org/gnome/SessionManager/Inhibitor1");
      sd_bus_flush(bus);
    }
  }
  sd_bus_flush_close_unref(bus);
  return 0;
}
