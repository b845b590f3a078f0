// Support for whole-process tests: child processes, a private Xvfb server, X tools and screenshots.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// Xlib's connection to a display; only the support code talks to X directly.
struct _XDisplay;

namespace e2e {

// Changes to the test's own environment for a child: a value sets the variable, nullopt removes
// it. The variables that name a desktop (its displays, a host's window, SDL's driver, the message
// bus) are always removed first, so that nothing of the machine's own desktop leaks into a test;
// a test sets what it means.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

// Limit for anything that should happen promptly: generous, so that a loaded machine does not
// fail a test; it only keeps a broken program from hanging the suite.
inline constexpr std::chrono::milliseconds PatienceLimit{20'000};

// Polls `condition` every `interval` until it holds; false if it does not within PatienceLimit.
bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds interval = std::chrono::milliseconds(50));

// What the tests run, from this build tree: the program and the flare texture the build makes.
extern const std::string Program;
extern const std::string Flare;

// The program's two windows, as name patterns for WaitForWindow.
inline const std::string ShowWindow = "^Pyrovane$";
inline const std::string SettingsWindow = "^Pyrovane ScreenSaver Configuration$";

// A running show has a hundred bright coloured pixels or more in a 400×300 picture once the first
// rockets have burst; a show that has not drawn has none, and neither has a black lock screen.
inline constexpr int FewestSparkPixels = 50;

// The whole content of a file, or an empty string.
std::string ReadWhole(const std::string& path);

// The executable a process runs now: a launcher that handed its process over shows the program.
std::filesystem::path ExecutableOf(pid_t pid);

// The permissions of the System V shared-memory segments that process `pid` created and that
// still exist, from the kernel's list, each with the flag that it is marked for removal.
std::vector<unsigned> SharedMemorySegmentsOf(pid_t pid);

// GoogleTest's name of a parameterised case, made of the words of its description:
// "xscreensaver's hexadecimal id" gives "XscreensaversHexadecimalId".
std::string CaseName(const std::string& description);
template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return CaseName(std::string(info.param.name));
}

// A child process, started with its standard output and error in one file. The destructor
// kills and reaps it if it is still running.
class ChildProcess {
public:
  ChildProcess(const std::vector<std::string>& arguments, const EnvironmentChanges& environment,
               const std::string& outputPath);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // The wait status once the process has ended within `limit`, nullopt while it runs.
  std::optional<int> WaitForExit(std::chrono::milliseconds limit);
  bool Running() { return !WaitForExit(std::chrono::milliseconds(0)).has_value(); }
  // Everything the process has written so far.
  std::string Output() const;
  // Waits up to `limit` until the output holds `text`; false if it does not, or the process ended first.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit);

private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::string outputPath_;
};

// Runs a command to its end and returns its wait status (or -1 if it could not run or hung).
int RunCommand(const std::vector<std::string>& arguments, const EnvironmentChanges& environment = {});

// True when the program is found on PATH.
bool ProgramAvailable(const std::string& name);

// A fresh directory under the system's temporary directory, removed with everything in it by
// the destructor.
class TemporaryDirectory {
public:
  TemporaryDirectory();
  virtual ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

// A working directory holding the flare texture, as the show expects.
class ShowDirectory final : public TemporaryDirectory {
public:
  ShowDirectory();
};

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
// pointer position between two tool runs.
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
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  bool Started() const { return !display_.empty(); }
  // The whole screen, for counting what a screenshot holds.
  Rect Screen() const { return {0, 0, width_, height_}; }
  // The DISPLAY value, such as ":12".
  const std::string& Display() const { return display_; }
  // An environment whose display is this server.
  EnvironmentChanges Environment() const { return {{"DISPLAY", display_}}; }
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
  void Start(std::vector<std::string> command, const EnvironmentChanges& environment);

  std::optional<ChildProcess> server_;
  TemporaryDirectory directory_;
  std::string display_;
  int width_;
  int height_;
};

// Waits until a visible window whose name matches the pattern is on the server's screen; false
// if none is within PatienceLimit.
bool WaitForWindow(const XvfbServer& server, const std::string& name);
// Waits until no window whose name matches the pattern is left on the server's screen.
bool WaitForNoWindow(const XvfbServer& server, const std::string& name);

// The exit code of a process that exited, or -1 for one that a signal ended.
int ExitCode(int status);

// The command line of `program` with these arguments.
std::vector<std::string> Command(const std::string& program, const std::vector<std::string>& arguments);

// A command line that runs `command` with `directory` as its working directory, as a
// screen-saver launcher runs the show.
std::vector<std::string> InDirectory(const std::string& directory, const std::vector<std::string>& command);

// The reason to skip whole-process tests on this machine (Xvfb is not installed), or empty.
// The other tools they use (xdotool, ImageMagick's import, xmessage) come with the same
// bootstrap: a test that misses one fails, and says which.
std::string XvfbMissing();

// Skips the calling test where whole-process tests cannot run.
#define SKIP_WITHOUT_XVFB()                                                                                            \
  do {                                                                                                                 \
    const std::string missing = e2e::XvfbMissing();                                                                    \
    if (!missing.empty()) GTEST_SKIP() << missing;                                                                     \
  } while (false)

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

struct Colour {
  int red;
  int green;
  int blue;
};

// An RGB image read from a screenshot.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
  Colour At(int x, int y) const;
  // How many pixels of `rect` hold exactly this colour (0xRRGGBB).
  int CountEqual(Rect rect, std::uint32_t colour) const;
  // How many pixels of `rect` are next to black (every channel under 8).
  int CountBlack(Rect rect) const;
  // How many pixels of `rect` are bright and coloured, as sparks of fireworks are.
  int CountBrightColoured(Rect rect) const;
  // How many pixels inside `inside` and outside `outside` differ from those of `other`.
  int CountDifferent(const Image& other, Rect inside, Rect outside = {0, 0, 0, 0}) const;
};

// A picture of the whole screen of `display`, taken with ImageMagick's `import`.
std::optional<Image> Screenshot(const std::string& display, const std::string& workPath);

// Takes screenshots until one satisfies `condition`, and returns it; nullopt if none does
// within PatienceLimit.
std::optional<Image> WaitForScreen(const XvfbServer& server, const std::string& workPath,
                                   const std::function<bool(const Image&)>& condition);

// Waits until nothing of a host window's own background is left in `rect`, the sign that a show
// has drawn all over it; the last screenshot, or nullopt if that did not happen in time.
std::optional<Image> WaitUntilPainted(const XvfbServer& server, Rect rect, const std::string& workPath);

// Waits until the show has burst rockets in `rect`: the screenshot that shows them.
std::optional<Image> WaitForSparks(const XvfbServer& server, Rect rect, const std::string& workPath);

// Sends SIGTERM to the process; true when that ends it, by that signal, within PatienceLimit.
bool EndedBySigterm(ChildProcess& process);

// Reads a binary PPM (P6, 8 bits per channel); nullopt when the file is not one.
std::optional<Image> ReadPpm(const std::string& path);

// A `cmake --install` of this build tree with the prefix /usr into a fresh temporary directory
// (DESTDIR), as a package build stages it. The directory is opened to every user, so that a host
// run as an unprivileged user (xscreensaver refuses to run as root) can run what it holds.
class StagedInstall {
public:
  StagedInstall();
  bool Installed() const { return installed_; }
  // What the install printed, to tell why it failed.
  const std::string& Log() const { return log_; }
  // The staged root, and a path under it such as "usr/bin/pyrovane".
  std::string Root() const { return directory_.File("root"); }
  std::string Staged(const std::string& relative) const { return Root() + "/" + relative; }
  // A path beside the root, for a test's own files.
  std::string WorkFile(const std::string& name) const { return directory_.File(name); }

private:
  TemporaryDirectory directory_;
  bool installed_ = false;
  std::string log_;
};

// A fixture whose tests share one staged install, made before the first of them runs.
class StagedInstallTest : public testing::Test {
protected:
  static void SetUpTestSuite() { stage_ = new StagedInstall; }
  static void TearDownTestSuite() {
    delete stage_;
    stage_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(stage_->Installed()) << stage_->Log(); }

  static std::string Root() { return stage_->Root(); }
  static std::string Staged(const std::string& relative) { return stage_->Staged(relative); }
  static std::string WorkFile(const std::string& name) { return stage_->WorkFile(name); }

private:
  static inline StagedInstall* stage_ = nullptr;
};

// The reason to skip tests that need Wayland compositors and their tools (sway, swaymsg, grim,
// swayidle, weston) on this machine, or empty; scripts/bootstrap installs them.
std::string WaylandToolsMissing();

#define SKIP_WITHOUT_WAYLAND_TOOLS()                                                                                   \
  do {                                                                                                                 \
    const std::string missing = e2e::WaylandToolsMissing();                                                            \
    if (!missing.empty()) GTEST_SKIP() << missing;                                                                     \
  } while (false)

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
  ~SwayServer();
  SwayServer(const SwayServer&) = delete;
  SwayServer& operator=(const SwayServer&) = delete;

  bool Started() const { return !socket_.empty(); }
  // What sway and the pointer's helper printed, to tell why something failed.
  std::string Log() const;
  // An environment whose display is this compositor, named by the socket's absolute path.
  EnvironmentChanges Environment() const { return {{"WAYLAND_DISPLAY", socket_}}; }
  // Runs swaymsg with these arguments; what it printed, or nullopt when it failed.
  std::optional<std::string> Swaymsg(const std::vector<std::string>& arguments) const;
  // Makes the next output; true once sway has it.
  bool AddOutput();
  // Output `number` (from 1) whole, with its size.
  std::optional<Image> Screenshot(int number, const std::string& workPath) const;
  // Takes screenshots of output `number` until one satisfies `condition`; nullopt if none does
  // within PatienceLimit.
  std::optional<Image> WaitForScreen(int number, const std::string& workPath,
                                     const std::function<bool(const Image&)>& condition) const;
  // Ends sway at once, as a crash or the end of a session does; true once it has ended.
  bool Kill();

private:
  TemporaryDirectory directory_;
  std::optional<ChildProcess> server_;
  std::optional<ChildProcess> pointer_;
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
  EnvironmentChanges Environment() const { return {{"WAYLAND_DISPLAY", socket_}}; }

private:
  TemporaryDirectory directory_;
  std::optional<ChildProcess> server_;
  std::string socket_;
};

// Whether process `pid` (not necessarily a child of the test) has ended: it is gone, or a zombie.
bool ProcessEnded(pid_t pid);

} // namespace e2e
