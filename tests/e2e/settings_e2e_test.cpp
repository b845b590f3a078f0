// Whole-process tests of settings mode on the desktops people have: a Qt platform that cannot start counts as a closed dialog, and the dialog goes by the show's name on X11 and on Wayland.
#include "processes.h"
#include "wayland_compositors.h"
#include "x_servers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <regex>
#include <string>

namespace {

using namespace e2e;
using namespace support;

// Settings mode ends as after a closed dialog (status 0), never aborted inside the toolkit; a
// platform the user chose says in one line that it could not start, and nothing else is printed,
// neither the toolkit's own lines nor the Wayland library's.
TEST(Settings, APlatformThatCannotStartCountsAsAClosedDialog) {
  ShowDirectory directory;
  const std::string runtimeFolder = directory.File("runtime");
  std::filesystem::create_directory(runtimeFolder);
  const auto cannotStart = [](const std::string& choice) {
    return "main: no platform that QT_QPA_PLATFORM=" + choice + " names can start\n";
  };
  struct Case {
    const char* name;
    EnvironmentChanges environment;
    std::string output;
  };
  const Case cases[] = {
      {"no display at all", {{"XDG_RUNTIME_DIR", std::nullopt}}, ""},
      {"no compositor at the name given", {{"WAYLAND_DISPLAY", "wayland-9"}, {"XDG_RUNTIME_DIR", runtimeFolder}}, ""},
      {"Wayland chosen, no runtime folder",
       {{"QT_QPA_PLATFORM", "wayland"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", std::nullopt}},
       cannotStart("wayland")},
      {"Wayland chosen, no compositor",
       {{"QT_QPA_PLATFORM", "wayland"}, {"XDG_RUNTIME_DIR", runtimeFolder}},
       cannotStart("wayland")},
      {"X11 chosen, a display that does not answer",
       {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":65000"}, {"XDG_RUNTIME_DIR", std::nullopt}},
       cannotStart("xcb")},
      {"X11 chosen, no display named", {{"QT_QPA_PLATFORM", "xcb"}}, cannotStart("xcb")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunProgram(directory.Path(), {"/c"}, c.environment), (Ended{0, c.output})) << c.name;
  }
}

// The shells match a window to the desktop entry pyrovane.desktop by its app id on Wayland and by
// its class on X11: the settings dialog has the show's, "pyrovane" and pyrovane/Pyrovane.
TEST(Settings, TheDialogGoesByTheShowsNameOnX11AndOnWayland) {
  ShowDirectory directory;
  {
    START_X_SERVER(server, 800, 600);
    ChildProcess dialog = directory.Start({"/c"}, server.Environment());
    ASSERT_TRUE(WaitForWindow(server, SettingsWindow)) << dialog.Output();
    const Ended windowClass =
        RunToEnd({"sh", "-c", "xprop -id \"$(xdotool search --name '^Pyrovane ScreenSaver' | head -n 1)\" WM_CLASS"},
                 server.Environment());
    EXPECT_EQ(windowClass, (Ended{0, "WM_CLASS(STRING) = \"pyrovane\", \"Pyrovane\"\n"}));
    EXPECT_TRUE(EndedBySigterm(dialog));
  }

  SKIP_WITHOUT_WAYLAND_TOOLS();
  SwayServer sway({{1024, 768}}, 1);
  ASSERT_TRUE(sway.Started()) << sway.Log();
  ChildProcess dialog = directory.Start({"/c"}, sway.Environment());
  // sway's tree of windows names each window's app id beside its title.
  const std::regex settingsWindow(R"re("name": "Pyrovane ScreenSaver Configuration",[^}]*"app_id": "([^"]*)")re");
  std::smatch found;
  std::string tree;
  EXPECT_TRUE(Eventually([&] {
    tree = sway.Swaymsg({"-t", "get_tree"}).value_or("");
    return std::regex_search(tree, found, settingsWindow);
  })) << tree
      << dialog.Output();
  if (!found.empty()) {
    EXPECT_EQ(found[1].str(), "pyrovane");
  }
  EXPECT_TRUE(EndedBySigterm(dialog));
  EXPECT_EQ(dialog.Output(), "");
}

} // namespace
