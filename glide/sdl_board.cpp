// The SDL2 board: shows finished frames full screen on the user's desktop, or in a host's window.
#include "glide/frame_scaler.h"
#include "glide/glide.h"
#include "glide/host_window.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

namespace glide {

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

// Frames are 0x00RRGGBB words, which is what SDL calls RGB888 (and ARGB8888 with the top byte
// ignored); a window surface in any other layout would need a conversion per pixel.
bool IsFramePixelFormat(Uint32 format) {
  return format == SDL_PIXELFORMAT_RGB888 || format == SDL_PIXELFORMAT_ARGB8888;
}

class SdlBoard final : public DesktopBoard {
public:
  explicit SdlBoard(PresentPath path) : requestedPath_(path) {}
  ~SdlBoard() override { Close(); }

  bool QueryHardware() override;
  bool Open() override;
  void Present(const FrameView& frame) override;
  void Close() override;
  bool DrawsInHostWindow() const override { return inHostWindow_; }

private:
  bool OpenRenderer();
  bool OpenWindowSurface();
  void PresentThroughRenderer(const FrameView& frame);
  void PresentThroughWindowSurface(const FrameView& frame);
  void WaitForPresentTime() { std::this_thread::sleep_until(pacer_.NextPresentTime(FramePacer::Clock::now())); }

  PresentPath requestedPath_;
  bool videoReady_ = false;
  SDL_Window* window_ = nullptr;
  bool inHostWindow_ = false;
  // The renderer path.
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  bool rendererWaitsForRetrace_ = false;
  // The window-surface path: the scaler for the surface's current size, and whether the whole
  // surface (bars included) must go to the screen at the next present.
  std::optional<FrameScaler> scaler_;
  const void* scaledPixels_ = nullptr; // the surface memory that the scaler is writing
  bool wholeSurfaceDue_ = true;
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
  case PresentPath::Renderer:
    opened = OpenRenderer();
    break;
  case PresentPath::WindowSurface:
    opened = OpenWindowSurface();
    break;
  case PresentPath::Automatic:
    // With a GPU the renderer scales almost for free; without one, the window surface and our
    // scaler cost a small fraction of what the renderer does on a software rasterizer (see
    // bench/present_cost.sh). A window surface in a layout other than the frame's would need a
    // conversion per pixel: the renderer takes any layout.
    opened = HasDirectRendering(window_) ? OpenRenderer() : (OpenWindowSurface() || OpenRenderer());
    break;
  }
  if (!opened) {
    Close();
    return false;
  }
  if (inHostWindow_) {
    FollowHostWindow(window_);
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
  rendererWaitsForRetrace_ = SDL_GetRendererInfo(renderer_, &info) == 0 && (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
  texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, ScreenWidth, ScreenHeight);
  if (texture_ == nullptr) {
    SDL_DestroyRenderer(renderer_);
    renderer_ = nullptr;
    return false;
  }
  return true;
}

bool SdlBoard::OpenWindowSurface() {
  // Without this SDL backs the window surface with its GL renderer, which on a software
  // rasterizer costs milliseconds a frame; with it SDL uses X shared memory. SDL reads it when
  // the window surface is first made.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_Surface* surface = SDL_GetWindowSurface(window_);
  if (surface == nullptr || !IsFramePixelFormat(surface->format->format)) {
    return false;
  }
  wholeSurfaceDue_ = true;
  return true;
}

void SdlBoard::Present(const FrameView& frame) {
  if (window_ == nullptr) {
    return;
  }
  // Keep the event queue short: only mouse buttons matter (the button query takes them).
  // Any window event (exposure, resize, focus) is a reason to send the whole surface again.
  SDL_PumpEvents();
  if (SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_WINDOWEVENT, SDL_WINDOWEVENT) > 0) {
    wholeSurfaceDue_ = true;
  }
  SDL_FlushEvents(SDL_FIRSTEVENT, SDL_MOUSEMOTION);
  SDL_FlushEvents(SDL_MOUSEWHEEL, SDL_LASTEVENT);

  if (renderer_ != nullptr) {
    PresentThroughRenderer(frame);
  } else {
    PresentThroughWindowSurface(frame);
  }
}

void SdlBoard::PresentThroughRenderer(const FrameView& frame) {
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
    WaitForPresentTime();
  }
  SDL_RenderPresent(renderer_);
}

void SdlBoard::PresentThroughWindowSurface(const FrameView& frame) {
  // The surface follows the window's size; SDL makes a new one after a resize. The scaler
  // keeps track of what it lit on the surface, so a new surface gets a new scaler, and both
  // start black.
  SDL_Surface* surface = SDL_GetWindowSurface(window_);
  if (surface == nullptr) {
    return;
  }
  if (!scaler_ || surface->pixels != scaledPixels_ || scaler_->ScreenWidth() != surface->w ||
      scaler_->ScreenHeight() != surface->h) {
    SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
    scaler_.emplace(surface->w, surface->h);
    scaledPixels_ = surface->pixels;
    wholeSurfaceDue_ = true;
  }
  if (SDL_MUSTLOCK(surface)) {
    SDL_LockSurface(surface);
  }
  const ScreenRect changed = scaler_->Scale(frame, static_cast<std::uint32_t*>(surface->pixels),
                                            surface->pitch / static_cast<int>(sizeof(std::uint32_t)));
  if (SDL_MUSTLOCK(surface)) {
    SDL_UnlockSurface(surface);
  }
  WaitForPresentTime();
  if (wholeSurfaceDue_) {
    SDL_UpdateWindowSurface(window_);
    wholeSurfaceDue_ = false;
  } else if (changed.width > 0) {
    // The bars and the unchanged (mostly black) rest of the picture are on the screen already.
    const SDL_Rect rect{changed.x, changed.y, changed.width, changed.height};
    SDL_UpdateWindowSurfaceRects(window_, &rect, 1);
  }
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
  inHostWindow_ = false;
  scaler_.reset();
  scaledPixels_ = nullptr;
  if (videoReady_) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    videoReady_ = false;
  }
}

} // namespace

std::unique_ptr<DesktopBoard> MakeSdlBoard(PresentPath path) { return std::make_unique<SdlBoard>(path); }

} // namespace glide
