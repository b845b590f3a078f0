// X servers for whole-process tests: private Xvfb and Xephyr servers, a host's window on them, and their windows awaited.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "processes.h"
#include "support/files.h"
#include "support/process.h"

// Xlib's connection to a display; only the support code talks to X directly. The name is Xlib's
// own, declared here so that the tests need not take in Xlib's macros.
struct _XDisplay; // NOLINT(bugprone-reserved-identifier)

namespace e2e {

// The program's two windows, as name patterns for WaitForWindow.
inline const std::string ShowWindow = "^Pyrovane$";
inline const std::string SettingsWindow = "^Pyrovane ScreenSaver Configuration$";

// A rectangle of the screen, in pixels from its top left corner.
struct Rect {
  int x;
  int y;
  int width;
  int height;
  bool Contains(int column, int row) const { return column >= x && column < x + width && row >= y && row < y + height; }
};

// A private Xvfb server with one screen of the given size at 24 bits, on a display number that
// the server chooses itself, so tests running side by side do not collide. It runs with
// -noreset: otherwise the server resets whenever its last client leaves, losing state such as the
// pointer position between two tool runs. Tests start one with START_X_SERVER.
class XvfbServer {
public:
  // Whether the server offers X shared memory, as a local server does, or not, as a remote one.
  enum class SharedMemory { Offered, NotOffered };
  XvfbServer(int width, int height, SharedMemory sharedMemory = SharedMemory::Offered);
  // Xvfb can neither add nor change RandR monitors. This is a nested Xephyr server inside `host`
  // instead, whose one screen joins two Xinerama heads of `headWidth` × `headHeight` side by side,
  // as a desktop with two monitors has them.
  struct TwoHeads {
    const XvfbServer& host;
    int headWidth;
    int headHeight;
  };
  explicit XvfbServer(const TwoHeads& heads);
  // A screen of 8 bits a pixel whose colours go through a palette (a PseudoColor default visual),
  // with no true-colour visual deeper than 8 bits.
  struct PseudoColour {
    int width;
    int height;
  };
  explicit XvfbServer(const PseudoColour& screen);
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  bool Started() const { return !display_.empty(); }
  // What the server printed, or that it could not be run, to tell why it did not start.
  std::string Log() const;
  // The whole screen, for counting what a screenshot holds.
  Rect Screen() const { return {0, 0, width_, height_}; }
  // The DISPLAY value, such as ":12".
  const std::string& Display() const { return display_; }
  // An environment whose display is this server.
  support::EnvironmentChanges Environment() const { return {{"DISPLAY", display_}}; }
  // Runs `xdotool` with these arguments on this display; true when it succeeded.
  bool Xdotool(const std::vector<std::string>& arguments) const;
  // Ends the server at once, as a crash or the end of a session does; true once it has ended.
  bool Kill();
  // Changes the screen's size through RandR, as a monitor that is unplugged or set to another
  // mode does; true once the screen has the new size.
  bool ResizeScreen(int width, int height);
  // Where the window of this name lies, while there is exactly one.
  std::optional<Rect> WindowGeometry(const std::string& name) const;

private:
  void Start(std::vector<std::string> command, const support::EnvironmentChanges& environment);

  std::optional<support::ChildProcess> server_;
  support::TemporaryDirectory directory_;
  std::string program_;
  std::string display_;
  int width_;
  int height_;
};

// The reason to skip whole-process tests on this machine (Xvfb is not installed), or empty.
// The other tools they use (xdotool, ImageMagick's import, xmessage) come with the same
// bootstrap: a test that misses one fails, and says which.
std::string XvfbMissing();

// A server of this size for the calling test: declares `name`, an XvfbServer made with the
// arguments that follow (a width and a height, perhaps XvfbServer::SharedMemory::NotOffered, or
// XvfbServer::TwoHeads or XvfbServer::PseudoColour), skips the test where Xvfb is missing, and fails it with the server's
// log where the server does not start.
#define START_X_SERVER(name, ...)                                                                                      \
  SKIP_IF_MISSING(e2e::XvfbMissing());                                                                                 \
  e2e::XvfbServer name(__VA_ARGS__);                                                                                   \
  ASSERT_TRUE(name.Started()) << name.Log()

// Waits until a visible window whose name matches the pattern is on the server's screen; false
// if none is within PatienceLimit.
bool WaitForWindow(const XvfbServer& server, const std::string& name);
// Waits until no window whose name matches the pattern is left on the server's screen.
bool WaitForNoWindow(const XvfbServer& server, const std::string& name);

// What a screen-saver host makes for its saver: a window on the server, here over the test's
// own X connection, which keeps it alive until the object is destroyed. It is mapped at once
// and painted in HostWindow::Background, so that a screenshot shows where nothing has drawn.
class HostWindow {
public:
  // ForDrawingWithAlpha: 32 bits a pixel, the top byte alpha, as compositing hosts may make it.
  enum class Kind { ForDrawing, ForDrawingWithAlpha, ForInputOnly };
  static constexpr std::uint32_t Background = 0x336699;

  HostWindow(const XvfbServer& server, Rect rect, Kind kind = Kind::ForDrawing);
  ~HostWindow();
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  bool Created() const { return id_ != 0; }
  std::uint32_t Id() const { return id_; }
  std::string DecimalId() const;
  std::string HexadecimalId() const; // "0x" and upper-case digits, as xscreensaver writes it
  // Where the window lies on the screen.
  Rect Placement() const { return rect_; }

  // Changes the window's size, keeping its top left corner; true once the server has done it.
  bool Resize(int width, int height);
  // Destroys the window, so that its id names nothing.
  void Destroy();
  // Whether the window still exists, mapped, with the size it was given last.
  bool Intact();
  // Whether every pixel of the window is opaque (alpha 255), for a window with alpha.
  bool Opaque();
  // The ids of the windows on the server's screen that are mapped directly under the root.
  std::vector<std::uint32_t> VisibleTopLevelWindows();

private:
  ::_XDisplay* display_ = nullptr;
  std::uint32_t id_ = 0;
  Rect rect_;
};

} // namespace e2e
