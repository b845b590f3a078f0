// A Wayland compositor inside the test's process: it keeps what each of its client's surfaces shows, as a compositor that honours damage keeps it, and notes the rules the client broke.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fake {

// Which of the globals the show may use the compositor offers (the core ones it always does).
struct Offers {
  bool layerShell = true;
  bool toplevels = true;
  bool subcompositor = true;
  bool viewporter = true;
  bool seat = true;
};

struct Size {
  int width;
  int height;
};

// What one surface shows: its buffers' pixels as damage brought them over, and where it lies.
struct SurfaceView {
  int bufferWidth = 0;
  int bufferHeight = 0;
  int bufferScale = 1;
  std::vector<std::uint32_t> pixels; // bufferWidth × bufferHeight, top row first
  bool viewport = false;             // its size is the destination below, not the buffer's
  int destinationWidth = 0;
  int destinationHeight = 0;
  int x = 0; // a subsurface's place in its parent
  int y = 0;
  int commits = 0;           // with a buffer
  int wholeBufferDamage = 0; // commits that damaged the whole buffer
};

// The client's surface on one output, in its role, and the subsurface above it, if any.
struct OutputView {
  Size size;
  std::string role; // "layer", "toplevel", or empty while there is none
  bool fullScreen = false;
  SurfaceView surface;
  std::optional<SurfaceView> picture;
};

class Compositor {
public:
  Compositor(const Offers& offers, const std::vector<Size>& outputs);
  ~Compositor();
  Compositor(const Compositor&) = delete;
  Compositor& operator=(const Compositor&) = delete;

  // The client's end of its connection, to be handed over in WAYLAND_SOCKET; the client owns it.
  int ClientSocket() const { return clientSocket_; }

  void AddOutput(Size size);
  // Takes the output away, as an unplugged monitor goes: its global first, and its surfaces' roles.
  void RemoveOutput(int index);
  // The outputs as they are now, in the order they came.
  std::vector<OutputView> Outputs();
  // What the client did that the protocol or a lock screen forbids, one line each.
  std::vector<std::string> Violations();

  // The pointer enters the client's surface on output `index` and moves over it.
  void PointerOver(int index);
  void Button(std::uint32_t button, bool pressed);
  void Wheel();
  // How often the client asked for no cursor after the pointer moved, and for full screen.
  int HiddenCursorRequests();
  int FullScreenRequests();
  // The toplevel on output `index` loses full screen while it has the focus, as when another
  // full-screen window has come and gone.
  void TakeFullScreenAway(int index);

  struct State;

private:
  std::unique_ptr<State> state_;
  int clientSocket_ = -1;
};

} // namespace fake
