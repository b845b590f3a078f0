// Tests of the settings dialog and its About box, driven by clicks and keys: the closing rules,
// the edit box and check boxes, focus and tab order, and the About box opened again and again.
#include "dialog_test_support.h"

#include <array>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QWindow>

namespace {

using namespace app;

using dialogtest::ClickToOpenModal;
using dialogtest::DialogTest;
using dialogtest::RunModal;

constexpr std::array<int, 4> CheckBoxIds = {IDC_BASIC_ROCKET, IDC_BICOLOR_SPHERIC, IDC_SWINGING, IDC_QUEUED_EXPLODING};

// What the user can change in the settings dialog.
struct SettingsState {
  std::string maxPTime;
  std::array<bool, 4> checked;
  bool operator==(const SettingsState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const SettingsState& state) {
  out << '"' << state.maxPTime << "\" checked";
  for (bool checked : state.checked) out << ' ' << checked;
  return out;
}

QLineEdit* Edit(const CDialog& dialog) { return qobject_cast<QLineEdit*>(dialog.GetDlgItem(IDC_MAX_PTIME)); }
QCheckBox* CheckBox(const CDialog& dialog, int id) { return qobject_cast<QCheckBox*>(dialog.GetDlgItem(id)); }

SettingsState ReadState(const CDialog& dialog) {
  SettingsState state{Edit(dialog)->text().toStdString(), {}};
  for (std::size_t i = 0; i < CheckBoxIds.size(); ++i) state.checked[i] = CheckBox(dialog, CheckBoxIds[i])->isChecked();
  return state;
}

// Types into the edit box and checks the second box, so that a later change would show.
void ChangeSomething(const CDialog& dialog) {
  QTest::keyClicks(Edit(dialog), "42");
  QTest::mouseClick(CheckBox(dialog, IDC_BICOLOR_SPHERIC), Qt::LeftButton);
  ASSERT_EQ(ReadState(dialog), (SettingsState{"42", {false, true, false, false}}));
}

void KeyOn(QWidget* widget, Qt::Key key) {
  widget->setFocus();
  QTest::keyClick(widget, key);
}

TEST_F(DialogTest, OnlyOkClosesTheSettingsDialog) {
  enum class Outcome { StaysOpen, ClosesWithOk };
  struct Case {
    const char* name;
    std::function<void(CSettingsDlg&, QDialog&)> act;
    Outcome outcome;
  };
  const Case cases[] = {
      {"Esc", [](CSettingsDlg&, QDialog& window) { QTest::keyClick(window.focusWidget(), Qt::Key_Escape); },
       Outcome::StaysOpen},
      {"close request from the window system (close box, Alt+F4, window menu)",
       [](CSettingsDlg&, QDialog& window) { window.windowHandle()->close(); }, Outcome::StaysOpen},
      {"close() on the dialog", [](CSettingsDlg&, QDialog& window) { window.close(); }, Outcome::StaysOpen},
      {"click on Default", [](CSettingsDlg& d, QDialog&) { QTest::mouseClick(d.GetDlgItem(IDCANCEL), Qt::LeftButton); },
       Outcome::StaysOpen},
      {"Enter on Default", [](CSettingsDlg& d, QDialog&) { KeyOn(d.GetDlgItem(IDCANCEL), Qt::Key_Return); },
       Outcome::StaysOpen},
      {"Space on Default", [](CSettingsDlg& d, QDialog&) { KeyOn(d.GetDlgItem(IDCANCEL), Qt::Key_Space); },
       Outcome::StaysOpen},
      {"click on OK", [](CSettingsDlg& d, QDialog&) { QTest::mouseClick(d.GetDlgItem(IDOK), Qt::LeftButton); },
       Outcome::ClosesWithOk},
      {"Enter in the edit box", [](CSettingsDlg& d, QDialog&) { KeyOn(Edit(d), Qt::Key_Return); },
       Outcome::ClosesWithOk},
      {"Enter on a check box", [](CSettingsDlg& d, QDialog&) { KeyOn(CheckBox(d, IDC_SWINGING), Qt::Key_Enter); },
       Outcome::ClosesWithOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CSettingsDlg dialog(nullptr);
    const int result = RunModal(dialog, [&](QDialog& window) {
      ChangeSomething(dialog);
      const SettingsState before = ReadState(dialog);
      c.act(dialog, window);
      if (c.outcome == Outcome::ClosesWithOk) {
        EXPECT_FALSE(window.isVisible());
        return;
      }
      EXPECT_TRUE(window.isVisible());
      EXPECT_EQ(QApplication::activeModalWidget(), &window);
      EXPECT_EQ(ReadState(dialog), before);
      QTest::mouseClick(dialog.GetDlgItem(IDOK), Qt::LeftButton);
      EXPECT_FALSE(window.isVisible());
    });
    EXPECT_EQ(result, IDOK);
  }
}

TEST_F(DialogTest, TheEditBoxTakesDigitsOnly) {
  struct Case {
    const char* typed;
    const char* shown;
  };
  const Case cases[] = {
      {"9", "9"},
      {"1a2b3", "123"},
      {"-5", "5"},
      {" 7.5 ", "75"},
      {"x", ""},
      // Far longer than the box is wide: the text scrolls instead of stopping at the edge.
      {"123456789012345678901234567890", "123456789012345678901234567890"},
  };
  for (const Case& c : cases) {
    CSettingsDlg dialog(nullptr);
    RunModal(dialog, [&](QDialog&) {
      QTest::keyClicks(Edit(dialog), c.typed);
      EXPECT_EQ(Edit(dialog)->text().toStdString(), c.shown) << c.typed;
    });
  }
}

TEST_F(DialogTest, EachCheckBoxTogglesItselfAlone) {
  for (std::size_t i = 0; i < CheckBoxIds.size(); ++i) {
    CSettingsDlg dialog(nullptr);
    RunModal(dialog, [&](QDialog& window) {
      SettingsState expected{"", {}};
      QTest::mouseClick(CheckBox(dialog, CheckBoxIds[i]), Qt::LeftButton);
      expected.checked[i] = true;
      EXPECT_EQ(ReadState(dialog), expected) << CheckBoxIds[i];
      KeyOn(CheckBox(dialog, CheckBoxIds[i]), Qt::Key_Space);
      expected.checked[i] = false;
      EXPECT_EQ(ReadState(dialog), expected) << CheckBoxIds[i];
      EXPECT_TRUE(window.isVisible());
    });
  }
}

TEST_F(DialogTest, EveryOpeningStartsEmptyAndUncheckedWhateverWasEntered) {
  for (int opening = 0; opening < 3; ++opening) {
    CSettingsDlg dialog(nullptr);
    const int result = RunModal(dialog, [&](QDialog&) {
      EXPECT_EQ(ReadState(dialog), (SettingsState{"", {false, false, false, false}})) << "opening " << opening;
      QTest::keyClicks(Edit(dialog), "123");
      for (int id : CheckBoxIds) QTest::mouseClick(CheckBox(dialog, id), Qt::LeftButton);
      QTest::mouseClick(dialog.GetDlgItem(IDOK), Qt::LeftButton);
    });
    EXPECT_EQ(result, IDOK);
  }
}

TEST_F(DialogTest, FocusStartsOnAboutAndTabFollowsTemplateOrder) {
  CSettingsDlg dialog(nullptr);
  RunModal(dialog, [&](QDialog& window) {
    EXPECT_EQ(QApplication::focusWidget(), dialog.GetDlgItem(IDC_ABOUT));
    const std::vector<int> tabOrder = {
        IDCANCEL, IDOK, IDC_MAX_PTIME, IDC_BASIC_ROCKET, IDC_BICOLOR_SPHERIC, IDC_SWINGING, IDC_QUEUED_EXPLODING,
        IDC_ABOUT};
    for (int id : tabOrder) {
      QTest::keyClick(window.focusWidget(), Qt::Key_Tab);
      EXPECT_EQ(QApplication::focusWidget(), dialog.GetDlgItem(id)) << id;
    }
  });
}

TEST_F(DialogTest, SettingsDialogIsItsOwnWindowWithCaptionAndCloseBoxOnly) {
  CSettingsDlg dialog(nullptr);
  RunModal(dialog, [&](QDialog& window) {
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Window); // a task-bar entry of its own
    EXPECT_EQ(window.parentWidget(), nullptr);
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(window.isModal());
  });
}

TEST_F(DialogTest, AboutOpensOverTheSettingsAndClosesWithOkEnterOrEscAgainAndAgain) {
  struct Case {
    const char* name;
    std::function<void(QDialog&)> close;
  };
  const Case cases[] = {
      {"click on OK", [](QDialog& about) { QTest::mouseClick(about.focusWidget(), Qt::LeftButton); }},
      {"Enter", [](QDialog& about) { QTest::keyClick(about.focusWidget(), Qt::Key_Return); }},
      {"Esc", [](QDialog& about) { QTest::keyClick(about.focusWidget(), Qt::Key_Escape); }},
  };
  CSettingsDlg dialog(nullptr);
  RunModal(dialog, [&](QDialog& settings) {
    ChangeSomething(dialog);
    const SettingsState before = ReadState(dialog);
    for (int round = 0; round < 2; ++round) {
      for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QPointer<QDialog> opened;
        ClickToOpenModal(dialog.GetDlgItem(IDC_ABOUT), settings, [&](QDialog& about) {
          opened = &about;
          EXPECT_EQ(about.parentWidget(), &settings);
          EXPECT_EQ(QApplication::activeModalWidget(), &about);
          const Qt::WindowFlags flags = about.windowFlags();
          EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
          EXPECT_FALSE(flags & Qt::WindowTitleHint); // no title bar to move it by
          // The focus starts on its OK button.
          ASSERT_NE(qobject_cast<QPushButton*>(about.focusWidget()), nullptr);
          EXPECT_EQ(qobject_cast<QPushButton*>(about.focusWidget())->text().toStdString(), "OK");
          c.close(about);
          EXPECT_FALSE(about.isVisible());
        });
        EXPECT_TRUE(opened.isNull()) << "each About box is destroyed when it closes";
        EXPECT_TRUE(settings.isVisible());
        EXPECT_EQ(QApplication::activeModalWidget(), &settings);
        EXPECT_EQ(ReadState(dialog), before);
      }
    }
  });
}

// The About box has a frame but no title bar; it draws that frame along its edges itself, the
// style's raised window frame, light inside its top left and dark along its bottom right.
TEST_F(DialogTest, AboutBoxDrawsItsFrame) {
  CAboutDlg about(nullptr);
  RunModal(about, [&](QDialog& window) {
    EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
    const QImage image = window.grab().toImage();
    const QColor background = window.palette().color(QPalette::Window);
    const QPoint bottomRight(image.width() - 1, image.height() - 1);
    EXPECT_NE(image.pixelColor(bottomRight), background);
    EXPECT_NE(image.pixelColor(1, image.height() / 2), background);
    EXPECT_EQ(image.pixelColor(3, image.height() - 4), background);
  });
}

} // namespace
