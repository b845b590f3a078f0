// Wayland compositors for whole-process tests: a private headless sway with a pointer, and a private weston without a seat.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "processes.h"
#include "screenshots.h"
#include "support/files.h"
#include "support/process.h"

namespace e2e {

// The reason to skip tests that need Wayland compositors and their tools (sway, swaymsg, grim,
// swayidle, weston) on this machine, or empty; scripts/bootstrap installs them.
std::string WaylandToolsMissing();

#define SKIP_WITHOUT_WAYLAND_TOOLS() SKIP_IF_MISSING(e2e::WaylandToolsMissing())

// A private headless sway (wlroots' headless back end, pixman renderer), run as the user nobody
// when the test runs as root (sway refuses root), with a seat whose pointer a helper client
// provides: headless sway has none of its own. Its outputs HEADLESS-1, HEADLESS-2, … get the
// sizes given, in order: the first `initialOutputs` at the start, the next as AddOutput makes them.
class SwayServer {
public:
  struct Size {
    int width;
    int height;
  };
  SwayServer(const std::vector<Size>& outputs, int initialOutputs);
  // A sway nested in `host` (wlroots' Wayland back end): each of its outputs WL-1, WL-2, … is a
  // window of the host, so that closing one unplugs the output, which headless sway cannot do.
  struct Nested {
    const SwayServer& host;
    int outputs;
  };
  explicit SwayServer(const Nested& nested);
  ~SwayServer();
  SwayServer(const SwayServer&) = delete;
  SwayServer& operator=(const SwayServer&) = delete;

  bool Started() const { return !socket_.empty(); }
  // What sway and the pointer's helper printed, to tell why something failed.
  std::string Log() const;
  // An environment whose display is this compositor, named by the socket's absolute path.
  support::EnvironmentChanges Environment() const { return {{"WAYLAND_DISPLAY", socket_}}; }
  // Runs swaymsg with these arguments; what it printed, or nullopt when it failed.
  std::optional<std::string> Swaymsg(const std::vector<std::string>& arguments) const;
  // Makes the next output; true once sway has it.
  bool AddOutput();
  // A nested sway's output `number` unplugged, by closing its window in the host; true once this
  // sway has let it go.
  bool UnplugOutput(int number);
  // Output `number` (from 1) whole, with its size.
  std::optional<Image> Screenshot(int number, const std::string& workPath) const;
  // Takes screenshots of output `number` until one satisfies `condition`; nullopt if none does
  // within PatienceLimit.
  std::optional<Image> WaitForScreen(int number, const std::string& workPath,
                                     const std::function<bool(const Image&)>& condition) const;
  // Ends sway at once, as a crash or the end of a session does; true once it has ended.
  bool Kill();

private:
  void Start(const std::vector<std::string>& configuration, support::EnvironmentChanges environment);
  std::string OutputName(int number) const { return (host_ != nullptr ? "WL-" : "HEADLESS-") + std::to_string(number); }

  support::TemporaryDirectory directory_;
  std::optional<support::ChildProcess> server_;
  std::optional<support::ChildProcess> pointer_;
  const SwayServer* host_ = nullptr;
  int outputCount_;
  std::string socket_;
  std::string ipcSocket_;
};

// A private weston with its headless back end, which offers outputs but no seat.
class WestonServer {
public:
  WestonServer();
  ~WestonServer();
  WestonServer(const WestonServer&) = delete;
  WestonServer& operator=(const WestonServer&) = delete;
  bool Started() const { return !socket_.empty(); }
  std::string Log() const { return server_ ? server_->Output() : std::string(); }
  support::EnvironmentChanges Environment() const { return {{"WAYLAND_DISPLAY", socket_}}; }

private:
  support::TemporaryDirectory directory_;
  std::optional<support::ChildProcess> server_;
  std::string socket_;
};

} // namespace e2e
