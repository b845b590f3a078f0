// Whole-process tests of pyrovane in a screen-saver host's window (XSCREENSAVER_WINDOW) on a private Xvfb server.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using e2e::ChildProcess;
using e2e::EndedBySigterm;
using e2e::EnvironmentChanges;
using e2e::HostWindow;
using e2e::Image;
using e2e::PatienceLimit;
using e2e::Rect;
using e2e::WaitForScreen;
using e2e::XvfbServer;

const std::string Program = PYROVANE_PROGRAM;
const std::string Flare = PYROVANE_FLARE;
const std::string HostWindowWarning = "XSCREENSAVER_WINDOW is not a window to draw in; the show opens a window of its own\n";

constexpr int ScreenWidth = 1024;
constexpr int ScreenHeight = 768;
constexpr Rect WholeScreen{0, 0, ScreenWidth, ScreenHeight};
// A window of the size a settings dialog's preview or a small monitor gives, away from the
// screen's edges so that a picture spilling over any of them would show.
constexpr Rect HostPlacement{100, 100, 400, 300};

// In a 400×300 window the bursts of a running show cover a hundred bright pixels or more once the
// first rockets have burst; a show that has not drawn has none.
constexpr int FewestSparkPixels = 50;

// Waits until the show has burst rockets in `rect`; the screenshot that shows them.
std::optional<Image> WaitForSparks(const XvfbServer& server, Rect rect, const std::string& workPath) {
  return e2e::WaitForScreen(server, workPath,
                            [rect](const Image& shot) { return shot.CountBrightColoured(rect) > FewestSparkPixels; });
}

// A working directory holding the flare texture, as the show expects.
struct ShowDirectory {
  e2e::TemporaryDirectory directory;
  ShowDirectory() { std::filesystem::copy_file(Flare, directory.File("flare.3df")); }
};

EnvironmentChanges WithHostWindow(const XvfbServer& server, const std::string& id) {
  EnvironmentChanges environment = server.Environment();
  environment["XSCREENSAVER_WINDOW"] = id;
  return environment;
}

// The show started by a host: in the texture's directory, with the host's window named.
ChildProcess StartShow(const XvfbServer& server, const ShowDirectory& show, const std::string& id,
                       const std::string& outputName) {
  return ChildProcess(e2e::InDirectory(show.directory.Path(), {Program, "/s"}), WithHostWindow(server, id),
                      show.directory.File(outputName));
}

TEST(HostWindowProgram, DrawsOnlyInTheHostsWindowUntilSigterm) {
  SKIP_WITHOUT_XVFB();
  struct Case {
    const char* name;
    std::string (HostWindow::*id)() const;
  };
  // xscreensaver writes the id in hexadecimal, xsecurelock in decimal.
  for (const Case& c : {Case{"hexadecimal id", &HostWindow::HexadecimalId}, Case{"decimal id", &HostWindow::DecimalId}}) {
    XvfbServer server(ScreenWidth, ScreenHeight);
    ASSERT_TRUE(server.Started()) << c.name;
    HostWindow host(server, HostPlacement);
    ASSERT_TRUE(host.Created()) << c.name;
    ShowDirectory show;
    const std::optional<Image> before = e2e::Screenshot(server.Display(), show.directory.File("before.ppm"));
    ASSERT_TRUE(before.has_value()) << c.name;
    ASSERT_EQ(before->CountEqual(HostPlacement, HostWindow::Background), HostPlacement.width * HostPlacement.height)
        << c.name << ": the host's window is not on the screen";
    const std::vector<std::uint32_t> windowsBefore = host.VisibleTopLevelWindows();

    ChildProcess program = StartShow(server, show, (host.*c.id)(), "out.txt");
    ASSERT_TRUE(e2e::WaitUntilPainted(server, HostPlacement, show.directory.File("painted.ppm"))) << c.name << ": "
                                                                                              << program.Output();
    const std::optional<Image> shot = WaitForSparks(server, HostPlacement, show.directory.File("shot.ppm"));
    ASSERT_TRUE(shot.has_value()) << c.name << ": no bright coloured sparks";
    const int pixels = HostPlacement.width * HostPlacement.height;
    EXPECT_GT(shot->CountBlack(HostPlacement), pixels / 2) << c.name << ": the sky is mostly black";
    EXPECT_EQ(shot->CountDifferent(*before, WholeScreen, HostPlacement), 0) << c.name << ": drawn outside the window";
    EXPECT_EQ(host.VisibleTopLevelWindows(), windowsBefore) << c.name << ": a window of its own appeared";

    // The host owns the input: the button in its window is the host's business, not the show's
    // end. A held button is what the show would see anywhere on the screen if it looked.
    ASSERT_TRUE(server.Xdotool({"mousemove", "300", "250", "mousedown", "1"})) << c.name;
    EXPECT_FALSE(program.WaitForExit(std::chrono::seconds(1)).has_value()) << c.name << ": the button ended the show";
    ASSERT_TRUE(server.Xdotool({"mouseup", "1"})) << c.name;

    EXPECT_TRUE(EndedBySigterm(program)) << c.name;
    EXPECT_EQ(program.Output(), "") << c.name;
    EXPECT_TRUE(host.Intact()) << c.name << ": the host's window did not survive the show";
  }
}

TEST(HostWindowProgram, EndsQuietlyWhenTheHostDestroysItsWindow) {
  SKIP_WITHOUT_XVFB();
  // A host may take its window away before it sends SIGTERM: that is the end of the show, not a
  // failure of it.
  XvfbServer server(ScreenWidth, ScreenHeight);
  ASSERT_TRUE(server.Started());
  HostWindow host(server, HostPlacement);
  ASSERT_TRUE(host.Created());
  ShowDirectory show;
  ChildProcess program = StartShow(server, show, host.DecimalId(), "out.txt");
  ASSERT_TRUE(e2e::WaitUntilPainted(server, HostPlacement, show.directory.File("painted.ppm"))) << program.Output();
  host.Destroy();
  const std::optional<int> status = program.WaitForExit(PatienceLimit);
  ASSERT_TRUE(status.has_value()) << "the show outlived its window";
  EXPECT_EQ(e2e::ExitCode(*status), 0);
  EXPECT_EQ(program.Output(), "");
}

TEST(HostWindowProgram, AValueThatNamesNoWindowFallsBackToAWindowOfItsOwn) {
  SKIP_WITHOUT_XVFB();
  XvfbServer server(640, 480);
  ASSERT_TRUE(server.Started());
  HostWindow destroyed(server, {0, 0, 100, 100});
  ASSERT_TRUE(destroyed.Created());
  destroyed.Destroy();
  HostWindow inputOnly(server, {0, 0, 100, 100}, HostWindow::Kind::ForInputOnly);
  ASSERT_TRUE(inputOnly.Created());
  struct Case {
    const char* name;
    std::string value;
  };
  const Case cases[] = {
      {"not a number", "pyrovane"},
      {"empty", ""},
      {"zero", "0"},
      {"a window that was destroyed", destroyed.DecimalId()},
      {"an input-only window", inputOnly.HexadecimalId()},
  };
  ShowDirectory show;
  for (const Case& c : cases) {
    ChildProcess program = StartShow(server, show, c.value, "out.txt");
    EXPECT_TRUE(e2e::WaitForWindow(server, "^Pyrovane$")) << c.name << ": " << program.Output();
    EXPECT_EQ(program.Output(), HostWindowWarning) << c.name;
    EXPECT_TRUE(EndedBySigterm(program)) << c.name;
    // The next case starts on an empty screen.
    for (int i = 0; i < 100 && server.Xdotool({"search", "--name", "^Pyrovane$"}); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
}

TEST(HostWindowProgram, TwoShowsInTwoWindowsSideBySideBothDraw) {
  SKIP_WITHOUT_XVFB();
  // One process per window, as hosts run a saver on each monitor.
  XvfbServer server(ScreenWidth, ScreenHeight);
  ASSERT_TRUE(server.Started());
  constexpr Rect LeftPlacement{0, 0, 400, 300};
  constexpr Rect RightPlacement{420, 0, 400, 300};
  HostWindow left(server, LeftPlacement);
  HostWindow right(server, RightPlacement);
  ASSERT_TRUE(left.Created() && right.Created());
  ShowDirectory show;
  ChildProcess leftShow = StartShow(server, show, left.HexadecimalId(), "left.txt");
  ChildProcess rightShow = StartShow(server, show, right.DecimalId(), "right.txt");
  ASSERT_TRUE(e2e::WaitUntilPainted(server, LeftPlacement, show.directory.File("shot.ppm"))) << leftShow.Output();
  ASSERT_TRUE(e2e::WaitUntilPainted(server, RightPlacement, show.directory.File("shot.ppm"))) << rightShow.Output();

  // Both burst rockets, and both go on drawing: each window changes from one moment to the next.
  const std::optional<Image> first = WaitForScreen(server, show.directory.File("first.ppm"), [&](const Image& shot) {
    return shot.CountBrightColoured(LeftPlacement) > FewestSparkPixels &&
           shot.CountBrightColoured(RightPlacement) > FewestSparkPixels;
  });
  ASSERT_TRUE(first.has_value()) << "no sparks in one of the windows";
  EXPECT_TRUE(WaitForScreen(server, show.directory.File("second.ppm"), [&](const Image& shot) {
    return shot.CountDifferent(*first, LeftPlacement) > 0 && shot.CountDifferent(*first, RightPlacement) > 0;
  })) << "one of the windows stands still";

  // Ending one leaves the other drawing in its own window: while the right window changes, the
  // left one stays as it was.
  EXPECT_TRUE(EndedBySigterm(leftShow));
  const std::optional<Image> third = e2e::Screenshot(server.Display(), show.directory.File("third.ppm"));
  ASSERT_TRUE(third.has_value());
  const std::optional<Image> fourth = WaitForScreen(server, show.directory.File("fourth.ppm"), [&](const Image& shot) {
    return shot.CountDifferent(*third, RightPlacement) > 0;
  });
  ASSERT_TRUE(fourth.has_value()) << "the right show stopped with the left one";
  EXPECT_EQ(fourth->CountDifferent(*third, LeftPlacement), 0) << "something still draws in the left window";
  EXPECT_TRUE(rightShow.Running());
  EXPECT_TRUE(EndedBySigterm(rightShow));
  EXPECT_TRUE(left.Intact());
  EXPECT_TRUE(right.Intact());
  EXPECT_EQ(leftShow.Output(), "");
  EXPECT_EQ(rightShow.Output(), "");
}

} // namespace
