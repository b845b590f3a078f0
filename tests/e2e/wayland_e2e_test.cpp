// Whole-process tests of pyrovane as a Wayland client: on a headless sway with several outputs, on weston without a seat, and started by swayidle.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace {

using e2e::ChildProcess;
using e2e::ExitCode;
using e2e::Image;
using e2e::PatienceLimit;
using e2e::Rect;
using e2e::ShowDirectory;
using e2e::SwayServer;

const std::string Probe = DESKTOP_BOARD_PROBE;

// The show, started in `show`'s directory as a launcher starts it.
std::vector<std::string> ShowIn(const ShowDirectory& show) {
  return e2e::InDirectory(show.Path(), e2e::Command(e2e::Program, {"/s"}));
}

using Words = std::vector<std::string>;

// Runs a command of swaymsg's "seat seat0 cursor …", which moves and clicks the seat's pointer.
bool Cursor(const SwayServer& sway, const Words& action) {
  Words command{"seat", "seat0", "cursor"};
  command.insert(command.end(), action.begin(), action.end());
  return sway.Swaymsg(command).has_value();
}

bool HasSparks(const Image& shot, Rect rect) { return shot.CountBrightColoured(rect) > e2e::FewestSparkPixels; }

struct OutputCase {
  SwayServer::Size size;
  Rect picture; // where the frame must appear, 4:3; black bars elsewhere
};

// Waits until the output shows the probe's pattern exactly in its picture, the corners red,
// green, blue and white as the frame's quadrants are, with black bars around it.
bool ShowsPattern(const SwayServer& sway, int number, const OutputCase& output, const std::string& workPath) {
  const Rect p = output.picture;
  const int right = p.x + p.width - 1;
  const int bottom = p.y + p.height - 1;
  // The corners, and their neighbours outside the picture, where those lie on the output.
  const std::pair<Rect, std::uint32_t> samples[] = {
      {{p.x, p.y, 1, 1}, 0xFF0000},          {{right, p.y, 1, 1}, 0x00FF00},        {{p.x, bottom, 1, 1}, 0x0000FF},
      {{right, bottom, 1, 1}, 0xFFFFFF},     {{p.x - 1, p.y, 1, 1}, 0x000000},      {{p.x, p.y - 1, 1, 1}, 0x000000},
      {{right + 1, bottom, 1, 1}, 0x000000}, {{right, bottom + 1, 1, 1}, 0x000000},
  };
  return sway
      .WaitForScreen(number, workPath,
                     [&](const Image& shot) {
                       if (shot.width != output.size.width || shot.height != output.size.height) return false;
                       for (const auto& [rect, colour] : samples) {
                         const bool onOutput =
                             rect.x >= 0 && rect.y >= 0 && rect.x < shot.width && rect.y < shot.height;
                         if (onOutput && shot.CountEqual(rect, colour) != 1) return false;
                       }
                       return true;
                     })
      .has_value();
}

TEST(Wayland, TheShowCoversEveryOutputAndEndsAsOnX11) {
  SKIP_WITHOUT_WAYLAND_TOOLS();
  // Bars on the sides, bars above and below, and an output added while the board runs.
  const std::vector<OutputCase> outputs{
      {{1280, 720}, {160, 0, 960, 720}}, {{800, 800}, {0, 100, 800, 600}}, {{960, 600}, {80, 0, 800, 600}}};
  std::vector<SwayServer::Size> sizes;
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
  ChildProcess clicked(ShowIn(show), sway.Environment(), show.File("clicked.out"));
  for (int number = 1; number <= 3; ++number) {
    EXPECT_TRUE(sway.WaitForScreen(number, shot,
                                   [&](const Image& image) { return HasSparks(image, outputs[number - 1].picture); }))
        << "no fireworks on output " << number;
  }
  for (const Words& action : click) ASSERT_TRUE(Cursor(sway, action)) << action.front();
  const auto status = clicked.WaitForExit(PatienceLimit);
  ASSERT_TRUE(status.has_value()) << "a click did not end the show";
  EXPECT_EQ(ExitCode(*status), 0);
  EXPECT_EQ(clicked.Output(), "");

  const auto sparksOnTheFirst = [&](const Image& image) { return HasSparks(image, outputs[0].picture); };
  ChildProcess terminated(ShowIn(show), sway.Environment(), show.File("terminated.out"));
  ASSERT_TRUE(sway.WaitForScreen(1, shot, sparksOnTheFirst));
  EXPECT_TRUE(e2e::EndedBySigterm(terminated));
  EXPECT_EQ(terminated.Output(), "");

  ChildProcess orphaned(ShowIn(show), sway.Environment(), show.File("orphaned.out"));
  ASSERT_TRUE(sway.WaitForScreen(1, shot, sparksOnTheFirst));
  ASSERT_TRUE(sway.Kill());
  const auto lost = orphaned.WaitForExit(PatienceLimit);
  ASSERT_TRUE(lost.has_value()) << "the show outlived its compositor";
  EXPECT_EQ(ExitCode(*lost), 255);
  EXPECT_EQ(orphaned.Output(), "main: lost the connection to the display\n");
}

TEST(Wayland, WithoutACompositorTheShowSaysSoInOneLine) {
  ShowDirectory show;
  const std::pair<const char*, e2e::EnvironmentChanges> cases[] = {
      {"a socket path where nothing listens", {{"WAYLAND_DISPLAY", show.File("wayland-0")}}},
      {"a socket name without a runtime folder", {{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", std::nullopt}}},
      {"a handed-over socket that is no number", {{"WAYLAND_SOCKET", "none"}}},
  };
  for (const auto& [name, environment] : cases) {
    ChildProcess program(ShowIn(show), environment, show.File("out.txt"));
    const auto status = program.WaitForExit(PatienceLimit);
    ASSERT_TRUE(status.has_value()) << name;
    EXPECT_EQ(ExitCode(*status), 255) << name;
    EXPECT_EQ(program.Output(), "main: grSstQueryHardware failed!\n") << name;
  }
}

TEST(Wayland, RunsOnACompositorWithoutASeatUntilSigterm) {
  SKIP_WITHOUT_WAYLAND_TOOLS();
  e2e::WestonServer weston;
  ASSERT_TRUE(weston.Started()) << weston.Log();
  ShowDirectory show;
  // The client library's log of the protocol tells each frame the compositor has shown.
  e2e::EnvironmentChanges environment = weston.Environment();
  environment["WAYLAND_DEBUG"] = "client";
  ChildProcess program(ShowIn(show), environment, show.File("out.txt"));
  constexpr int FramesToSee = 30;
  EXPECT_TRUE(e2e::Eventually([&] {
    const std::string log = program.Output();
    const std::regex frameShown(R"(wl_callback@\d+\.done\()");
    const auto frames = std::distance(std::sregex_iterator(log.begin(), log.end(), frameShown), std::sregex_iterator());
    return frames >= FramesToSee || !program.Running();
  }));
  ASSERT_TRUE(program.Running()) << program.Output().substr(0, 2000);
  EXPECT_TRUE(e2e::EndedBySigterm(program));
}

TEST(Wayland, SwayidleStartsTheShowAndItsResumeCommandEndsIt) {
  SKIP_WITHOUT_WAYLAND_TOOLS();
  SwayServer sway({{1024, 768}}, 1);
  ASSERT_TRUE(sway.Started()) << sway.Log();
  ShowDirectory show;
  // The show notes its process id, once: swayidle runs the command again at every timeout.
  const std::string pidFile = show.File("show.pid");
  const std::string start =
      "cd '" + show.Path() + "' && [ ! -e show.pid ] && echo $$ > show.pid && exec '" + e2e::Program + "' /s";
  const std::string resume = "[ -s '" + pidFile + "' ] && kill \"$(cat '" + pidFile + "')\"";
  ChildProcess swayidle({"swayidle", "timeout", "1", start, "resume", resume}, sway.Environment(),
                        show.File("swayidle.out"));
  ASSERT_TRUE(e2e::Eventually([&] { return !e2e::ReadWhole(pidFile).empty(); })) << swayidle.Output();
  const pid_t pid = std::stoi(e2e::ReadWhole(pidFile));
  ASSERT_TRUE(sway.WaitForScreen(1, show.File("shot.ppm"), [](const Image& image) {
    return HasSparks(image, {0, 0, 1024, 768});
  })) << "the show did not start";
  // The user comes back: the pointer moves.
  ASSERT_TRUE(Cursor(sway, {"move", "5", "5"}));
  EXPECT_TRUE(e2e::Eventually([&] { return e2e::ProcessEnded(pid); }));
}

} // namespace
