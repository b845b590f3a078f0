// Support for whole-process tests on GNOME's and KDE's compositors run headless: a private session bus, mutter, KWin, and their pointers.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"

namespace e2e {

// The reason to skip tests that need mutter, KWin and a session bus on this machine, or empty;
// scripts/bootstrap installs them.
std::string HeadlessDesktopsMissing();

// A private session bus (dbus-daemon --session), ended with the object. Mutter and KWin need one,
// and the tests talk to mutter over it.
class SessionBus {
public:
  SessionBus();
  ~SessionBus();
  SessionBus(const SessionBus&) = delete;
  SessionBus& operator=(const SessionBus&) = delete;
  bool Started() const { return !address_.empty(); }
  const std::string& Address() const { return address_; }
  std::string Log() const { return daemon_ ? daemon_->Output() : std::string(); }

private:
  support::TemporaryDirectory directory_;
  std::optional<support::ChildProcess> daemon_;
  std::string address_;
};

// A helper program that drives a compositor's pointer: it keeps its connection (which, on mutter,
// keeps its input devices) and takes commands through a named pipe. Each call returns once the
// compositor has taken the input, or false when the helper failed.
class PointerHelper {
public:
  PointerHelper(const std::string& program, const support::EnvironmentChanges& environment,
                const std::string& workDirectory);
  PointerHelper(const PointerHelper&) = delete;
  PointerHelper& operator=(const PointerHelper&) = delete;
  bool Ready() const { return ready_; }
  std::string Log() const { return process_ ? process_->Output() : std::string(); }
  // Moves the pointer by this many pixels.
  bool Move(int dx, int dy) { return Send("move " + std::to_string(dx) + " " + std::to_string(dy)); }
  // The left button.
  bool Press() { return Send("press"); }
  bool Release() { return Send("release"); }
  bool Click() { return Send("click"); }

private:
  bool Send(const std::string& command);

  std::string fifo_;
  std::optional<support::ChildProcess> process_;
  bool ready_ = false;
  int sent_ = 0;
};

struct OutputSize {
  int width;
  int height;
};

// What mutter and KWin run headless share: a runtime folder and a session bus of their own, the
// compositor's socket, and a helper that drives its pointer.
class HeadlessCompositor {
public:
  ~HeadlessCompositor();
  HeadlessCompositor(const HeadlessCompositor&) = delete;
  HeadlessCompositor& operator=(const HeadlessCompositor&) = delete;
  bool Started() const { return !socket_.empty() && pointer_ && pointer_->Ready(); }
  std::string Log() const;
  // The compositor (by its socket's absolute path), its runtime folder and its bus.
  support::EnvironmentChanges Environment() const;
  PointerHelper& Pointer() { return *pointer_; }
  // Ends the compositor at once, as a crash or the end of a session does; true once it has ended.
  bool Kill();

protected:
  HeadlessCompositor() = default;
  // Runs `command` with its runtime folder, its bus and `environment`, named `name` in the logs;
  // once its socket "wayland-test" is there, the pointer helper `pointerHelper` starts on it.
  void Start(const std::string& name, const std::vector<std::string>& command, support::EnvironmentChanges environment,
             const std::string& pointerHelper);
  std::string File(const std::string& name) const { return directory_.File(name); }

private:
  support::TemporaryDirectory directory_;
  SessionBus bus_;
  std::optional<support::ChildProcess> server_;
  std::optional<PointerHelper> pointer_;
  std::string socket_;
};

// A private mutter (GNOME's compositor) with its headless back end: Wayland only, virtual monitors
// of the sizes given. It offers no layer shell and no idle protocol; its idle monitor and remote
// desktop are on the bus. Its seat has a pointer from a remote-desktop session that the helper
// keeps.
class MutterServer final : public HeadlessCompositor {
public:
  explicit MutterServer(const std::vector<OutputSize>& monitors);
};

// A private KWin (KDE's compositor) with its virtual back end: `outputs` outputs of one size, its
// own configuration, without a lock screen, and permission checks off for the protocols that tests
// use (fake input, screenshots). It offers layer shell and both idle protocols. Its seat's pointer
// is moved and clicked through fake input.
//
// The installed binary carries a file capability that sandboxes may not grant, so a copy runs; its
// name stays kwin_wayland, by which its own Qt platform plugin recognises it.
class KwinServer final : public HeadlessCompositor {
public:
  KwinServer(OutputSize size, int outputs);
};

} // namespace e2e
