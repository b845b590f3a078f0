// The show: the frame loop that launches, steps and draws fireworks until the left button changes.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace show {

// Sees the show's own variables once a frame, right after the launch decision and before the
// frame is presented. Tools and tests use it; the saver itself passes none.
class ShowObserver {
public:
  virtual ~ShowObserver() = default;
  // `frame` counts from 1; `dt` is this frame's time and `sinceLaunch` the time accumulated
  // since the last launch, both in time units.
  virtual void AfterLaunchDecision(std::uint64_t frame, double dt, double sinceLaunch) = 0;
};

// What differs between the saver, the recorder and the tests, chosen by the caller. The board
// behind the graphics library is chosen there too, before the display is opened.
struct ShowSeams {
  platform::Clock& clock;
  platform::ButtonQuery& button;
  ShowObserver* observer = nullptr;
  // The sprite texture. The saver always reads "flare.3df" from its working directory; the
  // recorder lets its user name another file.
  const char* texturePath = "flare.3df";
};

// Runs the show on the open display until the left button's state differs from its state at the
// start. Loads the texture first; if it cannot, the process ends.
void RunShow(const ShowSeams& seams);

} // namespace show
