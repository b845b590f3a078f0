// The Wayland side of the desktop: what the Wayland session shares with the presenter that shows the frames on its outputs.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "session.h"

struct wl_compositor;
struct wl_display;
struct wl_output;
struct wl_shm;
struct wl_subcompositor;
struct wp_viewporter;
struct xdg_wm_base;

namespace desktop {

// One of the compositor's outputs, for as long as the compositor offers it.
struct WaylandOutput {
  std::uint32_t name = 0; // the registry's name for it
  wl_output* output = nullptr;
  // Its current mode in pixels; 0 until the compositor has told it.
  int modeWidth = 0;
  int modeHeight = 0;
};

// The connection to the compositor and what the session has bound of it: the globals that the
// show's surfaces and buffers are made with, and the outputs as they come and go.
struct WaylandClient {
  wl_display* display = nullptr;
  wl_compositor* compositor = nullptr;
  wl_subcompositor* subcompositor = nullptr;
  wl_shm* shm = nullptr;
  wp_viewporter* viewporter = nullptr;
  xdg_wm_base* shell = nullptr;
  std::vector<std::unique_ptr<WaylandOutput>> outputs;

  enum class Wait { No, ForEvents };
  // Sends what is queued, reads what the compositor has sent and handles it; with
  // Wait::ForEvents, first waits until something comes. Ends the process with one line when the
  // compositor has gone.
  void Dispatch(Wait wait);
  // Sends the requests made since the last dispatch, as far as the socket takes them now.
  void Flush();
  // The output with this registry name, or null once it has gone.
  const WaylandOutput* Output(std::uint32_t name) const;
};

// A full-screen surface on every output of `client`, each with the frame scaled to its 4:3
// picture by the compositor, following outputs that come and go. Null when the shared memory for
// the frames cannot be had.
std::unique_ptr<Presenter> MakeWaylandPresenter(WaylandClient& client);

} // namespace desktop
