// Whole-process tests of the show and the settings dialog on GNOME's mutter and KDE's KWin, run headless with two outputs.
#include "headless_desktops.h"
#include "processes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace e2e;
using namespace support;

// What a program's log of its protocol (WAYLAND_DEBUG) tells of the surfaces the compositor gave
// it, and whatever else the program wrote.
struct ProtocolLog {
  std::set<std::string> configuredSizes; // "WxH" of each role's configure, whatever its role
  std::set<std::string> roles;           // the interfaces of the roles configured
  std::set<std::string> roleObjects;     // the roles configured, one a surface
  long framesShown = 0;                  // frame callbacks the compositor answered
  std::string otherLines;                // the program's own lines

  explicit ProtocolLog(const std::string& log) {
    static const std::regex configure(
        R"((zwlr_layer_surface_v1)(@\d+)\.configure\(\d+, (\d+), (\d+)\)|(xdg_toplevel)(@\d+)\.configure\((\d+), (\d+), )");
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
      if (line.empty() || line.front() != '[') {
        otherLines += line + "\n";
        continue;
      }
      std::smatch found;
      if (std::regex_search(line, found, configure)) {
        const int first = found[1].matched ? 1 : 5;
        roles.insert(found[first].str());
        roleObjects.insert(found[first].str() + found[first + 1].str());
        configuredSizes.insert(found[first + 2].str() + "x" + found[first + 3].str());
      }
      if (line.find("wl_callback@") != std::string::npos && line.find(".done(") != std::string::npos) ++framesShown;
    }
  }
};

// On the compositor of `desktop`, whose outputs have the sizes given: the show covers every output
// in the role expected and a click ends it with 0; the settings dialog opens; the compositor's
// loss ends the show with its one line and 255.
void TheShowAndTheDialog(HeadlessCompositor& desktop, const std::set<std::string>& outputSizes,
                         const std::string& role) {
  constexpr std::size_t Outputs = 2;
  ASSERT_TRUE(desktop.Started()) << desktop.Log();
  ShowDirectory show;
  EnvironmentChanges environment = desktop.Environment();
  environment["WAYLAND_DEBUG"] = "client";
  constexpr long FramesToSee = 120; // some seconds of frames on the two outputs

  ChildProcess clicked = show.Start({"/s"}, environment, "clicked.out");
  ASSERT_TRUE(Eventually([&] {
    const ProtocolLog log(clicked.Output());
    return (log.roleObjects.size() == Outputs && log.configuredSizes == outputSizes &&
            log.framesShown >= FramesToSee) ||
           !clicked.Running();
  })) << desktop.Log();
  const ProtocolLog shown(clicked.Output());
  EXPECT_EQ(shown.roleObjects.size(), Outputs) << "the show does not cover every output";
  EXPECT_EQ(shown.configuredSizes, outputSizes) << "the show does not cover the outputs whole";
  EXPECT_EQ(shown.roles, std::set<std::string>{role});
  ASSERT_TRUE(desktop.Pointer().Move(40, 30) && desktop.Pointer().Click()) << desktop.Log();
  const Ended ended = clicked.WaitForEnd();
  EXPECT_EQ(ended.exitCode, 0) << "a click did not end the show";
  EXPECT_EQ(ProtocolLog(ended.output).otherLines, "");

  // The dialog is a toplevel that the compositor configures and that shows a picture.
  ChildProcess dialog = show.Start({"/c"}, environment, "dialog.out");
  EXPECT_TRUE(Eventually([&] {
    const std::string log = dialog.Output();
    return (ProtocolLog(log).roles.count("xdg_toplevel") == 1 && log.find(".attach(wl_buffer@") != std::string::npos) ||
           !dialog.Running();
  })) << dialog.Output().substr(0, 4000);
  EXPECT_TRUE(EndedBySigterm(dialog));

  ChildProcess orphaned = show.Start({"/s"}, environment, "orphaned.out");
  ASSERT_TRUE(Eventually([&] { return ProtocolLog(orphaned.Output()).framesShown >= FramesToSee; }));
  ASSERT_TRUE(desktop.Kill());
  const Ended lost = orphaned.WaitForEnd();
  EXPECT_EQ(lost.exitCode, 255);
  EXPECT_EQ(ProtocolLog(lost.output).otherLines, "main: lost the connection to the display\n");
}

TEST(GnomeAndKde, OnMutterTheShowIsAFullScreenWindowOnEveryOutput) {
  SKIP_IF_MISSING(HeadlessDesktopsMissing());
  MutterServer mutter({{1280, 720}, {1024, 768}});
  TheShowAndTheDialog(mutter, {"1280x720", "1024x768"}, "xdg_toplevel");
}

TEST(GnomeAndKde, OnKwinTheShowIsAnOverlayOnEveryOutput) {
  SKIP_IF_MISSING(HeadlessDesktopsMissing());
  KwinServer kwin({1280, 720}, 2);
  TheShowAndTheDialog(kwin, {"1280x720"}, "zwlr_layer_surface_v1");
}

} // namespace
