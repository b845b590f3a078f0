// The saver shell's public entry points: the application frame, the application object and settings mode.
#pragma once

#include "show/show.h"

typedef int BOOL;
#define TRUE 1
#define FALSE 0

namespace app {

// ---------------------------------------------------------------------------------------------
// The application frame: one application object per process, started by AfxWinMain.

class CWinApp {
public:
  // The object registers itself as the process's application; a name of null means the
  // program's own.
  explicit CWinApp(const char* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance();
  // The base exit, whose result becomes the process's exit status: 0.
  virtual int ExitInstance();

  // The command line as the runtime split it; set by AfxWinMain before InitInstance.
  int m_argc = 0;
  char** m_argv = nullptr;
  // The program never has a main window.
  void* m_pMainWnd = nullptr;
};

// The application object of this process, or null.
CWinApp* AfxGetApp();

// Runs the application object: InitInstance once; when it returns FALSE, ExitInstance at once;
// when TRUE, the message loop (which ends at once, there being no main window), then
// ExitInstance. Returns ExitInstance's result, the process's exit status.
int AfxWinMain(int argc, char** argv);

// ---------------------------------------------------------------------------------------------
// The saver.

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
