// The Wayland session: the connection to the compositor, its globals and outputs, a surface per output in its role, and the left button on them.
#include "wayland.h"

#include <linux/input-event-codes.h>
#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "viewporter-client.h"
#include "wlr-layer-shell-client.h"
#include "xdg-shell-client.h"

namespace desktop {

namespace {

// The versions bound: the lowest with what the show uses, so that no event comes that it does
// not know. Surfaces need 4 for damage in buffer coordinates, outputs 3 (for their scale and the
// end of each description) and the seats' pointers 3 to be released again; the shells, the scaler
// and the memory need nothing beyond their first version.
constexpr std::uint32_t CompositorVersion = 4;
constexpr std::uint32_t OutputVersion = 3;
constexpr std::uint32_t SeatVersion = 3;
constexpr std::uint32_t FirstVersion = 1;

// The bars are the middle pixel of a black buffer this many pixels on a side, scaled to the
// output: a compositor that filters at the edges of what it scales then still finds black around
// the pixel it stretches, where the buffer's one pixel alone would fade to nothing at the output's
// last row and column.
constexpr int BlackSide = 3;

// A buffer side larger than this is never asked of the compositor: a picture for an output of
// absurd shape or size stays bounded, and the compositor stretches it.
constexpr int LargestBufferSide = 8192;

// The compositor's globals that the show's surfaces and buffers are made with.
struct Globals {
  wl_compositor* compositor = nullptr;
  wl_subcompositor* subcompositor = nullptr;
  wl_shm* shm = nullptr;
  wp_viewporter* viewporter = nullptr;
  xdg_wm_base* toplevels = nullptr;
  zwlr_layer_shell_v1* layers = nullptr;
};

// One of the compositor's outputs, for as long as the compositor offers it.
struct Output {
  std::uint32_t name = 0; // the registry's name for it
  wl_output* output = nullptr;
  // Its current mode in pixels, and its scale; the mode is 0 until the compositor has told it.
  int modeWidth = 0;
  int modeHeight = 0;
  int scale = 1;
  bool described = false; // the compositor has told everything about it once
};

// The size of a buffer that holds the frame pixel for pixel with black bars around it, in the
// shape of a surface of `width` × `height`, so that the compositor scales both together.
WaylandTarget FrameShapedBuffer(int width, int height) {
  const ScreenRect picture = PictureRect(width, height);
  const auto side = [](int surface, int frame, int picture) {
    const long long scaled = (2LL * surface * frame + picture) / (2LL * picture);
    return static_cast<int>(std::clamp<long long>(scaled, frame, LargestBufferSide));
  };
  WaylandTarget target;
  target.bufferWidth = side(width, glide::ScreenWidth, picture.width);
  target.bufferHeight = side(height, glide::ScreenHeight, picture.height);
  target.frameArea = {(target.bufferWidth - glide::ScreenWidth) / 2, (target.bufferHeight - glide::ScreenHeight) / 2,
                      glide::ScreenWidth, glide::ScreenHeight};
  return target;
}

// The show on one output: a surface in the role the compositor offers, and the target the
// presenter fills. Where the compositor can stack and scale surfaces, the role's surface shows one
// black pixel scaled to the whole output, so the bars cost nothing per frame, and above it a
// subsurface scaled to the 4:3 picture takes the frames; it is desynchronized, so that a frame
// needs one commit, on the picture alone. Otherwise the one surface takes the pictures with their
// bars, scaled by the compositor where it can, or by the presenter.
class OutputSurface final : public RoleEvents {
public:
  OutputSurface(const Globals& globals, const Output& output, std::uint64_t id, wl_buffer* black, bool& relayoutDue);
  ~OutputSurface();
  OutputSurface(const OutputSurface&) = delete;
  OutputSurface& operator=(const OutputSurface&) = delete;

  std::uint32_t OutputName() const { return output_.name; }
  bool ClosedByCompositor() const { return closed_; }
  WaylandTarget& Target() { return target_; }

  void Configure(std::uint32_t serial, int width, int height) override;
  void Closed() override {
    closed_ = true;
    relayoutDue_ = true;
  }

private:
  // Lays out the surfaces for a picture of `width` × `height`; false when it cannot be shown there.
  bool Layout(int width, int height);

  const Output& output_;
  wl_buffer* black_;
  bool& relayoutDue_;
  WaylandTarget target_;
  wl_surface* base_;
  wp_viewport* baseViewport_ = nullptr;
  wl_surface* picture_ = nullptr;
  wp_viewport* pictureViewport_ = nullptr;
  wl_subsurface* subsurface_ = nullptr;
  std::unique_ptr<WaylandRole> role_;
  bool closed_ = false;
};

OutputSurface::OutputSurface(const Globals& globals, const Output& output, std::uint64_t id, wl_buffer* black,
                             bool& relayoutDue)
    : output_(output), black_(black), relayoutDue_(relayoutDue),
      base_(wl_compositor_create_surface(globals.compositor)) {
  target_.id = id;
  target_.surface = base_;
  if (globals.viewporter != nullptr) baseViewport_ = wp_viewporter_get_viewport(globals.viewporter, base_);
  role_ = globals.layers != nullptr ? MakeOverlayLayer(globals.layers, base_, output.output, *this)
                                    : MakeFullScreenToplevel(globals.toplevels, base_, output.output, *this);
  // The first commit, without a buffer, asks the compositor for the first configure.
  wl_surface_commit(base_);
  // The picture's subsurface comes after that commit: a compositor may follow only the subsurfaces
  // of a role's surface that it has been told of, which it may be at the first commit (sway 1.7
  // then never redraws an overlay layer's picture).
  if (baseViewport_ != nullptr && globals.subcompositor != nullptr) {
    picture_ = wl_compositor_create_surface(globals.compositor);
    pictureViewport_ = wp_viewporter_get_viewport(globals.viewporter, picture_);
    subsurface_ = wl_subcompositor_get_subsurface(globals.subcompositor, picture_, base_);
    wl_subsurface_set_desync(subsurface_);
    target_.surface = picture_;
  }
}

OutputSurface::~OutputSurface() {
  role_.reset();
  if (subsurface_ != nullptr) {
    wl_subsurface_destroy(subsurface_);
    wp_viewport_destroy(pictureViewport_);
    wl_surface_destroy(picture_);
  }
  if (baseViewport_ != nullptr) wp_viewport_destroy(baseViewport_);
  wl_surface_destroy(base_);
}

void OutputSurface::Configure(std::uint32_t serial, int width, int height) {
  if (width <= 0 || height <= 0) {
    // The size is the client's to choose: the output's, in surface coordinates, where it is known.
    const bool modeKnown = output_.modeWidth > 0 && output_.modeHeight > 0;
    width = modeKnown ? output_.modeWidth / output_.scale : glide::ScreenWidth;
    height = modeKnown ? output_.modeHeight / output_.scale : glide::ScreenHeight;
  }
  role_->AcknowledgeConfigure(serial);
  target_.configured = Layout(width, height);
  relayoutDue_ = true;
}

bool OutputSurface::Layout(int width, int height) {
  if (subsurface_ != nullptr) {
    // The bars, and the picture's place over them, take effect with the base surface's commit;
    // the picture's scale with its own, at once (it is desynchronized).
    wl_surface_attach(base_, black_, 0, 0);
    wl_surface_damage_buffer(base_, 0, 0, BlackSide, BlackSide);
    wp_viewport_set_source(baseViewport_, wl_fixed_from_int(1), wl_fixed_from_int(1), wl_fixed_from_int(1),
                           wl_fixed_from_int(1));
    wp_viewport_set_destination(baseViewport_, width, height);
    const ScreenRect picture = PictureRect(width, height);
    wp_viewport_set_destination(pictureViewport_, picture.width, picture.height);
    wl_surface_commit(picture_);
    wl_subsurface_set_position(subsurface_, picture.x, picture.y);
    wl_surface_commit(base_);
    target_.bufferWidth = glide::ScreenWidth;
    target_.bufferHeight = glide::ScreenHeight;
    target_.frameArea = {0, 0, glide::ScreenWidth, glide::ScreenHeight};
    return true;
  }
  // One surface: its next commit, the presenter's picture, takes the size acknowledged here.
  if (baseViewport_ != nullptr) {
    wp_viewport_set_destination(baseViewport_, width, height);
    const WaylandTarget shaped = FrameShapedBuffer(width, height);
    target_.bufferWidth = shaped.bufferWidth;
    target_.bufferHeight = shaped.bufferHeight;
    target_.frameArea = shaped.frameArea;
    return true;
  }
  // Without a scaler in the compositor, the buffer is the surface's size at the output's scale, and
  // the presenter scales the frame into it.
  int scale = output_.scale;
  while (scale > 1 && std::max(width, height) * scale > LargestBufferSide) --scale;
  if (std::max(width, height) * scale > LargestBufferSide) return false;
  wl_surface_set_buffer_scale(base_, scale);
  target_.bufferWidth = width * scale;
  target_.bufferHeight = height * scale;
  target_.frameArea = PictureRect(target_.bufferWidth, target_.bufferHeight);
  return true;
}

class WaylandSession final : public Session, public WaylandTargets {
public:
  WaylandSession(wl_display* display, bool handedOver) : display_(display), handedOver_(handedOver) {}
  ~WaylandSession() override;
  WaylandSession(const WaylandSession&) = delete;
  WaylandSession& operator=(const WaylandSession&) = delete;

  // Learns the compositor's globals and outputs; false when it lacks one that the show needs.
  bool BindGlobals();

  bool Open() override;
  DisplayTraits Traits() const override { return {WindowSystem::Wayland, false, true}; }
  WaylandTargets* Wayland() override { return this; }
  bool ReadEvents() override;
  void WaitForEvents() override { Dispatch(Wait::ForEvents); }
  std::int16_t LeftButtonState() override;

  wl_shm* SharedMemory() const override { return globals_.shm; }
  std::span<WaylandTarget* const> Targets() const override { return targets_; }
  void Flush() override;

private:
  struct Seat {
    WaylandSession* session = nullptr;
    std::uint32_t name = 0;
    wl_seat* seat = nullptr;
    wl_pointer* pointer = nullptr;
    std::uint32_t enterSerial = 0; // the pointer's last entry into one of the show's surfaces
  };

  enum class Wait { No, ForEvents };
  // Sends what is queued, reads what the compositor has sent and handles it; with Wait::ForEvents,
  // first waits until something comes.
  void Dispatch(Wait wait);
  // The connection failed or was closed.
  [[noreturn]] void EndOfConnection() const;
  // Takes away the surfaces of outputs that went and of roles the compositor closed, and gives every
  // described output a surface.
  void FollowOutputs();

  static void Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                     std::uint32_t version);
  static void GlobalRemove(void* data, wl_registry* registry, std::uint32_t name);
  static void Capabilities(void* data, wl_seat* seat, std::uint32_t capabilities);
  static void PointerButton(void* data, wl_pointer* pointer, std::uint32_t serial, std::uint32_t time,
                            std::uint32_t button, std::uint32_t state);
  static void OutputMode(void* data, wl_output* output, std::uint32_t flags, std::int32_t width, std::int32_t height,
                         std::int32_t refresh);
  static void Release(Seat& seat);

  // Over the show the pointer is hidden: when it enters a surface, and again whenever it moves,
  // since a compositor may put its own cursor back (as when an output is added).
  static void HidePointer(Seat& seat) { wl_pointer_set_cursor(seat.pointer, seat.enterSerial, nullptr, 0, 0); }

  static constexpr wl_registry_listener RegistryListener{.global = Global, .global_remove = GlobalRemove};
  static constexpr wl_seat_listener SeatListener{
      .capabilities = Capabilities,
      .name = [](void*, wl_seat*, const char*) {},
  };
  static constexpr wl_pointer_listener PointerListener{
      .enter =
          [](void* data, wl_pointer*, std::uint32_t serial, wl_surface*, wl_fixed_t, wl_fixed_t) {
            auto& seat = *static_cast<Seat*>(data);
            seat.enterSerial = serial;
            HidePointer(seat);
          },
      .leave = [](void*, wl_pointer*, std::uint32_t, wl_surface*) {},
      .motion = [](void* data, wl_pointer*, std::uint32_t, wl_fixed_t,
                   wl_fixed_t) { HidePointer(*static_cast<Seat*>(data)); },
      .button = PointerButton,
      // The wheel does nothing.
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
      .done = [](void* data, wl_output*) { static_cast<Output*>(data)->described = true; },
      .scale = [](void* data, wl_output*,
                  std::int32_t factor) { static_cast<Output*>(data)->scale = std::max(factor, 1); },
      .name = nullptr,
      .description = nullptr,
  };
  // The compositor asks now and then whether the client still answers.
  static constexpr xdg_wm_base_listener ShellListener{
      .ping = [](void*, xdg_wm_base* shell, std::uint32_t serial) { xdg_wm_base_pong(shell, serial); },
  };

  wl_display* display_;
  // The connection was handed over by the host (WAYLAND_SOCKET), which ends the show by closing it.
  bool handedOver_;
  wl_registry* registry_ = nullptr;
  Globals globals_;
  std::vector<std::unique_ptr<Output>> outputs_;
  std::vector<std::unique_ptr<Seat>> seats_;
  std::vector<std::uint32_t> removedOutputs_; // outputs that went, until their surfaces are taken away
  std::unique_ptr<desktop::SharedMemory> blackMemory_;
  wl_buffer* black_ = nullptr; // black, of which every output's bars show the middle pixel scaled
  std::vector<std::unique_ptr<OutputSurface>> surfaces_;
  std::vector<WaylandTarget*> targets_;
  bool opened_ = false;
  std::uint64_t targetsMade_ = 0;
  bool relayoutDue_ = false;
  // The left button as seen on the show's surfaces: held since a press there, and whether it
  // changed since the last query.
  bool held_ = false;
  bool changed_ = false;
};

WaylandSession::~WaylandSession() {
  surfaces_.clear();
  if (black_ != nullptr) wl_buffer_destroy(black_);
  blackMemory_.reset();
  for (const std::unique_ptr<Seat>& seat : seats_) Release(*seat);
  for (const std::unique_ptr<Output>& output : outputs_) wl_output_release(output->output);
  if (globals_.layers != nullptr) zwlr_layer_shell_v1_destroy(globals_.layers);
  if (globals_.toplevels != nullptr) xdg_wm_base_destroy(globals_.toplevels);
  if (globals_.viewporter != nullptr) wp_viewporter_destroy(globals_.viewporter);
  if (globals_.shm != nullptr) wl_shm_destroy(globals_.shm);
  if (globals_.subcompositor != nullptr) wl_subcompositor_destroy(globals_.subcompositor);
  if (globals_.compositor != nullptr) wl_compositor_destroy(globals_.compositor);
  if (registry_ != nullptr) wl_registry_destroy(registry_);
  wl_display_disconnect(display_);
}

bool WaylandSession::BindGlobals() {
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &RegistryListener, this);
  // The first round trip lists the globals; the second brings what the bound ones tell at once,
  // such as the outputs' modes and the seats' devices.
  return wl_display_roundtrip(display_) >= 0 && wl_display_roundtrip(display_) >= 0 && globals_.compositor != nullptr &&
         globals_.shm != nullptr && (globals_.layers != nullptr || globals_.toplevels != nullptr);
}

void WaylandSession::Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                            std::uint32_t version) {
  auto& session = *static_cast<WaylandSession*>(data);
  Globals& globals = session.globals_;
  const auto is = [interface](const wl_interface& wanted) { return std::strcmp(interface, wanted.name) == 0; };
  const auto bind = [&](const wl_interface& wanted, std::uint32_t bound) {
    return wl_registry_bind(registry, name, &wanted, bound);
  };
  if (is(wl_compositor_interface) && version >= CompositorVersion) {
    globals.compositor = static_cast<wl_compositor*>(bind(wl_compositor_interface, CompositorVersion));
  } else if (is(wl_subcompositor_interface)) {
    globals.subcompositor = static_cast<wl_subcompositor*>(bind(wl_subcompositor_interface, FirstVersion));
  } else if (is(wl_shm_interface)) {
    globals.shm = static_cast<wl_shm*>(bind(wl_shm_interface, FirstVersion));
  } else if (is(wp_viewporter_interface)) {
    globals.viewporter = static_cast<wp_viewporter*>(bind(wp_viewporter_interface, FirstVersion));
  } else if (is(zwlr_layer_shell_v1_interface)) {
    globals.layers = static_cast<zwlr_layer_shell_v1*>(bind(zwlr_layer_shell_v1_interface, FirstVersion));
  } else if (is(xdg_wm_base_interface)) {
    globals.toplevels = static_cast<xdg_wm_base*>(bind(xdg_wm_base_interface, FirstVersion));
    xdg_wm_base_add_listener(globals.toplevels, &ShellListener, &session);
  } else if (is(wl_output_interface) && version >= OutputVersion) {
    auto output = std::make_unique<Output>();
    output->name = name;
    output->output = static_cast<wl_output*>(bind(wl_output_interface, OutputVersion));
    wl_output_add_listener(output->output, &OutputListener, output.get());
    session.outputs_.push_back(std::move(output));
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
// as the compositor runs. An output's surface is taken away with the next events read, before the
// presenter draws again.
void WaylandSession::GlobalRemove(void* data, wl_registry* /*registry*/, std::uint32_t name) {
  auto& session = *static_cast<WaylandSession*>(data);
  const bool isOutput = std::any_of(session.outputs_.begin(), session.outputs_.end(),
                                    [name](const std::unique_ptr<Output>& output) { return output->name == name; });
  if (isOutput) {
    session.removedOutputs_.push_back(name);
    session.relayoutDue_ = true;
  }
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
    wl_pointer_add_listener(seat.pointer, &PointerListener, &seat);
  } else if (!hasPointer && seat.pointer != nullptr) {
    wl_pointer_release(seat.pointer);
    seat.pointer = nullptr;
  }
}

// Only the left button ends the show; the others do nothing.
void WaylandSession::PointerButton(void* data, wl_pointer* /*pointer*/, std::uint32_t /*serial*/,
                                   std::uint32_t /*time*/, std::uint32_t button, std::uint32_t state) {
  if (button != BTN_LEFT) return;
  WaylandSession& session = *static_cast<Seat*>(data)->session;
  session.held_ = state == WL_POINTER_BUTTON_STATE_PRESSED;
  session.changed_ = true;
}

void WaylandSession::OutputMode(void* data, wl_output* /*output*/, std::uint32_t flags, std::int32_t width,
                                std::int32_t height, std::int32_t /*refresh*/) {
  if ((flags & WL_OUTPUT_MODE_CURRENT) == 0) return;
  auto& output = *static_cast<Output*>(data);
  output.modeWidth = width;
  output.modeHeight = height;
}

bool WaylandSession::Open() {
  opened_ = true;
  if (globals_.viewporter != nullptr && globals_.subcompositor != nullptr) {
    blackMemory_ = std::make_unique<desktop::SharedMemory>(globals_.shm, sizeof(std::uint32_t) * BlackSide * BlackSide);
    if (!blackMemory_->Mapped()) return false;
    black_ = blackMemory_->MakeBuffer(0, BlackSide, BlackSide);
  }
  FollowOutputs();
  return true;
}

void WaylandSession::FollowOutputs() {
  const auto gone = [this](std::uint32_t name) {
    return std::find(removedOutputs_.begin(), removedOutputs_.end(), name) != removedOutputs_.end();
  };
  const std::size_t surfaces = surfaces_.size();
  std::erase_if(surfaces_, [&](const std::unique_ptr<OutputSurface>& surface) {
    return surface->ClosedByCompositor() || gone(surface->OutputName());
  });
  std::erase_if(outputs_, [&](const std::unique_ptr<Output>& output) {
    if (!gone(output->name)) return false;
    wl_output_release(output->output);
    return true;
  });
  removedOutputs_.clear();
  bool added = false;
  for (const std::unique_ptr<Output>& output : outputs_) {
    const bool covered = std::any_of(surfaces_.begin(), surfaces_.end(),
                                     [&](const auto& surface) { return surface->OutputName() == output->name; });
    if (opened_ && output->described && !covered) {
      surfaces_.push_back(std::make_unique<OutputSurface>(globals_, *output, ++targetsMade_, black_, relayoutDue_));
      added = true;
    }
  }
  if (added || surfaces_.size() != surfaces) {
    relayoutDue_ = true;
    targets_.clear();
    for (const std::unique_ptr<OutputSurface>& surface : surfaces_) targets_.push_back(&surface->Target());
  }
}

bool WaylandSession::ReadEvents() {
  Dispatch(Wait::No);
  FollowOutputs();
  return std::exchange(relayoutDue_, false);
}

std::int16_t WaylandSession::LeftButtonState() {
  Dispatch(Wait::No);
  const std::uint16_t value = (held_ ? platform::ButtonDownNow : 0) | (changed_ ? platform::PressedSinceLastQuery : 0);
  changed_ = false;
  return static_cast<std::int16_t>(value);
}

void WaylandSession::Dispatch(Wait wait) {
  // Events already read are handled first; waiting is only for new ones.
  int handled = 0;
  while (wl_display_prepare_read(display_) != 0) {
    const int count = wl_display_dispatch_pending(display_);
    if (count < 0) EndOfConnection();
    handled += count;
  }
  Flush();
  pollfd readable{wl_display_get_fd(display_), POLLIN, 0};
  if (poll(&readable, 1, wait == Wait::ForEvents && handled == 0 ? -1 : 0) > 0) {
    if (wl_display_read_events(display_) < 0) EndOfConnection();
  } else {
    wl_display_cancel_read(display_);
  }
  if (wl_display_dispatch_pending(display_) < 0) EndOfConnection();
}

void WaylandSession::Flush() {
  // A full socket keeps the rest for the next flush; any other failure means the compositor is gone.
  if (wl_display_flush(display_) < 0 && errno != EAGAIN) EndOfConnection();
}

void WaylandSession::EndOfConnection() const {
  // A host that handed the show its connection ends the show by closing it, as a normal end. A
  // protocol error is the show's own fault, never a way to end.
  if (handedOver_ && wl_display_get_error(display_) != EPROTO) EndForClosedConnection();
  EndForLostDisplay();
}

} // namespace

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
  auto session = std::make_unique<WaylandSession>(display, socket != nullptr);
  if (!session->BindGlobals()) return nullptr;
  return session;
}

} // namespace desktop
