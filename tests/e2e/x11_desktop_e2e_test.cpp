// Whole-process tests of pyrovane on X11 desktops as people have them: a window manager with a focused window, the root window as the host's, displays and memory that work against the show, a monitor that DPMS turns off.
#include "processes.h"
#include "screenshots.h"
#include "support/case_name.h"
#include "window_managers.h"
#include "x_servers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace e2e;
using namespace support;

const std::string CallHooks = PYROVANE_CALL_HOOKS;
const std::string Probe = DESKTOP_BOARD_PROBE;
const std::string OutOfMemoryLine = "main: out of memory for the picture\n";

// The decimal id of the one show's window, without the line's end; empty while there is none.
std::string ShowWindowId(const XvfbServer& server) {
  std::string found = FoundWindows(server, {"--name", ShowWindow});
  while (!found.empty() && found.back() == '\n') found.pop_back();
  return found.find('\n') == std::string::npos ? found : "";
}

// The name of this machine, as X clients give it in WM_CLIENT_MACHINE.
std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

// One show under openbox, beside another program's window that has the keyboard focus: what is
// typed during the show never reaches that window, and after the show it does again; tools find
// the show's window by its process; a window put over the show, or the show's window unmapped,
// does not hide it for long; and its window destroyed by another client ends it normally.
TEST(X11Desktop, UnderAWindowManagerTheShowKeepsTheKeyboardAndTheTopUntilAnotherClientDestroysItsWindow) {
  START_X_SERVER(server, 1024, 768);
  START_OPENBOX(openbox, server);
  DesktopClient other(server);
  ASSERT_TRUE(other.OpenFocusedWindow({100, 100, 300, 200}));
  ASSERT_TRUE(server.Xdotool({"type", "before"}));
  ASSERT_TRUE(Eventually([&] { return other.Typed() == "before"; })) << "typing does not reach the focused window";

  ShowDirectory show;
  ChildProcess program = show.Start({"/s"}, server.Environment());
  ASSERT_TRUE(WaitForWindow(server, ShowWindow)) << program.Output();
  ASSERT_TRUE(Eventually([&] { return other.KeyboardHeldElsewhere(); })) << "the show does not take the keyboard";
  ASSERT_TRUE(server.Xdotool({"type", "during"}));

  const std::string window = ShowWindowId(server);
  ASSERT_FALSE(window.empty());
  EXPECT_EQ(FoundWindows(server, {"--pid", std::to_string(program.Pid())}), window + "\n");
  EXPECT_EQ(RunToEnd({"xprop", "-id", window, "WM_CLIENT_MACHINE"}, server.Environment()).output,
            "WM_CLIENT_MACHINE(STRING) = \"" + HostName() + "\"\n");

  const auto id = static_cast<std::uint32_t>(std::stoul(window));
  other.Cover(server.Screen());
  EXPECT_TRUE(Eventually([&] { return other.Topmost() == id; })) << "a window put over the show stays over it";
  other.Unmap(id);
  EXPECT_TRUE(Eventually([&] { return other.Viewable(id) && other.KeyboardHeldElsewhere(); }))
      << "unmapped, the show's window stays unmapped or without the keyboard";
  ASSERT_TRUE(server.Xdotool({"type", "during"}));

  other.Destroy(id);
  EXPECT_EQ(program.WaitForEnd(), (Ended{0, ""})) << "not a quiet normal end";
  // Keys reach the window in the order they were typed, so once the last ones have arrived, any
  // typed during the show would have come before them.
  ASSERT_TRUE(server.Xdotool({"type", "after"}));
  EXPECT_TRUE(Eventually([&] { return other.Typed().ends_with("after"); })) << "the keyboard was not given back";
  EXPECT_EQ(other.Typed(), "beforeafter") << "keys typed during the show reached the focused window";
}

TEST(X11Desktop, ItsWindowDestroyedAsTheShowStartsEndsItNormally) {
  START_X_SERVER(server, 640, 480);
  ShowDirectory show;
  EnvironmentChanges environment = server.Environment();
  environment["LD_PRELOAD"] = CallHooks;
  environment["PYROVANE_DESTROY_OWN_WINDOW_AT"] = "XMapRaised";
  EXPECT_EQ(RunProgram(show.Path(), {"/s"}, environment), (Ended{0, ""}));
}

// The probe's quadrants, 4:3 in `picture`, with black bars around it in `area`.
bool ShowsPattern(const Image& shot, Rect area, Rect picture) {
  constexpr int ChannelTolerance = 3;
  for (const PatternSample& sample : PatternSamples(area, picture)) {
    if (!Near(shot.At(sample.x, sample.y), sample.expected, ChannelTolerance)) return false;
  }
  return true;
}

TEST(X11Desktop, InTheRootWindowAsTheHostsWindowThePictureFollowsTheScreensSize) {
  START_X_SERVER(server, 1024, 768);
  const DesktopClient client(server);
  TemporaryDirectory directory;
  EnvironmentChanges environment = server.Environment();
  environment["XSCREENSAVER_WINDOW"] = std::to_string(client.Root());
  ChildProcess probe({Probe, "show", "--pattern", "quadrants"}, environment, directory.File("probe.out"));
  const auto shows = [&](Rect picture) {
    return WaitForScreen(server, directory.File("shot.ppm"),
                         [&](const Image& shot) { return ShowsPattern(shot, server.Screen(), picture); });
  };
  ASSERT_TRUE(shows({0, 0, 1024, 768})) << probe.Output();
  ASSERT_TRUE(server.ResizeScreen(1000, 600));
  EXPECT_TRUE(shows({100, 0, 800, 600})) << "the picture keeps the old screen's size";
  EXPECT_TRUE(probe.Running()) << probe.Output();
}

// ---------------------------------------------------------------------------------------------
// Displays and memory that work against the show: each gives one line and 255, or a correct
// picture, never a core dump or a black screen that spins.

enum class Memory {
  Plenty,
  // The address space is limited to what the show needs, less half its picture.
  ShortAtTheStart,
  // The show starts on a 640×480 screen with half the picture of the full screen to spare, and
  // the screen then grows to full size, as when a larger monitor is plugged in.
  ShortAsTheScreenGrows,
};

struct HostileCase {
  const char* name;
  bool pseudoColour; // an 8-bit screen whose colours go through a palette
  int width;
  int height;
  std::optional<Rect> hostWindow; // named in XSCREENSAVER_WINDOW
  Memory memory;
  Ended expected;
};

// The address space (KiB) of a show that runs until it has burst rockets, then ends by SIGTERM.
long AddressSpaceOfAShow(const XvfbServer& server, const ShowDirectory& show) {
  ChildProcess reference = show.Start({"/s"}, server.Environment(), "reference.txt");
  if (!WaitForSparks(server, server.Screen(), show.File("reference.ppm"))) return 0;
  const long size = AddressSpaceOf(reference.Pid());
  EndedBySigterm(reference);
  return size;
}

void PrintTo(const HostileCase& c, std::ostream* stream) { *stream << c.name; }

class HostileDisplay : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileDisplay, GivesItsLineAnd255OrACorrectPictureNeverACore) {
  const HostileCase& c = GetParam();
  SKIP_IF_MISSING(XvfbMissing());
  std::optional<XvfbServer> server;
  if (c.pseudoColour) {
    server.emplace(XvfbServer::PseudoColour{c.width, c.height});
  } else {
    server.emplace(c.width, c.height);
  }
  ASSERT_TRUE(server->Started()) << server->Log();
  std::optional<HostWindow> host;
  EnvironmentChanges environment = server->Environment();
  if (c.hostWindow) {
    host.emplace(*server, *c.hostWindow);
    environment["XSCREENSAVER_WINDOW"] = host->DecimalId();
  }
  ShowDirectory show;
  std::vector<std::string> command = Command(Program, {"/s"});
  if (c.memory != Memory::Plenty) {
    if (c.memory == Memory::ShortAsTheScreenGrows) {
      ASSERT_TRUE(server->ResizeScreen(640, 480));
    }
    const long reference = AddressSpaceOfAShow(*server, show);
    ASSERT_GT(reference, 0) << "no show to measure";
    const Rect picture = PicturesIn({{0, 0, c.width, c.height}}).front();
    const long halfPicture = static_cast<long>(picture.width) * picture.height * 4 / 1024 / 2; // KiB
    const long limit = c.memory == Memory::ShortAtTheStart ? reference - halfPicture : reference + halfPicture;
    command = Command("prlimit", {"--as=" + std::to_string(limit * 1024), Program, "/s"});
  }
  ChildProcess program(InDirectory(show.Path(), command), environment, show.File("out.txt"));
  if (c.memory == Memory::ShortAsTheScreenGrows) {
    ASSERT_TRUE(WaitForSparks(*server, server->Screen(), show.File("small.ppm"))) << program.Output();
    ASSERT_TRUE(server->ResizeScreen(c.width, c.height));
  }
  if (c.expected.exitCode == 0) {
    // A window too large for a picture of its size gets a bounded one: the show draws, in far
    // less memory than a picture of the window's size would take, and ends with the window.
    constexpr long BoundedAddressSpace = 400 * 1024;
    ASSERT_TRUE(WaitUntilPainted(*server, server->Screen(), show.File("painted.ppm"))) << program.Output();
    EXPECT_LT(AddressSpaceOf(program.Pid()), BoundedAddressSpace);
    host->Destroy();
  }
  EXPECT_EQ(program.WaitForEnd(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileDisplay,
    ::testing::Values(
        HostileCase{
            "an 8-bit screen", true, 640, 480, std::nullopt, Memory::Plenty, {255, "main: grSstOpen failed!\n"}},
        HostileCase{"short of memory at the start",
                    false,
                    1920,
                    1080,
                    std::nullopt,
                    Memory::ShortAtTheStart,
                    {255, OutOfMemoryLine}},
        HostileCase{"short of memory as the screen grows",
                    false,
                    1920,
                    1080,
                    std::nullopt,
                    Memory::ShortAsTheScreenGrows,
                    {255, OutOfMemoryLine}},
        // 32767 × 24575 would take 3.2 GB a picture; its bounded picture lies off the 640×480
        // screen, which shows the black around it.
        HostileCase{"a huge host window", false, 640, 480, Rect{0, 0, 32767, 24575}, Memory::Plenty, {0, ""}}),
    CaseName<HostileCase>);

// ---------------------------------------------------------------------------------------------
// The monitor turned off

// Writes the monitor's state where the preloaded helper reads it, in one step.
void SetMonitor(const std::string& path, const char* state) {
  std::ofstream(path + ".new") << state;
  std::filesystem::rename(path + ".new", path);
}

// No X server that runs without a monitor has DPMS here (Xvfb, Xephyr and Xorg's dummy driver
// lack it), so the preloaded helper answers the show's DPMS queries in the server's place.
TEST(X11Desktop, WaitsWithoutDrawingWhileTheMonitorIsOffAndGoesOnWhenItComesBack) {
  constexpr int StillShots = 20;
  constexpr double LargestShareOfACore = 0.02;
  START_X_SERVER(server, 1024, 768);
  ShowDirectory show;
  const std::string monitor = show.File("monitor");
  SetMonitor(monitor, "on");
  EnvironmentChanges environment = server.Environment();
  environment["LD_PRELOAD"] = CallHooks;
  environment["PYROVANE_MONITOR_STATE"] = monitor;
  ChildProcess program = show.Start({"/s"}, environment);
  ASSERT_TRUE(WaitForSparks(server, server.Screen(), show.File("shot.ppm"))) << program.Output();

  SetMonitor(monitor, "off");
  std::optional<Image> still;
  ASSERT_TRUE(Eventually([&] {
    const std::optional<Image> first = Screenshot(server.Display(), show.File("first.ppm"));
    still = Screenshot(server.Display(), show.File("still.ppm"));
    return first && still && still->CountDifferent(*first, server.Screen()) == 0;
  })) << "the show draws on with the monitor off";
  const auto processorBefore = ProcessorTimeOf(program.Pid());
  const auto wallBefore = std::chrono::steady_clock::now();
  for (int shot = 0; shot < StillShots; ++shot) {
    const std::optional<Image> later = Screenshot(server.Display(), show.File("later.ppm"));
    ASSERT_TRUE(later.has_value());
    EXPECT_EQ(later->CountDifferent(*still, server.Screen()), 0) << "drawn while the monitor is off";
  }
  const double processor = std::chrono::duration<double>(ProcessorTimeOf(program.Pid()) - processorBefore).count();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
  EXPECT_LT(processor, LargestShareOfACore * wall) << processor << " s of processor time in " << wall << " s";

  SetMonitor(monitor, "on");
  EXPECT_TRUE(WaitForScreen(server, show.File("again.ppm"), [&](const Image& shot) {
    return shot.CountDifferent(*still, server.Screen()) > 0;
  })) << "the show does not go on when the monitor comes back";
  EXPECT_TRUE(EndedBySigterm(program));
  EXPECT_EQ(program.Output(), "");
}

} // namespace
