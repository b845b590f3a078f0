// The saver's application object: the dispatch between the settings dialog and the show.
#include "app/app.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "render/render.h"
#include "show/show.h"

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
    OpenDisplay();
    RunShow({showPlatform.clock, showPlatform.button});
    CloseDisplay();
    return TRUE;
  }
  return FALSE;
}

// Runs on every path, so the graphics library's shutdown must be harmless when it was never
// opened or has already been shut down.
int CSaverApp::ExitInstance() {
  CloseDisplay();
  return CWinApp::ExitInstance();
}

namespace {

// The real left button, except while the board draws in a host's window. There the host
// (xscreensaver, xsecurelock, a settings dialog's preview) owns the input: it ends the show
// with SIGTERM when the user comes back, and a click is how a user asks a locked screen for
// the password prompt, under which the show should go on. The button is then left to the host
// and reads as never pressed.
class DesktopButton final : public platform::ButtonQuery {
public:
  explicit DesktopButton(const glide::DesktopBoard& board) : board_(board) {}
  std::int16_t LeftButtonState() override { return board_.DrawsInHostWindow() ? 0 : button_.LeftButtonState(); }

private:
  const glide::DesktopBoard& board_;
  platform::SdlButton button_;
};

} // namespace

ShowPlatform& DesktopShowPlatform() {
  static const std::unique_ptr<glide::DesktopBoard> board = glide::MakeSdlBoard();
  static platform::MonotonicClock clock;
  static DesktopButton button(*board);
  static ShowPlatform desktop{*board, clock, button};
  return desktop;
}
