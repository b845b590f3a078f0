// The desktop board: chooses the display server, and drives its session and presenter frame by frame.
#include "desktop/desktop.h"
#include "frame_pacer.h"
#include "host_window.h"
#include "session.h"

#include <cstdlib>
#include <memory>
#include <new>

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
  std::int16_t LeftButtonState() override { return presenter_ != nullptr ? session_->LeftButtonState() : 0; }

private:
  // Reads the session's events, and has the presenter follow a new layout.
  void FollowSession();

  PresentPath path_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<Presenter> presenter_;
  FramePacer pacer_;
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
  if (!QueryHardware() || !session_->Open()) {
    Close();
    return false;
  }
  try {
    presenter_ = ChoosePresenter(*session_, path_);
  } catch (const std::bad_alloc&) {
    EndForLackOfMemory();
  }
  if (presenter_ == nullptr) {
    session_->NoPresenter();
    Close();
    return false;
  }
  return true;
}

void SessionBoard::FollowSession() {
  if (session_->ReadEvents()) {
    // A new layout may need new pictures (a monitor added).
    try {
      presenter_->Relayout();
    } catch (const std::bad_alloc&) {
      EndForLackOfMemory();
    }
  }
}

void SessionBoard::Present(const glide::FrameView& frame) {
  if (presenter_ == nullptr) {
    return;
  }
  // Frames are spaced at the nominal refresh before the session's events are read, so that what
  // arrived meanwhile (a compositor's word that it has shown the last picture) counts for this one.
  if (!presenter_->WaitsForRetrace()) {
    pacer_.WaitForNextFrame();
  }
  FollowSession();
  // Until some target can take the frame, and while the monitor is off, nothing would be seen: the
  // show waits.
  while ((!presenter_->Ready() || !session_->Showing()) && !session_->WindowGone()) {
    session_->WaitForEvents();
    FollowSession();
  }
  if (!session_->WindowGone()) {
    presenter_->Present(frame);
  }
}

void SessionBoard::Close() {
  // The presenter goes first: it draws in the session's targets and, for SDL's renderer, holds a
  // connection of its own whose errors only the session can tell apart.
  presenter_.reset();
  session_.reset();
}

} // namespace

std::unique_ptr<DesktopBoard> MakeDesktopBoard(PresentPath path) { return std::make_unique<SessionBoard>(path); }

} // namespace desktop
