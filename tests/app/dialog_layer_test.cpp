// Tests of the dialog layer: controls built from the templates, their texts and pixel geometry,
// and command routing through the message maps.
#include "dialog_test_support.h"

#include "dialog_template.h"

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <QCheckBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

namespace {

using namespace app;

using dialogtest::DialogTest;
using dialogtest::RunModal;

enum class Kind {
  PushButton,
  DefaultPushButton,
  CheckBox,
  GroupBox,
  Edit,
  LeftText,
  CentredText,
  CentredLine,
  BoxedLine
};

struct ControlRow {
  int id;
  Kind kind;
  std::uint32_t style;
  QRect dialogUnits;
  const char* text;
};

const ControlRow SettingsRows[] = {
    {IDC_ABOUT, Kind::PushButton, 0x50010000, {19, 228, 50, 14}, "About"},
    {IDCANCEL, Kind::PushButton, 0x50010000, {89, 228, 50, 14}, "Default"},
    {IDOK, Kind::DefaultPushButton, 0x50010001, {157, 228, 50, 14}, "OK"},
    {-1, Kind::BoxedLine, 0x50820201, {47, 15, 135, 22}, "Pyrovane release 1.0"},
    {-1, Kind::LeftText, 0x50020000, {35, 47, 162, 8}, "Press left mouse button to interrupt the screensaver"},
    {-1, Kind::LeftText, 0x50020000, {20, 192, 77, 8}, "Max P-Time (Default : 9)"},
    {IDC_MAX_PTIME, Kind::Edit, 0x50812080, {108, 190, 83, 14}, ""},
    {-1, Kind::LeftText, 0x50020000, {19, 207, 145, 11}, "Decrease to increase number of rockets...."},
    {IDC_BASIC_ROCKET, Kind::CheckBox, 0x50010003, {20, 113, 110, 10}, "Basic Rocket"},
    {IDC_BICOLOR_SPHERIC, Kind::CheckBox, 0x50010003, {20, 132, 117, 14}, "Bicolor Spheric Rockets"},
    {IDC_SWINGING, Kind::CheckBox, 0x50010003, {20, 155, 117, 14}, "Swinging Rockets"},
    {IDC_QUEUED_EXPLODING, Kind::CheckBox, 0x50010003, {20, 173, 122, 14}, "Queued Exploding Rockets"},
    {-1, Kind::LeftText, 0x50020000, {30, 62, 173, 8}, "Sorry this control pannel has been disabled because of"},
    {-1, Kind::LeftText, 0x50020000, {35, 72, 153, 8}, "the high number of unresolved bugs at deadline time"},
    {-1,
     Kind::CentredText,
     0x50020001,
     {6, 89, 211, 20},
     "This pannel will be available in release 1.1 which will be released as soon as debugged"},
};

const ControlRow AboutRows[] = {
    {IDOK, Kind::DefaultPushButton, 0x50030001, {49, 90, 64, 14}, "OK"},
    {-1, Kind::GroupBox, 0x50000007, {7, 4, 151, 57}, ""},
    {-1, Kind::CentredLine, 0x50020201, {50, 13, 66, 8}, "Pyrovane"},
    {-1, Kind::CentredLine, 0x50020201, {55, 24, 51, 8}, "Created in 1998"},
    {-1, Kind::CentredLine, 0x50020201, {16, 34, 134, 8}, "A fireworks screen saver for Linux"},
    {-1, Kind::CentredLine, 0x50020201, {33, 47, 102, 8}, "Drawn by a software rasterizer"},
    {-1, Kind::CentredLine, 0x50020201, {34, 63, 96, 8}, "Dialogs built with Qt 6"},
};

struct DialogRow {
  int templateId;
  std::uint32_t style;
  std::uint32_t extendedStyle;
  QSize dialogUnits;
  const char* caption;
  std::span<const ControlRow> controls;
};

const DialogRow Dialogs[] = {
    {IDD_SETTINGS, 0x90C800C0, 0x00040000, {225, 255}, "Pyrovane ScreenSaver Configuration", SettingsRows},
    {IDD_ABOUT, 0x800000C0, 0, {164, 118}, "", AboutRows},
};

std::vector<QWidget*> ControlsInOrder(QDialog& window) {
  const QList<QWidget*> children = window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  return {children.begin(), children.end()};
}

std::string LabelOf(const ControlRow& row) { return std::to_string(row.id) + " \"" + row.text + "\""; }

// The text, class and styles each control shows.
void ExpectControlIsAsRow(QWidget* control, const ControlRow& row) {
  std::string text;
  if (auto* button = qobject_cast<QAbstractButton*>(control)) text = button->text().toStdString();
  if (auto* label = qobject_cast<QLabel*>(control)) text = label->text().toStdString();
  if (auto* edit = qobject_cast<QLineEdit*>(control)) text = edit->text().toStdString();
  if (auto* group = qobject_cast<QGroupBox*>(control)) text = group->title().toStdString();
  EXPECT_EQ(text, row.text);

  auto* pushButton = qobject_cast<QPushButton*>(control);
  auto* label = qobject_cast<QLabel*>(control);
  const bool tabStop = (control->focusPolicy() & Qt::TabFocus) != 0;
  switch (row.kind) {
  case Kind::PushButton:
  case Kind::DefaultPushButton:
    // Which button is the default moves with the focus, as it should; the closing tests check
    // that Enter reaches the template's default button.
    EXPECT_NE(pushButton, nullptr);
    EXPECT_TRUE(tabStop);
    break;
  case Kind::CheckBox:
    ASSERT_NE(qobject_cast<QCheckBox*>(control), nullptr);
    EXPECT_TRUE(tabStop);
    break;
  case Kind::GroupBox:
    EXPECT_NE(qobject_cast<QGroupBox*>(control), nullptr);
    EXPECT_FALSE(tabStop);
    break;
  case Kind::Edit:
    EXPECT_NE(qobject_cast<QLineEdit*>(control), nullptr);
    EXPECT_TRUE(tabStop);
    break;
  case Kind::LeftText:
  case Kind::CentredText:
  case Kind::CentredLine:
  case Kind::BoxedLine: {
    ASSERT_NE(label, nullptr);
    const Qt::Alignment expected = row.kind == Kind::LeftText      ? Qt::AlignLeft | Qt::AlignTop
                                   : row.kind == Kind::CentredText ? Qt::AlignHCenter | Qt::AlignTop
                                                                   : Qt::AlignHCenter | Qt::AlignVCenter;
    EXPECT_EQ(label->alignment(), expected);
    EXPECT_EQ(label->wordWrap(), row.kind == Kind::LeftText || row.kind == Kind::CentredText);
    EXPECT_EQ(label->frameShape(), row.kind == Kind::BoxedLine ? QFrame::Box : QFrame::NoFrame);
    EXPECT_FALSE(tabStop);
    break;
  }
  }
}

// Whether the control's text is drawn whole: never cut at its edges nor wrapped onto a line that
// lies outside it.
void ExpectTextFits(QWidget* control) {
  const QFontMetrics metrics = control->fontMetrics();
  if (auto* label = qobject_cast<QLabel*>(control)) {
    const QRect area = label->contentsRect();
    if (label->wordWrap()) {
      const QRect needed = metrics.boundingRect(QRect(0, 0, area.width(), 1000), Qt::TextWordWrap, label->text());
      const long lines = std::lround(static_cast<double>(needed.height()) / metrics.lineSpacing());
      EXPECT_LE(needed.width(), area.width());
      EXPECT_LE(lines * metrics.lineSpacing(), area.height());
    } else {
      EXPECT_LE(metrics.horizontalAdvance(label->text()), area.width());
      EXPECT_LE(metrics.height(), area.height());
    }
  } else if (auto* checkBox = qobject_cast<QCheckBox*>(control)) {
    EXPECT_LE(checkBox->sizeHint().width(), checkBox->width());
  } else if (auto* button = qobject_cast<QPushButton*>(control)) {
    const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
    EXPECT_LE(metrics.horizontalAdvance(button->text()) + 2 * margin, button->width());
  }
}

TEST_F(DialogTest, ControlsFollowTheirTemplatesInOrderWithTheirTextsAndStyles) {
  for (const DialogRow& dialogRow : Dialogs) {
    const DialogTemplate* dialogTemplate = FindDialogTemplate(dialogRow.templateId);
    ASSERT_NE(dialogTemplate, nullptr) << dialogRow.templateId;
    EXPECT_EQ(dialogTemplate->style, dialogRow.style);
    EXPECT_EQ(dialogTemplate->extendedStyle, dialogRow.extendedStyle);
    EXPECT_EQ(std::string(dialogTemplate->fontFace), "MS Sans Serif");
    EXPECT_EQ(dialogTemplate->fontPointSize, 8);
    ASSERT_EQ(dialogTemplate->items.size(), dialogRow.controls.size());
    for (std::size_t i = 0; i < dialogRow.controls.size(); ++i) {
      EXPECT_EQ(dialogTemplate->items[i].style, dialogRow.controls[i].style) << LabelOf(dialogRow.controls[i]);
    }

    CDialog dialog(dialogRow.templateId, nullptr);
    RunModal(dialog, [&](QDialog& window) {
      EXPECT_EQ(window.windowTitle().toStdString(), dialogRow.caption);
      const std::vector<QWidget*> controls = ControlsInOrder(window);
      ASSERT_EQ(controls.size(), dialogRow.controls.size());
      for (std::size_t i = 0; i < controls.size(); ++i) {
        const ControlRow& row = dialogRow.controls[i];
        SCOPED_TRACE(LabelOf(row));
        ExpectControlIsAsRow(controls[i], row);
        ExpectTextFits(controls[i]);
        if (row.id != IDC_STATIC) {
          EXPECT_EQ(dialog.GetDlgItem(row.id), controls[i]);
        }
      }
    });
  }
}

// Every rectangle in pixels is the template's rectangle times the dialog font's units: a quarter
// of its average character width across, an eighth of its height down.
TEST_F(DialogTest, PixelGeometryFollowsTheDialogUnitsOfTheDialogFont) {
  for (const DialogRow& dialogRow : Dialogs) {
    CDialog dialog(dialogRow.templateId, nullptr);
    RunModal(dialog, [&](QDialog& window) {
      const QFontMetrics metrics(window.font());
      const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
      const double unitAcross = std::round(metrics.horizontalAdvance(letters) / 52.0) / 4.0;
      const double unitDown = metrics.height() / 8.0;
      const auto pixels = [&](const QRect& units) {
        return QRect(static_cast<int>(std::lround(units.x() * unitAcross)),
                     static_cast<int>(std::lround(units.y() * unitDown)),
                     static_cast<int>(std::lround(units.width() * unitAcross)),
                     static_cast<int>(std::lround(units.height() * unitDown)));
      };

      EXPECT_EQ(window.size(), pixels(QRect(QPoint(0, 0), dialogRow.dialogUnits)).size());
      const std::vector<QWidget*> controls = ControlsInOrder(window);
      ASSERT_EQ(controls.size(), dialogRow.controls.size());
      for (std::size_t i = 0; i < controls.size(); ++i) {
        const QRect expected = pixels(dialogRow.controls[i].dialogUnits);
        QRect actual = controls[i]->geometry();
        // A text that the face can neither fit nor condense widens its control to the right, and
        // only such a text.
        if (auto* label = qobject_cast<QLabel*>(controls[i]); label != nullptr && actual.width() > expected.width()) {
          EXPECT_GT(label->fontMetrics().horizontalAdvance(label->text()), expected.width());
          actual.setWidth(expected.width());
        }
        EXPECT_EQ(actual, expected) << LabelOf(dialogRow.controls[i]);
      }
      EXPECT_EQ(window.font().pointSize(), 8);
    });
  }
}

// Runs both dialogs in the face they resolve to now: that face, the 3-D style, the sizes of their
// client areas at 96 dpi, and every text whole inside its control.
void ExpectDialogsIn(const std::string& family, QSize settingsSize, QSize aboutSize) {
  for (const DialogRow& dialogRow : Dialogs) {
    CDialog dialog(dialogRow.templateId, nullptr);
    RunModal(dialog, [&](QDialog& window) {
      EXPECT_EQ(QFontInfo(window.font()).family().toStdString(), family);
      EXPECT_EQ(window.style()->name().toStdString(), "windows");
      EXPECT_EQ(window.size(), dialogRow.templateId == IDD_SETTINGS ? settingsSize : aboutSize);
      for (QWidget* control : ControlsInOrder(window)) ExpectTextFits(control);
    });
  }
}

TEST_F(DialogTest, TheClassicBitmapFaceGivesTheClassicSizes) {
  if (!std::filesystem::exists(ClassicDialogFontFile)) GTEST_SKIP() << ClassicDialogFontFile << " is not installed";
  const QString family = QStringLiteral("MS Sans Serif");
  EXPECT_FALSE(QFontDatabase::isScalable(family)) << "bitmap strikes only";
  EXPECT_EQ(QFontMetrics(DialogFont(*FindDialogTemplate(IDD_SETTINGS))).height(), 13);
  ExpectDialogsIn(family.toStdString(), {338, 414}, {246, 192});
}

TEST_F(DialogTest, WithoutTheClassicFaceTheStandInStillFitsEveryText) {
  QFontDatabase::removeAllApplicationFonts();
  ExpectDialogsIn("Liberation Sans", {338, 383}, {246, 177});
  QFontDatabase::addApplicationFont(QString::fromUtf8(ClassicDialogFontFile));
}

TEST(DialogUnits, RoundToTheNearestPixel) {
  struct Case {
    DialogBaseUnits units;
    QRect dialogUnits;
    QRect pixels;
  };
  const Case cases[] = {
      {{6, 12}, {19, 228, 50, 14}, {29, 342, 75, 21}}, // 28.5 rounds up
      {{6, 12}, {1, 1, 3, 3}, {2, 2, 5, 5}},           // 1.5 and 4.5 round up
      {{7, 13}, {1, 1, 1, 1}, {2, 2, 2, 2}},           // 1.75 and 1.625
      {{5, 11}, {3, 5, 0, 7}, {4, 7, 0, 10}},          // 3.75, 6.875, 0, 9.625
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MapDialogRect(c.units, c.dialogUnits), c.pixels) << c.units.averageCharWidth << "x" << c.units.charHeight;
  }
}

// Where each command lands in the maps: in the class's own entries, in CDialog's, or nowhere.
TEST(MessageMaps, CommandsFindTheirEntriesMostDerivedFirst) {
  enum class Found { OwnMap, BaseMap, Nowhere };
  struct Case {
    int templateId;
    unsigned notification;
    int controlId;
    Found found;
  };
  const Case cases[] = {
      {IDD_SETTINGS, BN_CLICKED, IDC_ABOUT, Found::OwnMap},
      {IDD_SETTINGS, EN_CHANGE, IDC_MAX_PTIME, Found::OwnMap},
      {IDD_SETTINGS, BN_CLICKED, IDCANCEL, Found::OwnMap},
      {IDD_SETTINGS, BN_CLICKED, IDOK, Found::BaseMap},
      {IDD_SETTINGS, BN_CLICKED, IDC_BASIC_ROCKET, Found::Nowhere},
      {IDD_SETTINGS, BN_CLICKED, IDC_MAX_PTIME, Found::Nowhere},
      {IDD_SETTINGS, EN_CHANGE, IDC_ABOUT, Found::Nowhere},
      {IDD_ABOUT, BN_CLICKED, IDOK, Found::BaseMap},
      {IDD_ABOUT, BN_CLICKED, IDCANCEL, Found::BaseMap},
      {IDD_ABOUT, BN_CLICKED, IDC_ABOUT, Found::Nowhere},
  };
  const CSettingsDlg settings(nullptr);
  const CAboutDlg about(nullptr);
  for (const Case& c : cases) {
    const MessageMap& map = *(c.templateId == IDD_SETTINGS ? settings.GetMessageMap() : about.GetMessageMap());
    const MessageMapEntry* entry = FindMessageMapEntry(map, WM_COMMAND, c.notification, c.controlId);
    const auto in = [entry](const MessageMap& m) {
      return entry >= m.entries.data() && entry < m.entries.data() + m.entries.size();
    };
    const Found found = entry == nullptr   ? Found::Nowhere
                        : in(map)          ? Found::OwnMap
                        : in(*map.baseMap) ? Found::BaseMap
                                           : Found::Nowhere;
    EXPECT_EQ(found, c.found) << c.templateId << " " << c.notification << " " << c.controlId;
    EXPECT_EQ(FindMessageMapEntry(map, WM_COMMAND + 1, c.notification, c.controlId), nullptr);
  }
}

// A dialog whose map overrides one of CDialog's entries and adds one of its own, recording
// which handler each command reaches.
class RecordingDialog final : public CDialog {
public:
  RecordingDialog() : CDialog(IDD_ABOUT, nullptr) {}
  const MessageMap* GetMessageMap() const override { return &messageMap; }
  std::vector<std::string> calls;

protected:
  void OnOK() override { calls.push_back("OnOK"); }
  void OnCancel() override { calls.push_back("OnCancel"); }

private:
  void OnSeven() { calls.push_back("OnSeven"); }
  void OnOverridingCancel() { calls.push_back("OnOverridingCancel"); }

  static const MessageMapEntry messageEntries[];
  static const MessageMap messageMap;
};

const MessageMapEntry RecordingDialog::messageEntries[] = {
    {WM_COMMAND, BN_CLICKED, 7, static_cast<CommandHandler>(&RecordingDialog::OnSeven)},
    {WM_COMMAND, BN_CLICKED, IDCANCEL, static_cast<CommandHandler>(&RecordingDialog::OnOverridingCancel)},
};
const MessageMap RecordingDialog::messageMap = {&CDialog::messageMap, RecordingDialog::messageEntries};

TEST(MessageMaps, RoutingCallsTheMostDerivedHandlerAndFallsThroughToTheBase) {
  struct Case {
    unsigned notification;
    int controlId;
    const char* handler; // null: nothing handles it
  };
  const Case cases[] = {
      {BN_CLICKED, 7, "OnSeven"}, {BN_CLICKED, IDCANCEL, "OnOverridingCancel"},
      {BN_CLICKED, IDOK, "OnOK"}, // through CDialog's map, to the override of the virtual handler
      {EN_CHANGE, 7, nullptr},    {BN_CLICKED, 8, nullptr},
  };
  for (const Case& c : cases) {
    RecordingDialog dialog;
    EXPECT_EQ(dialog.OnCommand(c.notification, c.controlId), c.handler != nullptr);
    const std::vector<std::string> expected =
        c.handler ? std::vector<std::string>{c.handler} : std::vector<std::string>{};
    EXPECT_EQ(dialog.calls, expected) << c.notification << " " << c.controlId;
  }
}

TEST(Dialogs, ATemplateThatDoesNotExistCannotBeCreated) {
  CDialog dialog(101, nullptr);
  EXPECT_EQ(dialog.DoModal(), -1);
}

} // namespace
