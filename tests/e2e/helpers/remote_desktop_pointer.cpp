// Test helper: a pointer on a headless mutter, through a remote-desktop session on its session bus.
//
//   remote_desktop_pointer COMMANDS_FIFO
//
// Mutter's seat has no input devices until a remote-desktop session is made, and the session
// lasts as long as the connection that made it: so this helper keeps its connection and reads
// the commands of pointer_commands.h from the named pipe. Status 1 when the session cannot be
// made or a command fails, as when mutter has gone.
#include <systemd/sd-bus.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "pointer_commands.h"

namespace {

constexpr char Service[] = "org.gnome.Mutter.RemoteDesktop";
constexpr char SessionInterface[] = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr std::int32_t LeftButton = 0x110; // evdev's BTN_LEFT, 272

class RemoteDesktopPointer final : public helpers::Pointer {
public:
  ~RemoteDesktopPointer() override { sd_bus_flush_close_unref(bus_); }
  bool Connect() {
    sd_bus_message* reply = nullptr;
    const char* path = nullptr;
    const bool made = sd_bus_open_user(&bus_) >= 0 &&
                      sd_bus_call_method(bus_, Service, "/org/gnome/Mutter/RemoteDesktop", Service, "CreateSession",
                                         nullptr, &reply, "") >= 0 &&
                      sd_bus_message_read(reply, "o", &path) >= 0;
    if (made) session_ = path;
    sd_bus_message_unref(reply);
    return made && Call("Start", "");
  }
  bool Move(double dx, double dy) override { return Call("NotifyPointerMotionRelative", "dd", dx, dy); }
  bool Left(Button state) override {
    return Call("NotifyPointerButton", "ib", LeftButton, static_cast<int>(state == Button::Press));
  }

private:
  template <typename... Arguments>
  bool Call(const char* method, const char* signature, Arguments... arguments) {
    return sd_bus_call_method(bus_, Service, session_.c_str(), SessionInterface, method, nullptr, nullptr, signature,
                              arguments...) >= 0;
  }
  sd_bus* bus_ = nullptr;
  std::string session_;
};

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: remote_desktop_pointer COMMANDS_FIFO\n");
    return 1;
  }
  RemoteDesktopPointer pointer;
  if (!pointer.Connect()) {
    std::fprintf(stderr, "remote_desktop_pointer: no remote-desktop session\n");
    return 1;
  }
  return helpers::RunPointerCommands("remote_desktop_pointer", argv[1], pointer);
}
