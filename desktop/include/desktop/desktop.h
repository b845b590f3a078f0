// The desktop: the board that shows the show's frames on the user's screen or in a host's window, and the show's button there.
#pragma once

#include <cstdint>
#include <memory>

#include "glide/board.h"
#include "platform/platform.h"

// A toolkit's connection to the X server, as the XCB library names it.
struct xcb_connection_t;

namespace desktop {

// How the desktop board puts a frame on the screen.
enum class PresentPath {
  // Chosen when the display opens, from what it offers: SDL's renderer on an X server with direct
  // (GPU) rendering, otherwise images.
  Automatic,
  // SDL's 2-D renderer on X11: the frame is a texture that the GPU scales to the screen.
  Renderer,
  // Pictures the show fills itself in memory it shares with the server: on X11 X images, scaled
  // on the processor where the frame changed, in shared memory that only this user can attach (or
  // plain requests where the server shares no memory); on Wayland the frame in shared-memory
  // buffers that the compositor scales.
  Images,
};

// A board on the user's desktop, which may draw in a window that a screen-saver host owns.
//
// - Which display: a Wayland compositor named by WAYLAND_DISPLAY or WAYLAND_SOCKET, natively;
//   otherwise the X server named by DISPLAY. A host's window (XSCREENSAVER_WINDOW) means X11.
//   The hardware query succeeds only where one of them answers.
// - What it covers: every monitor (X11: RandR monitors or Xinerama heads, whichever tells more,
//   else the screen) or every Wayland output, each with the 640×480 frame at its 4:3 shape kept
//   (black bars; smooth scaling on X11, the compositor's own on Wayland), at most 60 frames a
//   second, with the pointer hidden. It follows monitors and outputs that come, go or change size.
//   On Wayland each output gets an overlay layer surface where the compositor offers layer shell
//   (it takes the keyboard), and a full-screen toplevel elsewhere; a connection without
//   subsurfaces, a scaler or a seat (a lock screen's) still gets the show.
// - In a host's window: when XSCREENSAVER_WINDOW names an X window (decimal, or hexadecimal
//   after 0x) the board draws in that window as it is and follows its size. A value that names
//   no window it can draw in ends the process with one line on standard error and status 255.
// - Losing the display ends the process with one line on standard error and status 255; the
//   closing of a connection handed over in WAYLAND_SOCKET, which is how such a host ends its
//   saver, ends it with status 0 and nothing printed.
class DesktopBoard : public glide::Board {
public:
  // The left button as DesktopButton describes it; 0 while the board is not open.
  virtual std::int16_t LeftButtonState() = 0;
};

std::unique_ptr<DesktopBoard> MakeDesktopBoard(PresentPath path = PresentPath::Automatic);

// The show's left button on the desktop, in the shape of the old asynchronous key-state query:
// bit 15 set while the button is down, bit 0 when it was pressed since the previous query.
//
// - In the board's own windows it is the real left mouse button. Bit 0 comes from the presses
//   on the show's windows since the previous query, so a click shorter than a frame, which no
//   state query sees, still counts. On X11 bit 15 follows the button's global state, so a button
//   held over another window still counts. On Wayland only what happens on the show's surfaces
//   is seen: a press or a release there sets bit 0 (a press that began over another window
//   belongs to that window, one on the bare desktop is released on the show). Other buttons, the
//   wheel, keys and pointer motion never change the value.
// - In a host's window the host owns the input: it ends the show with SIGTERM when the user
//   comes back, and a click is how a user asks a locked screen for its password prompt, under
//   which the show goes on. There the button reads as never pressed, until the host destroys its
//   window, which ends the show as the host's SIGTERM would: then it reads as pressed.
class DesktopButton final : public platform::ButtonQuery {
public:
  explicit DesktopButton(DesktopBoard& board) : board_(board) {}
  std::int16_t LeftButtonState() override { return board_.LeftButtonState(); }

private:
  DesktopBoard& board_;
};

// Asks an X11 window manager for no decoration on `window` and no function but closing: no
// moving, no resizing. A toolkit's own hints for a frameless window take away only the
// decorations, which still lets most window managers move it by Alt and a drag. These replace
// the toolkit's hints, which it writes when it creates the native window; call this after that
// and before the window is mapped, when the window manager reads them. `connection` is the
// toolkit's own, so the hints reach the server before its request to map the window.
void AskWindowManagerToKeepInPlace(xcb_connection_t* connection, std::uint32_t window);

// Ends the process as the show ends when its display goes away (one line on standard error,
// status 255) if the toolkit's X connection is broken; returns otherwise. A toolkit that finds
// its connection broken would end the process in a way of its own.
void EndProcessIfDisplayLost(xcb_connection_t* connection);

} // namespace desktop
