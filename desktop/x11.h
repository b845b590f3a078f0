// The X11 side of the desktop: what the X11 session shares with the two presenters that draw in its window.
#pragma once

#include <X11/Xlib.h>

#include <memory>

#include "session.h"

namespace desktop {

// The window the show draws in on X11: the show's own, over every monitor, or the host's.
struct X11Window {
  Display* display = nullptr; // the session's connection
  Window id = None;
  Visual* visual = nullptr;
  int depth = 0;
};

// Runs `request` on the session's connection and waits for the server's answer: false when it
// answered with an error. Errors meanwhile are noted, never reported.
bool SucceedsOnX11(Display* display, void (*request)(Display*, void*), void* data);
template <typename Request>
bool SucceedsOnX11(Display* display, Request request) {
  return SucceedsOnX11(
      display, [](Display*, void* data) { (*static_cast<Request*>(data))(); }, &request);
}

// Whether the frame's 0x00RRGGBB words can be put in a window of this visual as they are (with
// the top byte set to opaque where the window has 32 bits).
bool HasFramePixelLayout(const Visual* visual, int depth);

// X images, scaled on the processor: one picture for each distinct size of the layout's areas,
// sent through shared memory that only this user can attach, or in plain requests. Null when the
// window's pixels are not in the frame's layout.
std::unique_ptr<Presenter> MakeX11Images(const X11Window& window, const WindowLayout& layout);

// SDL's renderer in the window (which SDL takes as a window it did not make); null when SDL
// cannot render there.
std::unique_ptr<Presenter> MakeSdlRenderer(const X11Window& window, const WindowLayout& layout);

} // namespace desktop
