// The desktop board: an SDL2 window (or a host's window) that shows finished frames through X images or SDL's renderer.
#include "desktop/desktop.h"
#include "frame_scaler.h"
#include "host_window.h"
#include "x11_output.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace desktop {

namespace {

// Drivers behind which a person sees the window. SDL would otherwise fall back quietly to its
// invisible offscreen or dummy drivers when there is no display. Wayland is tried only in a
// Wayland session: elsewhere its client library prints complaints on standard error, where a
// failed start must leave one line.
const char* VisibleVideoDrivers() {
  return std::getenv("WAYLAND_DISPLAY") != nullptr || std::getenv("WAYLAND_SOCKET") != nullptr ? "x11,wayland" : "x11";
}

bool IsVisibleDriver(const char* driver) {
  return driver != nullptr && (std::strcmp(driver, "x11") == 0 || std::strcmp(driver, "wayland") == 0);
}

// Whether the display renders through a GPU. On X this is told by the extensions of direct
// rendering (and NVIDIA's own GLX); servers without them, such as Xvfb or a VNC server, leave
// OpenGL to a software rasterizer, on which SDL's renderer costs milliseconds of processor time
// per frame. Wayland compositors render through a GPU.
bool HasDirectRendering(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE) {
    return false;
  }
#if defined(SDL_VIDEO_DRIVER_X11)
  if (info.subsystem == SDL_SYSWM_X11) {
    for (const char* extension : {"DRI3", "DRI2", "NV-GLX"}) {
      int opcode = 0;
      int firstEvent = 0;
      int firstError = 0;
      if (XQueryExtension(info.info.x11.display, extension, &opcode, &firstEvent, &firstError)) {
        return true;
      }
    }
    return false;
  }
#endif
  return info.subsystem == SDL_SYSWM_WAYLAND;
}

// The board's own window: borderless, covering the first display in the desktop's own mode
// (no mode switch).
SDL_Window* CreateDesktopWindow() {
  SDL_DisplayMode desktop;
  if (SDL_GetDesktopDisplayMode(0, &desktop) != 0) {
    return nullptr;
  }
  return SDL_CreateWindow("Pyrovane", SDL_WINDOWPOS_UNDEFINED_DISPLAY(0), SDL_WINDOWPOS_UNDEFINED_DISPLAY(0), desktop.w,
                          desktop.h, SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS);
}

// The host's window named in the environment, when it names one that can be drawn in; null
// when the variable is not set. A value that names no such window is reported in one line and
// then treated as absent. The id means something only to an X server, so under any other
// video driver it names nothing either.
SDL_Window* CreateHostWindow() {
  const char* value = std::getenv(HostWindowVariable);
  if (value == nullptr) {
    return nullptr;
  }
  const std::optional<std::uint32_t> id = ParseWindowId(value);
  const char* driver = SDL_GetCurrentVideoDriver();
  if (id && driver != nullptr && std::strcmp(driver, "x11") == 0 && IsDrawableWindow(*id)) {
    SDL_Window* window = SDL_CreateWindowFrom(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(*id)));
    if (window != nullptr) {
      return window;
    }
  }
  std::fprintf(stderr, "%s is not a window to draw in; the show opens a window of its own\n", HostWindowVariable);
  return nullptr;
}

// SDL asks for no events on a window it did not make, so it would never learn that the host
// resized it. Asking for structure changes (and exposures, after which the whole picture is
// sent again) on SDL's own connection lets SDL's event loop follow the window as it follows
// its own. Button presses are not asked for: a host that takes them holds them exclusively.
void FollowHostWindow(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) {
    return;
  }
  XWindowAttributes attributes;
  if (XGetWindowAttributes(info.info.x11.display, info.info.x11.window, &attributes) == 0) {
    return;
  }
  XSelectInput(info.info.x11.display, info.info.x11.window,
               attributes.your_event_mask | StructureNotifyMask | ExposureMask);
  XFlush(info.info.x11.display);
#else
  (void)window;
#endif
}

// The X window behind an SDL window, or None under another video driver.
std::uint32_t X11WindowOf(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window, &info) == SDL_TRUE && info.subsystem == SDL_SYSWM_X11) {
    return static_cast<std::uint32_t>(info.info.x11.window);
  }
#else
  (void)window;
#endif
  return 0;
}

class SdlBoard final : public DesktopBoard {
public:
  explicit SdlBoard(PresentPath path) : requestedPath_(path) {}
  ~SdlBoard() override { Close(); }

  bool QueryHardware() override;
  bool Open() override;
  void Present(const glide::FrameView& frame) override;
  void Close() override;
  bool DrawsInHostWindow() const override { return inHostWindow_; }
  bool HostWindowGone() const override { return inHostWindow_ && output_ != nullptr && output_->WindowGone(); }

private:
  bool OpenRenderer();
  bool OpenX11Images();
  void PresentThroughRenderer(const glide::FrameView& frame);

  PresentPath requestedPath_;
  bool videoReady_ = false;
  SDL_Window* window_ = nullptr;
  bool inHostWindow_ = false;
  // The renderer path.
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  bool rendererWaitsForRetrace_ = false;
  // Our own connection to the X server: it puts the frames in the window on the X images
  // path, and on every path notices when a host's window goes.
  std::unique_ptr<X11Output> output_;
  FramePacer pacer_;
};

bool SdlBoard::QueryHardware() {
  if (videoReady_) {
    return true;
  }
  // SIGTERM and SIGINT must end the process as they end any program; SDL would turn them into a
  // quit event that nothing reads.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // SDL_VIDEODRIVER in the environment takes precedence over this hint, so a user or a test can
  // still name a driver on purpose.
  SDL_SetHint(SDL_HINT_VIDEODRIVER, VisibleVideoDrivers());
  // A screen saver must not keep the monitor from powering down.
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  // Without this SDL drops a click that comes just after the window gains focus.
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  // The show goes on when another window takes the focus: only the left button ends it.
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    return false;
  }
  if (!IsVisibleDriver(SDL_GetCurrentVideoDriver())) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  if (std::strcmp(SDL_GetCurrentVideoDriver(), "x11") == 0) {
    EndProcessWhenDisplayIsLost();
  }
  videoReady_ = true;
  return true;
}

bool SdlBoard::Open() {
  if (window_ != nullptr) {
    return true;
  }
  if (!QueryHardware()) {
    return false;
  }
  window_ = CreateHostWindow();
  inHostWindow_ = window_ != nullptr;
  if (!inHostWindow_) {
    window_ = CreateDesktopWindow();
    if (window_ == nullptr) {
      return false;
    }
    // The pointer is hidden over our own window only; a host's window keeps what the host set.
    SDL_ShowCursor(SDL_DISABLE);
  }

  bool opened = false;
  switch (requestedPath_) {
  case PresentPath::Renderer: opened = OpenRenderer(); break;
  case PresentPath::X11Images: opened = OpenX11Images(); break;
  case PresentPath::Automatic:
    // With a GPU the renderer scales almost for free; without one, X images and our scaler,
    // which redraws only what changed, cost a small fraction of what the renderer does on a
    // software rasterizer (see bench/show_cpu.sh). A window whose pixels are in another layout
    // than the frame's, or a display that is not X, takes the renderer, which converts.
    opened = HasDirectRendering(window_) ? OpenRenderer() : (OpenX11Images() || OpenRenderer());
    break;
  }
  if (!opened) {
    Close();
    return false;
  }
  return true;
}

bool SdlBoard::OpenRenderer() {
  // Smooth scaling of the texture.
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
  renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_PRESENTVSYNC);
  if (renderer_ == nullptr) {
    renderer_ = SDL_CreateRenderer(window_, -1, 0);
  }
  if (renderer_ == nullptr) {
    return false;
  }
  // With vsync the renderer's present waits for the retrace (SDL imitates one where the display
  // has none); without it the board paces itself.
  SDL_RendererInfo info;
  rendererWaitsForRetrace_ =
      SDL_GetRendererInfo(renderer_, &info) == 0 && (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
  texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, glide::ScreenWidth,
                               glide::ScreenHeight);
  if (texture_ == nullptr) {
    SDL_DestroyRenderer(renderer_);
    renderer_ = nullptr;
    return false;
  }
  if (inHostWindow_) {
    FollowHostWindow(window_);
  }
  // On X, a connection of our own watches for the end of the display and of a host's window.
  if (const std::uint32_t x11Window = X11WindowOf(window_); x11Window != 0) {
    output_ = X11Output::Open(x11Window, X11Drawing::WatchOnly);
  }
  return true;
}

bool SdlBoard::OpenX11Images() {
  const std::uint32_t x11Window = X11WindowOf(window_);
  if (x11Window == 0) {
    return false;
  }
  output_ = X11Output::Open(x11Window, X11Drawing::Images);
  return output_ != nullptr;
}

void SdlBoard::Present(const glide::FrameView& frame) {
  if (window_ == nullptr) {
    return;
  }
  // Keep SDL's event queue short: only mouse buttons matter (the button query takes them).
  SDL_PumpEvents();
  SDL_FlushEvents(SDL_FIRSTEVENT, SDL_MOUSEMOTION);
  SDL_FlushEvents(SDL_MOUSEWHEEL, SDL_LASTEVENT);
  if (output_ != nullptr) {
    output_->ReadEvents();
  }
  if (HostWindowGone()) {
    return;
  }
  if (renderer_ != nullptr) {
    PresentThroughRenderer(frame);
  } else {
    output_->Present(frame, pacer_);
  }
}

void SdlBoard::PresentThroughRenderer(const glide::FrameView& frame) {
  SDL_UpdateTexture(texture_, nullptr, frame.pixels, frame.stride * static_cast<int>(sizeof(std::uint32_t)));
  int outputWidth = 0;
  int outputHeight = 0;
  SDL_GetRendererOutputSize(renderer_, &outputWidth, &outputHeight);
  const ScreenRect picture = PictureRect(outputWidth, outputHeight);
  const SDL_Rect destination{picture.x, picture.y, picture.width, picture.height};
  SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
  SDL_RenderClear(renderer_);
  SDL_RenderCopy(renderer_, texture_, nullptr, &destination);
  if (!rendererWaitsForRetrace_) {
    pacer_.WaitForNextFrame();
  }
  SDL_RenderPresent(renderer_);
}

void SdlBoard::Close() {
  if (texture_ != nullptr) {
    SDL_DestroyTexture(texture_);
    texture_ = nullptr;
  }
  if (renderer_ != nullptr) {
    SDL_DestroyRenderer(renderer_);
    renderer_ = nullptr;
  }
  if (window_ != nullptr) {
    // SDL leaves a window it did not make on the screen.
    SDL_DestroyWindow(window_);
    window_ = nullptr;
  }
  if (videoReady_) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    videoReady_ = false;
  }
  // Our connection goes after SDL's: a host's window that is gone may still draw errors on
  // SDL's connection until it closes, and only ours tells them apart from real ones.
  output_.reset();
  inHostWindow_ = false;
}

} // namespace

std::unique_ptr<DesktopBoard> MakeDesktopBoard(PresentPath path) { return std::make_unique<SdlBoard>(path); }

} // namespace desktop
