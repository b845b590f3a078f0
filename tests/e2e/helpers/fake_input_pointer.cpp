// Test helper: a pointer on KWin, through its org_kde_kwin_fake_input protocol.
//
//   fake_input_pointer COMMANDS_FIFO
//
// KWin's virtual back end has a keyboard only. Fake input moves the real pointer and presses its
// buttons once the client has said who it is (KWin asks nobody when run with
// KWIN_WAYLAND_NO_PERMISSION_CHECKS=1). It reads the commands of pointer_commands.h from the
// named pipe. Status 1 when the compositor offers no fake input or a command fails, as when the
// compositor has gone.
#include <wayland-client.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "fake-input-client.h"
#include "pointer_commands.h"

namespace {

constexpr std::uint32_t LeftButton = 0x110; // evdev's BTN_LEFT

void Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version) {
  if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0) {
    *static_cast<org_kde_kwin_fake_input**>(data) = static_cast<org_kde_kwin_fake_input*>(
        wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, std::min(version, 4U)));
  }
}

const wl_registry_listener RegistryListener{.global = Global,
                                            .global_remove = [](void*, wl_registry*, std::uint32_t) {}};

class FakeInputPointer final : public helpers::Pointer {
public:
  FakeInputPointer(wl_display* display, org_kde_kwin_fake_input* input) : display_(display), input_(input) {}
  bool Move(double dx, double dy) override {
    org_kde_kwin_fake_input_pointer_motion(input_, wl_fixed_from_double(dx), wl_fixed_from_double(dy));
    return wl_display_roundtrip(display_) >= 0;
  }
  bool Left(Button state) override {
    // The protocol's states are wl_pointer's: 1 pressed, 0 released.
    org_kde_kwin_fake_input_button(input_, LeftButton, state == Button::Press ? 1 : 0);
    return wl_display_roundtrip(display_) >= 0;
  }

private:
  wl_display* display_;
  org_kde_kwin_fake_input* input_;
};

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fake_input_pointer COMMANDS_FIFO\n");
    return 1;
  }
  wl_display* display = wl_display_connect(nullptr);
  org_kde_kwin_fake_input* input = nullptr;
  if (display != nullptr) {
    wl_registry_add_listener(wl_display_get_registry(display), &RegistryListener, &input);
    wl_display_roundtrip(display);
  }
  if (input == nullptr) {
    std::fprintf(stderr, "fake_input_pointer: no compositor, or no fake input\n");
    return 1;
  }
  org_kde_kwin_fake_input_authenticate(input, "Pyrovane's tests", "whole-process tests move and click the pointer");
  FakeInputPointer pointer(display, input);
  return helpers::RunPointerCommands("fake_input_pointer", argv[1], pointer);
}
