// Tests of the slot step: movement order, the burst and trail calls, thresholds, the mid-loop finish.
#include "sim_test_support.h"

#include <cstring>

namespace {

using namespace sim;

using simtest::SimTest;

// Hooks that record what the step did and when.
struct StepHookLog {
  int bursts = 0;
  int trails = 0;
  double headYAtBurst = 0;
  double headYAtTrail = 0;
  SlotState stateAtTrail = SlotState::Rising;
};
StepHookLog stepLog;

void RecordingBurst(FireworkSlot& slot) {
  ++stepLog.bursts;
  stepLog.headYAtBurst = slot.y[0];
  slot.state = SlotState::Burst;
  slot.flashPhase = 1;
  slot.size = 3.0;
  for (int i = 0; i < slot.particleCount; ++i) slot.vy[i] = 5.0;
}

void RecordingTrail(FireworkSlot& slot, double) {
  ++stepLog.trails;
  stepLog.headYAtTrail = slot.y[0];
  stepLog.stateAtTrail = slot.state;
}

class StepTest : public SimTest {
protected:
  void SetUp() override {
    SimTest::SetUp();
    stepLog = {};
  }
  // A slot with `count` identical particles at (100, 50) moving (2, vy).
  static FireworkSlot& MakeSlot(SlotState state, int count, double vy) {
    FireworkSlot& slot = slotPool.slots[0];
    for (int k = 0; k < MaxParticles; ++k) {
      slot.x[k] = 100;
      slot.y[k] = 50;
      slot.vx[k] = 2;
      slot.vy[k] = vy;
      slot.gravity[k] = 0.1;
      slot.red[k] = slot.green[k] = slot.blue[k] = slot.alpha[k] = 100;
    }
    slot.state = state;
    slot.particleCount = count;
    slot.size = 10;
    slot.growing = 1;
    slot.flashPhase = 1;
    slot.brightenRate = 0.5;
    slot.fadeRate = 0.5;
    slot.burstFn = RecordingBurst;
    slot.trailFn = RecordingTrail;
    slot.trailCount = 20;
    return slot;
  }
};

TEST_F(StepTest, RisingMovesPositionBeforeVelocity) {
  FireworkSlot& slot = MakeSlot(SlotState::Rising, 150, 3.0);
  StepSlot(slot, 2.0);
  EXPECT_EQ(slot.x[149], 104.0);
  EXPECT_EQ(slot.y[149], 56.0);
  EXPECT_EQ(slot.vy[149], 3.0 - 0.1 * 2.0);
  EXPECT_EQ(slot.size, 10.0);
  EXPECT_EQ(slot.alpha[0], 100.0);
  EXPECT_EQ(stepLog.bursts, 0);
  EXPECT_EQ(stepLog.trails, 1);
  EXPECT_EQ(stepLog.headYAtTrail, 56.0) << "the trail follows the head's new position";
}

TEST_F(StepTest, BurstComesOnlyWhenTheHeadFallsStrictly) {
  struct Case {
    double headVy;
    int bursts;
  };
  for (const Case& c : {Case{0.0, 0}, Case{-0.0, 0}, Case{-1e-300, 1}, Case{-2.0, 1}}) {
    stepLog = {};
    FireworkSlot& slot = MakeSlot(SlotState::Rising, 150, c.headVy);
    StepSlot(slot, 1.0);
    EXPECT_EQ(stepLog.bursts, c.bursts) << c.headVy;
  }
}

TEST_F(StepTest, TheBurstingStepMovesWithTheNewVelocitiesThenRebuildsTheTrail) {
  FireworkSlot& slot = MakeSlot(SlotState::Rising, 150, -1.0);
  StepSlot(slot, 1.0);
  EXPECT_EQ(stepLog.bursts, 1);
  EXPECT_EQ(stepLog.headYAtBurst, 50.0) << "the burst comes before any particle moves";
  EXPECT_EQ(slot.y[0], 55.0);
  EXPECT_EQ(slot.y[149], 55.0);
  EXPECT_EQ(stepLog.trails, 1);
  EXPECT_EQ(stepLog.stateAtTrail, SlotState::Burst);
  EXPECT_EQ(slot.alpha[0], 100.0) << "the flash begins with the next step";
  EXPECT_EQ(slot.size, 3.0);
}

TEST_F(StepTest, NoTrailNoParticlesNoCalls) {
  FireworkSlot& slot = MakeSlot(SlotState::Rising, 0, 3.0);
  slot.trailCount = 0;
  slot.trailFn = nullptr;
  StepSlot(slot, 1.0);
  EXPECT_EQ(stepLog.trails, 0);
  EXPECT_EQ(slot.y[0], 50.0);
}

TEST_F(StepTest, ThresholdsAreTheirExactComparisons) {
  struct Case {
    const char* name;
    int flashPhase;
    double alpha;
    double size;
    int growing;
    double dt;
    int expectedFlashPhase;
    SlotState expectedState;
    int expectedGrowing;
    double expectedAlpha;
  };
  // With rates of 0.5 and dt 1 a brightening multiplies by 1.5 and a fade by 0.5.
  const Case cases[] = {
      {"alpha reaching exactly 255 ends the flash", 1, 170, 5, 1, 1.0, -1, SlotState::Burst, 1, 254.5},
      {"alpha just below 255 keeps flashing", 1, 169.99, 5, 1, 1.0, 1, SlotState::Burst, 1, 169.99 * 1.5},
      {"alpha fading to exactly 10 finishes", -1, 20, 5, 1, 1.0, -1, SlotState::Finished, 1, 10},
      {"alpha fading to just above 10 goes on", -1, 20.0001, 5, 1, 1.0, -1, SlotState::Burst, 1, 20.0001 * 0.5},
      {"size reaching exactly 18 keeps growing", 1, 100, 16.5, 1, 1.0, 1, SlotState::Burst, 1, 150},
      {"size just over 18 stops growing", 1, 100, 16.5001, 1, 1.0, 1, SlotState::Burst, 0, 150},
      {"size shrinking to exactly 1 goes on", 1, 100, 1.5, 0, 2.5, 1, SlotState::Burst, 0, 225},
      {"size shrinking below 1 finishes", 1, 100, 1.4999, 0, 2.5, 1, SlotState::Finished, 0, 225},
      {"no time, alpha 255 ends the flash", 1, 255, 5, 1, 0.0, -1, SlotState::Burst, 1, 255},
      {"no time, alpha 10 finishes", -1, 10, 5, 1, 0.0, -1, SlotState::Finished, 1, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FireworkSlot& slot = MakeSlot(SlotState::Burst, 1, 0);
    slot.flashPhase = c.flashPhase;
    slot.alpha[0] = c.alpha;
    slot.size = c.size;
    slot.growing = c.growing;
    StepSlot(slot, c.dt);
    EXPECT_EQ(slot.flashPhase, c.expectedFlashPhase);
    EXPECT_EQ(slot.state, c.expectedState);
    EXPECT_EQ(slot.growing, c.expectedGrowing);
    EXPECT_EQ(slot.alpha[0], c.expectedAlpha);
  }
}

TEST_F(StepTest, FlashEndsForTheWholeSlotAtTheFirstParticleToReach255) {
  FireworkSlot& slot = MakeSlot(SlotState::Burst, 3, 0);
  const double alphas[] = {100, 200, 100};
  for (int k = 0; k < 3; ++k) slot.alpha[k] = slot.red[k] = alphas[k];
  StepSlot(slot, 1.0);
  EXPECT_EQ(slot.alpha[0], 150.0); // brightened
  EXPECT_EQ(slot.red[0], 150.0);
  EXPECT_EQ(slot.alpha[1], 300.0 - 0.5); // set back by the rate, colours unchanged
  EXPECT_EQ(slot.red[1], 200.0);
  EXPECT_EQ(slot.alpha[2], 50.0); // already fading in the same step
  EXPECT_EQ(slot.red[2], 50.0);
  EXPECT_EQ(slot.flashPhase, -1);
}

TEST_F(StepTest, AFinishInMidLoopLeavesLaterParticlesMovedButNotFaded) {
  FireworkSlot& slot = MakeSlot(SlotState::Burst, 3, 4.0);
  slot.flashPhase = -1;
  const double alphas[] = {40, 20, 60};
  for (int k = 0; k < 3; ++k) slot.alpha[k] = slot.green[k] = alphas[k];
  StepSlot(slot, 1.0);
  EXPECT_EQ(slot.state, SlotState::Finished);
  EXPECT_EQ(slot.alpha[0], 20.0);
  EXPECT_EQ(slot.green[0], 20.0);
  EXPECT_EQ(slot.alpha[1], 10.0);
  EXPECT_EQ(slot.green[1], 20.0);
  EXPECT_EQ(slot.alpha[2], 60.0);
  EXPECT_EQ(slot.green[2], 60.0);
  EXPECT_EQ(slot.y[2], 54.0) << "later particles still move";
  EXPECT_EQ(slot.size, 11.5) << "the size still changes";
}

TEST_F(StepTest, BlackParticleEndsTheFireworkAtTheFirstFade) {
  FireworkSlot& slot = MakeSlot(SlotState::Burst, 2, 0);
  slot.alpha[0] = slot.red[0] = slot.green[0] = slot.blue[0] = 0;
  slot.brightenRate = 0.024999999999999998;
  slot.fadeRate = 0.049999999999999996;
  slot.alpha[1] = 250;
  int steps = 0;
  while (slot.state == SlotState::Burst && steps < 1000) {
    StepSlot(slot, 1.0);
    ++steps;
    EXPECT_EQ(slot.alpha[0], 0.0);
  }
  EXPECT_EQ(slot.state, SlotState::Finished);
  EXPECT_EQ(slot.flashPhase, -1);
  // One step brightens particle 1 past 255; in the next the black particle fades first.
  EXPECT_EQ(steps, 2);
  EXPECT_EQ(slot.alpha[1], 256.25 - 0.024999999999999998) << "particle 1 never faded";
}

TEST_F(StepTest, NoParticlesStillChangesTheSize) {
  FireworkSlot& slot = MakeSlot(SlotState::Burst, 0, 0);
  slot.growing = 0;
  slot.size = 1.1;
  StepSlot(slot, 1.0);
  EXPECT_EQ(slot.state, SlotState::Finished);
  EXPECT_EQ(slot.alpha[0], 100.0);
}

TEST_F(StepTest, FinishedOrUnknownStateIsLeftUntouched) {
  for (std::int32_t state : {2, 3, -1}) {
    FireworkSlot& slot = MakeSlot(static_cast<SlotState>(state), 150, -1.0);
    FireworkSlot before;
    std::memcpy(&before, &slot, sizeof slot);
    StepSlot(slot, 1.0);
    // Untouched means no byte written, so a byte copy is compared, padding and all; it also tells
    // -0.0 from 0.0, which comparing the members would not.
    EXPECT_EQ(std::memcmp(&before, &slot, sizeof slot), 0) << state; // NOLINT(bugprone-suspicious-memory-comparison)
    EXPECT_EQ(stepLog.bursts + stepLog.trails, 0);
  }
}

} // namespace
