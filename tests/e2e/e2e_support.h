// Support for whole-process tests: the program under test, private display servers, X tools and screenshots.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/case_name.h"
#include "support/files.h"
#include "support/process.h"

// Xlib's connection to a display; only the support code talks to X directly. The name is Xlib's
// own, declared here so that the tests need not take in Xlib's macros.
struct _XDisplay; // NOLINT(bugprone-reserved-identifier)

namespace e2e {

// What the tests run, from this build tree: the program and the flare texture the build makes.
extern const std::string Program;
extern const std::string Flare;

// The program's two windows, as name patterns for WaitForWindow.
inline const std::string ShowWindow = "^Pyrovane$";
inline const std::string SettingsWindow = "^Pyrovane ScreenSaver Configuration$";

// A running show has a hundred bright coloured pixels or more in a 400×300 picture once the first
// rockets have burst; a show that has not drawn has none, and neither has a black lock screen.
inline constexpr int FewestSparkPixels = 50;

// The executable a process runs now: a launcher that handed its process over shows the program.
std::filesystem::path ExecutableOf(pid_t pid);

// The permissions of the System V shared-memory segments that process `pid` created and that
// still exist, from the kernel's list, each with the flag that it is marked for removal.
std::vector<unsigned> SharedMemorySegmentsOf(pid_t pid);

// The program run to its end in `directory`, as a screen-saver launcher runs it.
support::Ended RunProgram(const std::string& directory, const std::vector<std::string>& arguments,
                          const support::EnvironmentChanges& environment = {});

// A working directory holding the flare texture, as the show expects.
class ShowDirectory final : public support::TemporaryDirectory {
public:
  ShowDirectory();
  // The program started here with these arguments, as a screen-saver launcher starts it, its
  // output in the file `outputName` here.
  support::ChildProcess Start(const std::vector<std::string>& arguments, const support::EnvironmentChanges& environment,
                              const std::string& outputName = "out.txt") const;
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
  std::string display_;
  int width_;
  int height_;
};

// Waits until a visible window whose name matches the pattern is on the server's screen; false
// if none is within PatienceLimit.
bool WaitForWindow(const XvfbServer& server, const std::string& name);
// Waits until no window whose name matches the pattern is left on the server's screen.
bool WaitForNoWindow(const XvfbServer& server, const std::string& name);

// The reason to skip whole-process tests on this machine (Xvfb is not installed), or empty.
// The other tools they use (xdotool, ImageMagick's import, xmessage) come with the same
// bootstrap: a test that misses one fails, and says which.
std::string XvfbMissing();

// Skips the calling test when `reason`, such as XvfbMissing(), says what it misses.
#define SKIP_IF_MISSING(reason)                                                                                        \
  do {                                                                                                                 \
    const std::string missing = (reason);                                                                              \
    if (!missing.empty()) GTEST_SKIP() << missing;                                                                     \
  } while (false)
// Skips the calling test where whole-process tests cannot run.
#define SKIP_WITHOUT_XVFB() SKIP_IF_MISSING(e2e::XvfbMissing())

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
// Whether each channel is within `tolerance` of the expected one's.
bool Near(Colour actual, Colour expected, int tolerance);
// The colour as "(red, green, blue)", for a failure's message.
std::string Describe(Colour colour);

// The desktop probe's pattern: the frame's top half red on the left and green on the right, its
// bottom half blue and white.
inline constexpr Colour Black{0, 0, 0}, Red{255, 0, 0}, Green{0, 255, 0}, Blue{0, 0, 255}, White{255, 255, 255};

// Where the pattern must show in `picture`, and black bars around it in `area` (the screen, an
// output or a host's window): points of a screenshot and their colours, each with what it is.
struct PatternSample {
  int x, y;
  Colour expected;
  const char* what;
};
std::vector<PatternSample> PatternSamples(Rect area, Rect picture);

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
bool EndedBySigterm(support::ChildProcess& process);

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
  support::TemporaryDirectory directory_;
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
  // Output `number` (from 1) whole, with its size.
  std::optional<Image> Screenshot(int number, const std::string& workPath) const;
  // Takes screenshots of output `number` until one satisfies `condition`; nullopt if none does
  // within PatienceLimit.
  std::optional<Image> WaitForScreen(int number, const std::string& workPath,
                                     const std::function<bool(const Image&)>& condition) const;
  // Ends sway at once, as a crash or the end of a session does; true once it has ended.
  bool Kill();

private:
  support::TemporaryDirectory directory_;
  std::optional<support::ChildProcess> server_;
  std::optional<support::ChildProcess> pointer_;
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

// The ids of every process on the machine now.
std::vector<pid_t> Processes();
// A process's state letter and its parent, from the kernel's table; nullopt once it is gone.
struct ProcessState {
  char state;
  pid_t parent;
};
std::optional<ProcessState> StateOf(pid_t pid);
// Whether process `pid` (not necessarily a child of the test) has ended: it is gone, or a zombie.
bool ProcessEnded(pid_t pid);

} // namespace e2e
