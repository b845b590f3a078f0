// The saver's application object: the dispatch between the settings dialog and the show.
#include "app/app.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "desktop/desktop.h"
#include "render/render.h"
#include "show/show.h"

namespace app {

CSaverApp::CSaverApp(ShowPlatform& (*showPlatform)()) : showPlatform_(showPlatform) {}

BOOL CSaverApp::InitInstance() {
  // Only the first two characters of the first argument count, case-sensitively. A command
  // line without any argument (even without the program's name) opens the settings.
  if (m_argc <= 1 || std::strncmp("/c", m_argv[1], 2) == 0) {
    RunSettingsDialog();
    return FALSE;
  }
  if (std::strncmp("/s", m_argv[1], 2) == 0 || std::strncmp("/S", m_argv[1], 2) == 0) {
    ShowPlatform& showPlatform = showPlatform_();
    glide::SelectBoard(&showPlatform.board);
    render::OpenDisplay();
    show::RunShow({showPlatform.clock, showPlatform.button});
    render::CloseDisplay();
    return TRUE;
  }
  return FALSE;
}

// Runs on every path, so the graphics library's shutdown must be harmless when it was never
// opened or has already been shut down.
int CSaverApp::ExitInstance() {
  render::CloseDisplay();
  return CWinApp::ExitInstance();
}

ShowPlatform& DesktopShowPlatform() {
  static const std::unique_ptr<desktop::DesktopBoard> board = desktop::MakeDesktopBoard();
  static platform::MonotonicClock clock;
  static desktop::DesktopButton button(*board);
  static ShowPlatform desktop{*board, clock, button};
  return desktop;
}

} // namespace app
