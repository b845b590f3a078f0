// Tests of how the dialog toolkit comes up: without a usable display the dialog counts as
// closed and the process ends normally, never aborted inside the toolkit; a platform the user
// chose is used as it is.
#include "dialogs.h"
#include "saver_app.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <QCoreApplication>

namespace {

using namespace app;

// Each case runs in a child process of its own, since the toolkit comes up once per process.
TEST(DialogToolkitStart, FollowsTheDisplayAndTheUsersChoiceOfPlatform) {
  struct Case {
    const char* name;
    const char* platform; // QT_QPA_PLATFORM; null: unset
    const char* display;  // DISPLAY; null: unset
    DialogToolkit expected;
  };
  const Case cases[] = {
      {"no display named", nullptr, nullptr, DialogToolkit::Unavailable},
      {"a display that does not answer", nullptr, ":65000", DialogToolkit::Unavailable},
      {"an empty platform choice counts as none", "", ":65000", DialogToolkit::Unavailable},
      {"offscreen chosen by the user", "offscreen", nullptr, DialogToolkit::Available},
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
          unsetenv("WAYLAND_DISPLAY");
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
        testing::ExitedWithCode(0), "")
        << c.name;
  }
}

} // namespace
