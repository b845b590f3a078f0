// The Wayland side of the desktop: the targets the Wayland session gives its presenter, the roles an output's surface takes, and the presenter's maker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "geometry.h"
#include "session.h"

struct wl_buffer;
struct wl_output;
struct wl_shm;
struct wl_shm_pool;
struct wl_surface;
struct xdg_wm_base;
struct zwlr_layer_shell_v1;

namespace desktop {

// Memory shared with the compositor: an anonymous file that only this process and the compositor
// it is handed to can reach, mapped here, with a pool of it on the compositor's side. Fresh memory
// is zero: black pixels.
class SharedMemory {
public:
  SharedMemory(wl_shm* shm, std::size_t bytes);
  // The buffers made from the pool keep the memory on the compositor's side.
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  bool Mapped() const { return pool_ != nullptr; }
  // A buffer of `width` × `height` pixels (0x00RRGGBB) at `offset` bytes, and where it lies here.
  wl_buffer* MakeBuffer(std::size_t offset, int width, int height);
  std::uint32_t* Pixels(std::size_t offset) const;

private:
  std::size_t bytes_;
  void* address_ = nullptr;
  wl_shm_pool* pool_ = nullptr;
};

// The show's place on one output, as the presenter fills it: the surface that takes its pictures,
// and the size and layout of the buffers it takes now. The session keeps it up to date and tells
// the presenter when it changed.
struct WaylandTarget {
  std::uint64_t id = 0;          // never the same for two targets of one run
  wl_surface* surface = nullptr; // where pictures are attached and committed
  // The role's first configure has been acknowledged: until then nothing may be committed.
  bool configured = false;
  // The size of the buffers the surface takes, and where in them the frame's picture lies: the
  // frame itself, pixel for pixel, where the compositor scales (black bars around it where the
  // buffer has the output's shape), or a picture scaled to the output where it cannot.
  int bufferWidth = 0;
  int bufferHeight = 0;
  ScreenRect frameArea{0, 0, 0, 0};
};

// What the Wayland session gives its presenter: the compositor's shared memory, a target for every
// output, and the way to send what the presenter asked for.
class WaylandTargets {
public:
  virtual ~WaylandTargets() = default;
  virtual wl_shm* SharedMemory() const = 0;
  // In the order the outputs came; valid until the session next reads events.
  virtual std::span<WaylandTarget* const> Targets() const = 0;
  // Sends the requests made since the last flush, as far as the socket takes them now.
  virtual void Flush() = 0;
};

// What a role tells the surface it gives a place to.
class RoleEvents {
public:
  // The compositor asks for a picture of this size (0 × 0: the client chooses); the serial is
  // acknowledged through the role once the surface is ready for that size.
  virtual void Configure(std::uint32_t serial, int width, int height) = 0;
  // The compositor took the surface away (its output went): it shows nothing any more.
  virtual void Closed() = 0;

protected:
  ~RoleEvents() = default;
};

// A role gives an output's surface its place on the screen and keeps it there.
class WaylandRole {
public:
  virtual ~WaylandRole() = default;
  virtual void AcknowledgeConfigure(std::uint32_t serial) = 0;
};

// An overlay layer surface over all of `output`: above panels, notifications and full-screen
// windows, under no other surface's exclusive zone, taking the keyboard, in no task bar.
std::unique_ptr<WaylandRole> MakeOverlayLayer(zwlr_layer_shell_v1* shell, wl_surface* surface, wl_output* output,
                                              RoleEvents& events);
// A full-screen toplevel on `output`, which asks for full screen again whenever the compositor has
// taken it away and gives the show the focus again.
std::unique_ptr<WaylandRole> MakeFullScreenToplevel(xdg_wm_base* shell, wl_surface* surface, wl_output* output,
                                                    RoleEvents& events);

// The frame in shared-memory buffers, a few for each target in turn, with only what changed copied
// and damaged. Null when the memory cannot be had.
std::unique_ptr<Presenter> MakeWaylandBuffers(WaylandTargets& targets);

} // namespace desktop
