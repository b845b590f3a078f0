// Helpers that run the real dialogs modally under Qt's offscreen platform and drive them from the
// event loop, the way a user would.
#pragma once

#include "dialogs.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>

namespace dialogtest {

using namespace app;

// The result a script's safety net ends a modal run with, so a run the script failed to end
// still returns and shows as a failure instead of hanging the test.
inline constexpr int EndedBySafetyNet = -2;

// The tests own the toolkit's application object, so that it is destroyed before the process
// ends and the leak checker of sanitizer builds sees the font state it holds released. The
// dialog layer uses an application that exists rather than making its own.
class ToolkitEnvironment final : public testing::Environment {
public:
  void SetUp() override {
    // Offscreen unless the developer asked for a real display to watch the tests on.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    application_ = std::make_unique<QApplication>(argumentCount_, arguments_);
  }
  void TearDown() override { application_.reset(); }

private:
  int argumentCount_ = 1;
  char programName_[16] = "app_tests";
  char* arguments_[2] = {programName_, nullptr};
  std::unique_ptr<QApplication> application_;
};

inline testing::Environment* const toolkitEnvironment = testing::AddGlobalTestEnvironment(new ToolkitEnvironment);

class DialogTest : public testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_EQ(StartDialogToolkit(), DialogToolkit::Available); }
};

// Runs the dialog modally; once it is up and active, runs `script` on its window. The timers
// live on the stack, so a run that never starts leaves no callback behind.
inline int RunModal(CDialog& dialog, const std::function<void(QDialog&)>& script) {
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, [&dialog, &script] {
    QDialog* window = dialog.Window();
    if (window == nullptr) {
      ADD_FAILURE() << "the dialog's window does not exist during its modal run";
      return;
    }
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    script(*window);
    if (window->isVisible()) window->done(EndedBySafetyNet);
  });
  timer.start(0);
  return dialog.DoModal();
}

// Arranges for `script` to run on the next dialog that opens modally over `owner`, then clicks
// `button` to open it. Returns once that dialog has closed.
inline void ClickToOpenModal(QWidget* button, QDialog& owner, const std::function<void(QDialog&)>& script) {
  bool opened = false;
  QTimer timer;
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    auto* window = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (window == nullptr || window == &owner) return;
    opened = true;
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    script(*window);
    if (window->isVisible()) window->done(EndedBySafetyNet);
  });
  timer.start(0);
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_TRUE(opened) << "no dialog opened over its owner";
}

} // namespace dialogtest
