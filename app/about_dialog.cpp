// The About box, which handles nothing itself.
#include "dialogs.h"
#include "resource.h"

namespace app {

const MessageMap CAboutDlg::messageMap = {&CDialog::messageMap, {}};

CAboutDlg::CAboutDlg(CDialog* parentWindow) : CDialog(IDD_ABOUT, parentWindow) {}

const MessageMap* CAboutDlg::GetMessageMap() const { return &messageMap; }

void CAboutDlg::DoDataExchange(CDataExchange*) {}

} // namespace app
