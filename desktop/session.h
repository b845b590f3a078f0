// The seam inside the desktop board: a session with a display server (windows, outputs, input) and the presenter that puts frames there.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "desktop/desktop.h"
#include "frame_scaler.h"
#include "glide/board.h"
#include "platform/platform.h"

namespace desktop {

// Where the show's pictures go in one window: the window's size, and the areas of it that each
// get the picture, 4:3 kept (one a monitor in the show's own window, or the whole of a host's
// window). Everything else of the window is black.
struct WindowLayout {
  int width = 0;
  int height = 0;
  std::vector<ScreenRect> areas; // in window coordinates, none the same as another
  bool operator==(const WindowLayout&) const = default;
};

// Puts finished frames on the screen: X11 images, SDL's renderer or Wayland buffers. The board
// drives it; it never decides what is shown, only how.
class Presenter {
public:
  virtual ~Presenter() = default;
  // The window's size or its areas changed: from the next present everything is drawn again.
  // Presenters that follow their outputs themselves (Wayland) ignore it.
  virtual void Relayout(const WindowLayout& layout) { (void)layout; }
  // Brings every picture up to date with `frame`. Nothing reaches the screen faster than 60
  // frames a second, nor (where the server says so) when no output would show it.
  virtual void Present(const glide::FrameView& frame) = 0;
};

// One connection to a display server, made when the board's hardware query succeeds, and kept
// until the board closes, so that a socket handed over by the host (WAYLAND_SOCKET) is used once.
class Session {
public:
  virtual ~Session() = default;
  // Makes the show's windows or surfaces (or takes the host's window) and the presenter for them;
  // null when that cannot be done.
  virtual std::unique_ptr<Presenter> Open(PresentPath path) = 0;
  // Reads what the server sent since the last call: new sizes and monitors, input, the end of a
  // host's window. True when the layout changed.
  virtual bool ReadEvents() = 0;
  // The layout of the show's one window (X11 only; Wayland presenters follow their outputs).
  virtual WindowLayout Layout() const { return {}; }
  // The left button as the show's button query reads it (see DesktopButton).
  virtual std::int16_t LeftButtonState() = 0;
  virtual bool DrawsInHostWindow() const { return false; }
  // True once the host has destroyed its window: nothing is drawn after that.
  virtual bool HostWindowGone() const { return false; }
};

// The bits of the old asynchronous key-state query.
inline constexpr std::uint16_t ButtonDownNow = 0x8000;
inline constexpr std::uint16_t PressedSinceLastQuery = 0x0001;

// A session with the X server named by DISPLAY, or null when none can be reached.
std::unique_ptr<Session> ConnectX11();
// A session with the Wayland compositor named by WAYLAND_SOCKET or WAYLAND_DISPLAY, or null when
// none can be reached (or neither variable is set).
std::unique_ptr<Session> ConnectWayland();

// Ends the process with its line when the display has gone away under it: a screen saver must not
// go on without its display, and nothing of the display can be given back.
[[noreturn]] inline void EndForLostDisplay() {
  platform::Fail(nullptr, "%s", "main: lost the connection to the display\n");
}

} // namespace desktop
