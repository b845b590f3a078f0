// The application frame: registers the one application object and runs its start and exit.
#include "windows.h"

namespace app {
namespace {

// The application object of this process.
CWinApp* currentApp = nullptr;

} // namespace

CWinApp::CWinApp(const char* /*appName*/) { currentApp = this; }

CWinApp::~CWinApp() {
  if (currentApp == this) currentApp = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

CWinApp* AfxGetApp() { return currentApp; }

int AfxWinMain(int argc, char** argv) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) {
    return -1;
  }
  app->m_argc = argc;
  app->m_argv = argv;
  if (app->InitInstance()) {
    // The message loop would run here; with no main window it ends as soon as it starts.
  }
  return app->ExitInstance();
}

} // namespace app
