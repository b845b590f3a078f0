// The Wayland presenter: the frame's pictures in shared-memory buffers, a few for each output in turn, with only what changed copied and damaged.
#include "wayland.h"

#include <wayland-client.h>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "damage.h"
#include "frame_scaler.h"

namespace desktop {

namespace {

// Buffers each target's pictures go through in turn: one the compositor shows, one it may still
// read, one to fill. While the compositor holds all of them, that target skips frames.
constexpr int BuffersPerTarget = 3;

// One target's buffers, and what the compositor shows of them.
class TargetBuffers {
public:
  TargetBuffers(wl_shm* shm, WaylandTarget& target);
  ~TargetBuffers();
  TargetBuffers(const TargetBuffers&) = delete;
  TargetBuffers& operator=(const TargetBuffers&) = delete;

  bool Created() const { return memory_.Mapped(); }
  // Whether these buffers suit the target as it is laid out now.
  bool Fit(const WaylandTarget& target) const {
    return target.id == id_ && target.bufferWidth == width_ && target.bufferHeight == height_ &&
           target.frameArea == frameArea_;
  }
  void Follow(WaylandTarget& target) { target_ = &target; }
  // Configured, the compositor has shown the last picture given to it, and a buffer is free.
  bool Ready() const;
  // Brings the target's picture up to frame `number`, the last in `history`.
  void Show(const glide::FrameView& frame, const DamageHistory& history, std::uint64_t number);

private:
  struct Buffer {
    wl_buffer* buffer = nullptr;
    std::uint32_t* pixels = nullptr;
    std::uint64_t frame = 0; // the frame it holds; 0: none, so that it is filled whole
    bool held = false;       // by the compositor, from its commit until the compositor releases it
    std::optional<FrameScaler> scaler;
  };

  static const wl_callback_listener FrameListener;
  static const wl_buffer_listener BufferListener;

  WaylandTarget* target_;
  std::uint64_t id_;
  int width_;
  int height_;
  ScreenRect frameArea_;
  desktop::SharedMemory memory_;
  std::array<Buffer, BuffersPerTarget> buffers_;
  wl_callback* frameCallback_ = nullptr; // until the compositor has shown the last picture
  std::uint64_t shown_ = 0;              // the frame committed last; 0: none
  // Scratch space of Show, kept so that nothing is allocated per frame.
  glide::FrameDamage changedSinceShown_{};
  glide::FrameDamage changedSinceFilled_{};
  std::vector<ScreenRect> runs_;
  std::vector<ScreenRect> rects_;
};

const wl_callback_listener TargetBuffers::FrameListener{
    .done =
        [](void* data, wl_callback* callback, std::uint32_t) {
          auto& buffers = *static_cast<TargetBuffers*>(data);
          wl_callback_destroy(callback);
          buffers.frameCallback_ = nullptr;
        },
};

const wl_buffer_listener TargetBuffers::BufferListener{
    .release = [](void* data, wl_buffer*) { static_cast<Buffer*>(data)->held = false; },
};

std::size_t BufferBytes(const WaylandTarget& target) {
  return static_cast<std::size_t>(target.bufferWidth) * static_cast<std::size_t>(target.bufferHeight) *
         sizeof(std::uint32_t);
}

TargetBuffers::TargetBuffers(wl_shm* shm, WaylandTarget& target)
    : target_(&target), id_(target.id), width_(target.bufferWidth), height_(target.bufferHeight),
      frameArea_(target.frameArea), memory_(shm, BufferBytes(target) * BuffersPerTarget) {
  if (!memory_.Mapped()) return;
  for (std::size_t index = 0; index < buffers_.size(); ++index) {
    Buffer& buffer = buffers_[index];
    buffer.buffer = memory_.MakeBuffer(BufferBytes(target) * index, width_, height_);
    buffer.pixels = memory_.Pixels(BufferBytes(target) * index);
    buffer.scaler.emplace(frameArea_.width, frameArea_.height);
    wl_buffer_add_listener(buffer.buffer, &BufferListener, &buffer);
  }
}

TargetBuffers::~TargetBuffers() {
  if (frameCallback_ != nullptr) wl_callback_destroy(frameCallback_);
  for (const Buffer& buffer : buffers_) {
    if (buffer.buffer != nullptr) wl_buffer_destroy(buffer.buffer);
  }
}

bool TargetBuffers::Ready() const {
  return target_->configured && frameCallback_ == nullptr &&
         std::any_of(buffers_.begin(), buffers_.end(), [](const Buffer& buffer) { return !buffer.held; });
}

void TargetBuffers::Show(const glide::FrameView& frame, const DamageHistory& history, std::uint64_t number) {
  // The compositor is told only what differs from the picture it shows.
  const bool first = shown_ == 0;
  if (!first && !history.ChangedSince(shown_, changedSinceShown_)) {
    shown_ = number;
    return;
  }
  // The free buffer filled last misses the fewest tiles; its scaler (which copies where the buffer
  // holds the frame itself) brings it up to date from what changed since it was filled.
  Buffer* buffer = nullptr;
  for (Buffer& candidate : buffers_) {
    if (!candidate.held && (buffer == nullptr || candidate.frame > buffer->frame)) buffer = &candidate;
  }
  glide::FrameView sinceFilled = frame;
  history.ChangedSince(buffer->frame, changedSinceFilled_);
  sinceFilled.damage = &changedSinceFilled_;
  const ScreenRect picture = buffer->scaler->Picture();
  const ScreenRect origin{frameArea_.x + picture.x, frameArea_.y + picture.y, picture.width, picture.height};
  buffer->scaler->Update(sinceFilled, buffer->pixels + static_cast<std::ptrdiff_t>(origin.y) * width_ + origin.x,
                         width_);

  // What the compositor must take again, in buffer coordinates: the whole buffer, bars and all, at
  // first; then what the tiles changed since the shown picture reach. That is all that differs
  // from the picture the compositor holds, which may be another buffer's than the one filled here.
  if (first) {
    rects_.assign(1, {0, 0, width_, height_});
  } else {
    TileRuns(changedSinceShown_, runs_);
    for (ScreenRect& run : runs_) {
      run = buffer->scaler->ReachOf(run);
      run.x += origin.x;
      run.y += origin.y;
    }
    std::erase_if(runs_, [](const ScreenRect& rect) { return rect.width == 0 || rect.height == 0; });
    CoalesceRects(runs_, rects_);
  }
  wl_surface* surface = target_->surface;
  wl_surface_attach(surface, buffer->buffer, 0, 0);
  for (const ScreenRect& rect : rects_) wl_surface_damage_buffer(surface, rect.x, rect.y, rect.width, rect.height);
  frameCallback_ = wl_surface_frame(surface);
  wl_callback_add_listener(frameCallback_, &FrameListener, this);
  wl_surface_commit(surface);
  buffer->held = true;
  buffer->frame = number;
  shown_ = number;
}

class WaylandBuffers final : public Presenter {
public:
  explicit WaylandBuffers(WaylandTargets& targets) : targets_(targets) { Relayout(); }

  void Relayout() override;
  bool Ready() const override {
    return std::any_of(buffers_.begin(), buffers_.end(), [](const auto& buffers) { return buffers->Ready(); });
  }
  void Present(const glide::FrameView& frame) override;

private:
  WaylandTargets& targets_;
  std::vector<std::unique_ptr<TargetBuffers>> buffers_;
  DamageHistory history_;
  std::uint64_t frames_ = 0;
};

void WaylandBuffers::Relayout() {
  // Buffers that still fit their target are kept, with what the compositor shows of them.
  std::vector<std::unique_ptr<TargetBuffers>> previous = std::move(buffers_);
  buffers_.clear();
  for (WaylandTarget* target : targets_.Targets()) {
    if (!target->configured) continue;
    const auto kept = std::find_if(previous.begin(), previous.end(),
                                   [&](const auto& buffers) { return buffers != nullptr && buffers->Fit(*target); });
    if (kept != previous.end()) {
      (*kept)->Follow(*target);
      buffers_.push_back(std::move(*kept));
      continue;
    }
    auto made = std::make_unique<TargetBuffers>(targets_.SharedMemory(), *target);
    if (made->Created()) buffers_.push_back(std::move(made));
  }
}

void WaylandBuffers::Present(const glide::FrameView& frame) {
  history_.Record(++frames_, frame.damage);
  for (const std::unique_ptr<TargetBuffers>& buffers : buffers_) {
    if (buffers->Ready()) buffers->Show(frame, history_, frames_);
  }
  targets_.Flush();
}

} // namespace

std::unique_ptr<Presenter> MakeWaylandBuffers(WaylandTargets& targets) {
  return std::make_unique<WaylandBuffers>(targets);
}

} // namespace desktop
