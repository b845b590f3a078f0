// The Wayland session: the connection to the compositor, its globals and outputs, and the left button on the show's surfaces.
#include "wayland.h"

#include <linux/input-event-codes.h>
#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "viewporter-client.h"
#include "xdg-shell-client.h"

namespace desktop {

namespace {

// The versions bound: the lowest with what the show uses, so that no event comes that it does
// not know. Surfaces need 4 for damage in buffer coordinates, outputs 3 and the seats' pointers 3
// to be released again; the shell, the scaler and the memory need nothing beyond their first
// version.
constexpr std::uint32_t CompositorVersion = 4;
constexpr std::uint32_t OutputVersion = 3;
constexpr std::uint32_t SeatVersion = 3;
constexpr std::uint32_t FirstVersion = 1;

class WaylandSession final : public Session {
public:
  explicit WaylandSession(wl_display* display) { client_.display = display; }
  ~WaylandSession() override;
  WaylandSession(const WaylandSession&) = delete;
  WaylandSession& operator=(const WaylandSession&) = delete;

  // Learns the compositor's globals and outputs; false when it lacks one that the show needs.
  bool BindGlobals();

  std::unique_ptr<Presenter> Open(PresentPath /*path*/) override { return MakeWaylandPresenter(client_); }
  // Outputs are the presenter's to follow, so the layout never changes here.
  bool ReadEvents() override {
    client_.Dispatch(WaylandClient::Wait::No);
    return false;
  }
  std::int16_t LeftButtonState() override;

private:
  struct Seat {
    WaylandSession* session = nullptr;
    std::uint32_t name = 0;
    wl_seat* seat = nullptr;
    wl_pointer* pointer = nullptr;
  };

  static void Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                     std::uint32_t version);
  static void GlobalRemove(void* data, wl_registry* registry, std::uint32_t name);
  static void Capabilities(void* data, wl_seat* seat, std::uint32_t capabilities);
  static void PointerEnter(void* data, wl_pointer* pointer, std::uint32_t serial, wl_surface* surface, wl_fixed_t x,
                           wl_fixed_t y);
  static void PointerButton(void* data, wl_pointer* pointer, std::uint32_t serial, std::uint32_t time,
                            std::uint32_t button, std::uint32_t state);
  static void OutputMode(void* data, wl_output* output, std::uint32_t flags, std::int32_t width, std::int32_t height,
                         std::int32_t refresh);

  static constexpr wl_registry_listener RegistryListener{.global = Global, .global_remove = GlobalRemove};
  static constexpr wl_seat_listener SeatListener{
      .capabilities = Capabilities,
      .name = [](void*, wl_seat*, const char*) {},
  };
  static constexpr wl_pointer_listener PointerListener{
      .enter = PointerEnter,
      .leave = [](void*, wl_pointer*, std::uint32_t, wl_surface*) {},
      .motion = [](void*, wl_pointer*, std::uint32_t, wl_fixed_t, wl_fixed_t) {},
      .button = PointerButton,
      .axis = [](void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {},
      // Events of versions above the one bound never come.
      .frame = nullptr,
      .axis_source = nullptr,
      .axis_stop = nullptr,
      .axis_discrete = nullptr,
      .axis_value120 = nullptr,
  };
  static constexpr wl_output_listener OutputListener{
      .geometry = [](void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                     const char*, const char*, std::int32_t) {},
      .mode = OutputMode,
      .done = [](void*, wl_output*) {},
      .scale = [](void*, wl_output*, std::int32_t) {},
      .name = nullptr,
      .description = nullptr,
  };
  // The compositor asks now and then whether the client still answers.
  static constexpr xdg_wm_base_listener ShellListener{
      .ping = [](void*, xdg_wm_base* shell, std::uint32_t serial) { xdg_wm_base_pong(shell, serial); },
  };

  static void Release(Seat& seat);

  WaylandClient client_;
  wl_registry* registry_ = nullptr;
  std::vector<std::unique_ptr<Seat>> seats_;
  // The left button as seen on the show's surfaces: held since a press there, and whether it
  // changed since the last query.
  bool held_ = false;
  bool changed_ = false;
};

WaylandSession::~WaylandSession() {
  for (const std::unique_ptr<Seat>& seat : seats_) Release(*seat);
  for (const std::unique_ptr<WaylandOutput>& output : client_.outputs) wl_output_release(output->output);
  if (client_.shell != nullptr) xdg_wm_base_destroy(client_.shell);
  if (client_.viewporter != nullptr) wp_viewporter_destroy(client_.viewporter);
  if (client_.shm != nullptr) wl_shm_destroy(client_.shm);
  if (client_.subcompositor != nullptr) wl_subcompositor_destroy(client_.subcompositor);
  if (client_.compositor != nullptr) wl_compositor_destroy(client_.compositor);
  if (registry_ != nullptr) wl_registry_destroy(registry_);
  wl_display_disconnect(client_.display);
}

bool WaylandSession::BindGlobals() {
  registry_ = wl_display_get_registry(client_.display);
  wl_registry_add_listener(registry_, &RegistryListener, this);
  // The first round trip lists the globals; the second brings what the bound ones tell at once,
  // such as the outputs' modes and the seats' devices.
  return wl_display_roundtrip(client_.display) >= 0 && wl_display_roundtrip(client_.display) >= 0 &&
         client_.compositor != nullptr && client_.subcompositor != nullptr && client_.shm != nullptr &&
         client_.viewporter != nullptr && client_.shell != nullptr;
}

void WaylandSession::Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                            std::uint32_t version) {
  auto& session = *static_cast<WaylandSession*>(data);
  WaylandClient& client = session.client_;
  const auto is = [interface](const wl_interface& wanted) { return std::strcmp(interface, wanted.name) == 0; };
  const auto bind = [&](const wl_interface& wanted, std::uint32_t bound) {
    return wl_registry_bind(registry, name, &wanted, bound);
  };
  if (is(wl_compositor_interface) && version >= CompositorVersion) {
    client.compositor = static_cast<wl_compositor*>(bind(wl_compositor_interface, CompositorVersion));
  } else if (is(wl_subcompositor_interface)) {
    client.subcompositor = static_cast<wl_subcompositor*>(bind(wl_subcompositor_interface, FirstVersion));
  } else if (is(wl_shm_interface)) {
    client.shm = static_cast<wl_shm*>(bind(wl_shm_interface, FirstVersion));
  } else if (is(wp_viewporter_interface)) {
    client.viewporter = static_cast<wp_viewporter*>(bind(wp_viewporter_interface, FirstVersion));
  } else if (is(xdg_wm_base_interface)) {
    client.shell = static_cast<xdg_wm_base*>(bind(xdg_wm_base_interface, FirstVersion));
    xdg_wm_base_add_listener(client.shell, &ShellListener, &session);
  } else if (is(wl_output_interface) && version >= OutputVersion) {
    auto output = std::make_unique<WaylandOutput>();
    output->name = name;
    output->output = static_cast<wl_output*>(bind(wl_output_interface, OutputVersion));
    wl_output_add_listener(output->output, &OutputListener, output.get());
    client.outputs.push_back(std::move(output));
  } else if (is(wl_seat_interface) && version >= SeatVersion) {
    auto seat = std::make_unique<Seat>();
    seat->session = &session;
    seat->name = name;
    seat->seat = static_cast<wl_seat*>(bind(wl_seat_interface, SeatVersion));
    wl_seat_add_listener(seat->seat, &SeatListener, seat.get());
    session.seats_.push_back(std::move(seat));
  }
}

// Outputs and seats come and go with monitors and devices; the other globals stay for as long
// as the compositor runs.
void WaylandSession::GlobalRemove(void* data, wl_registry* /*registry*/, std::uint32_t name) {
  auto& session = *static_cast<WaylandSession*>(data);
  std::erase_if(session.client_.outputs, [name](const std::unique_ptr<WaylandOutput>& output) {
    if (output->name != name) return false;
    wl_output_release(output->output);
    return true;
  });
  std::erase_if(session.seats_, [name](const std::unique_ptr<Seat>& seat) {
    if (seat->name != name) return false;
    Release(*seat);
    return true;
  });
}

void WaylandSession::Release(Seat& seat) {
  if (seat.pointer != nullptr) wl_pointer_release(seat.pointer);
  seat.pointer = nullptr;
  // A seat of version 3 has no request to release it; forgetting it here is all there is to do.
  wl_seat_destroy(seat.seat);
}

void WaylandSession::Capabilities(void* data, wl_seat* /*seat*/, std::uint32_t capabilities) {
  auto& seat = *static_cast<Seat*>(data);
  const bool hasPointer = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
  if (hasPointer && seat.pointer == nullptr) {
    seat.pointer = wl_seat_get_pointer(seat.seat);
    wl_pointer_add_listener(seat.pointer, &PointerListener, seat.session);
  } else if (!hasPointer && seat.pointer != nullptr) {
    wl_pointer_release(seat.pointer);
    seat.pointer = nullptr;
  }
}

// Over the show, the pointer is hidden.
void WaylandSession::PointerEnter(void* /*data*/, wl_pointer* pointer, std::uint32_t serial, wl_surface* /*surface*/,
                                  wl_fixed_t /*x*/, wl_fixed_t /*y*/) {
  wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
}

void WaylandSession::PointerButton(void* data, wl_pointer* /*pointer*/, std::uint32_t /*serial*/,
                                   std::uint32_t /*time*/, std::uint32_t button, std::uint32_t state) {
  if (button != BTN_LEFT) return;
  auto& session = *static_cast<WaylandSession*>(data);
  session.held_ = state == WL_POINTER_BUTTON_STATE_PRESSED;
  session.changed_ = true;
}

void WaylandSession::OutputMode(void* data, wl_output* /*output*/, std::uint32_t flags, std::int32_t width,
                                std::int32_t height, std::int32_t /*refresh*/) {
  if ((flags & WL_OUTPUT_MODE_CURRENT) == 0) return;
  auto& output = *static_cast<WaylandOutput*>(data);
  output.modeWidth = width;
  output.modeHeight = height;
}

std::int16_t WaylandSession::LeftButtonState() {
  client_.Dispatch(WaylandClient::Wait::No);
  const std::uint16_t value = (held_ ? ButtonDownNow : 0) | (changed_ ? PressedSinceLastQuery : 0);
  changed_ = false;
  return static_cast<std::int16_t>(value);
}

} // namespace

void WaylandClient::Dispatch(Wait wait) {
  // Events already read are handled first; waiting is only for new ones.
  int handled = 0;
  while (wl_display_prepare_read(display) != 0) {
    const int count = wl_display_dispatch_pending(display);
    if (count < 0) EndForLostDisplay();
    handled += count;
  }
  Flush();
  pollfd readable{wl_display_get_fd(display), POLLIN, 0};
  if (poll(&readable, 1, wait == Wait::ForEvents && handled == 0 ? -1 : 0) > 0) {
    if (wl_display_read_events(display) < 0) EndForLostDisplay();
  } else {
    wl_display_cancel_read(display);
  }
  if (wl_display_dispatch_pending(display) < 0) EndForLostDisplay();
}

void WaylandClient::Flush() {
  // A full socket keeps the rest for the next flush; any other failure means the compositor is gone.
  if (wl_display_flush(display) < 0 && errno != EAGAIN) EndForLostDisplay();
}

const WaylandOutput* WaylandClient::Output(std::uint32_t name) const {
  const auto found = std::find_if(outputs.begin(), outputs.end(), [name](const std::unique_ptr<WaylandOutput>& output) {
    return output->name == name;
  });
  return found != outputs.end() ? found->get() : nullptr;
}

std::unique_ptr<Session> ConnectWayland() {
  // Without either variable the client library would try a default socket name: only a session
  // that names its compositor is a Wayland session.
  const char* socket = std::getenv("WAYLAND_SOCKET");
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (socket == nullptr && name == nullptr) return nullptr;
  // A name relative to a runtime folder that is not set cannot be reached, and the client library
  // would say so on standard error, where a failed start must leave only its own line.
  if (socket == nullptr && name[0] != '/' && std::getenv("XDG_RUNTIME_DIR") == nullptr) return nullptr;
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return nullptr;
  auto session = std::make_unique<WaylandSession>(display);
  if (!session->BindGlobals()) return nullptr;
  return session;
}

} // namespace desktop
