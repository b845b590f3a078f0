// The saver's application object: the dispatch between the settings dialog and the show.
#include "saver_app.h"

#include "app/app.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "desktop/desktop.h"
#include "show/show.h"

namespace app {

CSaverApp::CSaverApp(show::ShowPlatform& (*showPlatform)()) : showPlatform_(showPlatform) {}

BOOL CSaverApp::InitInstance() {
  // Only the first two characters of the first argument count, case-sensitively. A command
  // line without any argument (even without the program's name) opens the settings.
  if (m_argc <= 1 || std::strncmp("/c", m_argv[1], 2) == 0) {
    RunSettingsDialog();
    return FALSE;
  }
  if (std::strncmp("/s", m_argv[1], 2) == 0 || std::strncmp("/S", m_argv[1], 2) == 0) {
    // The show opens the display, runs until the left button changes state, and closes it.
    show::RunShow(showPlatform_());
    return TRUE;
  }
  return FALSE;
}

// Runs on every path, so the graphics library's shutdown must be harmless when it was never
// opened or has already been shut down.
int CSaverApp::ExitInstance() {
  show::CloseDisplay();
  return CWinApp::ExitInstance();
}

show::ShowPlatform& DesktopShowPlatform() {
  static const std::unique_ptr<desktop::DesktopBoard> board = desktop::MakeDesktopBoard();
  static platform::MonotonicClock clock;
  static desktop::DesktopButton button(*board);
  static show::ShowPlatform desktop{*board, clock, button};
  return desktop;
}

int RunSaver(int argc, char** argv) {
  // Constructing it registers it as the process's application, which the frame then runs.
  static CSaverApp theApp;
  return AfxWinMain(argc, argv);
}

} // namespace app
