// The settings dialog, its message map, and the entry that settings mode calls.
#include "dialogs.h"
#include "resource.h"
#include "saver_app.h"

namespace app {

const MessageMapEntry CSettingsDlg::messageEntries[] = {
    {WM_COMMAND, BN_CLICKED, IDC_ABOUT, static_cast<CommandHandler>(&CSettingsDlg::OnAbout)},
    {WM_COMMAND, EN_CHANGE, IDC_MAX_PTIME, static_cast<CommandHandler>(&CSettingsDlg::OnChangeMaxPTime)},
    // Also the cancel command behind Esc and every close request: taking it here keeps CDialog
    // from ending the dialog, so only OK closes it.
    {WM_COMMAND, BN_CLICKED, IDCANCEL, static_cast<CommandHandler>(&CSettingsDlg::OnDefault)},
};

const MessageMap CSettingsDlg::messageMap = {&CDialog::messageMap, CSettingsDlg::messageEntries};

CSettingsDlg::CSettingsDlg(CDialog* parentWindow) : CDialog(IDD_SETTINGS, parentWindow) {}

const MessageMap* CSettingsDlg::GetMessageMap() const { return &messageMap; }

// Nothing moves either way, so every opening shows the controls as the template made them
// and whatever the user entered is dropped.
void CSettingsDlg::DoDataExchange(CDataExchange*) {}

bool CSettingsDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  // The focus goes to the first tab stop, the About button.
  return true;
}

void CSettingsDlg::OnOK() { CDialog::OnOK(); }

void CSettingsDlg::OnAbout() {
  CAboutDlg about(nullptr);
  about.DoModal();
}

void CSettingsDlg::OnChangeMaxPTime() {}

void CSettingsDlg::OnDefault() {}

void RunSettingsDialog() {
  CSettingsDlg dialog(nullptr);
  dialog.DoModal();
}

} // namespace app
