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

// The file of the sprite texture, which the saver reads from its working directory.
inline constexpr char FlareTexturePath[] = "flare.3df";

// What a show runs on and what may watch it, chosen by its caller: the saver passes the desktop's
// board, clock and button; the recorder, the benchmarks and the tests pass headless ones.
struct ShowPlatform {
  glide::Board& board;
  platform::Clock& clock;
  platform::ButtonQuery& button;
  // Tools and tests watch the show through it; the saver passes none.
  ShowObserver* observer = nullptr;
  // The recorder lets its user name another texture file.
  const char* texturePath = FlareTexturePath;
};

// The show presents this many frames to settle the display before its clock starts; they are not
// frames of the show.
inline constexpr std::uint64_t SettlingPresents = 2;

// The whole show on `platform`: selects its board, opens the display, loads the texture, runs
// until the left button's state differs from its state at the start, closes the display, gives
// the texture back and deselects the board. A display that cannot be opened or a texture that
// cannot be loaded ends the process with its line. One process may run any number of shows.
void RunShow(const ShowPlatform& platform);

// Closes the display; harmless when none is open or it was closed already. The application's
// exit calls it on every path.
void CloseDisplay();

// ---------------------------------------------------------------------------------------------
// The headless show: the whole show without a display, as the recorder, the benchmarks and the
// tests run it. The frames go to the headless board; a virtual clock moves on by one frame period
// at every present, so that every frame after the first lasts exactly 60/F time units at F frames
// a second; and the button changes after the last frame asked for.

struct HeadlessShow {
  std::uint32_t framesPerSecond = 60;
  // Frames of the show to run, at least 1.
  std::uint64_t frames = 600;
  // Sees every frame of the show as it is presented, numbered from 1, once the clock has moved
  // on; the settling presents are not frames of the show.
  std::function<void(std::uint64_t frame, const glide::FrameView& view)> onFrame = nullptr;
};

// Runs one whole show on the headless board, from the generator's first value as every start of
// the program does, so that every run with the same settings is the same show.
void RunHeadlessShow(const HeadlessShow& harness, ShowObserver* observer = nullptr,
                     const char* texturePath = FlareTexturePath);

// The headless board of a show on a clock and a button of the caller's own: it moves `clock` on by
// its frame period at every present (a period of 0 ticks leaves every frame's length to
// `onFrame`), and shows `onFrame` every frame of the show.
glide::HeadlessBoard HeadlessBoardFor(platform::VirtualClock& clock,
                                      std::function<void(std::uint64_t frame, const glide::FrameView& view)> onFrame);

} // namespace show
