// Whole-process tests of pyrovane in a screen-saver host's window (XSCREENSAVER_WINDOW) on a private Xvfb server.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using e2e::ChildProcess;
using e2e::EndedBySigterm;
using e2e::EnvironmentChanges;
using e2e::HostWindow;
using e2e::Image;
using e2e::PatienceLimit;
using e2e::Rect;
using e2e::ShowDirectory;
using e2e::WaitForScreen;
using e2e::XvfbServer;

const std::string HostWindowWarning =
    "XSCREENSAVER_WINDOW is not a window to draw in; the show opens a window of its own\n";

// A window of the size a settings dialog's preview or a small monitor gives, away from the
// screen's edges so that a picture spilling over any of them would show.
constexpr Rect HostPlacement{100, 100, 400, 300};

EnvironmentChanges WithHostWindow(const XvfbServer& server, const std::string& id) {
  EnvironmentChanges environment = server.Environment();
  environment["XSCREENSAVER_WINDOW"] = id;
  return environment;
}

// The show started by a host: in the texture's directory, with the host's window named.
ChildProcess StartShow(const XvfbServer& server, const ShowDirectory& show, const std::string& id,
                       const std::string& outputName) {
  return ChildProcess(e2e::InDirectory(show.Path(), {e2e::Program, "/s"}), WithHostWindow(server, id),
                      show.File(outputName));
}

// xscreensaver writes the id in hexadecimal, xsecurelock in decimal.
struct IdCase {
  const char* name;
  std::string (HostWindow::*id)() const;
};

class HostWindowId : public ::testing::TestWithParam<IdCase> {};

TEST_P(HostWindowId, DrawsOnlyInTheHostsWindowUntilSigterm) {
  SKIP_WITHOUT_XVFB();
  XvfbServer server(1024, 768);
  ASSERT_TRUE(server.Started());
  HostWindow host(server, HostPlacement);
  ASSERT_TRUE(host.Created());
  ShowDirectory show;
  const std::optional<Image> before = e2e::Screenshot(server.Display(), show.File("before.ppm"));
  ASSERT_TRUE(before.has_value());
  ASSERT_EQ(before->CountEqual(HostPlacement, HostWindow::Background), HostPlacement.width * HostPlacement.height)
      << "the host's window is not on the screen";
  const std::vector<std::uint32_t> windowsBefore = host.VisibleTopLevelWindows();

  ChildProcess program = StartShow(server, show, (host.*GetParam().id)(), "out.txt");
  ASSERT_TRUE(e2e::WaitUntilPainted(server, HostPlacement, show.File("painted.ppm"))) << program.Output();
  const std::optional<Image> shot = e2e::WaitForSparks(server, HostPlacement, show.File("shot.ppm"));
  ASSERT_TRUE(shot.has_value()) << "no bright coloured sparks";
  const int pixels = HostPlacement.width * HostPlacement.height;
  EXPECT_GT(shot->CountBlack(HostPlacement), pixels / 2) << "the sky is mostly black";
  EXPECT_EQ(shot->CountDifferent(*before, server.Screen(), HostPlacement), 0) << "drawn outside the window";
  EXPECT_EQ(host.VisibleTopLevelWindows(), windowsBefore) << "a window of its own appeared";

  // The host owns the input: the button in its window is the host's business, not the show's
  // end. A held button is what the show would see anywhere on the screen if it looked.
  ASSERT_TRUE(server.Xdotool({"mousemove", "300", "250", "mousedown", "1"}));
  EXPECT_FALSE(program.WaitForExit(std::chrono::seconds(1)).has_value()) << "the button ended the show";
  ASSERT_TRUE(server.Xdotool({"mouseup", "1"}));

  EXPECT_TRUE(EndedBySigterm(program));
  EXPECT_EQ(program.Output(), "");
  EXPECT_TRUE(host.Intact()) << "the host's window did not survive the show";
}

INSTANTIATE_TEST_SUITE_P(Ids, HostWindowId,
                         ::testing::Values(IdCase{"hexadecimal", &HostWindow::HexadecimalId},
                                           IdCase{"decimal", &HostWindow::DecimalId}),
                         e2e::CaseName<IdCase>);

TEST(HostWindowProgram, EndsQuietlyWhenTheHostDestroysItsWindow) {
  SKIP_WITHOUT_XVFB();
  // A host may take its window away before it sends SIGTERM: that is the end of the show, not a
  // failure of it.
  XvfbServer server(1024, 768);
  ASSERT_TRUE(server.Started());
  HostWindow host(server, HostPlacement);
  ASSERT_TRUE(host.Created());
  ShowDirectory show;
  ChildProcess program = StartShow(server, show, host.DecimalId(), "out.txt");
  ASSERT_TRUE(e2e::WaitUntilPainted(server, HostPlacement, show.File("painted.ppm"))) << program.Output();
  host.Destroy();
  const std::optional<int> status = program.WaitForExit(PatienceLimit);
  ASSERT_TRUE(status.has_value()) << "the show outlived its window";
  EXPECT_EQ(e2e::ExitCode(*status), 0);
  EXPECT_EQ(program.Output(), "");
}

// A value of XSCREENSAVER_WINDOW that names no window to draw in, made on the test's server; a
// window it makes for that is kept in `window` while the test runs.
struct NoWindowCase {
  const char* name;
  std::function<std::string(const XvfbServer& server, std::optional<HostWindow>& window)> value;
};

class NotAHostWindow : public ::testing::TestWithParam<NoWindowCase> {};

TEST_P(NotAHostWindow, FallsBackToAWindowOfItsOwn) {
  SKIP_WITHOUT_XVFB();
  XvfbServer server(640, 480);
  ASSERT_TRUE(server.Started());
  std::optional<HostWindow> window;
  ShowDirectory show;
  ChildProcess program = StartShow(server, show, GetParam().value(server, window), "out.txt");
  EXPECT_TRUE(e2e::WaitForWindow(server, e2e::ShowWindow)) << program.Output();
  EXPECT_EQ(program.Output(), HostWindowWarning);
  EXPECT_TRUE(EndedBySigterm(program));
}

constexpr Rect SmallWindow{0, 0, 100, 100};

INSTANTIATE_TEST_SUITE_P(
    Values, NotAHostWindow,
    ::testing::Values(NoWindowCase{"not a number", [](const XvfbServer&, auto&) { return "pyrovane"; }},
                      NoWindowCase{"empty", [](const XvfbServer&, auto&) { return ""; }},
                      NoWindowCase{"zero", [](const XvfbServer&, auto&) { return "0"; }},
                      NoWindowCase{"a window that was destroyed",
                                   [](const XvfbServer& server, std::optional<HostWindow>& window) {
                                     window.emplace(server, SmallWindow);
                                     window->Destroy();
                                     return window->DecimalId();
                                   }},
                      NoWindowCase{"an input-only window",
                                   [](const XvfbServer& server, std::optional<HostWindow>& window) {
                                     window.emplace(server, SmallWindow, HostWindow::Kind::ForInputOnly);
                                     return window->HexadecimalId();
                                   }}),
    e2e::CaseName<NoWindowCase>);

TEST(HostWindowProgram, TwoShowsInTwoWindowsSideBySideBothDraw) {
  SKIP_WITHOUT_XVFB();
  // One process per window, as hosts run a saver on each monitor.
  XvfbServer server(1024, 768);
  ASSERT_TRUE(server.Started());
  constexpr Rect LeftPlacement{0, 0, 400, 300};
  constexpr Rect RightPlacement{420, 0, 400, 300};
  HostWindow left(server, LeftPlacement);
  HostWindow right(server, RightPlacement);
  ASSERT_TRUE(left.Created() && right.Created());
  ShowDirectory show;
  ChildProcess leftShow = StartShow(server, show, left.HexadecimalId(), "left.txt");
  ChildProcess rightShow = StartShow(server, show, right.DecimalId(), "right.txt");
  ASSERT_TRUE(e2e::WaitUntilPainted(server, LeftPlacement, show.File("shot.ppm"))) << leftShow.Output();
  ASSERT_TRUE(e2e::WaitUntilPainted(server, RightPlacement, show.File("shot.ppm"))) << rightShow.Output();

  // Both burst rockets, and both go on drawing: each window changes from one moment to the next.
  const std::optional<Image> first = WaitForScreen(server, show.File("first.ppm"), [&](const Image& shot) {
    return shot.CountBrightColoured(LeftPlacement) > e2e::FewestSparkPixels &&
           shot.CountBrightColoured(RightPlacement) > e2e::FewestSparkPixels;
  });
  ASSERT_TRUE(first.has_value()) << "no sparks in one of the windows";
  EXPECT_TRUE(WaitForScreen(server, show.File("second.ppm"), [&](const Image& shot) {
    return shot.CountDifferent(*first, LeftPlacement) > 0 && shot.CountDifferent(*first, RightPlacement) > 0;
  })) << "one of the windows stands still";

  // Ending one leaves the other drawing in its own window: while the right window changes, the
  // left one stays as it was.
  EXPECT_TRUE(EndedBySigterm(leftShow));
  const std::optional<Image> third = e2e::Screenshot(server.Display(), show.File("third.ppm"));
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
