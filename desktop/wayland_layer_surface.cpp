// The overlay layer role: the show over all of an output, above panels and full-screen windows, with the keyboard.
#include "wayland.h"

#include <wayland-client.h>

#include "wlr-layer-shell-client.h"

namespace desktop {

namespace {

class OverlayLayer final : public WaylandRole {
public:
  OverlayLayer(zwlr_layer_shell_v1* shell, wl_surface* surface, wl_output* output, RoleEvents& events)
      : events_(events), layer_(zwlr_layer_shell_v1_get_layer_surface(shell, surface, output,
                                                                      ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "pyrovane")) {
    zwlr_layer_surface_v1_add_listener(layer_, &Listener, this);
    // Anchored to every edge with no size of its own, it gets the whole output. An exclusive zone
    // of -1 puts it over the panels' zones instead of beside them, and the exclusive keyboard
    // keeps what is typed from the windows below.
    zwlr_layer_surface_v1_set_size(layer_, 0, 0);
    zwlr_layer_surface_v1_set_anchor(layer_, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                                 ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT |
                                                 ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    zwlr_layer_surface_v1_set_exclusive_zone(layer_, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(layer_, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE);
  }
  ~OverlayLayer() override { zwlr_layer_surface_v1_destroy(layer_); }
  OverlayLayer(const OverlayLayer&) = delete;
  OverlayLayer& operator=(const OverlayLayer&) = delete;

  void AcknowledgeConfigure(std::uint32_t serial) override { zwlr_layer_surface_v1_ack_configure(layer_, serial); }

private:
  static const zwlr_layer_surface_v1_listener Listener;

  RoleEvents& events_;
  zwlr_layer_surface_v1* layer_;
};

const zwlr_layer_surface_v1_listener OverlayLayer::Listener{
    .configure =
        [](void* data, zwlr_layer_surface_v1*, std::uint32_t serial, std::uint32_t width, std::uint32_t height) {
          static_cast<OverlayLayer*>(data)->events_.Configure(serial, static_cast<int>(width),
                                                              static_cast<int>(height));
        },
    .closed = [](void* data, zwlr_layer_surface_v1*) { static_cast<OverlayLayer*>(data)->events_.Closed(); },
};

} // namespace

std::unique_ptr<WaylandRole> MakeOverlayLayer(zwlr_layer_shell_v1* shell, wl_surface* surface, wl_output* output,
                                              RoleEvents& events) {
  return std::make_unique<OverlayLayer>(shell, surface, output, events);
}

} // namespace desktop
