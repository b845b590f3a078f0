// The show: the display session around it, set-up, clock calibration, and each frame's clear, walk, launch, swap and exit test.
#include "show/show.h"

#include <algorithm>
#include <utility>

#include "render/render.h"
#include "sim/sim.h"

namespace show {
namespace {

// The physics is tuned to one time unit per frame of a 60 Hz display.
constexpr double NominalRefreshRate = 60.0;

// The longest time one frame may advance the show: one second. After a longer stall (a machine
// that slept, a process that was stopped) the show goes on from where it stood instead of
// leaping ahead: a leap of minutes would grow every sprite past the size of the screen and make
// that one frame take seconds to draw.
constexpr double MaxFrameTime = NominalRefreshRate;

void LaunchOpeningRockets() {
  sim::InitPool();
  sim::LaunchBasicRocket(0, render::Renderers);
  std::int32_t index = sim::TakeSlot();
  if (index >= 0) sim::LaunchBicolorSphericRocket(index, render::Renderers);
  index = sim::TakeSlot();
  if (index >= 0) sim::LaunchBasicRocket(index, render::Renderers);
}

// Steps and draws every live firework, newest first, and returns finished ones to the free
// list. A firework finished by its own step is still drawn in this frame.
void WalkActiveList(double dt) {
  std::int32_t previous = -1;
  std::int32_t current = sim::slotPool.activeHead;
  while (current >= 0) {
    sim::FireworkSlot& slot = sim::slotPool.slots[current];
    if (slot.state == sim::SlotState::Finished) {
      current = sim::ReleaseSlot(current, previous);
      continue;
    }
    sim::StepSlot(slot, dt);
    slot.drawFn(slot);
    previous = current;
    current = sim::slotPool.next[current];
  }
}

// Each kind answers to a quarter of the draws: 0..8191 the first, 24576..32767 the last.
sim::RocketKind DrawRocketKind() {
  const double u = platform::RandUnit();
  const int kind = std::min(1 + static_cast<int>(4 * u), 4);
  return static_cast<sim::RocketKind>(kind);
}

// The show itself, on the open display, until the left button's state differs from its state at
// the start.
void RunFrames(const ShowPlatform& showPlatform) {
  // The launch threshold in time units; a lower value would launch more rockets.
  const std::int32_t maxPTime = 9;
  const std::int32_t startButtonState = showPlatform.button.LeftButtonState();
  render::SetBaseRenderState();
  render::flareTexture = render::LoadFlareTexture(showPlatform.texturePath);
  LaunchOpeningRockets();

  // Two swaps settle the display before the clock starts. A time unit is one period of the
  // nominal refresh, whatever the real frame rate, so the show runs at the same speed on
  // every machine; what the swaps take does not enter into it.
  grBufferSwap(1);
  [[maybe_unused]] const std::uint32_t t0 = showPlatform.clock.Ticks();
  grBufferSwap(1);
  const std::uint32_t t1 = showPlatform.clock.Ticks();
  const double timeUnit = std::max(1.0, static_cast<double>(showPlatform.clock.TicksPerSecond()) / NominalRefreshRate);
  std::uint32_t prevStamp = t1;
  double sinceLaunch = 0.0;

  for (std::uint64_t frame = 1;; ++frame) {
    grBufferClear(0, 0, 0xFFFF);
    // Unsigned 32-bit differences stay right across a wrap of the counter.
    const std::uint32_t now = showPlatform.clock.Ticks();
    const double dt =
        std::min(static_cast<double>(static_cast<std::uint32_t>(now - prevStamp)) / timeUnit, MaxFrameTime);

    WalkActiveList(dt);

    const double u = platform::RandUnit();
    if (u * sinceLaunch > maxPTime) {
      sinceLaunch = 0.0;
      // The kind is drawn even when no slot is free.
      const sim::RocketKind kind = DrawRocketKind();
      const std::int32_t index = sim::TakeSlot();
      if (index >= 0) sim::LaunchRocket(kind, index, render::Renderers);
    } else {
      sinceLaunch += dt;
    }
    if (showPlatform.observer != nullptr) {
      showPlatform.observer->AfterLaunchDecision(frame, dt, sinceLaunch);
    }

    grBufferSwap(1);
    // Any change of the whole value ends the show, a press reported since the last query too.
    const std::int32_t buttonState = showPlatform.button.LeftButtonState();
    if (buttonState != startButtonState) {
      return;
    }
    prevStamp = now;
  }
}

} // namespace

void RunShow(const ShowPlatform& platform) {
  glide::SelectBoard(&platform.board);
  render::OpenDisplay();
  RunFrames(platform);
  render::CloseDisplay();
  render::ReleaseFlareTexture();
  glide::SelectBoard(nullptr);
}

void CloseDisplay() { render::CloseDisplay(); }

glide::HeadlessBoard HeadlessBoardFor(platform::VirtualClock& clock,
                                      std::function<void(std::uint64_t frame, const glide::FrameView& view)> onFrame) {
  glide::HeadlessBoard board;
  board.onPresent = [&clock, onFrame = std::move(onFrame),
                     presents = std::uint64_t{0}](const glide::FrameView& view) mutable {
    clock.AdvanceFrame();
    if (++presents > SettlingPresents && onFrame) onFrame(presents - SettlingPresents, view);
  };
  return board;
}

void RunHeadlessShow(const HeadlessShow& harness, ShowObserver* observer, const char* texturePath) {
  platform::VirtualClock clock = platform::VirtualClock::ForFrameRate(harness.framesPerSecond);
  platform::ScriptedButton button(harness.frames);
  glide::HeadlessBoard board = HeadlessBoardFor(clock, harness.onFrame);
  platform::ResetRand();
  RunShow({board, clock, button, observer, texturePath});
}

} // namespace show
