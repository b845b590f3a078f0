// Shared pieces of the show tests: what an observer sees of each frame of a headless show.
#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "show/show.h"
#include "sim/sim.h"

namespace showtest {

using namespace sim;
using namespace show;

// One frame as the observer saw it, right after the launch decision.
struct FrameRecord {
  std::uint64_t frame;
  double dt;
  double sinceLaunch;
  std::uint64_t randCalls;
  std::vector<std::int32_t> activeList;
  std::vector<SlotState> states;
};

class RecordingObserver final : public ShowObserver {
public:
  void AfterLaunchDecision(std::uint64_t frame, double dt, double sinceLaunch) override {
    FrameRecord record{frame, dt, sinceLaunch, platform::RandCallCount(), {}, {}};
    for (std::int32_t i = slotPool.activeHead; i >= 0 && record.activeList.size() <= SlotCount; i = slotPool.next[i]) {
      record.activeList.push_back(i);
      record.states.push_back(slotPool.slots[i].state);
    }
    frames.push_back(std::move(record));
    if (afterFrame) afterFrame(frame);
  }

  std::vector<FrameRecord> frames;
  // Runs after each record, for tests that change the pool in mid-show.
  std::function<void(std::uint64_t frame)> afterFrame;
};

// The frames of a headless show run with these settings, as an observer saw them.
inline std::vector<FrameRecord> RecordShow(const HeadlessShow& harness, RecordingObserver observer = {}) {
  RunHeadlessShow(harness, &observer);
  return std::move(observer.frames);
}

// The frames of a headless show on a clock and a button of the test's own, as an observer saw them.
inline std::vector<FrameRecord> RecordShowOn(platform::VirtualClock& clock, platform::ButtonQuery& button,
                                             std::function<void(std::uint64_t, const glide::FrameView&)> onFrame,
                                             RecordingObserver observer = {}) {
  glide::HeadlessBoard board = HeadlessBoardFor(clock, std::move(onFrame));
  platform::ResetRand();
  RunShow({board, clock, button, &observer});
  return std::move(observer.frames);
}

// The clock of a headless show at 60 frames a second.
inline platform::VirtualClock SixtyHertzClock() { return platform::VirtualClock::ForFrameRate(60); }

} // namespace showtest
