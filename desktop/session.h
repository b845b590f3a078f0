// The seam inside the desktop board: a session that owns what is on the screen, and presenters that only make pictures in it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "desktop/desktop.h"
#include "glide/board.h"
#include "platform/platform.h"

namespace desktop {

struct X11Target;
class WaylandTargets;

enum class WindowSystem { X11, Wayland };

// What a session tells about its display, for the choice of a presenter.
struct DisplayTraits {
  WindowSystem system = WindowSystem::X11;
  // The server renders through a GPU, so that a renderer scales the frame almost for free.
  bool directRendering = false;
  // The show's pixels can go to the screen in the frame's own layout (0x00RRGGBB words).
  bool framePixelLayout = false;
};

// Makes pictures of the frames in the targets a session gives it: X images, SDL's renderer or
// Wayland buffers. It never decides what is on the screen, only how the pictures get there.
class Presenter {
public:
  virtual ~Presenter() = default;
  // The session laid its targets out anew (a window's size or areas, outputs that came, went or
  // were configured): from the next present everything is drawn again where it changed.
  virtual void Relayout() = 0;
  // Whether some target can take a picture now. A presenter that must wait for the server (a
  // compositor still showing the last picture everywhere) says no, and the board waits for the
  // session's events until it can.
  virtual bool Ready() const { return true; }
  // True when presenting itself waits for the display's retrace, so that the board need not pace.
  virtual bool WaitsForRetrace() const { return false; }
  // Brings every target that can take it up to date with `frame`.
  virtual void Present(const glide::FrameView& frame) = 0;
};

// One connection to a display server, made when the board's hardware query succeeds and kept
// until the board closes, so that a socket handed over by the host (WAYLAND_SOCKET) is used once.
// It owns what the show puts on the screen (its windows, or a surface per output in the role the
// server offers, or a host's window) and the input.
class Session {
public:
  virtual ~Session() = default;
  // Makes the show's windows or surfaces, or takes the host's window; false when that cannot be done.
  virtual bool Open() = 0;
  virtual DisplayTraits Traits() const = 0;
  // The targets for the presenters of each window system; null for the other one.
  virtual const X11Target* X11() const { return nullptr; }
  virtual WaylandTargets* Wayland() { return nullptr; }
  // No presenter can draw in the targets: the session says why and ends the process where it has
  // a line of its own for that; otherwise the board's opening fails.
  virtual void NoPresenter() {}
  // Reads what the server sent since the last call: new sizes, monitors and outputs, input, the end
  // of a host's window. True when the targets were laid out anew.
  virtual bool ReadEvents() = 0;
  // Waits until the server sends something (or, where the session watches something itself, until
  // it is time to look again).
  virtual void WaitForEvents() {}
  // Whether what the show draws can be seen at all: false while the monitor is off, when the board
  // waits for the session's events instead of presenting.
  virtual bool Showing() const { return true; }
  // The left button as the show's button query reads it (see DesktopButton).
  virtual std::int16_t LeftButtonState() = 0;
  // True once the window the show draws in (the host's, or its own) was destroyed by another
  // client: nothing is drawn after that.
  virtual bool WindowGone() const { return false; }
};

// A session with the X server named by DISPLAY, or null when none can be reached.
std::unique_ptr<Session> ConnectX11();
// A session with the Wayland compositor named by WAYLAND_SOCKET or WAYLAND_DISPLAY, or null when
// none can be reached (or neither variable is set).
std::unique_ptr<Session> ConnectWayland();

// The first presenter of the ordered table that suits the session's display (or that takes the
// path asked for) and can be made; null when none can.
std::unique_ptr<Presenter> ChoosePresenter(Session& session, PresentPath path);

// Ends the process with its line when the display has gone away under it: a screen saver must not
// go on without its display, and nothing of the display can be given back.
[[noreturn]] inline void EndForLostDisplay() {
  platform::Fail(nullptr, "%s", "main: lost the connection to the display\n");
}

// Ends the process with its line when there is no memory for a picture of the show, when the
// display opens or as its layout changes: nothing may be allocated on the way out, and the server
// gives back everything of the connection (the windows, the keyboard, the shared memory).
[[noreturn]] inline void EndForLackOfMemory() {
  platform::Fail(nullptr, "%s", "main: out of memory for the picture\n");
}

// Ends the process as a normal end of the show (status 0, nothing printed) when the host that
// handed the show its connection has closed it: that is how such a host ends its saver, and
// nothing of the connection is left to give back.
[[noreturn]] inline void EndForClosedConnection() {
  std::fflush(stdout);
  std::_Exit(0);
}

} // namespace desktop
