// X11 desktops for whole-process tests: a window manager on a private server, and another program's windows beside the show.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"
#include "x_servers.h"

namespace e2e {

// openbox on a private server, as a desktop has its window manager: started after the server and
// before the programs it manages. Tests start one with START_OPENBOX.
class Openbox {
public:
  explicit Openbox(const XvfbServer& server);
  // Whether it runs and manages the screen (it has said so on the root window).
  bool Managing() const { return managing_; }
  // What it printed, to tell why it does not manage the screen.
  std::string Log() const;

private:
  support::TemporaryDirectory directory_;
  std::optional<support::ChildProcess> process_;
  bool managing_ = false;
};

// openbox on `server` for the calling test, declared as `name`; fails the test where it does not
// manage the screen.
#define START_OPENBOX(name, server)                                                                                    \
  e2e::Openbox name(server);                                                                                           \
  ASSERT_TRUE((name).Managing()) << (name).Log()

// Another program on the desktop, over an X connection of its own: a window of its own that has
// the keyboard focus and notes what is typed at it, and what any client may do to others' windows.
class DesktopClient {
public:
  explicit DesktopClient(const XvfbServer& server);
  ~DesktopClient();
  DesktopClient(const DesktopClient&) = delete;
  DesktopClient& operator=(const DesktopClient&) = delete;

  // Opens a top-level window, managed by the window manager, at `rect`, and waits until it has
  // the keyboard focus; false if it never gets it.
  bool OpenFocusedWindow(Rect rect);
  // The text typed at that window so far: the characters of the key presses that reached it.
  std::string Typed();
  // Whether another client holds the keyboard, so that this one cannot take it.
  bool KeyboardHeldElsewhere();

  // The root window's id, as a host names it in XSCREENSAVER_WINDOW.
  std::uint32_t Root() const;
  // Maps a window of this client's over everything at `rect`, as a notification or another
  // program's full-screen window does (override-redirect, so the window manager leaves it be).
  void Cover(Rect rect);
  // The id of the mapped top-level window at the top of the stack, or 0.
  std::uint32_t Topmost();
  // Whether the window exists and is mapped where it can be seen.
  bool Viewable(std::uint32_t window);
  void Unmap(std::uint32_t window);
  void Destroy(std::uint32_t window);

private:
  ::_XDisplay* display_ = nullptr;
  std::uint32_t focused_ = 0;
  std::string typed_;
};

// The ids (decimal, one a line) of the windows that xdotool finds with these search arguments,
// such as {"--pid", "123"} or {"--name", ShowWindow}.
std::string FoundWindows(const XvfbServer& server, const std::vector<std::string>& search);

} // namespace e2e
