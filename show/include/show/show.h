// The show: the frame loop that launches, steps and draws fireworks until the left button changes.
#pragma once

#include <cstdint>
#include <functional>

#include "glide/board.h"
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

// ---------------------------------------------------------------------------------------------
// The headless show: the whole show without a display, as the recorder, the benchmarks and the
// tests run it. The frames go to the headless board; a virtual clock moves on by one frame period
// at every present, so that every frame after the first lasts exactly 60/F time units at F frames
// a second; and the button changes after the last frame asked for.

struct HeadlessShow {
  std::uint32_t framesPerSecond = 60;
  // Frames of the show to run, at least 1.
  std::uint64_t frames = 600;
  ShowObserver* observer = nullptr;
  // Sees every frame of the show as it is presented, numbered from 1, once the clock has moved
  // on. The two presents that settle the display before the first frame are not frames of the show.
  std::function<void(std::uint64_t frame, const glide::FrameView& view)> onFrame = nullptr;
  const char* texturePath = "flare.3df";
  // For tests of the show's own timing and end: a clock and a button of their own instead. The
  // harness still moves this clock on by its frame period at every present (a period of 0 ticks
  // leaves every frame's length to `onFrame`); this button decides the end instead of `frames`.
  platform::VirtualClock* clock = nullptr;
  platform::ButtonQuery* button = nullptr;
};

// Runs one whole show on the headless board, from the generator's first value as every start of
// the program does, so that every run with the same settings is the same show. The display is
// closed and the texture given back at the end, so that one process can run many shows. A texture
// that cannot be loaded ends the process, as it ends the saver.
void RunHeadlessShow(const HeadlessShow& settings);

} // namespace show
