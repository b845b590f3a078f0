// The X11 side of the desktop: the target the X11 session gives its presenters, the trap for X errors, and the presenters' makers.
#pragma once

#include <X11/Xlib.h>

#include <memory>

#include "geometry.h"
#include "session.h"

namespace desktop {

// Catches the X errors that the session expects. Xlib's error handler is process-wide and takes
// no context, so the one trap alive owns it, and gives the previous handler back when it goes.
class X11ErrorTrap {
public:
  explicit X11ErrorTrap(Display* display);
  ~X11ErrorTrap();
  X11ErrorTrap(const X11ErrorTrap&) = delete;
  X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

  // From now on errors about `window` (on any connection: SDL's has its own) mean that its owner
  // destroyed it: requests already on their way meet a window that no longer exists. They end the
  // show quietly, and are never reported.
  void WatchWindow(Window window) { window_ = window; }
  void NoteWindowGone() { windowGone_ = true; }
  bool WindowGone() const { return windowGone_; }

  // Runs `request` on the trap's connection and waits for the server's answer: false when it
  // answered with an error. Errors meanwhile are noted, never reported.
  template <typename Request>
  bool Succeeds(Request request) {
    return Succeeds([](void* data) { (*static_cast<Request*>(data))(); }, &request);
  }

private:
  bool Succeeds(void (*request)(void*), void* data);
  static int OnError(Display* display, XErrorEvent* event);

  static X11ErrorTrap* current_;
  XErrorHandler previous_;
  Display* display_;
  Window window_ = None;
  bool windowGone_ = false;
  bool trapping_ = false;
  bool trapped_ = false;
};

// What the X11 session gives its presenters: the window the show draws in (its own, over every
// monitor, or the host's), and where in it the pictures go. The session keeps it up to date and
// tells the presenter when the layout changed.
struct X11Target {
  Display* display = nullptr; // the session's connection
  Window id = None;
  Visual* visual = nullptr;
  int depth = 0;
  WindowLayout layout;
  X11ErrorTrap* errors = nullptr;
};

// Whether the frame's 0x00RRGGBB words can be put in a window of this visual as they are (with
// the top byte set to opaque where the window has 32 bits).
bool HasFramePixelLayout(const Visual* visual, int depth);

// X images, scaled on the processor: one picture for each distinct size of the layout's areas,
// sent through shared memory that only this user can attach, or in plain requests. Null when the
// window's pixels are not in the frame's layout.
std::unique_ptr<Presenter> MakeX11Images(const X11Target& target);

// SDL's renderer in the window (which SDL takes as a window it did not make); null when SDL
// cannot render there.
std::unique_ptr<Presenter> MakeSdlRenderer(const X11Target& target);

} // namespace desktop
