// Tests of the burst and trail hooks: draw counts, the cluster layout, kicks, trail shapes.
#include "sim_test_support.h"

#include <cmath>

namespace {

using namespace sim;

using simtest::SimTest;

class BurstTest : public SimTest {
protected:
  // A rising rocket as a launch leaves it, at (300, 200) moving (1, -0.05).
  static FireworkSlot& RisingSlot(int particleCount) {
    FireworkSlot& slot = slotPool.slots[0];
    for (int k = 0; k < MaxParticles; ++k) {
      slot.x[k] = 300;
      slot.y[k] = 200;
      slot.vx[k] = 1;
      slot.vy[k] = -0.05;
      slot.gravity[k] = 0.1;
    }
    slot.particleCount = particleCount;
    slot.state = SlotState::Rising;
    slot.size = 10;
    slot.flashPhase = -1;
    return slot;
  }
};

TEST_F(BurstTest, EveryBurstMakesItsDrawsAndStartsTheFlash) {
  struct Case {
    const char* name;
    BurstFn burst;
    int particleCount;
    std::uint64_t draws;
    int particleCountAfter;
  };
  const Case cases[] = {
      {"basic, 150", BasicBurst, 150, 750, 150},
      {"shell, 150", ShellBurst, 150, 450, 150},
      {"cluster, 150", ClusterBurst, 150, 735, 150},
      {"basic, none", BasicBurst, 0, 0, 0},
      {"shell, none", ShellBurst, 0, 0, 0},
      {"cluster, none", ClusterBurst, 0, 0, 0},
      {"cluster, 157 rounds down", ClusterBurst, 157, 735, 150},
      {"cluster, 7 rounds to none", ClusterBurst, 7, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FireworkSlot& slot = RisingSlot(c.particleCount);
    EXPECT_EQ(DrawsMadeBy([&] { c.burst(slot); }), c.draws);
    EXPECT_EQ(slot.state, SlotState::Burst);
    EXPECT_EQ(slot.flashPhase, 1);
    EXPECT_EQ(slot.size, 3.0);
    EXPECT_EQ(slot.particleCount, c.particleCountAfter);
  }
}

TEST_F(BurstTest, BasicBurstJumpsAlongThePathByTheFirstDraw) {
  struct Case {
    int firstDraw;
    double expectedX, expectedY;
  };
  for (const Case& c : {Case{0, 300, 200}, Case{32767, 304, 199.8}}) {
    FireworkSlot& slot = RisingSlot(1);
    Feed({c.firstDraw, 0, 0, 0, 0});
    BasicBurst(slot);
    EXPECT_EQ(slot.x[0], c.expectedX);
    EXPECT_EQ(slot.y[0], c.expectedY);
  }
}

TEST_F(BurstTest, BasicBurstKickLeansUpwardAndScalesWithTheLastDraw) {
  FireworkSlot& slot = RisingSlot(1);
  // dx = 0.5, dy = 0.6, dz = -0.5, s = 1.
  Feed({0, 32767, 32767, 0, 32767});
  BasicBurst(slot);
  const double k = 5 * (1 + 0.2) * (1 - 2 * 0.1) / (std::sqrt(0.5 * 0.5 + 0.6 * 0.6 + 0.25) + 0.001);
  EXPECT_EQ(slot.vx[0], 1 + k * 0.5);
  EXPECT_EQ(slot.vy[0], -0.05 + k * 0.6);
}

TEST_F(BurstTest, ShellBurstKicksEveryParticleByTheSameLength) {
  FireworkSlot& slot = RisingSlot(150);
  ShellBurst(slot);
  for (int i = 0; i < 150; ++i) {
    const double kickX = slot.vx[i] - 1;
    const double kickY = slot.vy[i] + 0.05;
    // The screen-plane part of a kick of length just under 4 (5 * 0.8).
    EXPECT_LE(std::hypot(kickX, kickY), 4.0) << i;
    EXPECT_EQ(slot.x[i], 300.0) << "positions stay";
  }
}

TEST_F(BurstTest, ClusterBurstGivesBunchesOfFifteenABaseVelocityFromTheClustersGravity) {
  FireworkSlot& slot = RisingSlot(150);
  // Gravity at index c (the cluster) sets the base; other particles' gravity must not matter.
  for (int k = 1; k < MaxParticles; ++k) slot.gravity[k] = 0.3;
  // All draws 32767: a = 0.5, b = 0.6, cz = 0.5; ja = 0.5, jb = 0.6.
  FeedConstant(32767, 735);
  ClusterBurst(slot);
  const double length = std::sqrt(0.5 * 0.5 + 0.6 * 0.6 + 0.5 * 0.5) + 0.001;
  for (int p = 0; p < 150; ++p) {
    const int cluster = p / 15;
    const double gravity = cluster == 0 ? 0.1 : 0.3;
    const double f = 5 * (1 - 2 * gravity) / length;
    const double w = 0.9 * (1 - 2 * gravity) / length;
    EXPECT_EQ(slot.vx[p], 1 + (0.5 * w + f * 0.5)) << p;
    EXPECT_EQ(slot.vy[p], -0.05 + (0.6 * w + f * 0.6)) << p;
  }
}

TEST_F(BurstTest, TrailsOfAHeadAtRestCoincideWithTheHead) {
  for (TrailFn trail : {StraightTrail, SwingingTrail}) {
    FireworkSlot& slot = RisingSlot(150);
    slot.vx[0] = 0;
    slot.vy[0] = 0;
    trail(slot, 1.0);
    for (int n = 0; n < MaxTrailPoints; ++n) {
      EXPECT_EQ(slot.trailX[n], 300.0);
      EXPECT_EQ(slot.trailY[n], 200.0);
      EXPECT_EQ(slot.trailVx[n], 0.0);
    }
  }
}

TEST_F(BurstTest, StraightTrailPointsAreHalfATimeUnitApart) {
  FireworkSlot& slot = RisingSlot(150);
  slot.vx[0] = 2;
  slot.vy[0] = 4;
  slot.trailCount = 0; // written whatever the count
  StraightTrail(slot, 1.0);
  for (int n = 0; n < MaxTrailPoints; ++n) {
    EXPECT_EQ(slot.trailX[n], 300 - (n + 1));
    EXPECT_EQ(slot.trailY[n], 200 - 2 * (n + 1));
    EXPECT_EQ(slot.trailVy[n], 4.0);
  }
}

TEST_F(BurstTest, SwingingTrailWithAFlatHeadSwingsVertically) {
  FireworkSlot& slot = RisingSlot(150);
  slot.vx[0] = 1.5;
  slot.vy[0] = 0;
  SwingingTrail(slot, 1.0);
  for (int n = 0; n < MaxTrailPoints; ++n) {
    EXPECT_EQ(slot.trailY[n], 200 - 1.5 * std::cos(0.45 * (n + 1))) << n;
    EXPECT_EQ(slot.trailX[n], 300 - 0.45 * (n + 1) * 1.5) << n;
  }
}

TEST_F(BurstTest, TrailsIgnoreTheFrameTime) {
  for (TrailFn trail : {StraightTrail, SwingingTrail}) {
    FireworkSlot& slot = RisingSlot(150);
    slot.vx[0] = -0.7;
    slot.vy[0] = 3.3;
    trail(slot, 0.0);
    double first[MaxTrailPoints];
    std::copy(std::begin(slot.trailX), std::end(slot.trailX), first);
    trail(slot, 17.0);
    EXPECT_TRUE(std::equal(std::begin(first), std::end(first), std::begin(slot.trailX)));
  }
}

} // namespace
