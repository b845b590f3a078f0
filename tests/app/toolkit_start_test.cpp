// Tests of how the dialog toolkit comes up: without a usable display the dialog counts as
// closed and the process ends normally, never aborted inside the toolkit; a platform the user
// chose is used as it is.
#include "dialogs.h"
#include "saver_app.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <QCoreApplication>

namespace {

using namespace app;

// Each case runs in a child process of its own, since the toolkit comes up once per process. A
// platform the user chose that cannot start is told in one line; nothing else is printed, neither
// the toolkit's warnings nor the Wayland library's complaint about a missing runtime folder.
TEST(DialogToolkitStart, FollowsTheDisplayAndTheUsersChoiceOfPlatform) {
  const std::string runtimeFolder = testing::TempDir();
  struct Case {
    const char* name;
    const char* platform;      // QT_QPA_PLATFORM; null: unset
    const char* display;       // DISPLAY; null: unset
    const char* runtimeFolder; // XDG_RUNTIME_DIR; null: unset
    DialogToolkit expected;
    std::string output;
  };
  const auto cannotStart = [](const std::string& choice) {
    return "main: no platform that QT_QPA_PLATFORM=" + choice + " names can start\n";
  };
  const Case cases[] = {
      {"no display named", nullptr, nullptr, nullptr, DialogToolkit::Unavailable, ""},
      {"a display that does not answer", nullptr, ":65000", nullptr, DialogToolkit::Unavailable, ""},
      {"an empty platform choice counts as none", "", ":65000", nullptr, DialogToolkit::Unavailable, ""},
      {"offscreen chosen by the user", "offscreen", nullptr, nullptr, DialogToolkit::Available, ""},
      {"Wayland chosen, no runtime folder", "wayland", nullptr, nullptr, DialogToolkit::Unavailable,
       cannotStart("wayland")},
      {"X11 chosen, no X server", "xcb", ":65000", nullptr, DialogToolkit::Unavailable, cannotStart("xcb")},
      {"both chosen, neither answers", "wayland;xcb", ":65000", runtimeFolder.c_str(), DialogToolkit::Unavailable,
       cannotStart("wayland;xcb")},
  };
  for (const Case& c : cases) {
    EXPECT_EXIT(
        {
          const auto set = [](const char* name, const char* value) {
            if (value == nullptr) {
              unsetenv(name);
            } else {
              setenv(name, value, 1);
            }
          };
          set("QT_QPA_PLATFORM", c.platform);
          set("DISPLAY", c.display);
          set("XDG_RUNTIME_DIR", c.runtimeFolder);
          unsetenv("WAYLAND_DISPLAY");
          unsetenv("WAYLAND_SOCKET");
          // Nothing brings the toolkit up before a dialog is asked for.
          if (QCoreApplication::instance() != nullptr) std::exit(2);
          if (StartDialogToolkit() != c.expected) std::exit(3);
          if (c.expected == DialogToolkit::Unavailable) {
            CSettingsDlg dialog(nullptr);
            if (dialog.DoModal() != -1) std::exit(4);
            RunSettingsDialog();
          }
          // The program keeps the application to the end; here it goes first, so that the leak
          // checker of sanitizer builds sees the font state it holds released.
          delete QCoreApplication::instance();
          std::exit(0);
        },
        testing::ExitedWithCode(0), testing::Eq(c.output))
        << c.name;
  }
}

} // namespace
