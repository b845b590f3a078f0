// Our own connection to the X server for the window the show draws in: it follows the window and puts frames there.
#pragma once

#include <cstdint>
#include <memory>

#include "frame_scaler.h"
#include "glide/board.h"

namespace desktop {

// What the connection does besides watching the window.
enum class X11Drawing {
  // Someone else draws (SDL's renderer); the connection only notices when the window goes.
  WatchOnly,
  // The connection puts every frame in the window as an X image, scaled on the processor.
  Images,
};

// How frames reach the X server.
enum class ImageTransport {
  NotDrawing,   // watching only
  SharedMemory, // a segment only this user can attach, removed once the server has attached it
  Requests,     // plain image requests over the connection, where the server shares no memory
};

// From now on the process ends, with one line on standard error and status 255, as soon as any
// connection to the X display is lost: a screen saver must not outlive its display. Call it once
// the toolkit has opened its own connection, which sets a handler of its own.
void EndProcessWhenDisplayIsLost();

// A connection of our own to the display named by DISPLAY, made after SDL has opened its own.
class X11Output {
public:
  // Null when the display cannot be reached, the window cannot be read, or (for images) the
  // window's pixels are not 24-bit true colour in the frame's own layout.
  static std::unique_ptr<X11Output> Open(std::uint32_t window, X11Drawing drawing);
  virtual ~X11Output() = default;

  // Reads what happened to the window since the last call: a new size, an exposure, its end.
  virtual void ReadEvents() = 0;
  // True once the window no longer exists (its owner destroyed it).
  virtual bool WindowGone() const = 0;
  // Brings the window up to date with `frame`: the changed parts of the picture, and the whole
  // window after an exposure or a resize. Waits for `pacer` before anything reaches the screen.
  virtual void Present(const glide::FrameView& frame, FramePacer& pacer) = 0;
  virtual ImageTransport Transport() const = 0;
};

} // namespace desktop
