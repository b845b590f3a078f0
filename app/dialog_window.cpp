// Building a dialog's window from its template: its controls placed through the dialog font's units, their text fitted, and its frame.
#include "dialog_window.h"

#include <cstdint>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyleOption>
#include <QTextLayout>
#include <QWindow>

#include "desktop/desktop.h"

namespace app {

namespace {

// A modal frame around a window without a caption: a border and nothing else, so there is
// nothing to move the window by, and it stays where it opened. The dialog draws that border
// itself, the same with or without a window manager, and asks the window manager for no
// decoration, no moving and no resizing.
bool StaysInPlace(const DialogTemplate& dialogTemplate) {
  return (dialogTemplate.style & DS_MODALFRAME) != 0 && (dialogTemplate.style & WS_CAPTION) != WS_CAPTION;
}

Qt::WindowFlags WindowFlagsFor(const DialogTemplate& dialogTemplate) {
  // An application window gets its own task-bar entry; a dialog window belongs to its owner's.
  Qt::WindowFlags flags = (dialogTemplate.extendedStyle & WS_EX_APPWINDOW) != 0 ? Qt::Window : Qt::Dialog;
  if (StaysInPlace(dialogTemplate)) return flags | Qt::FramelessWindowHint;
  // Otherwise decorations follow the styles alone; no style asks for minimize or maximize boxes.
  flags |= Qt::CustomizeWindowHint;
  if ((dialogTemplate.style & WS_CAPTION) == WS_CAPTION) flags |= Qt::WindowTitleHint;
  if ((dialogTemplate.style & WS_SYSMENU) != 0) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  return flags;
}

// Below this stretch (in percent) a condensed text would be hard to read.
constexpr int NarrowestStretch = 80;

// Whether the label's text, set in this font, stays inside the label: every line within its
// width and, when it wraps onto several lines, all of them within its height.
bool TextFits(const QLabel& label, const QFont& font) {
  const QRect area = label.contentsRect();
  QTextOption option;
  option.setWrapMode(label.wordWrap() ? QTextOption::WordWrap : QTextOption::NoWrap);
  QTextLayout layout(label.text(), font);
  layout.setTextOption(option);
  layout.beginLayout();
  int lineCount = 0;
  bool linesFit = true;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(area.width());
    linesFit = linesFit && line.naturalTextWidth() <= area.width();
    ++lineCount;
  }
  layout.endLayout();
  return linesFit && (lineCount <= 1 || lineCount * QFontMetrics(font).lineSpacing() <= area.height());
}

// Widens the label to the right just enough to hold its whole text on one line.
void WidenToText(QLabel& label) {
  const int frameWidth = label.width() - label.contentsRect().width();
  label.resize(label.fontMetrics().horizontalAdvance(label.text()) + frameWidth, label.height());
}

// The controls were sized for the template's own font, and a few texts still come out wider
// than their controls although the controls scale with the dialog font's units. A text is never
// cut: it is condensed horizontally just enough to fit, keeping its control's rectangle and its
// height (with the stand-in face, Liberation Sans, five texts by 1 to 11 %). A face that cannot
// be condensed, as the classic face with its fixed bitmaps cannot, keeps its glyphs, and the
// control widens to its text instead (there, one text by 16 pixels).
void FitText(QLabel& label) {
  QFont font = label.font();
  if (TextFits(label, font)) return;
  for (int stretch = 99; stretch >= NarrowestStretch; --stretch) {
    font.setStretch(stretch);
    if (TextFits(label, font)) {
      label.setFont(font);
      return;
    }
  }
  WidenToText(label);
}

QLabel* CreateStatic(const DialogItemTemplate& item, const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  const Qt::Alignment horizontal = (item.style & SS_TYPEMASK) == SS_CENTER ? Qt::AlignHCenter : Qt::AlignLeft;
  // Centred vertically, the text stays on one line; otherwise it wraps at word boundaries from
  // the top, as long texts in narrow controls need.
  const bool centredVertically = (item.style & SS_CENTERIMAGE) != 0;
  label->setAlignment(horizontal | (centredVertically ? Qt::AlignVCenter : Qt::AlignTop));
  label->setWordWrap(!centredVertically);
  if ((item.style & WS_BORDER) != 0) {
    label->setFrameStyle(QFrame::Box | QFrame::Plain);
    label->setLineWidth(1);
  }
  return label;
}

QLineEdit* CreateEdit(const DialogItemTemplate& item, const QString& text, QWidget* parent) {
  // The line edit always scrolls its text horizontally and never limits it to the visible width,
  // which is what ES_AUTOHSCROLL asks for.
  auto* edit = new QLineEdit(text, parent);
  edit->setFrame((item.style & WS_BORDER) != 0);
  if ((item.style & ES_NUMBER) != 0) {
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
  }
  return edit;
}

} // namespace

DialogWindow::DialogWindow(CDialog& dialog, const DialogTemplate& dialogTemplate, QWidget* owner)
    : QDialog(owner, WindowFlagsFor(dialogTemplate)), dialog_(dialog), template_(dialogTemplate),
      units_(MeasureDialogBaseUnits(QFontMetrics(DialogFont(dialogTemplate)))),
      staysInPlace_(StaysInPlace(dialogTemplate)) {
  setWindowTitle(QString::fromUtf8(dialogTemplate.caption));
  // The modal frame cannot be resized.
  setFixedSize(MapDialogRect(units_, QRect(0, 0, dialogTemplate.width, dialogTemplate.height)).size());

  QWidget* previousTabStop = nullptr;
  for (const DialogItemTemplate& item : dialogTemplate.items) {
    QWidget* control = CreateControl(item);
    control->setGeometry(MapDialogRect(units_, QRect(item.x, item.y, item.width, item.height)));
    if ((item.style & WS_VISIBLE) == 0) control->hide();
    if ((item.style & WS_TABSTOP) != 0) {
      control->setFocusPolicy(Qt::StrongFocus);
      if (previousTabStop != nullptr) setTabOrder(previousTabStop, control);
      previousTabStop = control;
    } else {
      control->setFocusPolicy(Qt::NoFocus);
    }
    controls_.emplace_back(item.id, control);
  }
  UseDialogFontForItsScreen();
}

void DialogWindow::UseDialogFontForItsScreen() {
  const QFont dialogFont = DialogFont(template_, devicePixelRatioF());
  if (fontChosen_ && dialogFont == font()) return;
  fontChosen_ = true;
  setFont(dialogFont);
  // Each text is fitted to its control's own rectangle again, in the new face.
  for (std::size_t index = 0; index < controls_.size(); ++index) {
    auto* label = qobject_cast<QLabel*>(controls_[index].second);
    if (label == nullptr) continue;
    const DialogItemTemplate& item = template_.items[index];
    label->setFont(dialogFont);
    label->setGeometry(MapDialogRect(units_, QRect(item.x, item.y, item.width, item.height)));
    FitText(*label);
  }
}

bool DialogWindow::event(QEvent* event) {
  // A window moved to a screen of another device pixel ratio may need the other face.
  if (event->type() == QEvent::ScreenChangeInternal) UseDialogFontForItsScreen();
  return QDialog::event(event);
}

QWidget* DialogWindow::CreateControl(const DialogItemTemplate& item) {
  const QString text = QString::fromUtf8(item.text);
  const int controlId = item.id;
  switch (item.controlClass) {
  case ControlClass::Static: return CreateStatic(item, text, this);
  case ControlClass::Edit: {
    QLineEdit* edit = CreateEdit(item, text, this);
    connect(edit, &QLineEdit::textChanged, this, [this, controlId] { dialog_.OnCommand(EN_CHANGE, controlId); });
    return edit;
  }
  case ControlClass::Button: break;
  }

  const std::uint32_t type = item.style & BS_TYPEMASK;
  if (type == BS_GROUPBOX) return new QGroupBox(text, this);
  QAbstractButton* button = nullptr;
  if (type == BS_AUTOCHECKBOX) {
    button = new QCheckBox(text, this);
  } else {
    // Push buttons, the default one included. Any type the templates do not use is shown as a
    // push button too, so that its command still arrives.
    auto* pushButton = new QPushButton(text, this);
    pushButton->setDefault(type == BS_DEFPUSHBUTTON);
    button = pushButton;
  }
  connect(button, &QAbstractButton::clicked, this, [this, controlId] { dialog_.OnCommand(BN_CLICKED, controlId); });
  return button;
}

// The native window exists by now and is not mapped yet.
void DialogWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The offscreen platform answers for X11 too, with no connection: there is no window manager.
  const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (staysInPlace_ && windowHandle() != nullptr && x11 != nullptr && x11->connection() != nullptr) {
    desktop::AskWindowManagerToKeepInPlace(x11->connection(), static_cast<std::uint32_t>(windowHandle()->winId()));
  }
}

void DialogWindow::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  if (!staysInPlace_) return;
  // The style's raised window frame, so the border matches the bevels of the controls.
  QPainter painter(this);
  QStyleOptionFrame frame;
  frame.initFrom(this);
  style()->drawPrimitive(QStyle::PE_FrameWindow, &frame, &painter, this);
}

QWidget* DialogWindow::Control(int controlId) const {
  for (const auto& [id, control] : controls_) {
    if (id == controlId) return control;
  }
  return nullptr;
}

void DialogWindow::FocusFirstTabStop() {
  for (const auto& [id, control] : controls_) {
    if (control->focusPolicy() != Qt::NoFocus && control->isVisibleTo(this)) {
      control->setFocus(Qt::OtherFocusReason);
      return;
    }
  }
}

} // namespace app
