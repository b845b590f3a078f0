// A Wayland compositor inside the test's process, on libwayland-server, with the shells, the scaler and the subsurfaces the show may use.
#include "fake_compositor.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <wayland-server.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "viewporter-server.h"
#include "wlr-layer-shell-server.h"
#include "xdg-shell-server.h"

namespace fake {

namespace {

struct Surface;
using State = Compositor::State;

struct Output {
  Size size;
  wl_global* global = nullptr;
  std::vector<wl_resource*> resources;
  bool removed = false; // its global is gone; the client's objects of it may outlive it
};

// A surface's role: a layer surface or a toplevel, on one output.
struct Role {
  std::string kind;
  Surface* surface = nullptr;
  Output* output = nullptr;
  wl_resource* resource = nullptr; // the layer surface, or the xdg_surface
  wl_resource* toplevel = nullptr;
  std::map<std::uint32_t, Size> configures; // sent and not yet acknowledged
  std::optional<Size> acknowledged;
  bool fullScreen = false;
  bool configured = false;
};

struct Surface {
  State* state = nullptr;
  wl_resource* resource = nullptr;
  // What the next commit applies.
  wl_resource* pendingBuffer = nullptr;
  bool attached = false;
  std::vector<std::array<int, 4>> damage;
  int pendingScale = 1;
  std::optional<Size> pendingDestination;
  std::vector<wl_resource*> callbacks;
  wl_resource* viewport = nullptr;
  // What it shows.
  SurfaceView view;
  Role* role = nullptr;
  Surface* parent = nullptr; // for a subsurface
  int pendingX = 0;
  int pendingY = 0;
  Surface* child = nullptr;
};

} // namespace

struct Compositor::State {
  std::mutex mutex;
  wl_display* display = nullptr;
  wl_client* client = nullptr;
  Offers offers;
  std::vector<std::unique_ptr<Output>> outputs;
  std::map<wl_resource*, std::unique_ptr<Surface>> surfaces;
  std::deque<wl_resource*> held;                      // buffers the compositor still reads, oldest first
  std::map<wl_resource*, std::uint64_t> heldContents; // a sum of each one's pixels when it came
  int commits = 0;
  std::vector<std::string> violations;
  wl_resource* pointer = nullptr;
  wl_resource* entered = nullptr;
  std::uint32_t serial = 0;
  int hiddenCursor = 0;
  int fullScreenRequests = 0;
  std::atomic<bool> stopping{false};
  std::thread thread;

  Output* OutputOf(wl_resource* resource) {
    for (const auto& output : outputs) {
      if (std::find(output->resources.begin(), output->resources.end(), resource) != output->resources.end()) {
        return output.get();
      }
    }
    return nullptr;
  }
  Surface* SurfaceOf(wl_resource* resource) { return surfaces.at(resource).get(); }
};

namespace {

State& StateOf(wl_resource* resource) { return *static_cast<Surface*>(wl_resource_get_user_data(resource))->state; }

void Ignore(wl_client*, wl_resource*) {}
void Destroy(wl_client*, wl_resource* resource) { wl_resource_destroy(resource); }

// --- buffers ---------------------------------------------------------------------------------

std::uint64_t ContentsOf(wl_resource* buffer) {
  wl_shm_buffer* shm = wl_shm_buffer_get(buffer);
  wl_shm_buffer_begin_access(shm);
  const auto* data = static_cast<const std::uint32_t*>(wl_shm_buffer_get_data(shm));
  const std::size_t words = static_cast<std::size_t>(wl_shm_buffer_get_stride(shm) / 4) * wl_shm_buffer_get_height(shm);
  std::uint64_t sum = 0;
  for (std::size_t at = 0; at < words; ++at) sum = sum * 1099511628211ULL + data[at];
  wl_shm_buffer_end_access(shm);
  return sum;
}

// Buffers are released in the order they came, one or two commits late in turn, so that the
// client's buffers come back at several ages. A buffer whose pixels changed while it was held was
// written by the client while the compositor could still read it.
void Hold(State& state, wl_resource* buffer) {
  const std::uint64_t contents = ContentsOf(buffer);
  const auto held = state.heldContents.find(buffer);
  if (held != state.heldContents.end() && held->second != contents) {
    state.violations.push_back("a buffer written while the compositor held it");
  }
  state.heldContents[buffer] = contents;
  state.held.push_back(buffer);
  const std::size_t limit = 1 + static_cast<std::size_t>(state.commits % 2);
  while (state.held.size() > limit) {
    wl_resource* released = state.held.front();
    state.held.pop_front();
    if (std::find(state.held.begin(), state.held.end(), released) != state.held.end()) continue;
    if (ContentsOf(released) != state.heldContents[released]) {
      state.violations.push_back("a buffer written while the compositor held it");
    }
    state.heldContents.erase(released);
    wl_buffer_send_release(released);
  }
}

struct BufferWatch {
  wl_listener listener;
  State* state;
};

void WatchBuffer(State& state, wl_resource* buffer) {
  if (wl_resource_get_destroy_listener(buffer, [](wl_listener*, void*) {}) != nullptr) return;
  auto* watch = new BufferWatch{{}, &state};
  watch->listener.notify = [](wl_listener* listener, void* data) {
    auto* watched = wl_container_of(listener, static_cast<BufferWatch*>(nullptr), listener);
    auto& held = watched->state->held;
    held.erase(std::remove(held.begin(), held.end(), static_cast<wl_resource*>(data)), held.end());
    watched->state->heldContents.erase(static_cast<wl_resource*>(data));
    delete watched;
  };
  wl_resource_add_destroy_listener(buffer, &watch->listener);
}

// Brings the shown pixels up to date from the buffer where it was damaged (everywhere when its
// size is new), as a compositor that keeps one texture a surface does.
void TakePixels(Surface& surface, wl_resource* buffer) {
  wl_shm_buffer* shm = wl_shm_buffer_get(buffer);
  SurfaceView& view = surface.view;
  const int width = wl_shm_buffer_get_width(shm);
  const int height = wl_shm_buffer_get_height(shm);
  const int stride = wl_shm_buffer_get_stride(shm) / 4;
  std::vector<std::array<int, 4>> damage = surface.damage;
  if (width != view.bufferWidth || height != view.bufferHeight) {
    view.bufferWidth = width;
    view.bufferHeight = height;
    view.pixels.assign(static_cast<std::size_t>(width) * height, 0xDEADBEEF);
    damage = {{0, 0, width, height}};
  }
  wl_shm_buffer_begin_access(shm);
  const auto* data = static_cast<const std::uint32_t*>(wl_shm_buffer_get_data(shm));
  for (const auto& [x, y, w, h] : damage) {
    if (x <= 0 && y <= 0 && x + w >= width && y + h >= height) ++view.wholeBufferDamage;
    for (int row = std::max(y, 0); row < std::min(y + h, height); ++row) {
      for (int column = std::max(x, 0); column < std::min(x + w, width); ++column) {
        view.pixels[static_cast<std::size_t>(row) * width + column] = data[row * stride + column] & 0xFFFFFF;
      }
    }
  }
  wl_shm_buffer_end_access(shm);
}

// What a lock screen checks: a role's surface is committed at the size of the configure it
// acknowledged, and not before it acknowledged one.
void CheckRoleSize(Surface& surface) {
  State& state = *surface.state;
  Role& role = *surface.role;
  const SurfaceView& view = surface.view;
  const Size committed = view.viewport
                             ? Size{view.destinationWidth, view.destinationHeight}
                             : Size{view.bufferWidth / view.bufferScale, view.bufferHeight / view.bufferScale};
  if (!role.acknowledged) {
    state.violations.push_back(role.kind + ": a buffer before any configure was acknowledged");
  } else if (committed.width != role.acknowledged->width || committed.height != role.acknowledged->height) {
    state.violations.push_back(role.kind + ": committed " + std::to_string(committed.width) + "x" +
                               std::to_string(committed.height) + " after acknowledging " +
                               std::to_string(role.acknowledged->width) + "x" +
                               std::to_string(role.acknowledged->height));
  }
}

void SendConfigure(Role& role);

void Commit(wl_client*, wl_resource* resource) {
  Surface& surface = *StateOf(resource).SurfaceOf(resource);
  State& state = *surface.state;
  if (surface.pendingDestination) {
    surface.view.viewport = true;
    surface.view.destinationWidth = surface.pendingDestination->width;
    surface.view.destinationHeight = surface.pendingDestination->height;
  }
  surface.view.bufferScale = surface.pendingScale;
  if (surface.child != nullptr) {
    surface.child->view.x = surface.child->pendingX;
    surface.child->view.y = surface.child->pendingY;
  }
  if (surface.attached && surface.pendingBuffer != nullptr) {
    TakePixels(surface, surface.pendingBuffer);
    ++surface.view.commits;
    ++state.commits;
    WatchBuffer(state, surface.pendingBuffer);
    Hold(state, surface.pendingBuffer);
    if (surface.role != nullptr) CheckRoleSize(surface);
  } else if (surface.role != nullptr && !surface.role->configured) {
    // The first commit, without a buffer, asks for the first configure.
    SendConfigure(*surface.role);
  }
  surface.attached = false;
  surface.damage.clear();
  for (wl_resource* callback : surface.callbacks) {
    wl_callback_send_done(callback, 0);
    wl_resource_destroy(callback);
  }
  surface.callbacks.clear();
}

constexpr struct wl_surface_interface SurfaceImplementation {
  .destroy = Destroy,
  .attach =
      [](wl_client*, wl_resource* resource, wl_resource* buffer, std::int32_t, std::int32_t) {
        Surface& surface = *StateOf(resource).SurfaceOf(resource);
        surface.pendingBuffer = buffer;
        surface.attached = true;
      },
  .damage =
      [](wl_client*, wl_resource* resource, std::int32_t, std::int32_t, std::int32_t, std::int32_t) {
        StateOf(resource).SurfaceOf(resource)->damage.push_back({0, 0, 1 << 20, 1 << 20});
      },
  .frame =
      [](wl_client* client, wl_resource* resource, std::uint32_t id) {
        StateOf(resource).SurfaceOf(resource)->callbacks.push_back(
            wl_resource_create(client, &wl_callback_interface, 1, id));
      },
  .set_opaque_region = [](wl_client*, wl_resource*, wl_resource*) {},
  .set_input_region = [](wl_client*, wl_resource*, wl_resource*) {}, .commit = Commit,
  .set_buffer_transform = [](wl_client*, wl_resource*, std::int32_t) {},
  .set_buffer_scale = [](wl_client*, wl_resource* resource,
                         std::int32_t scale) { StateOf(resource).SurfaceOf(resource)->pendingScale = scale; },
  .damage_buffer =
      [](wl_client*, wl_resource* resource, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) {
        StateOf(resource).SurfaceOf(resource)->damage.push_back({x, y, width, height});
      },
  .offset = nullptr,
};

// --- roles -----------------------------------------------------------------------------------

void SendConfigure(Role& role) {
  const std::uint32_t serial = ++role.surface->state->serial;
  role.configures[serial] = role.output != nullptr ? role.output->size : Size{0, 0};
  role.configured = true;
  if (role.kind == "layer") {
    zwlr_layer_surface_v1_send_configure(role.resource, serial, static_cast<std::uint32_t>(role.output->size.width),
                                         static_cast<std::uint32_t>(role.output->size.height));
    return;
  }
  wl_array states;
  wl_array_init(&states);
  if (role.fullScreen) {
    *static_cast<std::uint32_t*>(wl_array_add(&states, sizeof(std::uint32_t))) = XDG_TOPLEVEL_STATE_FULLSCREEN;
  }
  *static_cast<std::uint32_t*>(wl_array_add(&states, sizeof(std::uint32_t))) = XDG_TOPLEVEL_STATE_ACTIVATED;
  const Size size = role.fullScreen ? role.output->size : Size{0, 0};
  xdg_toplevel_send_configure(role.toplevel, size.width, size.height, &states);
  wl_array_release(&states);
  xdg_surface_send_configure(role.resource, serial);
}

void Acknowledge(wl_resource* resource, std::uint32_t serial) {
  auto& role = *static_cast<Role*>(wl_resource_get_user_data(resource));
  const auto sent = role.configures.find(serial);
  if (sent == role.configures.end()) {
    role.surface->state->violations.push_back(role.kind + ": acknowledged a configure never sent");
    return;
  }
  role.acknowledged = sent->second;
  role.configures.erase(role.configures.begin(), std::next(sent));
}

void DestroyRole(wl_resource* resource) {
  auto* role = static_cast<Role*>(wl_resource_get_user_data(resource));
  if (role->surface != nullptr) role->surface->role = nullptr;
  delete role;
}

Role* MakeRole(wl_client* client, const wl_interface& interface, std::uint32_t id, wl_resource* surface,
               wl_resource* output, const char* kind, const void* implementation) {
  State& state = StateOf(surface);
  auto* role = new Role;
  role->kind = kind;
  role->surface = state.SurfaceOf(surface);
  role->output = state.OutputOf(output);
  role->resource = wl_resource_create(client, &interface, 1, id);
  wl_resource_set_implementation(role->resource, implementation, role, DestroyRole);
  role->surface->role = role;
  return role;
}

constexpr struct zwlr_layer_surface_v1_interface LayerSurfaceImplementation {
  .set_size = [](wl_client*, wl_resource*, std::uint32_t, std::uint32_t) {},
  .set_anchor = [](wl_client*, wl_resource*, std::uint32_t) {},
  .set_exclusive_zone = [](wl_client*, wl_resource*, std::int32_t) {},
  .set_margin = [](wl_client*, wl_resource*, std::int32_t, std::int32_t, std::int32_t, std::int32_t) {},
  .set_keyboard_interactivity = [](wl_client*, wl_resource*, std::uint32_t) {},
  .get_popup = [](wl_client*, wl_resource*, wl_resource*) {},
  .ack_configure = [](wl_client*, wl_resource* resource, std::uint32_t serial) { Acknowledge(resource, serial); },
  .destroy = Destroy,
};

constexpr struct zwlr_layer_shell_v1_interface LayerShellImplementation {
  .get_layer_surface = [](wl_client* client, wl_resource*, std::uint32_t id, wl_resource* surface, wl_resource* output,
                          std::uint32_t, const char*) {
    MakeRole(client, zwlr_layer_surface_v1_interface, id, surface, output, "layer", &LayerSurfaceImplementation);
  },
};

constexpr struct xdg_toplevel_interface ToplevelImplementation {
  .destroy = Destroy, .set_parent = nullptr, .set_title = [](wl_client*, wl_resource*, const char*) {},
  .set_app_id = [](wl_client*, wl_resource*, const char*) {}, .show_window_menu = nullptr, .move = nullptr,
  .resize = nullptr, .set_max_size = nullptr, .set_min_size = nullptr, .set_maximized = nullptr,
  .unset_maximized = nullptr,
  .set_fullscreen =
      [](wl_client*, wl_resource* resource, wl_resource* output) {
        auto& role = *static_cast<Role*>(wl_resource_get_user_data(resource));
        ++role.surface->state->fullScreenRequests;
        if (Output* on = role.surface->state->OutputOf(output)) role.output = on;
        role.fullScreen = true;
        if (role.configured) SendConfigure(role);
      },
  .unset_fullscreen = nullptr, .set_minimized = nullptr,
};

constexpr struct xdg_surface_interface ShellSurfaceImplementation {
  .destroy = Destroy,
  .get_toplevel =
      [](wl_client* client, wl_resource* resource, std::uint32_t id) {
        auto& role = *static_cast<Role*>(wl_resource_get_user_data(resource));
        role.toplevel = wl_resource_create(client, &xdg_toplevel_interface, 1, id);
        wl_resource_set_implementation(role.toplevel, &ToplevelImplementation, &role, nullptr);
      },
  .get_popup = nullptr, .set_window_geometry = nullptr,
  .ack_configure = [](wl_client*, wl_resource* resource, std::uint32_t serial) { Acknowledge(resource, serial); },
};

constexpr struct xdg_wm_base_interface ShellImplementation {
  .destroy = Destroy, .create_positioner = nullptr,
  .get_xdg_surface =
      [](wl_client* client, wl_resource*, std::uint32_t id, wl_resource* surface) {
        // The output comes with the request for full screen.
        MakeRole(client, xdg_surface_interface, id, surface, nullptr, "toplevel", &ShellSurfaceImplementation);
      },
  .pong = [](wl_client*, wl_resource*, std::uint32_t) {},
};

// --- scaler, subsurfaces, compositor ---------------------------------------------------------

constexpr struct wp_viewport_interface ViewportImplementation {
  .destroy = Destroy, .set_source = [](wl_client*, wl_resource*, wl_fixed_t, wl_fixed_t, wl_fixed_t, wl_fixed_t) {},
  .set_destination = [](wl_client*, wl_resource* resource, std::int32_t width, std::int32_t height) {
    static_cast<Surface*>(wl_resource_get_user_data(resource))->pendingDestination = Size{width, height};
  },
};

constexpr struct wp_viewporter_interface ViewporterImplementation {
  .destroy = Destroy, .get_viewport = [](wl_client* client, wl_resource*, std::uint32_t id, wl_resource* surface) {
    Surface* scaled = StateOf(surface).SurfaceOf(surface);
    scaled->viewport = wl_resource_create(client, &wp_viewport_interface, 1, id);
    wl_resource_set_implementation(scaled->viewport, &ViewportImplementation, scaled, nullptr);
  },
};

constexpr struct wl_subsurface_interface SubsurfaceImplementation {
  .destroy = Destroy,
  .set_position =
      [](wl_client*, wl_resource* resource, std::int32_t x, std::int32_t y) {
        auto& surface = *static_cast<Surface*>(wl_resource_get_user_data(resource));
        surface.pendingX = x;
        surface.pendingY = y;
      },
  .place_above = nullptr, .place_below = nullptr, .set_sync = Ignore, .set_desync = Ignore,
};

constexpr struct wl_subcompositor_interface SubcompositorImplementation {
  .destroy = Destroy,
  .get_subsurface = [](wl_client* client, wl_resource*, std::uint32_t id, wl_resource* surface, wl_resource* parent) {
    State& state = StateOf(surface);
    Surface* child = state.SurfaceOf(surface);
    child->parent = state.SurfaceOf(parent);
    child->parent->child = child;
    wl_resource* resource = wl_resource_create(client, &wl_subsurface_interface, 1, id);
    wl_resource_set_implementation(resource, &SubsurfaceImplementation, child, nullptr);
  },
};

void DestroySurface(wl_resource* resource) {
  State& state = StateOf(resource);
  Surface* surface = state.SurfaceOf(resource);
  if (surface->role != nullptr) surface->role->surface = nullptr;
  if (surface->parent != nullptr) surface->parent->child = nullptr;
  if (surface->child != nullptr) surface->child->parent = nullptr;
  if (state.entered == resource) state.entered = nullptr;
  state.surfaces.erase(resource);
}

constexpr struct wl_compositor_interface CompositorImplementation {
  .create_surface =
      [](wl_client* client, wl_resource* compositor, std::uint32_t id) {
        State& state = *static_cast<State*>(wl_resource_get_user_data(compositor));
        auto surface = std::make_unique<Surface>();
        surface->state = &state;
        surface->resource = wl_resource_create(client, &wl_surface_interface, 4, id);
        wl_resource_set_implementation(surface->resource, &SurfaceImplementation, surface.get(), DestroySurface);
        state.surfaces[surface->resource] = std::move(surface);
      },
  .create_region = nullptr,
};

// --- seat and outputs ------------------------------------------------------------------------

constexpr struct wl_pointer_interface PointerImplementation {
  .set_cursor =
      [](wl_client*, wl_resource* resource, std::uint32_t, wl_resource* surface, std::int32_t, std::int32_t) {
        if (surface == nullptr) ++static_cast<State*>(wl_resource_get_user_data(resource))->hiddenCursor;
      },
  .release = Destroy,
};

constexpr struct wl_seat_interface SeatImplementation {
  .get_pointer =
      [](wl_client* client, wl_resource* seat, std::uint32_t id) {
        State& state = *static_cast<State*>(wl_resource_get_user_data(seat));
        state.pointer = wl_resource_create(client, &wl_pointer_interface, wl_resource_get_version(seat), id);
        wl_resource_set_implementation(state.pointer, &PointerImplementation, &state, [](wl_resource* pointer) {
          auto& owner = *static_cast<State*>(wl_resource_get_user_data(pointer));
          if (owner.pointer == pointer) owner.pointer = nullptr;
        });
      },
  .get_keyboard = nullptr, .get_touch = nullptr, .release = Destroy,
};

constexpr struct wl_output_interface OutputImplementation { .release = Destroy };

// A global's binding: a resource of `Interface` answered by `Implementation`.
template <const wl_interface& Interface, const auto& Implementation>
void Bind(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
  wl_resource* resource = wl_resource_create(client, &Interface, static_cast<int>(version), id);
  wl_resource_set_implementation(resource, &Implementation, data, nullptr);
}

void BindOutput(wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
  auto& output = *static_cast<Output*>(data);
  wl_resource* resource = wl_resource_create(client, &wl_output_interface, static_cast<int>(version), id);
  wl_resource_set_implementation(resource, &OutputImplementation, &output, [](wl_resource* gone) {
    auto& owner = *static_cast<Output*>(wl_resource_get_user_data(gone));
    std::erase(owner.resources, gone);
  });
  output.resources.push_back(resource);
  wl_output_send_geometry(resource, 0, 0, 0, 0, WL_OUTPUT_SUBPIXEL_UNKNOWN, "fake", "fake", WL_OUTPUT_TRANSFORM_NORMAL);
  wl_output_send_mode(resource, WL_OUTPUT_MODE_CURRENT, output.size.width, output.size.height, 60000);
  wl_output_send_scale(resource, 1);
  wl_output_send_done(resource);
}

void Serve(State& state) {
  wl_event_loop* loop = wl_display_get_event_loop(state.display);
  pollfd events{wl_event_loop_get_fd(loop), POLLIN, 0};
  while (!state.stopping) {
    {
      const std::lock_guard lock(state.mutex);
      wl_event_loop_dispatch(loop, 0);
      wl_display_flush_clients(state.display);
    }
    poll(&events, 1, 2);
  }
}

void AddOutputLocked(State& state, Size size) {
  auto output = std::make_unique<Output>();
  output->size = size;
  output->global = wl_global_create(state.display, &wl_output_interface, 3, output.get(), BindOutput);
  state.outputs.push_back(std::move(output));
}

// The outputs that have not gone, in order.
std::vector<Output*> Present(State& state) {
  std::vector<Output*> present;
  for (const auto& output : state.outputs) {
    if (!output->removed) present.push_back(output.get());
  }
  return present;
}

Role* RoleOn(State& state, const Output* output) {
  for (const auto& [resource, surface] : state.surfaces) {
    if (surface->role != nullptr && surface->role->output == output) return surface->role;
  }
  return nullptr;
}

} // namespace

Compositor::Compositor(const Offers& offers, const std::vector<Size>& outputs) : state_(std::make_unique<State>()) {
  State& state = *state_;
  state.offers = offers;
  state.display = wl_display_create();
  wl_display_init_shm(state.display);
  const auto offer = [&](bool offered, const wl_interface& interface, int version, wl_global_bind_func_t bind) {
    if (offered) wl_global_create(state.display, &interface, version, &state, bind);
  };
  offer(true, wl_compositor_interface, 4, Bind<wl_compositor_interface, CompositorImplementation>);
  offer(offers.subcompositor, wl_subcompositor_interface, 1,
        Bind<wl_subcompositor_interface, SubcompositorImplementation>);
  offer(offers.viewporter, wp_viewporter_interface, 1, Bind<wp_viewporter_interface, ViewporterImplementation>);
  offer(offers.layerShell, zwlr_layer_shell_v1_interface, 1,
        Bind<zwlr_layer_shell_v1_interface, LayerShellImplementation>);
  offer(offers.toplevels, xdg_wm_base_interface, 1, Bind<xdg_wm_base_interface, ShellImplementation>);
  offer(offers.seat, wl_seat_interface, 3, [](wl_client* client, void* data, std::uint32_t version, std::uint32_t id) {
    wl_resource* seat = wl_resource_create(client, &wl_seat_interface, static_cast<int>(version), id);
    wl_resource_set_implementation(seat, &SeatImplementation, data, nullptr);
    wl_seat_send_capabilities(seat, WL_SEAT_CAPABILITY_POINTER);
  });
  for (const Size& size : outputs) AddOutputLocked(state, size);
  int ends[2];
  socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends);
  state.client = wl_client_create(state.display, ends[0]);
  clientSocket_ = ends[1];
  state.thread = std::thread(Serve, std::ref(state));
}

Compositor::~Compositor() {
  state_->stopping = true;
  state_->thread.join();
  wl_display_destroy_clients(state_->display);
  wl_display_destroy(state_->display);
}

void Compositor::AddOutput(Size size) {
  const std::lock_guard lock(state_->mutex);
  AddOutputLocked(*state_, size);
}

void Compositor::RemoveOutput(int index) {
  const std::lock_guard lock(state_->mutex);
  Output* output = Present(*state_).at(static_cast<std::size_t>(index));
  output->removed = true;
  wl_global_destroy(output->global);
  if (Role* role = RoleOn(*state_, output)) {
    if (role->kind == "layer") zwlr_layer_surface_v1_send_closed(role->resource);
    role->output = nullptr;
  }
  wl_display_flush_clients(state_->display);
}

std::vector<OutputView> Compositor::Outputs() {
  const std::lock_guard lock(state_->mutex);
  std::vector<OutputView> views;
  for (Output* output : Present(*state_)) {
    OutputView view;
    view.size = output->size;
    if (const Role* role = RoleOn(*state_, output); role != nullptr && role->surface != nullptr) {
      view.role = role->kind;
      view.fullScreen = role->fullScreen;
      view.surface = role->surface->view;
      if (role->surface->child != nullptr) view.picture = role->surface->child->view;
    }
    views.push_back(std::move(view));
  }
  return views;
}

std::vector<std::string> Compositor::Violations() {
  const std::lock_guard lock(state_->mutex);
  return state_->violations;
}

void Compositor::PointerOver(int index) {
  const std::lock_guard lock(state_->mutex);
  State& state = *state_;
  const Role* role = RoleOn(state, Present(state).at(static_cast<std::size_t>(index)));
  if (state.pointer == nullptr || role == nullptr || role->surface == nullptr) return;
  if (state.entered != nullptr && state.entered != role->surface->resource) {
    wl_pointer_send_leave(state.pointer, ++state.serial, state.entered);
  }
  state.entered = role->surface->resource;
  wl_pointer_send_enter(state.pointer, ++state.serial, state.entered, wl_fixed_from_int(10), wl_fixed_from_int(10));
  wl_pointer_send_motion(state.pointer, 0, wl_fixed_from_int(20), wl_fixed_from_int(20));
  wl_display_flush_clients(state.display);
}

void Compositor::Button(std::uint32_t button, bool pressed) {
  const std::lock_guard lock(state_->mutex);
  State& state = *state_;
  if (state.pointer == nullptr || state.entered == nullptr) return;
  wl_pointer_send_button(state.pointer, ++state.serial, 0, button,
                         pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
  wl_display_flush_clients(state.display);
}

void Compositor::Wheel() {
  const std::lock_guard lock(state_->mutex);
  State& state = *state_;
  if (state.pointer == nullptr || state.entered == nullptr) return;
  wl_pointer_send_axis(state.pointer, 0, WL_POINTER_AXIS_VERTICAL_SCROLL, wl_fixed_from_int(10));
  wl_display_flush_clients(state.display);
}

int Compositor::HiddenCursorRequests() {
  const std::lock_guard lock(state_->mutex);
  return state_->hiddenCursor;
}

int Compositor::FullScreenRequests() {
  const std::lock_guard lock(state_->mutex);
  return state_->fullScreenRequests;
}

void Compositor::TakeFullScreenAway(int index) {
  const std::lock_guard lock(state_->mutex);
  if (Role* role = RoleOn(*state_, Present(*state_).at(static_cast<std::size_t>(index)))) {
    role->fullScreen = false;
    SendConfigure(*role);
    wl_display_flush_clients(state_->display);
  }
}

} // namespace fake
