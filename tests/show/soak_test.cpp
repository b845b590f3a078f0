// A long show under a virtual clock whose frames last anything from nothing to longer than the
// counter's range, checked after every frame: the pool's lists, the counts, dt and what is drawn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "show/show.h"
#include "sim/sim.h"

namespace {

using namespace sim;
using namespace show;

// A clock of a million ticks a second, like the real monotonic clock: a 60 Hz frame is 16,667
// ticks and the 32-bit counter wraps every 71.6 minutes.
constexpr std::uint64_t TicksPerSecond = 1'000'000;
constexpr double TicksPerTimeUnit = TicksPerSecond / 60.0;

// The longest time one frame may advance the show: one second, 60 time units.
constexpr double LongestFrame = 60.0;
// One frame grows a burst's sprites past LargestGrowingSize, or shrinks them below SmallestSize, by
// at most one frame's change: capped at LongestFrame, it leaves every drawn size within these bounds.
constexpr double LargestDrawnSize = LargestGrowingSize + SizeGrowthPerTimeUnit * LongestFrame;
constexpr double SmallestDrawnSize = SmallestSize - SizeShrinkPerTimeUnit * LongestFrame;

// The frames of a million-frame show last as long as one of these, chosen at random with these
// weights: mostly ordinary frames between 144 Hz and 30 Hz, and every kind of odd one.
struct FrameTimeKind {
  const char* name;
  std::uint32_t fewestTicks;
  std::uint32_t mostTicks;
  int weight;
};
constexpr FrameTimeKind FrameTimeKinds[] = {
    {"no time at all", 0, 0, 3},
    {"a few ticks", 1, 16, 3},
    {"an ordinary frame", 6'944, 33'333, 84},
    {"a stutter of up to a second", 33'334, 1'000'000, 5},
    {"a stall of seconds", 1'000'001, 60'000'000, 2},
    {"a machine that slept for minutes", 60'000'001, 4'000'000'000u, 2},
    // A difference this large is what a clock that jumped back by up to five minutes gives.
    {"a clock that ran backwards", 4'000'000'001u, 0xFFFFFFFFu, 1},
};
constexpr int KindCount = static_cast<int>(std::size(FrameTimeKinds));

// The frame times come from a generator of their own, so the show's draws stay its own.
class FrameTimeSchedule {
public:
  // Returns the next frame's length in ticks and which kind it is.
  std::uint32_t Next(int& kind) {
    int totalWeight = 0;
    for (const FrameTimeKind& candidate : FrameTimeKinds) totalWeight += candidate.weight;
    int pick = static_cast<int>(Draw() % static_cast<std::uint64_t>(totalWeight));
    kind = 0;
    while (pick >= FrameTimeKinds[kind].weight) pick -= FrameTimeKinds[kind++].weight;
    const FrameTimeKind& chosen = FrameTimeKinds[kind];
    const std::uint64_t span = std::uint64_t{chosen.mostTicks} - chosen.fewestTicks + 1;
    return static_cast<std::uint32_t>(chosen.fewestTicks + Draw() % span);
  }

private:
  std::uint64_t Draw() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return state_ >> 17;
  }
  std::uint64_t state_ = 1;
};

// What went wrong first, if anything: the show is stopped there rather than checked on.
struct Fault {
  std::uint64_t frame = 0;
  std::string what;
};

// Checks the show after every frame and keeps figures that show what the run went through.
class SoakObserver final : public ShowObserver {
public:
  void AfterLaunchDecision(std::uint64_t frame, double dt, double sinceLaunch) override {
    if (!fault.what.empty()) return;
    CheckTime(frame, dt, sinceLaunch);
    CheckLists(frame);
    for (std::int32_t index = slotPool.activeHead; index >= 0 && fault.what.empty(); index = slotPool.next[index]) {
      CheckSlot(frame, index, slotPool.slots[index]);
    }
  }

  // The length of the frame just ended, in ticks; the next frame's dt measures it.
  void FrameEnded(std::uint32_t ticks, int kind) {
    lastFrameTicks_ = ticks;
    lastFrameKind_ = kind;
  }

  Fault fault;
  std::uint64_t framesOfKind[KindCount] = {};
  std::uint64_t launchDecisions = 0;
  double largestDrawnSize = 0;

private:
  void Fail(std::uint64_t frame, const std::string& what) {
    if (fault.what.empty()) fault = {frame, what};
  }

  void CheckTime(std::uint64_t frame, double dt, double sinceLaunch) {
    // The first frame follows the calibration at once; every later one measures the frame
    // before it, across any wrap of the counter, and never by more than the cap.
    double expected = 0.0;
    if (frame > 1) {
      expected = std::min(static_cast<double>(lastFrameTicks_) / TicksPerTimeUnit, LongestFrame);
      ++framesOfKind[lastFrameKind_];
    }
    if (dt != expected) {
      Fail(frame, "dt " + std::to_string(dt) + " where the clock gives " + std::to_string(expected));
    }
    if (!std::isfinite(sinceLaunch) || sinceLaunch < 0) Fail(frame, "sinceLaunch " + std::to_string(sinceLaunch));
    // Only a decision to launch leaves sinceLaunch at 0 after a frame that took time.
    if (frame > 1 && sinceLaunch == 0.0 && dt > 0.0) ++launchDecisions;
  }

  // Every slot lies on exactly one of the two lists, once, and both lists end.
  void CheckLists(std::uint64_t frame) {
    int seen[SlotCount] = {};
    for (const std::int32_t head : {slotPool.activeHead, slotPool.freeHead}) {
      int steps = 0;
      for (std::int32_t index = head; index != -1; index = slotPool.next[index]) {
        if (index < 0 || index >= SlotCount || ++steps > SlotCount) {
          return Fail(frame, "a list holds index " + std::to_string(index) + " or runs in a circle");
        }
        ++seen[index];
      }
    }
    for (int index = 0; index < SlotCount; ++index) {
      if (seen[index] != 1) {
        return Fail(frame,
                    "slot " + std::to_string(index) + " is on the lists " + std::to_string(seen[index]) + " times");
      }
    }
  }

  bool AllFinite(const double* values, int count) {
    for (int i = 0; i < count; ++i) {
      if (!std::isfinite(values[i])) return false;
    }
    return true;
  }

  // What the renderers draw of a slot: its head and trail while it rises, otherwise every particle.
  void CheckSlot(std::uint64_t frame, std::int32_t index, const FireworkSlot& slot) {
    const std::string name = "slot " + std::to_string(index) + ": ";
    if (slot.state != SlotState::Rising && slot.state != SlotState::Burst && slot.state != SlotState::Finished) {
      return Fail(frame, name + "state " + std::to_string(static_cast<int>(slot.state)));
    }
    if (slot.particleCount < 0 || slot.particleCount > MaxParticles || slot.trailCount < 0 ||
        slot.trailCount > MaxTrailPoints) {
      return Fail(frame, name + std::to_string(slot.particleCount) + " particles, " + std::to_string(slot.trailCount) +
                             " trail points");
    }
    const bool rising = slot.state == SlotState::Rising;
    if (rising ? slot.size != LaunchSize : !(slot.size >= SmallestDrawnSize && slot.size <= LargestDrawnSize)) {
      return Fail(frame, name + "size " + std::to_string(slot.size));
    }
    largestDrawnSize = std::max(largestDrawnSize, slot.size);
    const int particles = rising ? 1 : slot.particleCount;
    const int trail = rising ? slot.trailCount : 0;
    for (const double* values : {slot.x, slot.y, slot.red, slot.green, slot.blue, slot.alpha}) {
      if (!AllFinite(values, particles)) return Fail(frame, name + "a particle to draw is not finite");
    }
    for (const double* values :
         {slot.trailX, slot.trailY, slot.trailRed, slot.trailGreen, slot.trailBlue, slot.trailAlpha}) {
      if (!AllFinite(values, trail)) return Fail(frame, name + "a trail point to draw is not finite");
    }
  }

  std::uint32_t lastFrameTicks_ = 0;
  int lastFrameKind_ = 0;
};

// The soak's length: a million frames, or what PYROVANE_SOAK_FRAMES asks for (a shorter run under
// the sanitizers).
std::uint64_t SoakFrames() {
  const char* frames = std::getenv("PYROVANE_SOAK_FRAMES");
  return frames != nullptr ? std::strtoull(frames, nullptr, 10) : 1'000'000;
}

TEST(Show, SurvivesFramesOfAnyLengthForAMillionFrames) {
  const std::uint64_t frames = SoakFrames();
  ASSERT_GE(frames, 10'000u) << "too short a soak to meet every kind of frame";
  // Every frame's length comes from the schedule, none from the clock's own period. The counter
  // starts just short of its wrap, so that it wraps early and then every 71.6 minutes.
  platform::VirtualClock clock(TicksPerSecond, 0, 0xFFFF0000u);
  FrameTimeSchedule schedule;
  SoakObserver soak;
  const auto timeFrame = [&](std::uint64_t, const glide::FrameView&) {
    int kind = 0;
    const std::uint32_t ticks = schedule.Next(kind);
    clock.AdvanceBy(ticks);
    soak.FrameEnded(ticks, kind);
  };
  // The button changes at once when a fault is found, so the show ends there.
  class Button final : public platform::ButtonQuery {
  public:
    Button(std::uint64_t frames, const Fault& fault) : script_(frames), fault_(fault) {}
    std::int16_t LeftButtonState() override {
      const std::int16_t scripted = script_.LeftButtonState();
      return fault_.what.empty() ? scripted : 1;
    }

  private:
    platform::ScriptedButton script_;
    const Fault& fault_;
  } button(frames, soak.fault);

  glide::HeadlessBoard board = HeadlessBoardFor(clock, timeFrame);
  platform::ResetRand();
  RunShow({board, clock, button, &soak});

  ASSERT_EQ(soak.fault.what, "") << "at frame " << soak.fault.frame;
  // The run met every kind of frame, kept launching rockets, and grew sprites past what ordinary
  // frames do, so that the cap was what held them.
  for (int kind = 0; kind < KindCount; ++kind) {
    EXPECT_GE(soak.framesOfKind[kind], frames / 1000) << FrameTimeKinds[kind].name;
  }
  EXPECT_GT(soak.launchDecisions, frames / 200);
  EXPECT_GT(soak.largestDrawnSize, LargestGrowingSize + SizeGrowthPerTimeUnit * 2);
}

} // namespace
