// The saver's two dialogs: the settings panel, inert by design, and its About box.
#pragma once

#include "dialog.h"

namespace app {

// The settings panel. Its controls can be changed but nothing reads them, nothing fills them and
// nothing is stored; only OK closes it.
class CSettingsDlg final : public CDialog {
public:
  explicit CSettingsDlg(CDialog* parentWindow);
  const MessageMap* GetMessageMap() const override;

protected:
  void DoDataExchange(CDataExchange* exchange) override;
  bool OnInitDialog() override;
  void OnOK() override;

private:
  void OnAbout();
  void OnChangeMaxPTime();
  void OnDefault();

  static const MessageMapEntry messageEntries[];
  static const MessageMap messageMap;
};

// The About box: closed by OK, Enter or Esc through CDialog's own handling.
class CAboutDlg final : public CDialog {
public:
  explicit CAboutDlg(CDialog* parentWindow);
  const MessageMap* GetMessageMap() const override;

protected:
  void DoDataExchange(CDataExchange* exchange) override;

private:
  static const MessageMap messageMap;
};

} // namespace app
