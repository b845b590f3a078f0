// Reading and checking the host's window id before the desktop board draws in that window.
#include "host_window.h"

#include <X11/Xlib.h>

#include <charconv>

namespace desktop {

namespace {

// An id that names nothing answers with an error; here that only means "no".
int IgnoreError(Display* /*display*/, XErrorEvent* /*error*/) { return 0; }

} // namespace

std::optional<std::uint32_t> ParseWindowId(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  // from_chars takes no sign, prefix or space of its own accord, except a leading minus.
  if (text.empty() || text.front() == '-') {
    return std::nullopt;
  }
  std::uint32_t id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id, base);
  if (error != std::errc{} || end != text.data() + text.size() || id == 0) {
    return std::nullopt;
  }
  return id;
}

bool IsDrawableWindow(std::uint32_t id) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    return false;
  }
  // The handler is process-wide; SDL's own goes back in place before anything else talks to X.
  const XErrorHandler previous = XSetErrorHandler(IgnoreError);
  XWindowAttributes attributes;
  const bool drawable = XGetWindowAttributes(display, id, &attributes) != 0 && attributes.c_class == InputOutput;
  XCloseDisplay(display);
  XSetErrorHandler(previous);
  return drawable;
}

} // namespace desktop
