// The X images presenter: a picture for each monitor size, scaled where the frame changed, sent through private shared memory or plain requests.
#include "damage.h"
#include "frame_scaler.h"
#include "x11.h"

#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <memory>
#include <new>
#include <span>
#include <vector>

namespace desktop {

namespace {

// Where a window has 32 bits a pixel, the top byte is alpha: under a compositor, the frame's
// words (alpha 0) would be transparent.
constexpr std::uint32_t Opaque = 0xFF000000;

// How frames reach the X server.
enum class ImageTransport {
  SharedMemory, // a segment only this user can attach, removed with the last of the two that use it
  Requests,     // plain image requests over the connection, where the server shares no memory
};

// The scaled picture of one size, and where in the window each area of that size shows it.
class Picture {
public:
  // A picture of `width` × `height`, 4:3 as BoundedPictureRect gives it. Memory that cannot be had
  // for it throws std::bad_alloc, which ends the show with its line.
  Picture(const X11Target& window, int width, int height);
  ~Picture();
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;

  int Width() const { return scaler_.ScreenWidth(); }
  int Height() const { return scaler_.ScreenHeight(); }
  // The picture rectangle in the window, for each area of this size.
  std::vector<ScreenRect> placements;

  // Brings the picture up to date with `frame`; returns the rectangles that changed.
  std::span<const ScreenRect> Update(const glide::FrameView& frame);
  // Sends `rect` of the picture (in picture coordinates) to every area of this size.
  void Put(GC gc, const ScreenRect& rect) const;
  ScreenRect Whole() const { return {0, 0, scaler_.Picture().width, scaler_.Picture().height}; }

private:
  // Puts the picture in a segment of shared memory that the server has attached; false where that
  // cannot be done (a remote server, no segment to be had, no address space left to attach it).
  bool ShareMemory(unsigned width, unsigned height);

  const X11Target& window_;
  FrameScaler scaler_;
  ImageTransport transport_ = ImageTransport::Requests;
  XImage* image_ = nullptr;
  XShmSegmentInfo segment_{};
  std::vector<std::uint32_t> requestPixels_; // the image's pixels when they go by request
};

Picture::Picture(const X11Target& window, int width, int height) : window_(window), scaler_(width, height) {
  const auto pictureWidth = static_cast<unsigned>(width);
  const auto pictureHeight = static_cast<unsigned>(height);
  if (ShareMemory(pictureWidth, pictureHeight)) {
    transport_ = ImageTransport::SharedMemory;
    return;
  }
  // A remote server, or one that cannot attach our memory: the pixels travel in the requests.
  requestPixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
  image_ = XCreateImage(window_.display, window_.visual, static_cast<unsigned>(window_.depth), ZPixmap, 0,
                        reinterpret_cast<char*>(requestPixels_.data()), pictureWidth, pictureHeight, 32, width * 4);
  if (image_ == nullptr) {
    // Xlib fails here only when its own allocation does.
    throw std::bad_alloc();
  }
  // Our words are in this machine's order; Xlib swaps them for a server that wants the other.
  image_->byte_order = LSBFirst;
  XInitImage(image_);
}

bool Picture::ShareMemory(unsigned width, unsigned height) {
  Display* display = window_.display;
  // Shared memory only where the server reads our words as they are.
  if (!XShmQueryExtension(display) || ImageByteOrder(display) != LSBFirst) {
    return false;
  }
  image_ = XShmCreateImage(display, window_.visual, static_cast<unsigned>(window_.depth), ZPixmap, nullptr, &segment_,
                           width, height);
  if (image_ != nullptr && image_->bits_per_pixel == 32) {
    // Only this user may attach the segment, and it is marked for removal before the server
    // attaches it (Linux lets an attached segment be attached again while it lasts): nobody
    // can attach it by its id after the server has, and it goes away with the last of the two
    // however the process ends, even at the moment of the attach.
    segment_.shmid =
        shmget(IPC_PRIVATE, static_cast<std::size_t>(image_->bytes_per_line) * image_->height, IPC_CREAT | 0600);
    void* address = segment_.shmid >= 0 ? shmat(segment_.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
    if (segment_.shmid >= 0) {
      shmctl(segment_.shmid, IPC_RMID, nullptr);
    }
    if (address != reinterpret_cast<void*>(-1)) {
      segment_.shmaddr = image_->data = static_cast<char*>(address);
      segment_.readOnly = True;
      if (window_.errors->Succeeds([&] { XShmAttach(display, &segment_); })) {
        return true;
      }
      shmdt(address);
    }
  }
  if (image_ != nullptr) {
    image_->data = nullptr;
    XDestroyImage(image_);
    image_ = nullptr;
  }
  return false;
}

Picture::~Picture() {
  if (transport_ == ImageTransport::SharedMemory) {
    XShmDetach(window_.display, &segment_);
    XSync(window_.display, False);
    shmdt(segment_.shmaddr);
  }
  // The pixels are ours (the segment or the vector), not Xlib's to free.
  image_->data = nullptr;
  XDestroyImage(image_);
}

std::span<const ScreenRect> Picture::Update(const glide::FrameView& frame) {
  auto* pixels = reinterpret_cast<std::uint32_t*>(image_->data);
  const int stride = image_->bytes_per_line / 4;
  const std::span<const ScreenRect> changed = scaler_.Update(frame, pixels, stride);
  if (window_.depth == 32) {
    for (const ScreenRect& rect : changed) {
      for (int row = rect.y; row < rect.y + rect.height; ++row) {
        std::uint32_t* line = pixels + static_cast<std::ptrdiff_t>(row) * stride;
        for (int column = rect.x; column < rect.x + rect.width; ++column) {
          line[column] |= Opaque;
        }
      }
    }
  }
  return changed;
}

void Picture::Put(GC gc, const ScreenRect& rect) const {
  for (const ScreenRect& placement : placements) {
    const auto width = static_cast<unsigned>(rect.width);
    const auto height = static_cast<unsigned>(rect.height);
    if (transport_ == ImageTransport::SharedMemory) {
      XShmPutImage(window_.display, window_.id, gc, image_, rect.x, rect.y, placement.x + rect.x, placement.y + rect.y,
                   width, height, False);
    } else {
      XPutImage(window_.display, window_.id, gc, image_, rect.x, rect.y, placement.x + rect.x, placement.y + rect.y,
                width, height);
    }
  }
}

class X11Images final : public Presenter {
public:
  explicit X11Images(const X11Target& window);
  ~X11Images() override;

  void Relayout() override;
  void Present(const glide::FrameView& frame) override;

private:
  // Paints black everything of the window that no picture covers.
  void DrawBars();

  const X11Target& window_;
  GC gc_;
  std::vector<std::unique_ptr<Picture>> pictures_;
  bool wholeWindowDue_ = true;
  std::vector<std::vector<ScreenRect>> changed_; // each picture's changes of this frame
  std::vector<ScreenRect> requests_;             // one picture's changes, as they go to the server
};

X11Images::X11Images(const X11Target& window) : window_(window), gc_(XCreateGC(window.display, window.id, 0, nullptr)) {
  XSetForeground(window_.display, gc_, window_.depth == 32 ? Opaque : 0);
  requests_.reserve(FrameScaler::MaxRects);
  Relayout();
}

X11Images::~X11Images() {
  pictures_.clear();
  // A window destroyed before the context was made leaves no context to free: the error that says
  // so is expected.
  window_.errors->Succeeds([&] { XFreeGC(window_.display, gc_); });
}

void X11Images::Relayout() {
  wholeWindowDue_ = true;
  // Pictures of sizes that stay are kept: rescaling them would cost a whole redraw for nothing.
  std::vector<std::unique_ptr<Picture>> previous = std::move(pictures_);
  pictures_.clear();
  const auto ofSize = [](std::vector<std::unique_ptr<Picture>>& pictures, const ScreenRect& size) {
    return std::find_if(pictures.begin(), pictures.end(), [&](const std::unique_ptr<Picture>& picture) {
      return picture != nullptr && picture->Width() == size.width && picture->Height() == size.height;
    });
  };
  for (const ScreenRect& area : window_.layout.areas) {
    // Pictures have a bounded size: a larger area gets the largest one, centred.
    const ScreenRect inArea = BoundedPictureRect(area.width, area.height);
    auto picture = ofSize(pictures_, inArea);
    if (picture == pictures_.end()) {
      const auto kept = ofSize(previous, inArea);
      pictures_.push_back(kept != previous.end() ? std::move(*kept)
                                                 : std::make_unique<Picture>(window_, inArea.width, inArea.height));
      picture = pictures_.end() - 1;
      (*picture)->placements.clear();
    }
    (*picture)->placements.push_back({area.x + inArea.x, area.y + inArea.y, inArea.width, inArea.height});
  }
  changed_.resize(pictures_.size());
  for (auto& changes : changed_) {
    changes.reserve(FrameScaler::MaxRects);
  }
}

void X11Images::Present(const glide::FrameView& frame) {
  for (std::size_t index = 0; index < pictures_.size(); ++index) {
    const std::span<const ScreenRect> changed = pictures_[index]->Update(frame);
    CoalesceRects(changed, changed_[index]);
  }
  if (wholeWindowDue_) {
    // After an exposure or a new layout nothing of the window can be trusted: the bars and every
    // whole picture go out, once.
    DrawBars();
    for (const auto& picture : pictures_) {
      picture->Put(gc_, picture->Whole());
    }
    wholeWindowDue_ = false;
  } else {
    for (std::size_t index = 0; index < pictures_.size(); ++index) {
      for (const ScreenRect& rect : changed_[index]) {
        pictures_[index]->Put(gc_, rect);
      }
    }
  }
  // The server must have read the images before the next frame writes them again; this is also
  // where an error about the window arrives.
  XSync(window_.display, False);
}

void X11Images::DrawBars() {
  Region bars = XCreateRegion();
  XRectangle whole{0, 0, static_cast<unsigned short>(window_.layout.width),
                   static_cast<unsigned short>(window_.layout.height)};
  XUnionRectWithRegion(&whole, bars, bars);
  Region picture = XCreateRegion();
  for (const auto& each : pictures_) {
    for (const ScreenRect& placement : each->placements) {
      XRectangle rect{static_cast<short>(placement.x), static_cast<short>(placement.y),
                      static_cast<unsigned short>(placement.width), static_cast<unsigned short>(placement.height)};
      XUnionRectWithRegion(&rect, picture, picture);
    }
  }
  XSubtractRegion(bars, picture, bars);
  XSetRegion(window_.display, gc_, bars);
  XFillRectangle(window_.display, window_.id, gc_, 0, 0, static_cast<unsigned>(window_.layout.width),
                 static_cast<unsigned>(window_.layout.height));
  XSetClipMask(window_.display, gc_, None);
  XDestroyRegion(picture);
  XDestroyRegion(bars);
}

} // namespace

std::unique_ptr<Presenter> MakeX11Images(const X11Target& window) {
  if (!HasFramePixelLayout(window.visual, window.depth)) {
    return nullptr;
  }
  return std::make_unique<X11Images>(window);
}

} // namespace desktop
