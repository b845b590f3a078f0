// A dialog's window on the toolkit, built from its template.
#pragma once

#include <utility>
#include <vector>

#include <QDialog>

#include "dialog.h"
#include "dialog_template.h"
#include "resource.h"

namespace app {

// A dialog's window: the controls of its template, placed in pixels through the dialog font's
// units. Clicks, edits and the cancel requests arrive at the CDialog as commands.
class DialogWindow final : public QDialog {
public:
  DialogWindow(CDialog& dialog, const DialogTemplate& dialogTemplate, QWidget* owner);

  QWidget* Control(int controlId) const;
  void FocusFirstTabStop();

  // Esc, the window's close button and the window manager's close requests all end up here.
  // They become the cancel command, which the message maps route like any other.
  void reject() override { dialog_.OnCommand(BN_CLICKED, IDCANCEL); }

protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

private:
  QWidget* CreateControl(const DialogItemTemplate& item);
  // Sets the dialog font for the device pixel ratio of the window's screen, with every text
  // fitted to its control in it.
  void UseDialogFontForItsScreen();

  CDialog& dialog_;
  const DialogTemplate& template_;
  // From the dialog font at ratio 1, so the layout in logical pixels is the same on every screen.
  const DialogBaseUnits units_;
  bool fontChosen_ = false;
  // A window that stays in place draws its own frame, along the edges of the client area where
  // the templates place no control.
  const bool staysInPlace_;
  // Every control with its identifier, in template order.
  std::vector<std::pair<int, QWidget*>> controls_;
};

} // namespace app
