// SDL's renderer presenter: the frame as a texture that the GPU scales into every area of the show's X window.
#include "x11.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace desktop {

namespace {

// The fewest bits a pixel that SDL's renderer draws in: 15 (5 each of red, green and blue).
constexpr int LeastTrueColourDepth = 15;

class SdlRenderer final : public Presenter {
public:
  SdlRenderer(SDL_Window* window, SDL_Renderer* renderer, SDL_Texture* texture, const X11Target& target);
  ~SdlRenderer() override;

  // The areas are read from the target at every present.
  void Relayout() override {}
  bool WaitsForRetrace() const override { return waitsForRetrace_; }
  void Present(const glide::FrameView& frame) override;

private:
  SDL_Window* window_;
  SDL_Renderer* renderer_;
  SDL_Texture* texture_;
  const X11Target& target_;
  bool waitsForRetrace_;
};

SdlRenderer::SdlRenderer(SDL_Window* window, SDL_Renderer* renderer, SDL_Texture* texture, const X11Target& target)
    : window_(window), renderer_(renderer), texture_(texture), target_(target) {
  // With vsync the renderer's present waits for the retrace (SDL imitates one where the display
  // has none); without it the board paces the frames.
  SDL_RendererInfo info;
  waitsForRetrace_ = SDL_GetRendererInfo(renderer_, &info) == 0 && (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
}

SdlRenderer::~SdlRenderer() {
  SDL_DestroyTexture(texture_);
  SDL_DestroyRenderer(renderer_);
  // SDL leaves a window it did not make on the screen.
  SDL_DestroyWindow(window_);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

void SdlRenderer::Present(const glide::FrameView& frame) {
  // SDL's event loop follows the window's size; the input is the session's business.
  SDL_PumpEvents();
  SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  SDL_UpdateTexture(texture_, nullptr, frame.pixels, frame.stride * static_cast<int>(sizeof(std::uint32_t)));
  SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
  SDL_RenderClear(renderer_);
  for (const ScreenRect& area : target_.layout.areas) {
    const ScreenRect picture = PictureRect(area.width, area.height);
    const SDL_Rect destination{area.x + picture.x, area.y + picture.y, picture.width, picture.height};
    SDL_RenderCopy(renderer_, texture_, nullptr, &destination);
  }
  SDL_RenderPresent(renderer_);
}

// SDL asks for no events on a window it did not make, so it would never learn that the window
// was resized, and would go on drawing with the old size. Asking for structure changes on SDL's
// own connection lets SDL's event loop follow the window as it follows its own.
void FollowWindowSize(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) {
    return;
  }
  XWindowAttributes attributes;
  if (XGetWindowAttributes(info.info.x11.display, info.info.x11.window, &attributes) != 0) {
    XSelectInput(info.info.x11.display, info.info.x11.window, attributes.your_event_mask | StructureNotifyMask);
    XFlush(info.info.x11.display);
  }
}

} // namespace

std::unique_ptr<Presenter> MakeSdlRenderer(const X11Target& window) {
  // SDL renders in true colour only: in a window of a colour-mapped visual, such as an 8-bit
  // screen's, its pictures stay black while it spends a core converting them.
  if (window.visual->c_class != TrueColor || window.depth < LeastTrueColourDepth) {
    return nullptr;
  }
  // SIGTERM and SIGINT must end the process as they end any program; SDL would turn them into a
  // quit event that nothing reads.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // The window is an X window, whatever driver the environment names.
  SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "x11", SDL_HINT_OVERRIDE);
  // A screen saver must not keep the monitor from powering down.
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
  // SDL's video start-up connects to the session's message bus (for input methods and the
  // screen saver's inhibition, neither of which the show uses). Where no bus is named, the bus
  // library would start one of its own, which outlives the show; an address that names none
  // keeps it from trying.
  setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    return nullptr;
  }
  SDL_Window* sdlWindow = SDL_CreateWindowFrom(reinterpret_cast<const void*>(static_cast<std::uintptr_t>(window.id)));
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  if (sdlWindow != nullptr) {
    // Smooth scaling of the texture.
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    renderer = SDL_CreateRenderer(sdlWindow, -1, SDL_RENDERER_PRESENTVSYNC);
    if (renderer == nullptr) {
      renderer = SDL_CreateRenderer(sdlWindow, -1, 0);
    }
  }
  if (renderer != nullptr) {
    texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, glide::ScreenWidth,
                                glide::ScreenHeight);
  }
  if (texture == nullptr) {
    if (renderer != nullptr) SDL_DestroyRenderer(renderer);
    if (sdlWindow != nullptr) SDL_DestroyWindow(sdlWindow);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  FollowWindowSize(sdlWindow);
  return std::make_unique<SdlRenderer>(sdlWindow, renderer, texture, window);
}

} // namespace desktop
