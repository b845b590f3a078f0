// Whole-process tests of the show's roles on Wayland: on a lock screen's connection, as sway's overlay layer, as a full-screen toplevel, and on outputs that are unplugged.
#include "processes.h"
#include "screenshots.h"
#include "wayland_compositors.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

namespace {

using namespace e2e;
using namespace support;

const std::string Proxy = WAYLAND_PROXY;
const std::string Probe = DESKTOP_BOARD_PROBE;

using Words = std::vector<std::string>;

bool HasSparks(const Image& shot, Rect rect) { return shot.CountBrightColoured(rect) > FewestSparkPixels; }

// The output shows fireworks in `picture` and nothing but black around it.
bool ShowsFireworksIn(const Image& shot, Rect picture) {
  const Rect whole{0, 0, shot.width, shot.height};
  const int outside = whole.width * whole.height - picture.width * picture.height;
  const int blackOutside = shot.CountBlack(whole) - shot.CountBlack(picture);
  return HasSparks(shot, picture) && blackOutside == outside;
}

// A program on a connection of the proxy's, with these globals hidden, started in `show`.
ChildProcess ThroughProxy(const ShowDirectory& show, const SwayServer& sway, const std::string& hidden,
                          const Words& command, const std::string& output, EnvironmentChanges environment = {}) {
  Words line{Proxy, "--hide", hidden, "--"};
  line.insert(line.end(), command.begin(), command.end());
  environment.merge(sway.Environment());
  return ChildProcess(InDirectory(show.Path(), line), environment, show.File(output));
}

bool Cursor(const SwayServer& sway, const Words& action) {
  Words command{"seat", "seat0", "cursor"};
  command.insert(command.end(), action.begin(), action.end());
  return sway.Swaymsg(command).has_value();
}

// Whether sway's tree holds a window of this client (the process on the other end of its
// connection) that is full screen, or that is there at all.
enum class Window { Present, FullScreen };
bool TreeHas(const SwayServer& sway, pid_t client, Window what) {
  const std::string tree = sway.Swaymsg({"-t", "get_tree", "--raw"}).value_or("");
  const std::string pid = "\"pid\": " + std::to_string(client) + ",";
  const std::size_t at = tree.find(pid);
  if (at == std::string::npos) return false;
  // A container's fields are written in one object; the full-screen mode comes before its pid.
  const std::size_t mode = tree.rfind("\"fullscreen_mode\": ", at);
  return what == Window::Present || (mode != std::string::npos && tree.compare(mode + 19, 1, "1") == 0);
}

TEST(WaylandRoles, OnALockScreensConnectionTheShowDrawsAndItsClosingEndsTheShow) {
  SKIP_WITHOUT_WAYLAND_TOOLS();
  SwayServer sway({{1280, 720}, {800, 800}}, 2);
  ASSERT_TRUE(sway.Started()) << sway.Log();
  ShowDirectory show;
  // Without a seat the show cannot hide the pointer; sway hides it once it rests.
  ASSERT_TRUE(sway.Swaymsg({"seat", "seat0", "hide_cursor", "100"}));
  const Rect pictures[] = {{160, 0, 960, 720}, {0, 100, 800, 600}};
  // What swaylock-plugin gives its saver, then the same without the compositor's scaler.
  const char* const hiddenSets[] = {"xdg_wm_base,wl_subcompositor,wl_seat",
                                    "xdg_wm_base,wl_subcompositor,wl_seat,wp_viewporter"};
  for (const char* hidden : hiddenSets) {
    ChildProcess locked = ThroughProxy(show, sway, hidden, {Program, "/s"}, "locked.out");
    for (int number = 1; number <= 2; ++number) {
      EXPECT_TRUE(sway.WaitForScreen(number, show.File("shot.ppm"),
                                     [&](const Image& shot) { return ShowsFireworksIn(shot, pictures[number - 1]); }))
          << "no fireworks at 4:3 on output " << number << " with " << hidden << " hidden";
    }
    const std::optional<int> status = locked.Signal(SIGUSR1);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(ExitCode(*status), 0) << hidden;
    EXPECT_EQ(locked.Output(), "") << hidden;
  }
}

TEST(WaylandRoles, OnSwayTheShowIsAnOverlayOverFullScreenWindows) {
  SKIP_WITHOUT_WAYLAND_TOOLS();
  SwayServer sway({{1024, 768}}, 1);
  ASSERT_TRUE(sway.Started()) << sway.Log();
  ShowDirectory show;
  ChildProcess overlay = show.Start({"/s"}, sway.Environment(), "overlay.out");
  const Rect screen{0, 0, 1024, 768};
  ASSERT_TRUE(sway.WaitForScreen(1, show.File("shot.ppm"), [&](const Image& shot) { return HasSparks(shot, screen); }));
  const std::string tree = sway.Swaymsg({"-t", "get_tree"}).value_or("pyrovane");
  EXPECT_EQ(tree.find("pyrovane"), std::string::npos) << "the show is a window in sway's tree";

  // A full-screen window that comes later (the probe's pattern, as a toplevel) stays under it. Its
  // protocol log tells when it has given sway its picture; sway shows it no later one, since the
  // show covers it.
  ChildProcess window =
      ThroughProxy(show, sway, "zwlr_layer_shell_v1", {Probe, "show"}, "window.out", {{"WAYLAND_DEBUG", "client"}});
  ASSERT_TRUE(Eventually([&] { return TreeHas(sway, window.Pid(), Window::FullScreen); })) << window.Output();
  ASSERT_TRUE(window.WaitForOutput(".attach(wl_buffer@", PatienceLimit));
  EXPECT_TRUE(sway.WaitForScreen(1, show.File("shot.ppm"), [&](const Image& shot) {
    return HasSparks(shot, screen) && shot.CountEqual(screen, 0xFF0000) == 0 && shot.CountEqual(screen, 0x00FF00) == 0;
  })) << "the full-screen window covers the show";
  EXPECT_TRUE(EndedBySigterm(overlay));
  EXPECT_EQ(overlay.Output(), "");
}

TEST(WaylandRoles, AsAToplevelTheShowTakesFullScreenBackAndOnlyTheLeftButtonEndsIt) {
  SKIP_WITHOUT_WAYLAND_TOOLS();
  SwayServer sway({{1024, 768}, {800, 600}}, 1);
  ASSERT_TRUE(sway.Started()) << sway.Log();
  ShowDirectory show;
  const Rect screen{0, 0, 1024, 768};
  const std::string shot = show.File("shot.ppm");
  ChildProcess toplevel = ThroughProxy(show, sway, "zwlr_layer_shell_v1", {Program, "/s"}, "toplevel.out");
  ASSERT_TRUE(Eventually([&] { return TreeHas(sway, toplevel.Pid(), Window::FullScreen); })) << toplevel.Output();

  // Another full-screen window takes full screen away; once it has gone, the show has it again.
  {
    ChildProcess other = ThroughProxy(show, sway, "zwlr_layer_shell_v1", {Probe, "show"}, "other.out");
    ASSERT_TRUE(Eventually([&] { return TreeHas(sway, other.Pid(), Window::FullScreen); })) << other.Output();
    EXPECT_FALSE(TreeHas(sway, toplevel.Pid(), Window::FullScreen));
    EXPECT_TRUE(other.Signal(SIGTERM).has_value());
  }
  EXPECT_TRUE(Eventually([&] { return TreeHas(sway, toplevel.Pid(), Window::FullScreen); }))
      << "the show did not ask for full screen again";

  // With an output more, the right button and the wheel over the show do nothing.
  ASSERT_TRUE(sway.AddOutput());
  const Words others[] = {{"set", "500", "400"},
                          {"press", "button3"},
                          {"release", "button3"},
                          {"press", "button4"},
                          {"release", "button4"}};
  for (const Words& action : others) ASSERT_TRUE(Cursor(sway, action)) << action.front();
  const std::optional<Image> before = sway.Screenshot(1, shot);
  ASSERT_TRUE(before.has_value());
  EXPECT_TRUE(sway.WaitForScreen(1, shot, [&](const Image& now) {
    return HasSparks(now, screen) && now.CountDifferent(*before, screen) > 0;
  })) << "the show stopped drawing";
  EXPECT_TRUE(toplevel.Running()) << "a right click or the wheel ended the show";
  for (const char* action : {"press", "release"}) ASSERT_TRUE(Cursor(sway, {action, "button1"}));
  EXPECT_EQ(toplevel.WaitForEnd(), (Ended{0, ""}));
}

TEST(WaylandRoles, AnOutputUnpluggedUnderTheShowLeavesItOnTheOthers) {
  SKIP_WITHOUT_WAYLAND_TOOLS();
  SwayServer host({{1920, 1080}}, 1);
  ASSERT_TRUE(host.Started()) << host.Log();
  SwayServer nested(SwayServer::Nested{host, 2});
  ASSERT_TRUE(nested.Started()) << nested.Log();
  ShowDirectory show;
  const std::string shot = show.File("shot.ppm");
  ChildProcess program = show.Start({"/s"}, nested.Environment(), "program.out");
  const auto sparks = [](const Image& image) { return HasSparks(image, {0, 0, image.width, image.height}); };
  for (int number = 1; number <= 2; ++number) {
    ASSERT_TRUE(nested.WaitForScreen(number, shot, sparks)) << "no fireworks on output " << number;
  }
  ASSERT_TRUE(nested.UnplugOutput(1));
  const std::optional<Image> before = nested.Screenshot(2, shot);
  ASSERT_TRUE(before.has_value());
  EXPECT_TRUE(nested.WaitForScreen(2, shot, [&](const Image& now) {
    return sparks(now) && now.CountDifferent(*before, {0, 0, now.width, now.height}) > 0;
  })) << "the show stopped drawing on the output that stayed";
  EXPECT_TRUE(EndedBySigterm(program));
  EXPECT_EQ(program.Output(), "");
}

} // namespace
