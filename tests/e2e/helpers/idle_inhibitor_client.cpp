// Test helper: a small window that holds an idle inhibitor (zwp_idle_inhibitor_v1), as a video player does while it plays.
//
// It shows a 64×64 grey window, asks the compositor to keep the session from idling while the
// window is visible, prints "inhibiting" once the compositor has shown it, and keeps both until
// a signal ends it. Status 1 when the compositor lacks a protocol it needs or goes away.
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "idle-inhibit-unstable-v1-client.h"
#include "xdg-shell-client.h"

namespace {

constexpr int Side = 64;

struct Globals {
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  xdg_wm_base* shell = nullptr;
  zwp_idle_inhibit_manager_v1* inhibitors = nullptr;
};

template <typename Proxy>
void Bind(wl_registry* registry, std::uint32_t name, const wl_interface& interface, std::uint32_t version,
          Proxy*& into) {
  into = static_cast<Proxy*>(wl_registry_bind(registry, name, &interface, version));
}

void Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
  auto& globals = *static_cast<Globals*>(data);
  const std::string_view named(interface);
  if (named == wl_compositor_interface.name) Bind(registry, name, wl_compositor_interface, 4, globals.compositor);
  if (named == wl_shm_interface.name) Bind(registry, name, wl_shm_interface, 1, globals.shm);
  if (named == xdg_wm_base_interface.name) Bind(registry, name, xdg_wm_base_interface, 1, globals.shell);
  if (named == zwp_idle_inhibit_manager_v1_interface.name) {
    Bind(registry, name, zwp_idle_inhibit_manager_v1_interface, 1, globals.inhibitors);
  }
}

const wl_registry_listener RegistryListener{.global = Global,
                                            .global_remove = [](void*, wl_registry*, std::uint32_t) {}};
const xdg_wm_base_listener ShellListener{
    .ping = [](void*, xdg_wm_base* shell, std::uint32_t serial) { xdg_wm_base_pong(shell, serial); }};
const xdg_surface_listener SurfaceListener{.configure = [](void* data, xdg_surface* surface, std::uint32_t serial) {
  xdg_surface_ack_configure(surface, serial);
  *static_cast<bool*>(data) = true;
}};
const xdg_toplevel_listener ToplevelListener{
    .configure = [](void*, xdg_toplevel*, std::int32_t, std::int32_t, wl_array*) {},
    .close = [](void*, xdg_toplevel*) {},
    .configure_bounds = [](void*, xdg_toplevel*, std::int32_t, std::int32_t) {},
    .wm_capabilities = [](void*, xdg_toplevel*, wl_array*) {}};
const wl_callback_listener FrameListener{
    .done = [](void* data, wl_callback*, std::uint32_t) { *static_cast<bool*>(data) = true; }};

// A grey buffer of Side × Side pixels in shared memory.
wl_buffer* GreyBuffer(wl_shm* shm) {
  constexpr int Stride = Side * 4;
  constexpr int Size = Stride * Side;
  const int descriptor = memfd_create("idle-inhibitor", MFD_CLOEXEC);
  if (descriptor < 0 || ftruncate(descriptor, Size) != 0) return nullptr;
  void* pixels = mmap(nullptr, Size, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
  if (pixels == MAP_FAILED) return nullptr;
  std::memset(pixels, 0x80, Size);
  munmap(pixels, Size);
  wl_shm_pool* pool = wl_shm_create_pool(shm, descriptor, Size);
  wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, Side, Side, Stride, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(descriptor);
  return buffer;
}

// Dispatches until `flag` is set; false when the connection fails first.
bool DispatchUntil(wl_display* display, const bool& flag) {
  while (!flag) {
    if (wl_display_dispatch(display) < 0) return false;
  }
  return true;
}

} // namespace

int main() {
  wl_display* display = wl_display_connect(nullptr);
  Globals globals;
  if (display != nullptr) {
    wl_registry_add_listener(wl_display_get_registry(display), &RegistryListener, &globals);
    wl_display_roundtrip(display);
  }
  if (globals.compositor == nullptr || globals.shm == nullptr || globals.shell == nullptr ||
      globals.inhibitors == nullptr) {
    std::fprintf(stderr, "idle_inhibitor_client: no compositor, or one without windows or idle inhibitors\n");
    return 1;
  }
  xdg_wm_base_add_listener(globals.shell, &ShellListener, nullptr);
  wl_surface* surface = wl_compositor_create_surface(globals.compositor);
  xdg_surface* window = xdg_wm_base_get_xdg_surface(globals.shell, surface);
  bool configured = false;
  xdg_surface_add_listener(window, &SurfaceListener, &configured);
  xdg_toplevel* toplevel = xdg_surface_get_toplevel(window);
  xdg_toplevel_add_listener(toplevel, &ToplevelListener, nullptr);
  xdg_toplevel_set_title(toplevel, "idle inhibitor");
  zwp_idle_inhibit_manager_v1_create_inhibitor(globals.inhibitors, surface);
  wl_surface_commit(surface);
  if (!DispatchUntil(display, configured)) return 1;
  bool shown = false;
  wl_callback_add_listener(wl_surface_frame(surface), &FrameListener, &shown);
  wl_surface_attach(surface, GreyBuffer(globals.shm), 0, 0);
  wl_surface_commit(surface);
  if (!DispatchUntil(display, shown)) return 1;
  std::printf("inhibiting\n");
  std::fflush(stdout);
  while (wl_display_dispatch(display) >= 0) {}
  return 1;
}
