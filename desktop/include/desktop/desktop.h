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
  // Chosen when the display opens: the renderer where the display has direct (GPU) rendering,
  // otherwise X images.
  Automatic,
  // SDL's 2-D renderer: the frame is a texture that the GPU scales to the screen.
  Renderer,
  // X images, scaled on the processor where the frame changed, through shared memory that only
  // this user can attach (or plain requests where the server shares no memory).
  X11Images,
};

// A board on the user's desktop, which may draw in a window that a screen-saver host owns.
class DesktopBoard : public glide::Board {
public:
  // True while the open board draws in the host's window named by XSCREENSAVER_WINDOW.
  virtual bool DrawsInHostWindow() const = 0;
  // True once the host has destroyed the window the board draws in; nothing is drawn after that.
  virtual bool HostWindowGone() const = 0;
};

// A borderless full-screen window on the desktop's current mode with the cursor hidden; or,
// when XSCREENSAVER_WINDOW names an X window that can be drawn in (decimal, or hexadecimal
// after 0x), that window as it is, followed when the host resizes it. A value that names no
// such window gives one line on standard error, and the board opens its own window. The
// 640×480 frame fills the window with its 4:3 shape kept (black bars, smooth scaling), at most
// 60 frames a second. Its hardware query succeeds only on a display a person can see (x11 or
// wayland; an SDL_VIDEODRIVER set in the environment is honoured). On X, losing the display
// ends the process with one line on standard error and status 255.
std::unique_ptr<DesktopBoard> MakeDesktopBoard(PresentPath path = PresentPath::Automatic);

// The show's left button on the desktop, in the shape of the old asynchronous key-state query:
// bit 15 set while the button is down, bit 0 when it was pressed since the previous query.
//
// In the board's own window it is the real left mouse button, read through SDL2 once the
// display is up (before that it reads 0). Bit 15 follows the button's global state, so a button
// held over another window still counts; bit 0 comes from the press events queued since the
// previous query, so a click shorter than a frame, which no state query sees, still counts.
// Keys and pointer motion never change the value.
//
// In a host's window the host owns the input: it ends the show with SIGTERM when the user comes
// back, and a click is how a user asks a locked screen for its password prompt, under which the
// show goes on. There the button reads as never pressed, until the host destroys its window,
// which ends the show as the host's SIGTERM would: then it reads as pressed.
class DesktopButton final : public platform::ButtonQuery {
public:
  explicit DesktopButton(const DesktopBoard& board) : board_(board) {}
  std::int16_t LeftButtonState() override;

private:
  const DesktopBoard& board_;
};

// Asks an X11 window manager for no decoration on `window` and no function but closing: no
// moving, no resizing. A toolkit's own hints for a frameless window take away only the
// decorations, which still lets most window managers move it by Alt and a drag. These replace
// the toolkit's hints, which it writes when it creates the native window; call this after that
// and before the window is mapped, when the window manager reads them. `connection` is the
// toolkit's own, so the hints reach the server before its request to map the window.
void AskWindowManagerToKeepInPlace(xcb_connection_t* connection, std::uint32_t window);

} // namespace desktop
