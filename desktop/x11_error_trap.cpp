// The trap for the X errors the session expects: requests whose failure it asks about, and a window that its owner destroyed.
#include "x11.h"

namespace desktop {

X11ErrorTrap* X11ErrorTrap::current_ = nullptr;

X11ErrorTrap::X11ErrorTrap(Display* display) : previous_(XSetErrorHandler(OnError)), display_(display) {
  current_ = this;
}

X11ErrorTrap::~X11ErrorTrap() {
  XSetErrorHandler(previous_);
  current_ = nullptr;
}

bool X11ErrorTrap::Succeeds(void (*request)(void*), void* data) {
  trapping_ = true;
  trapped_ = false;
  request(data);
  XSync(display_, False);
  trapping_ = false;
  return !trapped_;
}

// Every error that the trap does not expect goes where it went before.
int X11ErrorTrap::OnError(Display* display, XErrorEvent* event) {
  X11ErrorTrap* trap = current_;
  if (trap != nullptr && trap->trapping_ && display == trap->display_) {
    trap->trapped_ = true;
    return 0;
  }
  if (trap != nullptr && trap->window_ != None && event->resourceid == trap->window_ &&
      (event->error_code == BadWindow || event->error_code == BadDrawable)) {
    trap->windowGone_ = true;
    return 0;
  }
  const XErrorHandler previous = trap != nullptr ? trap->previous_ : nullptr;
  return previous != nullptr ? previous(display, event) : 0;
}

} // namespace desktop
