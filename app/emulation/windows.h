// The Windows emulation layer: the class library's application frame and the Windows types that the saver is written in.
#pragma once

// The boolean of the Windows interfaces, with its two values.
typedef int BOOL;
#define TRUE 1
#define FALSE 0

namespace app {

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

} // namespace app
