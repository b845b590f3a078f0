// Whole-process tests of pyrovane as a Wayland client: on a headless sway with several outputs, on weston without a seat, and started by swayidle.
#include "processes.h"
#include "screenshots.h"
#include "wayland_compositors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace e2e;
using namespace support;

const std::string Probe = DESKTOP_BOARD_PROBE;

using Words = std::vector<std::string>;

// Runs a command of swaymsg's "seat seat0 cursor …", which moves and clicks the seat's pointer.
bool Cursor(const SwayServer& sway, const Words& action) {
  Words command{"seat", "seat0", "cursor"};
  command.insert(command.end(), action.begin(), action.end());
  return sway.Swaymsg(command).has_value();
}

bool HasSparks(const Image& shot, Rect rect) { return shot.CountBrightColoured(rect) > FewestSparkPixels; }

struct OutputCase {
  SwayServer::Size size;
  Rect picture; // where the frame must appear, 4:3; black bars elsewhere
};

// Waits until the output shows the probe's pattern exactly in its picture, with black bars around it.
bool ShowsPattern(const SwayServer& sway, int number, const OutputCase& output, const std::string& workPath) {
  const auto samples = PatternSamples({0, 0, output.size.width, output.size.height}, output.picture);
  const auto exact = [](const Image& shot, const PatternSample& s) { return Near(shot.At(s.x, s.y), s.expected, 0); };
  return sway
      .WaitForScreen(number, workPath,
                     [&](const Image& shot) {
                       return shot.width == output.size.width && shot.height == output.size.height &&
                              std::all_of(samples.begin(), samples.end(),
                                          [&](const auto& s) { return exact(shot, s); });
                     })
      .has_value();
}

TEST(Wayland, TheShowCoversEveryOutputAndEndsAsOnX11) {
  SKIP_WITHOUT_WAYLAND_TOOLS();
  // Bars on the sides, bars above and below, and an output added while the board runs.
  const std::vector<OutputCase> outputs{
      {{1280, 720}, {160, 0, 960, 720}}, {{800, 800}, {0, 100, 800, 600}}, {{960, 600}, {80, 0, 800, 600}}};
  std::vector<SwayServer::Size> sizes;
  sizes.reserve(outputs.size());
  for (const OutputCase& output : outputs) sizes.push_back(output.size);
  SwayServer sway(sizes, 2);
  ASSERT_TRUE(sway.Started()) << sway.Log();
  ShowDirectory show;
  const std::string shot = show.File("shot.ppm");
  const std::vector<Words> click{{"set", "640", "360"}, {"press", "button1"}, {"release", "button1"}};

  // Where the frame goes, exactly, with the probe's pattern; and a press that it reads.
  ChildProcess probe({Probe, "show"}, sway.Environment(), show.File("probe.out"));
  EXPECT_TRUE(ShowsPattern(sway, 1, outputs[0], shot)) << probe.Output();
  EXPECT_TRUE(ShowsPattern(sway, 2, outputs[1], shot));
  ASSERT_TRUE(sway.AddOutput());
  EXPECT_TRUE(ShowsPattern(sway, 3, outputs[2], shot));
  ASSERT_TRUE(Cursor(sway, click[0]) && Cursor(sway, click[1]));
  ASSERT_TRUE(probe.WaitForExit(PatienceLimit).has_value()) << "the probe did not see the press";
  EXPECT_NE(probe.Output().find("button 0x8001 "), std::string::npos) << "not held and pressed: " << probe.Output();
  ASSERT_TRUE(Cursor(sway, click[2]));

  // The show itself: fireworks on every output, nothing on standard error, a click ends it.
  ChildProcess clicked = show.Start({"/s"}, sway.Environment(), "clicked.out");
  for (int number = 1; number <= 3; ++number) {
    EXPECT_TRUE(sway.WaitForScreen(number, shot,
                                   [&](const Image& image) { return HasSparks(image, outputs[number - 1].picture); }))
        << "no fireworks on output " << number;
  }
  for (const Words& action : click) ASSERT_TRUE(Cursor(sway, action)) << action.front();
  EXPECT_EQ(clicked.WaitForEnd(), (Ended{0, ""})) << "a click did not end the show, or it failed";

  const auto sparksOnTheFirst = [&](const Image& image) { return HasSparks(image, outputs[0].picture); };
  ChildProcess terminated = show.Start({"/s"}, sway.Environment(), "terminated.out");
  ASSERT_TRUE(sway.WaitForScreen(1, shot, sparksOnTheFirst));
  EXPECT_TRUE(EndedBySigterm(terminated));
  EXPECT_EQ(terminated.Output(), "");

  ChildProcess orphaned = show.Start({"/s"}, sway.Environment(), "orphaned.out");
  ASSERT_TRUE(sway.WaitForScreen(1, shot, sparksOnTheFirst));
  ASSERT_TRUE(sway.Kill());
  EXPECT_EQ(orphaned.WaitForEnd(), (Ended{255, "main: lost the connection to the display\n"}))
      << "the show outlived its compositor, or ended otherwise";
}

TEST(Wayland, WithoutACompositorTheShowSaysSoInOneLine) {
  ShowDirectory show;
  const std::pair<const char*, EnvironmentChanges> cases[] = {
      {"a socket path where nothing listens", {{"WAYLAND_DISPLAY", show.File("wayland-0")}}},
      {"a socket name without a runtime folder", {{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", std::nullopt}}},
      {"a handed-over socket that is no number", {{"WAYLAND_SOCKET", "none"}}},
  };
  for (const auto& [name, environment] : cases) {
    EXPECT_EQ(RunProgram(show.Path(), {"/s"}, environment), (Ended{255, "main: grSstQueryHardware failed!\n"})) << name;
  }
}

TEST(Wayland, RunsOnACompositorWithoutASeatUntilSigterm) {
  SKIP_WITHOUT_WAYLAND_TOOLS();
  WestonServer weston;
  ASSERT_TRUE(weston.Started()) << weston.Log();
  ShowDirectory show;
  // The client library's log of the protocol tells each frame the compositor has shown.
  EnvironmentChanges environment = weston.Environment();
  environment["WAYLAND_DEBUG"] = "client";
  ChildProcess program = show.Start({"/s"}, environment);
  constexpr int FramesToSee = 30;
  EXPECT_TRUE(Eventually([&] {
    const std::string log = program.Output();
    const std::regex frameShown(R"(wl_callback@\d+\.done\()");
    const auto frames = std::distance(std::sregex_iterator(log.begin(), log.end(), frameShown), std::sregex_iterator());
    return frames >= FramesToSee || !program.Running();
  }));
  ASSERT_TRUE(program.Running()) << program.Output().substr(0, 2000);
  EXPECT_TRUE(EndedBySigterm(program));
}

TEST(Wayland, SwayidleStartsTheShowAndItsResumeCommandEndsIt) {
  SKIP_WITHOUT_WAYLAND_TOOLS();
  SwayServer sway({{1024, 768}}, 1);
  ASSERT_TRUE(sway.Started()) << sway.Log();
  ShowDirectory show;
  // The show notes its process id, once: swayidle runs the command again at every timeout.
  const std::string pidFile = show.File("show.pid");
  const std::string start =
      "cd '" + show.Path() + "' && [ ! -e show.pid ] && echo $$ > show.pid && exec '" + Program + "' /s";
  const std::string resume = "[ -s '" + pidFile + "' ] && kill \"$(cat '" + pidFile + "')\"";
  ChildProcess swayidle({"swayidle", "timeout", "1", start, "resume", resume}, sway.Environment(),
                        show.File("swayidle.out"));
  ASSERT_TRUE(Eventually([&] { return !ReadWhole(pidFile).empty(); })) << swayidle.Output();
  const pid_t pid = std::stoi(ReadWhole(pidFile));
  ASSERT_TRUE(sway.WaitForScreen(1, show.File("shot.ppm"), [](const Image& image) {
    return HasSparks(image, {0, 0, 1024, 768});
  })) << "the show did not start";
  // The user comes back: the pointer moves.
  ASSERT_TRUE(Cursor(sway, {"move", "5", "5"}));
  EXPECT_TRUE(Eventually([&] { return ProcessEnded(pid); }));
}

} // namespace
