// Whole-process tests of the desktop board and its button, on a private Xvfb server.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using e2e::ChildProcess;
using e2e::Colour;
using e2e::EnvironmentChanges;
using e2e::PatienceLimit;
using e2e::XvfbServer;

const std::string Probe = DESKTOP_BOARD_PROBE;
constexpr int ProbeFoundDisplay = 0;
constexpr int ProbeNoDisplay = 3;

using e2e::ExitCode;

// The frame count of the probe's last progress line ("presented N").
int LastPresentedCount(const std::string& output) {
  const std::size_t at = output.rfind("presented ");
  return at == std::string::npos ? 0 : std::atoi(output.c_str() + at + 10);
}

// The probe's pattern: the top half red on the left and green on the right, the bottom half
// blue and white.
constexpr Colour Black{0, 0, 0};
constexpr Colour Red{255, 0, 0};
constexpr Colour Green{0, 255, 0};
constexpr Colour Blue{0, 0, 255};
constexpr Colour White{255, 255, 255};

// A renderer may round a channel differently from our scaler.
constexpr int ChannelTolerance = 3;

bool Near(Colour actual, Colour expected) {
  return std::abs(actual.red - expected.red) <= ChannelTolerance &&
         std::abs(actual.green - expected.green) <= ChannelTolerance &&
         std::abs(actual.blue - expected.blue) <= ChannelTolerance;
}

std::string Describe(Colour colour) {
  return "(" + std::to_string(colour.red) + ", " + std::to_string(colour.green) + ", " + std::to_string(colour.blue) + ")";
}

// A running probe that shows the pattern, once it has presented its first frames.
struct RunningProbe {
  ChildProcess process;
  bool presenting;
  RunningProbe(const XvfbServer& server, const std::string& outputPath, const std::string& path = "automatic",
               const std::string& pattern = "quadrants", int framesBeforeReady = 10,
               const EnvironmentChanges& moreEnvironment = {})
      : process({Probe, "show", "--path", path, "--pattern", pattern}, Merged(server.Environment(), moreEnvironment),
                outputPath),
        presenting(process.WaitForOutput("presented " + std::to_string(framesBeforeReady) + "\n", PatienceLimit)) {}

  static EnvironmentChanges Merged(EnvironmentChanges environment, const EnvironmentChanges& more) {
    for (const auto& [name, value] : more) environment.insert_or_assign(name, value);
    return environment;
  }
  // Waits until the probe has presented `frames` (a multiple of ten) more frames than it had reported.
  bool PresentsMore(int frames) {
    const int target = LastPresentedCount(process.Output()) + frames;
    return process.WaitForOutput("presented " + std::to_string(target) + "\n", PatienceLimit);
  }
};

TEST(DesktopBoardQuery, FindsOnlyADisplayAPersonCanSee) {
  SKIP_WITHOUT_XVFB();
  XvfbServer server(640, 480);
  ASSERT_TRUE(server.Started());
  e2e::TemporaryDirectory directory;
  // A display number that nothing listens on: Xvfb chose a free one, and the next thousand up
  // is as free in practice.
  const std::string deadDisplay = ":" + std::to_string(std::atoi(server.Display().c_str() + 1) + 1000);
  struct Case {
    const char* name;
    EnvironmentChanges environment;
    int expectedExit;
  };
  const Case cases[] = {
      {"an X display", {{"DISPLAY", server.Display()}}, ProbeFoundDisplay},
      {"x11 named explicitly", {{"DISPLAY", server.Display()}, {"SDL_VIDEODRIVER", "x11"}}, ProbeFoundDisplay},
      {"no DISPLAY at all", {}, ProbeNoDisplay},
      {"DISPLAY naming a dead server", {{"DISPLAY", deadDisplay}}, ProbeNoDisplay},
      {"the invisible offscreen driver forced", {{"DISPLAY", server.Display()}, {"SDL_VIDEODRIVER", "offscreen"}}, ProbeNoDisplay},
      {"the dummy driver forced", {{"DISPLAY", server.Display()}, {"SDL_VIDEODRIVER", "dummy"}}, ProbeNoDisplay},
  };
  for (const Case& c : cases) {
    ChildProcess probe({Probe, "query"}, c.environment, directory.File("query.out"));
    const auto status = probe.WaitForExit(PatienceLimit);
    ASSERT_TRUE(status.has_value()) << c.name;
    EXPECT_EQ(ExitCode(*status), c.expectedExit) << c.name << ": " << probe.Output();
    if (c.expectedExit == ProbeNoDisplay) {
      // A failed start must leave nothing but its own line on the terminal.
      EXPECT_EQ(probe.Output(), "no display\n") << c.name;
    }
  }
}

TEST(DesktopBoardPicture, FillsTheScreenWithTheFrameInFourByThree) {
  SKIP_WITHOUT_XVFB();
  struct Rect {
    int x, y, width, height;
  };
  struct Case {
    int width;
    int height;
    const char* path;
    Rect picture; // where the frame must appear; black bars elsewhere
  };
  const Case cases[] = {
      {640, 480, "automatic", {0, 0, 640, 480}},
      {1024, 768, "images", {0, 0, 1024, 768}},
      {1024, 768, "renderer", {0, 0, 1024, 768}},
      {1920, 1080, "images", {240, 0, 1440, 1080}},
      {1920, 1080, "renderer", {240, 0, 1440, 1080}},
      {1280, 1024, "images", {0, 32, 1280, 960}},
      {1280, 1024, "automatic", {0, 32, 1280, 960}},
  };
  for (const Case& c : cases) {
    const std::string name = std::to_string(c.width) + "x" + std::to_string(c.height) + " " + c.path;
    XvfbServer server(c.width, c.height);
    ASSERT_TRUE(server.Started()) << name;
    e2e::TemporaryDirectory directory;
    RunningProbe probe(server, directory.File("probe.out"), c.path);
    ASSERT_TRUE(probe.presenting) << name << ": " << probe.process.Output();
    const auto shot = e2e::Screenshot(server.Display(), directory.File("shot.ppm"));
    ASSERT_TRUE(shot.has_value()) << name;
    ASSERT_EQ(shot->width, c.width);
    ASSERT_EQ(shot->height, c.height);

    const Rect p = c.picture;
    const int right = p.x + p.width - 1;
    const int bottom = p.y + p.height - 1;
    struct Sample {
      int x, y;
      Colour expected;
      const char* what;
    };
    std::vector<Sample> samples = {
        {p.x, p.y, Red, "top left corner"},
        {right, p.y, Green, "top right corner"},
        {p.x, bottom, Blue, "bottom left corner"},
        {right, bottom, White, "bottom right corner"},
        {p.x + p.width / 4, p.y + p.height / 4, Red, "top left quarter"},
        {p.x + 3 * p.width / 4, p.y + 3 * p.height / 4, White, "bottom right quarter"},
    };
    // The bars must be black; without the window there would be Xvfb's grey root weave.
    if (p.x > 0) {
      samples.push_back({0, c.height / 2, Black, "left bar, outer edge"});
      samples.push_back({p.x - 1, c.height / 2, Black, "left bar, inner edge"});
      samples.push_back({right + 1, c.height / 2, Black, "right bar, inner edge"});
      samples.push_back({c.width - 1, c.height - 1, Black, "right bar, corner"});
    }
    if (p.y > 0) {
      samples.push_back({c.width / 2, 0, Black, "top bar, outer edge"});
      samples.push_back({c.width / 2, p.y - 1, Black, "top bar, inner edge"});
      samples.push_back({c.width / 2, bottom + 1, Black, "bottom bar, inner edge"});
    }
    for (const Sample& s : samples) {
      EXPECT_TRUE(Near(shot->At(s.x, s.y), s.expected))
          << name << ": " << s.what << " at " << s.x << "," << s.y << " is " << Describe(shot->At(s.x, s.y));
    }

    // Along a row through the red and green halves, scaling is smooth when pixels between the two
    // mix them; at the frame's own size every pixel is one or the other.
    int mixed = 0;
    const int row = p.y + p.height / 4;
    for (int x = p.x; x <= right; ++x) {
      const Colour colour = shot->At(x, row);
      if (!Near(colour, Red) && !Near(colour, Green)) {
        ++mixed;
        EXPECT_GT(colour.red + colour.green, 200) << name << ": a mixed pixel at " << x << " is " << Describe(colour);
      }
    }
    if (p.width == 640) {
      EXPECT_EQ(mixed, 0) << name;
    } else {
      EXPECT_GT(mixed, 0) << name << ": no smooth step between red and green";
      EXPECT_LE(mixed, 4) << name << ": the step between red and green is blurred too wide";
    }
  }
}

TEST(DesktopBoardHostWindow, KeepsFourByThreeAndFollowsTheWindowsSize) {
  SKIP_WITHOUT_XVFB();
  // The host's window starts at 400×300, where the picture fills it, and is then resized;
  // SDL sees no resize of a window it did not make unless the board asks for it.
  struct Case {
    const char* path;
    int width;
    int height;
    e2e::Rect picture; // in the resized window
  };
  const Case cases[] = {
      {"images", 800, 300, {200, 0, 400, 300}},
      {"renderer", 800, 300, {200, 0, 400, 300}},
      {"images", 400, 600, {0, 150, 400, 300}},
      {"renderer", 640, 480, {0, 0, 640, 480}},
  };
  constexpr e2e::Rect Placement{100, 50, 400, 300};
  for (const Case& c : cases) {
    const std::string name = std::string(c.path) + " to " + std::to_string(c.width) + "x" + std::to_string(c.height);
    XvfbServer server(1024, 768);
    ASSERT_TRUE(server.Started()) << name;
    e2e::HostWindow host(server, Placement);
    ASSERT_TRUE(host.Created()) << name;
    e2e::TemporaryDirectory directory;
    const auto before = e2e::Screenshot(server.Display(), directory.File("before.ppm"));
    ASSERT_TRUE(before.has_value()) << name;
    RunningProbe probe(server, directory.File("probe.out"), c.path, "quadrants", 10,
                       {{"XSCREENSAVER_WINDOW", host.HexadecimalId()}});
    ASSERT_TRUE(probe.presenting) << name << ": " << probe.process.Output();

    // Where the frame must be, in window coordinates, and where the bars are black.
    const auto check = [&](e2e::Rect picture, int windowWidth, int windowHeight, const std::string& when) {
      const auto shot = e2e::Screenshot(server.Display(), directory.File("shot.ppm"));
      ASSERT_TRUE(shot.has_value()) << name;
      struct Sample {
        int x, y;
        Colour expected;
        const char* what;
      };
      const int right = picture.x + picture.width - 1;
      const int bottom = picture.y + picture.height - 1;
      std::vector<Sample> samples = {
          {picture.x, picture.y, Red, "top left corner"},
          {right, picture.y, Green, "top right corner"},
          {picture.x, bottom, Blue, "bottom left corner"},
          {right, bottom, White, "bottom right corner"},
      };
      if (picture.x > 0) {
        samples.push_back({0, windowHeight / 2, Black, "left bar"});
        samples.push_back({windowWidth - 1, windowHeight - 1, Black, "right bar"});
      }
      if (picture.y > 0) {
        samples.push_back({windowWidth / 2, 0, Black, "top bar"});
        samples.push_back({windowWidth - 1, windowHeight - 1, Black, "bottom bar"});
      }
      for (const Sample& s : samples) {
        const Colour colour = shot->At(Placement.x + s.x, Placement.y + s.y);
        EXPECT_TRUE(Near(colour, s.expected)) << name << ", " << when << ": " << s.what << " at " << s.x << "," << s.y
                                              << " of the window is " << Describe(colour);
      }
      // Nothing is drawn outside the window.
      const e2e::Rect window{Placement.x, Placement.y, windowWidth, windowHeight};
      EXPECT_EQ(shot->CountDifferent(*before, {0, 0, 1024, 768}, window), 0) << name << ", " << when;
    };
    check({0, 0, Placement.width, Placement.height}, Placement.width, Placement.height, "before the resize");
    ASSERT_TRUE(host.Resize(c.width, c.height)) << name;
    ASSERT_TRUE(probe.PresentsMore(30)) << name << ": " << probe.process.Output();
    check(c.picture, c.width, c.height, "after the resize");
    EXPECT_TRUE(probe.process.Running()) << name;
  }
}

TEST(DesktopBoardPicture, WhatChangedIsRedrawnToExactlyWhatAFullRepaintShows) {
  SKIP_WITHOUT_XVFB();
  // The probe's sparks move for 60 frames, each frame telling which tiles changed, and then
  // stay. A second probe that starts with them where they stay draws its first frame whole.
  // Both screens must be the same to the bit: nothing left behind, nothing missed, whether the
  // frames go through shared memory or in the requests themselves.
  struct Case {
    const char* name;
    int width;
    int height;
    XvfbServer::SharedMemory sharedMemory;
  };
  const Case cases[] = {
      {"1920x1080 through shared memory", 1920, 1080, XvfbServer::SharedMemory::Offered},
      {"1280x1024 through requests", 1280, 1024, XvfbServer::SharedMemory::NotOffered},
      {"640x480 through shared memory", 640, 480, XvfbServer::SharedMemory::Offered},
  };
  for (const Case& c : cases) {
    XvfbServer server(c.width, c.height, c.sharedMemory);
    ASSERT_TRUE(server.Started()) << c.name;
    e2e::TemporaryDirectory directory;
    const auto screenAfter = [&](const std::string& firstFrame, int frames) -> std::optional<e2e::Image> {
      ChildProcess probe({Probe, "show", "--path", "images", "--pattern", "sparks", "--first-frame", firstFrame},
                         server.Environment(), directory.File("probe.out"));
      if (!probe.WaitForOutput("presented " + std::to_string(frames) + "\n", PatienceLimit)) {
        ADD_FAILURE() << c.name << ": " << probe.Output();
        return std::nullopt;
      }
      return e2e::Screenshot(server.Display(), directory.File("shot.ppm"));
    };
    const std::optional<e2e::Image> step = screenAfter("0", 80);
    const std::optional<e2e::Image> whole = screenAfter("60", 10);
    ASSERT_TRUE(step && whole) << c.name;
    const e2e::Rect screen{0, 0, c.width, c.height};
    EXPECT_EQ(step->CountDifferent(*whole, screen), 0) << c.name;
    EXPECT_GT(whole->CountBrightColoured(screen), 1000) << c.name << ": the sparks are not there";
  }
}

TEST(DesktopBoardPresentPath, AvoidsSoftwareOpenGlWithoutDirectRendering) {
  SKIP_WITHOUT_XVFB();
  // Xvfb offers no direct rendering, so OpenGL there is a software rasterizer that costs
  // milliseconds a frame and a hundred megabytes. Whether the process loaded it shows in its
  // memory map; the forced renderer shows that the check can see it.
  struct Case {
    const char* path;
    bool expectOpenGl;
  };
  for (const Case c : {Case{"automatic", false}, Case{"images", false}, Case{"renderer", true}}) {
    XvfbServer server(640, 480);
    ASSERT_TRUE(server.Started()) << c.path;
    e2e::TemporaryDirectory directory;
    RunningProbe probe(server, directory.File("probe.out"), c.path);
    ASSERT_TRUE(probe.presenting) << c.path << ": " << probe.process.Output();
    std::ifstream maps("/proc/" + std::to_string(probe.process.Pid()) + "/maps");
    std::stringstream text;
    text << maps.rdbuf();
    EXPECT_EQ(text.str().find("/libGL") != std::string::npos, c.expectOpenGl) << c.path;
  }
}

TEST(DesktopButton, ChangesOnPressesOnly) {
  SKIP_WITHOUT_XVFB();
  struct Case {
    const char* name;
    std::vector<std::vector<std::string>> actions; // xdotool command lines, in order
    bool coverWithAnotherWindow;
    unsigned expectedBits; // bits that the first changed value has; 0: the value must not change
  };
  const Case cases[] = {
      {"a held button", {{"mousemove", "320", "240", "mousedown", "1"}}, false, 0x8001},
      // Down and up in one command, far quicker than a frame: no state query sees it.
      {"a click shorter than a frame", {{"mousemove", "320", "240", "mousedown", "1", "mouseup", "1"}}, false, 0x0001},
      {"a button held over another window", {{"mousemove", "60", "20", "mousedown", "1"}}, true, 0x8000},
      {"keys and motion",
       {{"mousemove", "10", "10"}, {"mousemove", "600", "400"}, {"key", "a"}, {"key", "Escape"}, {"key", "space"},
        {"mousedown", "3", "mouseup", "3"}},
       false,
       0},
  };
  for (const Case& c : cases) {
    XvfbServer server(640, 480);
    ASSERT_TRUE(server.Started()) << c.name;
    e2e::TemporaryDirectory directory;
    RunningProbe probe(server, directory.File("probe.out"));
    ASSERT_TRUE(probe.presenting) << c.name << ": " << probe.process.Output();
    std::optional<ChildProcess> cover;
    if (c.coverWithAnotherWindow) {
      // With no window manager, a window mapped later lies on top of ours.
      cover.emplace(std::vector<std::string>{"xmessage", "-geometry", "200x100+0+0", "a window on top"},
                    server.Environment(), directory.File("xmessage.out"));
      for (int attempt = 0; attempt < 200 && !server.Xdotool({"search", "--onlyvisible", "--class", "Xmessage"}); ++attempt) {
        ASSERT_TRUE(cover->Running()) << cover->Output();
      }
      ASSERT_TRUE(server.Xdotool({"search", "--onlyvisible", "--class", "Xmessage"}));
    }
    for (const auto& action : c.actions) {
      ASSERT_TRUE(server.Xdotool(action)) << c.name;
    }
    if (c.expectedBits == 0) {
      // Let the probe read the button over enough frames that the events have surely arrived:
      // the count goes on, and the value stays as it was.
      const std::size_t before = probe.process.Output().size();
      const std::string later = "presented " + std::to_string(LastPresentedCount(probe.process.Output()) + 30) + "\n";
      EXPECT_TRUE(probe.process.WaitForOutput(later, PatienceLimit)) << c.name << ": " << probe.process.Output();
      EXPECT_EQ(probe.process.Output().find("button", before), std::string::npos) << c.name << ": " << probe.process.Output();
      EXPECT_TRUE(probe.process.Running()) << c.name;
      ASSERT_TRUE(server.Xdotool({"click", "1"}));
    }
    const auto status = probe.process.WaitForExit(PatienceLimit);
    ASSERT_TRUE(status.has_value()) << c.name << ": the probe did not see the button";
    EXPECT_EQ(ExitCode(*status), 0) << c.name;
    const std::string output = probe.process.Output();
    const std::size_t at = output.find("button 0x");
    ASSERT_NE(at, std::string::npos) << c.name << ": " << output;
    const unsigned value = static_cast<unsigned>(std::stoul(output.substr(at + 9, 4), nullptr, 16));
    const unsigned expected = c.expectedBits == 0 ? 0x0001 : c.expectedBits;
    EXPECT_EQ(value & expected, expected) << c.name << ": " << output;
    server.Xdotool({"mouseup", "1"});
  }
}

TEST(DesktopBoardSignals, EndTheProcessAtOnce) {
  SKIP_WITHOUT_XVFB();
  for (const int signalNumber : {SIGTERM, SIGINT}) {
    XvfbServer server(640, 480);
    ASSERT_TRUE(server.Started());
    e2e::TemporaryDirectory directory;
    RunningProbe probe(server, directory.File("probe.out"));
    ASSERT_TRUE(probe.presenting) << probe.process.Output();
    kill(probe.process.Pid(), signalNumber);
    const auto status = probe.process.WaitForExit(PatienceLimit);
    ASSERT_TRUE(status.has_value()) << "signal " << signalNumber << " did not end the show";
    ASSERT_TRUE(WIFSIGNALED(*status)) << "signal " << signalNumber;
    EXPECT_EQ(WTERMSIG(*status), signalNumber);
  }
}

} // namespace
