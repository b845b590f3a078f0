// The saver's application object, the desktop it shows on, and settings mode.
#pragma once

#include "emulation/windows.h"
#include "show/show.h"

namespace app {

// The desktop: the desktop board, the monotonic clock and the real left button (left to the host
// while the board draws in a host's window), built on first use.
show::ShowPlatform& DesktopShowPlatform();

// The application: looks once at the first argument and runs the settings dialog or the show.
class CSaverApp final : public CWinApp {
public:
  // `showPlatform` is called only in show mode, so settings mode never touches the display.
  explicit CSaverApp(show::ShowPlatform& (*showPlatform)() = DesktopShowPlatform);

  BOOL InitInstance() override;
  int ExitInstance() override;

private:
  show::ShowPlatform& (*showPlatform_)();
};

// Settings mode: builds the settings dialog with no parent window, runs it modally and destroys
// it, ignoring the result. The toolkit comes up here, on first use, never in show mode. Where no
// display can be used the dialog counts as closed at once and this simply returns.
void RunSettingsDialog();

} // namespace app
