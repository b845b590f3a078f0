// CDialog and its message maps: command routing and the default handling of OK and Cancel.
#include "dialog.h"

#include <QApplication>

#include "dialog_template.h"
#include "dialog_window.h"
#include "resource.h"

namespace app {

const MessageMapEntry* FindMessageMapEntry(const MessageMap& map, unsigned message, unsigned notification,
                                           int controlId) {
  for (const MessageMap* current = &map; current != nullptr; current = current->baseMap) {
    for (const MessageMapEntry& entry : current->entries) {
      if (entry.message == message && entry.notification == notification && entry.controlId == controlId) {
        return &entry;
      }
    }
  }
  return nullptr;
}

const MessageMapEntry CDialog::messageEntries[] = {
    {WM_COMMAND, BN_CLICKED, IDOK, &CDialog::OnOK},
    {WM_COMMAND, BN_CLICKED, IDCANCEL, &CDialog::OnCancel},
};

const MessageMap CDialog::messageMap = {nullptr, CDialog::messageEntries};

CDialog::CDialog(int templateId, CDialog* parentWindow) : templateId_(templateId), parentWindow_(parentWindow) {}

const MessageMap* CDialog::GetMessageMap() const { return &messageMap; }

int CDialog::DoModal() {
  const DialogTemplate* dialogTemplate = FindDialogTemplate(templateId_);
  if (dialogTemplate == nullptr || StartDialogToolkit() == DialogToolkit::Unavailable) return -1;

  // Without a parent, the modal dialog that is running (if any) becomes the owner, so a dialog
  // opened from another stays over it and blocks its input.
  QWidget* owner = parentWindow_ != nullptr ? parentWindow_->Window() : QApplication::activeModalWidget();
  DialogWindow window(*this, *dialogTemplate, owner);
  window_ = &window;
  if (OnInitDialog()) window.FocusFirstTabStop();
  const int result = window.exec();
  window_ = nullptr;
  return result;
}

void CDialog::EndDialog(int result) {
  if (window_ != nullptr) window_->done(result);
}

bool CDialog::OnCommand(unsigned notification, int controlId) {
  const MessageMapEntry* entry = FindMessageMapEntry(*GetMessageMap(), WM_COMMAND, notification, controlId);
  if (entry == nullptr) return false;
  (this->*entry->handler)();
  return true;
}

QDialog* CDialog::Window() const { return window_; }

QWidget* CDialog::GetDlgItem(int controlId) const { return window_ != nullptr ? window_->Control(controlId) : nullptr; }

void CDialog::DoDataExchange(CDataExchange*) {}

bool CDialog::OnInitDialog() {
  UpdateData(DataExchangeDirection::ToControls);
  return true;
}

void CDialog::OnOK() {
  UpdateData(DataExchangeDirection::FromControls);
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::UpdateData(DataExchangeDirection direction) {
  CDataExchange exchange{direction};
  DoDataExchange(&exchange);
}

} // namespace app
