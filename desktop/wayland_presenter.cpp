// The Wayland presenter: a full-screen surface on every output, the frame in shared-memory buffers that the compositor scales.
#include "wayland.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstring>

#include "damage_history.h"
#include "frame_pacer.h"
#include "frame_scaler.h"
#include "request_batching.h"
#include "viewporter-client.h"
#include "xdg-shell-client.h"

namespace desktop {

namespace {

constexpr int FrameWidth = glide::ScreenWidth;
constexpr int FrameHeight = glide::ScreenHeight;
constexpr int BytesPerPixel = 4;
constexpr std::size_t FrameBytes = static_cast<std::size_t>(FrameWidth) * FrameHeight * BytesPerPixel;

// Buffers each output's picture goes through in turn: one the compositor shows, one it may still
// read, one to fill. While the compositor holds all of them, that output skips frames.
constexpr int BuffersPerOutput = 3;

// Memory shared with the compositor: an anonymous file that only this process and the compositor
// it is handed to can reach, mapped here, with a pool of it on the compositor's side.
class SharedMemory {
public:
  SharedMemory(wl_shm* shm, std::size_t bytes) : bytes_(bytes) {
    const int file = memfd_create("pyrovane", MFD_CLOEXEC);
    if (file < 0) return;
    if (ftruncate(file, static_cast<off_t>(bytes)) == 0) {
      void* mapping = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
      if (mapping != MAP_FAILED) {
        address_ = mapping;
        // The request takes a copy of the descriptor, so this one can go at once.
        pool_ = wl_shm_create_pool(shm, file, static_cast<std::int32_t>(bytes));
      }
    }
    close(file);
  }
  // The buffers made from the pool keep the memory on the compositor's side.
  ~SharedMemory() {
    if (pool_ != nullptr) wl_shm_pool_destroy(pool_);
    if (address_ != nullptr) munmap(address_, bytes_);
  }
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  bool Mapped() const { return pool_ != nullptr; }
  // A buffer of `width` × `height` pixels (0x00RRGGBB) at `offset` bytes, and where it lies here.
  wl_buffer* MakeBuffer(std::size_t offset, int width, int height) {
    return wl_shm_pool_create_buffer(pool_, static_cast<std::int32_t>(offset), width, height, width * BytesPerPixel,
                                     WL_SHM_FORMAT_XRGB8888);
  }
  std::uint32_t* Pixels(std::size_t offset) const {
    return reinterpret_cast<std::uint32_t*>(static_cast<char*>(address_) + offset);
  }

private:
  std::size_t bytes_;
  void* address_ = nullptr;
  wl_shm_pool* pool_ = nullptr;
};

// The show on one output: a full-screen toplevel whose own surface is one black pixel scaled to
// the output, so the bars cost nothing per frame, and above it the picture, a subsurface scaled
// to the 4:3 rectangle that gets the frames. The subsurface is desynchronized, so that a frame
// needs one commit, on the picture alone.
class OutputSurface {
public:
  OutputSurface(WaylandClient& client, std::uint32_t outputName, wl_buffer* black);
  ~OutputSurface();
  OutputSurface(const OutputSurface&) = delete;
  OutputSurface& operator=(const OutputSurface&) = delete;

  bool Created() const { return base_ != nullptr; }
  std::uint32_t OutputName() const { return outputName_; }
  // Configured, the compositor has shown the last frame given to it, and a buffer is free.
  bool Ready() const;
  // Brings the picture up to frame `number`, the last in `history`.
  void Show(const glide::FrameView& frame, const DamageHistory& history, std::uint64_t number);

private:
  struct Buffer {
    wl_buffer* buffer = nullptr;
    std::uint32_t* pixels = nullptr;
    std::uint64_t frame = 0; // the frame it holds; 0: none
    bool held = false;       // by the compositor, from its commit until the compositor releases it
  };

  void Configure(std::uint32_t serial);

  static const xdg_surface_listener SurfaceListener;
  static const xdg_toplevel_listener ToplevelListener;
  static const wl_callback_listener FrameListener;
  static const wl_buffer_listener BufferListener;

  WaylandClient& client_;
  std::uint32_t outputName_;
  wl_buffer* black_;
  SharedMemory memory_;
  Buffer buffers_[BuffersPerOutput];
  wl_surface* base_ = nullptr;
  wp_viewport* baseViewport_ = nullptr;
  xdg_surface* shellSurface_ = nullptr;
  xdg_toplevel* toplevel_ = nullptr;
  wl_surface* picture_ = nullptr;
  wp_viewport* pictureViewport_ = nullptr;
  wl_subsurface* subsurface_ = nullptr;
  wl_callback* frameCallback_ = nullptr; // until the compositor has shown the last frame
  bool configured_ = false;
  int width_ = 0; // the size the compositor gave last, 0 when it left it to the client
  int height_ = 0;
  std::uint64_t shown_ = 0; // the frame committed last; 0: none
  // Scratch space of Show, kept so that nothing is allocated per frame.
  glide::FrameDamage tiles_{};
  std::vector<ScreenRect> runs_;
  std::vector<ScreenRect> rects_;
};

const xdg_surface_listener OutputSurface::SurfaceListener{
    .configure = [](void* data, xdg_surface*,
                    std::uint32_t serial) { static_cast<OutputSurface*>(data)->Configure(serial); },
};

const xdg_toplevel_listener OutputSurface::ToplevelListener{
    .configure =
        [](void* data, xdg_toplevel*, std::int32_t width, std::int32_t height, wl_array*) {
          auto& surface = *static_cast<OutputSurface*>(data);
          surface.width_ = width;
          surface.height_ = height;
        },
    // A request to close is not how a screen saver ends: the button and the signals are.
    .close = [](void*, xdg_toplevel*) {},
    // Events of versions above the one bound never come.
    .configure_bounds = nullptr,
    .wm_capabilities = nullptr,
};

const wl_callback_listener OutputSurface::FrameListener{
    .done =
        [](void* data, wl_callback* callback, std::uint32_t) {
          auto& surface = *static_cast<OutputSurface*>(data);
          wl_callback_destroy(callback);
          surface.frameCallback_ = nullptr;
        },
};

const wl_buffer_listener OutputSurface::BufferListener{
    .release = [](void* data, wl_buffer*) { static_cast<Buffer*>(data)->held = false; },
};

OutputSurface::OutputSurface(WaylandClient& client, std::uint32_t outputName, wl_buffer* black)
    : client_(client), outputName_(outputName), black_(black), memory_(client.shm, FrameBytes * BuffersPerOutput) {
  const WaylandOutput* output = client.Output(outputName);
  if (!memory_.Mapped() || output == nullptr) return;
  for (int index = 0; index < BuffersPerOutput; ++index) {
    Buffer& buffer = buffers_[index];
    buffer.buffer = memory_.MakeBuffer(FrameBytes * index, FrameWidth, FrameHeight);
    buffer.pixels = memory_.Pixels(FrameBytes * index);
    wl_buffer_add_listener(buffer.buffer, &BufferListener, &buffer);
  }
  base_ = wl_compositor_create_surface(client.compositor);
  baseViewport_ = wp_viewporter_get_viewport(client.viewporter, base_);
  picture_ = wl_compositor_create_surface(client.compositor);
  pictureViewport_ = wp_viewporter_get_viewport(client.viewporter, picture_);
  subsurface_ = wl_subcompositor_get_subsurface(client.subcompositor, picture_, base_);
  wl_subsurface_set_desync(subsurface_);
  shellSurface_ = xdg_wm_base_get_xdg_surface(client.shell, base_);
  xdg_surface_add_listener(shellSurface_, &SurfaceListener, this);
  toplevel_ = xdg_surface_get_toplevel(shellSurface_);
  xdg_toplevel_add_listener(toplevel_, &ToplevelListener, this);
  xdg_toplevel_set_title(toplevel_, "Pyrovane");
  xdg_toplevel_set_app_id(toplevel_, "pyrovane");
  xdg_toplevel_set_fullscreen(toplevel_, output->output);
  // The first commit, without a buffer, asks the compositor for the first configure.
  wl_surface_commit(base_);
}

OutputSurface::~OutputSurface() {
  if (frameCallback_ != nullptr) wl_callback_destroy(frameCallback_);
  if (base_ != nullptr) {
    xdg_toplevel_destroy(toplevel_);
    xdg_surface_destroy(shellSurface_);
    wl_subsurface_destroy(subsurface_);
    wp_viewport_destroy(pictureViewport_);
    wl_surface_destroy(picture_);
    wp_viewport_destroy(baseViewport_);
    wl_surface_destroy(base_);
  }
  for (const Buffer& buffer : buffers_) {
    if (buffer.buffer != nullptr) wl_buffer_destroy(buffer.buffer);
  }
}

void OutputSurface::Configure(std::uint32_t serial) {
  xdg_surface_ack_configure(shellSurface_, serial);
  int width = width_;
  int height = height_;
  if (width <= 0 || height <= 0) {
    // The size is the client's to choose: the output's, where it is known.
    const WaylandOutput* output = client_.Output(outputName_);
    const bool modeKnown = output != nullptr && output->modeWidth > 0 && output->modeHeight > 0;
    width = modeKnown ? output->modeWidth : FrameWidth;
    height = modeKnown ? output->modeHeight : FrameHeight;
  }
  wl_surface_attach(base_, black_, 0, 0);
  wl_surface_damage_buffer(base_, 0, 0, 1, 1);
  wp_viewport_set_destination(baseViewport_, width, height);
  const ScreenRect picture = PictureRect(width, height);
  wp_viewport_set_destination(pictureViewport_, picture.width, picture.height);
  wl_surface_commit(picture_);
  // The subsurface's place takes effect with its parent's commit.
  wl_subsurface_set_position(subsurface_, picture.x, picture.y);
  wl_surface_commit(base_);
  configured_ = true;
}

bool OutputSurface::Ready() const {
  return configured_ && frameCallback_ == nullptr &&
         std::any_of(std::begin(buffers_), std::end(buffers_), [](const Buffer& buffer) { return !buffer.held; });
}

void OutputSurface::Show(const glide::FrameView& frame, const DamageHistory& history, std::uint64_t number) {
  // The compositor is told only what differs from the frame it shows.
  if (!history.ChangedSince(shown_, tiles_)) {
    shown_ = number;
    return;
  }
  TileRuns(tiles_, runs_);
  CoalesceRects(runs_, rects_);

  // The free buffer filled last misses the fewest tiles.
  Buffer* buffer = nullptr;
  for (Buffer& candidate : buffers_) {
    if (!candidate.held && (buffer == nullptr || candidate.frame > buffer->frame)) buffer = &candidate;
  }
  history.ChangedSince(buffer->frame, tiles_);
  TileRuns(tiles_, runs_);
  for (const ScreenRect& run : runs_) {
    for (int row = run.y; row < run.y + run.height; ++row) {
      std::memcpy(buffer->pixels + static_cast<std::ptrdiff_t>(row) * FrameWidth + run.x,
                  frame.pixels + static_cast<std::ptrdiff_t>(row) * frame.stride + run.x,
                  static_cast<std::size_t>(run.width) * BytesPerPixel);
    }
  }

  wl_surface_attach(picture_, buffer->buffer, 0, 0);
  for (const ScreenRect& rect : rects_) wl_surface_damage_buffer(picture_, rect.x, rect.y, rect.width, rect.height);
  frameCallback_ = wl_surface_frame(picture_);
  wl_callback_add_listener(frameCallback_, &FrameListener, this);
  wl_surface_commit(picture_);
  buffer->held = true;
  buffer->frame = number;
  shown_ = number;
}

class WaylandPresenter final : public Presenter {
public:
  WaylandPresenter(WaylandClient& client, std::unique_ptr<SharedMemory> blackMemory, wl_buffer* black)
      : client_(client), blackMemory_(std::move(blackMemory)), black_(black) {}
  ~WaylandPresenter() override {
    surfaces_.clear();
    wl_buffer_destroy(black_);
  }
  WaylandPresenter(const WaylandPresenter&) = delete;
  WaylandPresenter& operator=(const WaylandPresenter&) = delete;

  void Present(const glide::FrameView& frame) override;

private:
  // Gives every output a surface, and takes away the surfaces of outputs that have gone.
  void FollowOutputs();
  bool AnyReady() const;

  WaylandClient& client_;
  std::unique_ptr<SharedMemory> blackMemory_;
  wl_buffer* black_;
  std::vector<std::unique_ptr<OutputSurface>> surfaces_;
  DamageHistory history_;
  std::uint64_t frames_ = 0;
  FramePacer pacer_;
};

void WaylandPresenter::FollowOutputs() {
  std::erase_if(surfaces_, [this](const std::unique_ptr<OutputSurface>& surface) {
    return client_.Output(surface->OutputName()) == nullptr;
  });
  for (const std::unique_ptr<WaylandOutput>& output : client_.outputs) {
    const bool covered = std::any_of(surfaces_.begin(), surfaces_.end(),
                                     [&](const auto& surface) { return surface->OutputName() == output->name; });
    if (covered) continue;
    auto surface = std::make_unique<OutputSurface>(client_, output->name, black_);
    if (surface->Created()) surfaces_.push_back(std::move(surface));
  }
}

bool WaylandPresenter::AnyReady() const {
  return std::any_of(surfaces_.begin(), surfaces_.end(), [](const auto& surface) { return surface->Ready(); });
}

void WaylandPresenter::Present(const glide::FrameView& frame) {
  history_.Record(++frames_, frame.damage);
  pacer_.WaitForNextFrame();
  // Until some output can take a frame, nothing would be seen: the show waits for one.
  client_.Dispatch(WaylandClient::Wait::No);
  FollowOutputs();
  while (!AnyReady()) {
    client_.Dispatch(WaylandClient::Wait::ForEvents);
    FollowOutputs();
  }
  for (const std::unique_ptr<OutputSurface>& surface : surfaces_) {
    if (surface->Ready()) surface->Show(frame, history_, frames_);
  }
  client_.Flush();
}

} // namespace

std::unique_ptr<Presenter> MakeWaylandPresenter(WaylandClient& client) {
  // One black pixel, which every output's own surface shows scaled to the whole output.
  auto blackMemory = std::make_unique<SharedMemory>(client.shm, BytesPerPixel);
  if (!blackMemory->Mapped()) return nullptr;
  wl_buffer* black = blackMemory->MakeBuffer(0, 1, 1);
  return std::make_unique<WaylandPresenter>(client, std::move(blackMemory), black);
}

} // namespace desktop
