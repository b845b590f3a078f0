// The show's left button on the desktop: the mouse read through SDL2, or the host's window while it lasts.
#include "desktop/desktop.h"

#include <SDL.h>

namespace desktop {

namespace {

constexpr std::uint16_t ButtonDownNow = 0x8000;
constexpr std::uint16_t PressedSinceLastQuery = 0x0001;

// How many button events are taken from the queue at a time.
constexpr int EventBatch = 16;

} // namespace

std::int16_t DesktopButton::LeftButtonState() {
  if (board_.DrawsInHostWindow()) {
    return board_.HostWindowGone() ? PressedSinceLastQuery : 0;
  }
  if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
    return 0;
  }
  SDL_PumpEvents();
  // Take every queued press and release: a press of the left button means it went down since
  // the previous query, however short the click was. Releases are taken too, so that the queue
  // does not keep them.
  std::uint16_t value = 0;
  SDL_Event events[EventBatch];
  int taken = 0;
  while ((taken = SDL_PeepEvents(events, EventBatch, SDL_GETEVENT, SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP)) > 0) {
    for (int index = 0; index < taken; ++index) {
      if (events[index].type == SDL_MOUSEBUTTONDOWN && events[index].button.button == SDL_BUTTON_LEFT) {
        value |= PressedSinceLastQuery;
      }
    }
  }
  // The global state asks the display server, so it sees the button even when another window
  // lies under the pointer or ours has no focus.
  if ((SDL_GetGlobalMouseState(nullptr, nullptr) & SDL_BUTTON_LMASK) != 0) {
    value |= ButtonDownNow;
  }
  return static_cast<std::int16_t>(value);
}

} // namespace desktop
