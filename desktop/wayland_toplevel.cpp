// The full-screen toplevel role, for compositors without layer shell: asked for full screen on its output, and again whenever that was taken away.
#include "wayland.h"

#include <wayland-client.h>

#include <span>

#include "xdg-shell-client.h"

namespace desktop {

namespace {

class FullScreenToplevel final : public WaylandRole {
public:
  FullScreenToplevel(xdg_wm_base* shell, wl_surface* surface, wl_output* output, RoleEvents& events)
      : events_(events), output_(output), shellSurface_(xdg_wm_base_get_xdg_surface(shell, surface)),
        toplevel_(xdg_surface_get_toplevel(shellSurface_)) {
    xdg_surface_add_listener(shellSurface_, &SurfaceListener, this);
    xdg_toplevel_add_listener(toplevel_, &ToplevelListener, this);
    xdg_toplevel_set_title(toplevel_, "Pyrovane");
    // The desktop entry of this name gives the show its name and icon in the shell's overviews.
    xdg_toplevel_set_app_id(toplevel_, "pyrovane");
    xdg_toplevel_set_fullscreen(toplevel_, output_);
  }
  ~FullScreenToplevel() override {
    xdg_toplevel_destroy(toplevel_);
    xdg_surface_destroy(shellSurface_);
  }
  FullScreenToplevel(const FullScreenToplevel&) = delete;
  FullScreenToplevel& operator=(const FullScreenToplevel&) = delete;

  void AcknowledgeConfigure(std::uint32_t serial) override { xdg_surface_ack_configure(shellSurface_, serial); }

private:
  // The toplevel's configure comes first and tells the size and states; the surface's configure
  // ends the sequence with the serial to acknowledge.
  static void ToplevelConfigure(void* data, xdg_toplevel* /*toplevel*/, std::int32_t width, std::int32_t height,
                                wl_array* states);

  static const xdg_surface_listener SurfaceListener;
  static const xdg_toplevel_listener ToplevelListener;

  RoleEvents& events_;
  wl_output* output_;
  xdg_surface* shellSurface_;
  xdg_toplevel* toplevel_;
  int width_ = 0;
  int height_ = 0;
};

const xdg_surface_listener FullScreenToplevel::SurfaceListener{
    .configure =
        [](void* data, xdg_surface*, std::uint32_t serial) {
          auto& role = *static_cast<FullScreenToplevel*>(data);
          role.events_.Configure(serial, role.width_, role.height_);
        },
};

const xdg_toplevel_listener FullScreenToplevel::ToplevelListener{
    .configure = ToplevelConfigure,
    // A request to close is not how a screen saver ends: the button and the signals are.
    .close = [](void*, xdg_toplevel*) {},
    // Events of versions above the one bound never come.
    .configure_bounds = nullptr,
    .wm_capabilities = nullptr,
};

void FullScreenToplevel::ToplevelConfigure(void* data, xdg_toplevel* /*toplevel*/, std::int32_t width,
                                           std::int32_t height, wl_array* states) {
  auto& role = *static_cast<FullScreenToplevel*>(data);
  role.width_ = width;
  role.height_ = height;
  bool fullScreen = false;
  bool activated = false;
  const std::span<const std::uint32_t> listed(static_cast<const std::uint32_t*>(states->data),
                                              states->size / sizeof(std::uint32_t));
  for (const std::uint32_t state : listed) {
    fullScreen = fullScreen || state == XDG_TOPLEVEL_STATE_FULLSCREEN;
    activated = activated || state == XDG_TOPLEVEL_STATE_ACTIVATED;
  }
  // Another window that went full screen takes full screen from the show; once it has gone and the
  // show has the focus again, the show asks for it again. Asking only with the focus keeps two
  // shows (or the show and a video player) from taking it from each other for ever.
  if (!fullScreen && activated) {
    xdg_toplevel_set_fullscreen(role.toplevel_, role.output_);
  }
}

} // namespace

std::unique_ptr<WaylandRole> MakeFullScreenToplevel(xdg_wm_base* shell, wl_surface* surface, wl_output* output,
                                                    RoleEvents& events) {
  return std::make_unique<FullScreenToplevel>(shell, surface, output, events);
}

} // namespace desktop
