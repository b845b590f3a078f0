// Whole-process tests of pyrovane in a screen-saver host's window (XSCREENSAVER_WINDOW) on a private Xvfb server.
#include "processes.h"
#include "screenshots.h"
#include "support/case_name.h"
#include "x_servers.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace e2e;
using namespace support;

const std::string UnusableWindowLine = "main: XSCREENSAVER_WINDOW does not name a window to draw in\n";
const std::string CallHooks = PYROVANE_CALL_HOOKS;

// A window of the size a settings dialog's preview or a small monitor gives, away from the
// screen's edges so that a picture spilling over any of them would show.
constexpr Rect HostPlacement{100, 100, 400, 300};

// What a host gives the show it starts: its display, and its window named.
EnvironmentChanges WithHostWindow(const XvfbServer& server, const std::string& id, EnvironmentChanges more = {}) {
  more.merge(EnvironmentChanges{{"XSCREENSAVER_WINDOW", id}});
  more.merge(server.Environment());
  return more;
}

// xscreensaver writes the id in hexadecimal, xsecurelock in decimal; a compositing host may give
// a window with alpha, where the show's pixels must be opaque.
struct IdCase {
  const char* name;
  std::string (HostWindow::*id)() const;
  HostWindow::Kind kind;
};

class HostWindowId : public ::testing::TestWithParam<IdCase> {};

TEST_P(HostWindowId, DrawsOnlyInTheHostsWindowUntilSigterm) {
  START_X_SERVER(server, 1024, 768);
  HostWindow host(server, HostPlacement, GetParam().kind);
  ASSERT_TRUE(host.Created());
  ShowDirectory show;
  const std::optional<Image> before = Screenshot(server.Display(), show.File("before.ppm"));
  ASSERT_TRUE(before.has_value());
  ASSERT_EQ(before->CountEqual(HostPlacement, HostWindow::Background), HostPlacement.width * HostPlacement.height)
      << "the host's window is not on the screen";
  const std::vector<std::uint32_t> windowsBefore = host.VisibleTopLevelWindows();

  ChildProcess program = show.Start({"/s"}, WithHostWindow(server, (host.*GetParam().id)()));
  ASSERT_TRUE(WaitUntilPainted(server, HostPlacement, show.File("painted.ppm"))) << program.Output();
  const std::optional<Image> shot = WaitForSparks(server, HostPlacement, show.File("shot.ppm"));
  ASSERT_TRUE(shot.has_value()) << "no bright coloured sparks";
  const int pixels = HostPlacement.width * HostPlacement.height;
  EXPECT_GT(shot->CountBlack(HostPlacement), pixels / 2) << "the sky is mostly black";
  EXPECT_EQ(shot->CountDifferent(*before, server.Screen(), HostPlacement), 0) << "drawn outside the window";
  EXPECT_EQ(host.VisibleTopLevelWindows(), windowsBefore) << "a window of its own appeared";
  if (GetParam().kind == HostWindow::Kind::ForDrawingWithAlpha) {
    EXPECT_TRUE(host.Opaque()) << "a pixel of the show is transparent";
  }

  // The host owns the input: the button in its window is the host's business, not the show's
  // end. A held button is what the show would see anywhere on the screen if it looked.
  ASSERT_TRUE(server.Xdotool({"mousemove", "300", "250", "mousedown", "1"}));
  EXPECT_FALSE(program.WaitForExit(std::chrono::seconds(1)).has_value()) << "the button ended the show";
  ASSERT_TRUE(server.Xdotool({"mouseup", "1"}));

  EXPECT_TRUE(EndedBySigterm(program));
  EXPECT_EQ(program.Output(), "");
  EXPECT_TRUE(host.Intact()) << "the host's window did not survive the show";
}

INSTANTIATE_TEST_SUITE_P(
    Ids, HostWindowId,
    ::testing::Values(IdCase{"hexadecimal", &HostWindow::HexadecimalId, HostWindow::Kind::ForDrawing},
                      IdCase{"decimal", &HostWindow::DecimalId, HostWindow::Kind::ForDrawing},
                      IdCase{"with alpha", &HostWindow::DecimalId, HostWindow::Kind::ForDrawingWithAlpha}),
    CaseName<IdCase>);

TEST(HostWindowProgram, EndsQuietlyWhenTheHostDestroysItsWindow) {
  // A host may take its window away before it sends SIGTERM: that is the end of the show, not a
  // failure of it.
  START_X_SERVER(server, 1024, 768);
  HostWindow host(server, HostPlacement);
  ASSERT_TRUE(host.Created());
  ShowDirectory show;
  ChildProcess program = show.Start({"/s"}, WithHostWindow(server, host.DecimalId()));
  ASSERT_TRUE(WaitUntilPainted(server, HostPlacement, show.File("painted.ppm"))) << program.Output();
  host.Destroy();
  EXPECT_EQ(program.WaitForEnd(), (Ended{0, ""})) << "the show outlived its window, or failed";
}

// A value of XSCREENSAVER_WINDOW that names no window to draw in, made on the test's server (a
// window it makes for that is kept in `window` while the test runs), or a window that its host
// destroys while the show takes it over, at the moment a preloaded helper chooses. Each ends the
// show with its line and status 255: the host's normal end, come early, too, never an Xlib error
// dump or status 1.
struct StartCase {
  const char* name;
  std::function<std::string(const XvfbServer& server, std::optional<HostWindow>& window)> value;
  const char* destroyedAt = nullptr; // the call before which the window is destroyed, or null
};

class HostWindowStart : public ::testing::TestWithParam<StartCase> {};

TEST_P(HostWindowStart, AWindowThatCannotBeUsedGivesItsLineAndNoWindowOfItsOwn) {
  const StartCase& c = GetParam();
  START_X_SERVER(server, 640, 480);
  std::optional<HostWindow> window;
  ShowDirectory show;
  EnvironmentChanges hooks{{"LD_PRELOAD", CallHooks}, {"PYROVANE_CALL_LOG", show.File("calls.txt")}};
  if (c.destroyedAt != nullptr) hooks["PYROVANE_DESTROY_HOST_WINDOW_AT"] = c.destroyedAt;
  EXPECT_EQ(RunProgram(show.Path(), {"/s"}, WithHostWindow(server, c.value(server, window), hooks)),
            (Ended{255, UnusableWindowLine}));
  EXPECT_EQ(ReadWhole(show.File("calls.txt")).find("XCreateWindow"), std::string::npos)
      << "a window of its own was made";
}

constexpr Rect SmallWindow{0, 0, 100, 100};

std::string DestroyedWindow(const XvfbServer& server, std::optional<HostWindow>& window) {
  window.emplace(server, SmallWindow);
  window->Destroy();
  return window->DecimalId();
}

std::string WindowOfTheHost(const XvfbServer& server, std::optional<HostWindow>& window) {
  window.emplace(server, SmallWindow);
  return window->HexadecimalId();
}

INSTANTIATE_TEST_SUITE_P(
    Values, HostWindowStart,
    ::testing::Values(StartCase{"not a number", [](const XvfbServer&, auto&) { return "pyrovane"; }},
                      StartCase{"empty", [](const XvfbServer&, auto&) { return ""; }},
                      StartCase{"zero", [](const XvfbServer&, auto&) { return "0"; }},
                      StartCase{"a window that was destroyed", DestroyedWindow},
                      StartCase{"an input-only window",
                                [](const XvfbServer& server, std::optional<HostWindow>& window) {
                                  window.emplace(server, SmallWindow, HostWindow::Kind::ForInputOnly);
                                  return window->HexadecimalId();
                                }},
                      StartCase{"destroyed as the show takes it over", WindowOfTheHost, "XSelectInput"},
                      StartCase{"destroyed as the show starts drawing", WindowOfTheHost, "XCreateGC"}),
    CaseName<StartCase>);

TEST(HostWindowProgram, TwoShowsInTwoWindowsSideBySideBothDraw) {
  // One process per window, as hosts run a saver on each monitor.
  START_X_SERVER(server, 1024, 768);
  constexpr Rect LeftPlacement{0, 0, 400, 300};
  constexpr Rect RightPlacement{420, 0, 400, 300};
  HostWindow left(server, LeftPlacement);
  HostWindow right(server, RightPlacement);
  ASSERT_TRUE(left.Created() && right.Created());
  ShowDirectory show;
  ChildProcess leftShow = show.Start({"/s"}, WithHostWindow(server, left.HexadecimalId()), "left.txt");
  ChildProcess rightShow = show.Start({"/s"}, WithHostWindow(server, right.DecimalId()), "right.txt");
  ASSERT_TRUE(WaitUntilPainted(server, LeftPlacement, show.File("shot.ppm"))) << leftShow.Output();
  ASSERT_TRUE(WaitUntilPainted(server, RightPlacement, show.File("shot.ppm"))) << rightShow.Output();

  // Both burst rockets, and both go on drawing: each window changes from one moment to the next.
  const std::optional<Image> first = WaitForScreen(server, show.File("first.ppm"), [&](const Image& shot) {
    return shot.CountBrightColoured(LeftPlacement) > FewestSparkPixels &&
           shot.CountBrightColoured(RightPlacement) > FewestSparkPixels;
  });
  ASSERT_TRUE(first.has_value()) << "no sparks in one of the windows";
  EXPECT_TRUE(WaitForScreen(server, show.File("second.ppm"), [&](const Image& shot) {
    return shot.CountDifferent(*first, LeftPlacement) > 0 && shot.CountDifferent(*first, RightPlacement) > 0;
  })) << "one of the windows stands still";

  // Ending one leaves the other drawing in its own window: while the right window changes, the
  // left one stays as it was.
  EXPECT_TRUE(EndedBySigterm(leftShow));
  const std::optional<Image> third = Screenshot(server.Display(), show.File("third.ppm"));
  ASSERT_TRUE(third.has_value());
  const std::optional<Image> fourth = WaitForScreen(server, show.File("fourth.ppm"), [&](const Image& shot) {
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
