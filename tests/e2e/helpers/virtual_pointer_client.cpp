// Test helper: gives a headless wlroots compositor's seat a pointer, through the wlr virtual-pointer protocol.
//
// It makes the pointer on the first seat, prints "ready" and keeps the pointer until the compositor
// goes or a signal ends the helper; swaymsg's "seat seat0 cursor …" commands move and click it.
// Status 1 when the compositor offers no seat or no virtual pointers.
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "virtual_pointer-client.h"

namespace {

struct Globals {
  wl_seat* seat = nullptr;
  zwlr_virtual_pointer_manager_v1* manager = nullptr;
};

void Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
  auto& globals = *static_cast<Globals*>(data);
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && globals.seat == nullptr) {
    globals.seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
    globals.manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
  }
}

const wl_registry_listener RegistryListener{.global = Global,
                                            .global_remove = [](void*, wl_registry*, std::uint32_t) {}};

} // namespace

int main() {
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "virtual_pointer_client: no compositor\n");
    return 1;
  }
  Globals globals;
  wl_registry_add_listener(wl_display_get_registry(display), &RegistryListener, &globals);
  wl_display_roundtrip(display);
  if (globals.seat == nullptr || globals.manager == nullptr) {
    std::fprintf(stderr, "virtual_pointer_client: no seat or no virtual pointers\n");
    return 1;
  }
  zwlr_virtual_pointer_manager_v1_create_virtual_pointer(globals.manager, globals.seat);
  wl_display_roundtrip(display);
  std::printf("ready\n");
  std::fflush(stdout);
  while (wl_display_dispatch(display) >= 0) {}
  return 0;
}
