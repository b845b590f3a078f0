// The desktop board: chooses the display server, and drives its session and presenter frame by frame.
#include "desktop/desktop.h"
#include "host_window.h"
#include "session.h"

#include <cstdlib>
#include <memory>

namespace desktop {

namespace {

class SessionBoard final : public DesktopBoard {
public:
  explicit SessionBoard(PresentPath path) : path_(path) {}
  ~SessionBoard() override { Close(); }

  bool QueryHardware() override;
  bool Open() override;
  void Present(const glide::FrameView& frame) override;
  void Close() override;
  bool DrawsInHostWindow() const override { return presenter_ != nullptr && session_->DrawsInHostWindow(); }
  bool HostWindowGone() const override { return presenter_ != nullptr && session_->HostWindowGone(); }
  std::int16_t LeftButtonState() override { return presenter_ != nullptr ? session_->LeftButtonState() : 0; }

private:
  PresentPath path_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<Presenter> presenter_;
};

bool SessionBoard::QueryHardware() {
  if (session_ != nullptr) {
    return true;
  }
  // A host's window is an X window, whatever else the session offers.
  if (std::getenv(HostWindowVariable) == nullptr) {
    session_ = ConnectWayland();
  }
  if (session_ == nullptr) {
    session_ = ConnectX11();
  }
  return session_ != nullptr;
}

bool SessionBoard::Open() {
  if (presenter_ != nullptr) {
    return true;
  }
  if (!QueryHardware()) {
    return false;
  }
  presenter_ = session_->Open(path_);
  if (presenter_ == nullptr) {
    Close();
    return false;
  }
  return true;
}

void SessionBoard::Present(const glide::FrameView& frame) {
  if (presenter_ == nullptr) {
    return;
  }
  if (session_->ReadEvents()) {
    presenter_->Relayout(session_->Layout());
  }
  if (!session_->HostWindowGone()) {
    presenter_->Present(frame);
  }
}

void SessionBoard::Close() {
  // The presenter goes first: it draws through the session's windows and, for SDL's renderer,
  // holds a connection of its own whose errors only the session can tell apart.
  presenter_.reset();
  session_.reset();
}

} // namespace

std::unique_ptr<DesktopBoard> MakeDesktopBoard(PresentPath path) { return std::make_unique<SessionBoard>(path); }

} // namespace desktop
