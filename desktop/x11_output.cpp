// The X11 frame path: a private shared-memory image (or plain image requests), changed rectangles only, and the end of the display.
#include "x11_output.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace desktop {

namespace {

// Xlib's error handlers are process-wide and take no context, so what they learn is kept here.
// There is one output at a time.
struct ErrorState {
  XErrorHandler previous = nullptr;
  Display* display = nullptr;  // our own connection, while an output is open
  unsigned long window = None; // the window drawn in
  bool windowGone = false;     // an error said that it no longer exists
  bool trapping = false;       // errors on our connection are expected and only noted
  bool trapped = false;
};
ErrorState errors;

// Errors about the window once its owner has destroyed it are expected: requests already on
// their way meet a window that no longer exists, on our connection and on SDL's. They mean the
// show is over, not that it failed. Every other error goes where it went before.
int OnError(Display* display, XErrorEvent* event) {
  if (errors.trapping && display == errors.display) {
    errors.trapped = true;
    return 0;
  }
  if (errors.window != None && event->resourceid == errors.window &&
      (event->error_code == BadWindow || event->error_code == BadDrawable)) {
    errors.windowGone = true;
    return 0;
  }
  return errors.previous != nullptr ? errors.previous(display, event) : 0;
}

// A lost connection cannot be recovered, and Xlib forbids returning from here. The process
// ends at once: there is nothing left to give back to a display that is gone, and the shared
// memory was marked for removal as soon as the server attached it.
int OnConnectionLost(Display* /*display*/) {
  std::fputs("main: lost the connection to the display\n", stderr);
  std::_Exit(255);
}

// Runs `request` on `display` and waits for the server's answer; false when it answered with an error.
template <typename Request>
bool Succeeds(Display* display, Request request) {
  errors.trapping = true;
  errors.trapped = false;
  request();
  XSync(display, False);
  errors.trapping = false;
  return !errors.trapped;
}

// Whether the frame's 0x00RRGGBB words can be put in the window as they are. SDL makes its own
// windows with a direct-colour visual where there is one, and gives them a linear colour map.
bool HasFramePixelLayout(const XWindowAttributes& attributes) {
  const Visual* visual = attributes.visual;
  return (attributes.depth == 24 || attributes.depth == 32) &&
         (visual->c_class == TrueColor || visual->c_class == DirectColor) && visual->red_mask == 0xFF0000 &&
         visual->green_mask == 0x00FF00 && visual->blue_mask == 0x0000FF;
}

class X11Connection final : public X11Output {
public:
  X11Connection(Display* display, Window window, X11Drawing drawing, const XWindowAttributes& attributes);
  ~X11Connection() override;

  void ReadEvents() override;
  bool WindowGone() const override { return errors.windowGone; }
  void Present(const glide::FrameView& frame, FramePacer& pacer) override;
  ImageTransport Transport() const override { return transport_; }

private:
  // The image of the picture rectangle for the window's current size, black.
  void MakeImage();
  void ReleaseImage();
  void Put(const ScreenRect& rect);
  void DrawBars();

  Display* display_;
  Window window_;
  X11Drawing drawing_;
  Visual* visual_;
  int depth_;
  int width_;
  int height_;
  bool resized_ = false;
  bool wholeWindowDue_ = true;
  GC gc_ = nullptr;
  ImageTransport transport_ = ImageTransport::NotDrawing;
  XImage* image_ = nullptr;
  XShmSegmentInfo segment_{};
  std::vector<std::uint32_t> requestPixels_; // the image's pixels when they go by request
  std::unique_ptr<FrameScaler> scaler_;
  std::vector<ScreenRect> requests_; // the rectangles of one frame, as they go to the server
};

X11Connection::X11Connection(Display* display, Window window, X11Drawing drawing, const XWindowAttributes& attributes)
    : display_(display), window_(window), drawing_(drawing), visual_(attributes.visual), depth_(attributes.depth),
      width_(attributes.width), height_(attributes.height) {
  requests_.reserve(FrameScaler::MaxRects);
  if (drawing_ == X11Drawing::Images) {
    gc_ = XCreateGC(display_, window_, 0, nullptr);
    XSetForeground(display_, gc_, 0);
    MakeImage();
  }
}

X11Connection::~X11Connection() {
  ReleaseImage();
  if (gc_ != nullptr) {
    XFreeGC(display_, gc_);
  }
  errors.display = nullptr;
  errors.window = None;
  XCloseDisplay(display_);
}

void X11Connection::MakeImage() {
  scaler_ = std::make_unique<FrameScaler>(width_, height_);
  const ScreenRect picture = scaler_->Picture();
  // Shared memory only where the server reads our words as they are.
  if (XShmQueryExtension(display_) && ImageByteOrder(display_) == LSBFirst) {
    image_ = XShmCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, nullptr, &segment_,
                             static_cast<unsigned>(picture.width), static_cast<unsigned>(picture.height));
    if (image_ != nullptr && image_->bits_per_pixel == 32) {
      // Only this user may attach the segment. It is marked for removal as soon as the server
      // has attached it (or failed to), so nobody can attach it after that, and it goes away
      // with the last of the two however the process ends.
      segment_.shmid =
          shmget(IPC_PRIVATE, static_cast<std::size_t>(image_->bytes_per_line) * image_->height, IPC_CREAT | 0600);
      void* address = segment_.shmid >= 0 ? shmat(segment_.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
      if (address != reinterpret_cast<void*>(-1)) {
        segment_.shmaddr = image_->data = static_cast<char*>(address);
        segment_.readOnly = True;
        const bool attached = Succeeds(display_, [&] { XShmAttach(display_, &segment_); });
        shmctl(segment_.shmid, IPC_RMID, nullptr);
        if (attached) {
          transport_ = ImageTransport::SharedMemory;
          return;
        }
        shmdt(address);
      } else if (segment_.shmid >= 0) {
        shmctl(segment_.shmid, IPC_RMID, nullptr);
      }
    }
    if (image_ != nullptr) {
      image_->data = nullptr;
      XDestroyImage(image_);
      image_ = nullptr;
    }
  }
  // A remote server, or one that cannot attach our memory: the pixels travel in the requests.
  requestPixels_.assign(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height), 0);
  image_ = XCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0,
                        reinterpret_cast<char*>(requestPixels_.data()), static_cast<unsigned>(picture.width),
                        static_cast<unsigned>(picture.height), 32, picture.width * 4);
  // Our words are in this machine's order; Xlib swaps them for a server that wants the other.
  image_->byte_order = LSBFirst;
  XInitImage(image_);
  transport_ = ImageTransport::Requests;
}

void X11Connection::ReleaseImage() {
  if (image_ == nullptr) {
    return;
  }
  if (transport_ == ImageTransport::SharedMemory) {
    XShmDetach(display_, &segment_);
    XSync(display_, False);
    shmdt(segment_.shmaddr);
  }
  // The pixels are ours (the segment or the vector), not Xlib's to free.
  image_->data = nullptr;
  XDestroyImage(image_);
  image_ = nullptr;
  transport_ = ImageTransport::NotDrawing;
}

void X11Connection::ReadEvents() {
  // XPending also sends what is queued and reads what the server sent; a lost connection ends
  // the process here.
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    switch (event.type) {
    case ConfigureNotify:
      if (event.xconfigure.window == window_ &&
          (event.xconfigure.width != width_ || event.xconfigure.height != height_)) {
        width_ = event.xconfigure.width;
        height_ = event.xconfigure.height;
        resized_ = true;
      }
      break;
    case Expose: wholeWindowDue_ = true; break;
    case DestroyNotify:
      if (event.xdestroywindow.window == window_) {
        errors.windowGone = true;
      }
      break;
    default: break;
    }
  }
}

void X11Connection::Present(const glide::FrameView& frame, FramePacer& pacer) {
  if (drawing_ != X11Drawing::Images || WindowGone()) {
    return;
  }
  if (resized_) {
    ReleaseImage();
    MakeImage();
    resized_ = false;
    wholeWindowDue_ = true;
  }
  const ScreenRect picture = scaler_->Picture();
  const int stride = image_->bytes_per_line / 4;
  const std::span<const ScreenRect> changed =
      scaler_->Update(frame, reinterpret_cast<std::uint32_t*>(image_->data), stride);
  pacer.WaitForNextFrame();
  if (wholeWindowDue_) {
    // After an exposure or a resize nothing of the window can be trusted: the bars and the
    // whole picture go out, once.
    DrawBars();
    Put({0, 0, picture.width, picture.height});
    wholeWindowDue_ = false;
  } else if (changed.empty()) {
    return;
  } else {
    CoalesceRects(changed, requests_);
    for (const ScreenRect& rect : requests_) {
      Put(rect);
    }
  }
  // The server must have read the image before the next frame writes it again; this is also
  // where an error about the window arrives.
  XSync(display_, False);
}

void X11Connection::Put(const ScreenRect& rect) {
  const ScreenRect picture = scaler_->Picture();
  if (transport_ == ImageTransport::SharedMemory) {
    XShmPutImage(display_, window_, gc_, image_, rect.x, rect.y, picture.x + rect.x, picture.y + rect.y,
                 static_cast<unsigned>(rect.width), static_cast<unsigned>(rect.height), False);
  } else {
    XPutImage(display_, window_, gc_, image_, rect.x, rect.y, picture.x + rect.x, picture.y + rect.y,
              static_cast<unsigned>(rect.width), static_cast<unsigned>(rect.height));
  }
}

void X11Connection::DrawBars() {
  const ScreenRect picture = scaler_->Picture();
  XRectangle bars[2];
  int count = 0;
  const auto add = [&](int x, int y, int width, int height) {
    if (width > 0 && height > 0) {
      bars[count++] = {static_cast<short>(x), static_cast<short>(y), static_cast<unsigned short>(width),
                       static_cast<unsigned short>(height)};
    }
  };
  if (picture.x > 0 || picture.width < width_) {
    add(0, 0, picture.x, height_);
    add(picture.x + picture.width, 0, width_ - picture.x - picture.width, height_);
  } else {
    add(0, 0, width_, picture.y);
    add(0, picture.y + picture.height, width_, height_ - picture.y - picture.height);
  }
  if (count > 0) {
    XFillRectangles(display_, window_, gc_, bars, count);
  }
}

} // namespace

void EndProcessWhenDisplayIsLost() {
  XSetIOErrorHandler(OnConnectionLost);
  // Writing to a server that has gone must end in the handler for a lost connection, not in a
  // signal that would end the process without its line.
  std::signal(SIGPIPE, SIG_IGN);
}

std::unique_ptr<X11Output> X11Output::Open(std::uint32_t window, X11Drawing drawing) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    return nullptr;
  }
  const XErrorHandler current = XSetErrorHandler(OnError);
  if (current != OnError) {
    errors.previous = current;
  }
  errors.display = display;
  errors.window = window;
  errors.windowGone = false;
  XWindowAttributes attributes;
  // Structure changes tell of resizes and of the window's end, exposures of what must be drawn
  // again. Any number of clients may ask for these on one window.
  const bool readable = Succeeds(display, [&] { XSelectInput(display, window, StructureNotifyMask | ExposureMask); }) &&
                        XGetWindowAttributes(display, window, &attributes) != 0;
  if (!readable || (drawing == X11Drawing::Images && !HasFramePixelLayout(attributes))) {
    errors.display = nullptr;
    errors.window = None;
    XCloseDisplay(display);
    return nullptr;
  }
  return std::make_unique<X11Connection>(display, window, drawing, attributes);
}

} // namespace desktop
