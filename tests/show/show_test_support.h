// Shared fixture of the show tests: a whole show on the headless board, a virtual clock and a script.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "glide/board.h"
#include "glide/inspection.h"
#include "platform/platform.h"
#include "render/render.h"
#include "show/show.h"
#include "sim/sim.h"

namespace showtest {

using namespace sim;
using namespace render;
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

// A show from a fresh generator and a zeroed pool, run by the caller with RunRecordedShow.
class ShowTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::memset(&slotPool, 0, sizeof slotPool);
    platform::ResetRand();
    presents_ = 0;
    board_.onPresent = [this](const glide::FrameView&) {
      clock_.AdvanceFrame();
      ++presents_;
    };
    glide::SelectBoard(&board_);
  }

  void TearDown() override {
    glide::SetOperationObserver(nullptr, nullptr);
    glide::SelectBoard(nullptr);
    platform::ResetRand();
    // The show keeps its texture until the process ends; a test that runs many shows gives
    // each one back.
    if (flareTexture != nullptr) {
      std::free(flareTexture->info.data);
      delete flareTexture;
      flareTexture = nullptr;
    }
  }

  void UseFrameRate(std::uint32_t framesPerSecond) { clock_ = platform::VirtualClock::ForFrameRate(framesPerSecond); }

  // Opens the display, runs the show with this button, and closes the display.
  void RunRecordedShow(platform::ButtonQuery& button) {
    OpenDisplay();
    RunShow({clock_, button, &observer_});
    CloseDisplay();
  }
  void RunRecordedShow(std::uint64_t frames) {
    platform::ScriptedButton button(frames);
    RunRecordedShow(button);
  }

  glide::HeadlessBoard board_;
  std::uint64_t presents_ = 0;
  platform::VirtualClock clock_ = platform::VirtualClock::ForFrameRate(60);
  RecordingObserver observer_;
};

} // namespace showtest
