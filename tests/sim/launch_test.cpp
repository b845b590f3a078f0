// Tests of the rocket launches: draws, launch values, the brightness boost, colours, trails, hooks.
#include "sim_test_support.h"

#include <algorithm>

namespace {

using namespace sim;

using simtest::SimTest;

struct KindCase {
  RocketKind kind;
  void (*launch)(std::int32_t, const RendererHooks&);
  std::uint64_t draws;
  BurstFn burstFn;
  TrailFn trailFn;
  int trailCount;
  int simtest::HookCalls::*renderer;
};

const KindCase kinds[] = {
    {RocketKind::BasicRocket, LaunchBasicRocket, 6, BasicBurst, nullptr, 0, &simtest::HookCalls::headOrBurst},
    {RocketKind::BicolorSphericRocket, LaunchBicolorSphericRocket, 9, ShellBurst, nullptr, 0,
     &simtest::HookCalls::headOrBurst},
    {RocketKind::SwingingRocket, LaunchSwingingRocket, 9, ShellBurst, SwingingTrail, 20,
     &simtest::HookCalls::trailOrBurst},
    {RocketKind::QueuedExplodingRocket, LaunchQueuedExplodingRocket, 9, ClusterBurst, StraightTrail, 20,
     &simtest::HookCalls::headTrailOrBurst},
};

using LaunchTest = SimTest;

TEST_F(LaunchTest, EachKindMakesItsDrawsAndInstallsItsHooks) {
  for (const KindCase& k : kinds) {
    SCOPED_TRACE(static_cast<int>(k.kind));
    FireworkSlot& slot = slotPool.slots[4];
    slot.flashPhase = 12345;
    EXPECT_EQ(DrawsMadeBy([&] { k.launch(4, simtest::CountingRenderers); }), k.draws);
    EXPECT_EQ(slot.state, SlotState::Rising);
    EXPECT_EQ(slot.size, 10.0);
    EXPECT_EQ(slot.brightenRate, 0.024999999999999998);
    EXPECT_LT(slot.brightenRate, 0.025);
    EXPECT_EQ(slot.fadeRate, 0.049999999999999996);
    EXPECT_LT(slot.fadeRate, 0.05);
    EXPECT_EQ(slot.particleCount, 150);
    EXPECT_EQ(slot.growing, 1);
    EXPECT_EQ(slot.flashPhase, 12345) << "a launch leaves the flash phase alone";
    EXPECT_EQ(slot.trailCount, k.trailCount);
    EXPECT_EQ(slot.burstFn, k.burstFn);
    EXPECT_EQ(slot.trailFn, k.trailFn);
    simtest::hookCalls = {};
    slot.drawFn(slot);
    EXPECT_EQ(simtest::hookCalls.*k.renderer, 1);
    // Nothing outside the slot it was given.
    EXPECT_EQ(slotPool.slots[3].size, 0.0);
    EXPECT_EQ(slotPool.slots[5].size, 0.0);
  }
}

TEST_F(LaunchTest, LaunchRocketDispatchesOnKind) {
  for (const KindCase& k : kinds) {
    LaunchRocket(k.kind, 0, simtest::CountingRenderers);
    EXPECT_EQ(slotPool.slots[0].burstFn, k.burstFn);
  }
}

TEST_F(LaunchTest, ExtremeDrawsGiveTheLaunchRange) {
  struct Case {
    int draw;
    double x0, vx0, vy0, channel;
  };
  // All-zero draws give black colour A, which the boost lifts to 150.
  for (const Case& c : {Case{0, 200, -1.5, 6, 150}, Case{32767, 440, 1.5, 9, 255}}) {
    for (const KindCase& k : kinds) {
      SCOPED_TRACE(static_cast<int>(k.kind));
      FeedConstant(c.draw, 9);
      k.launch(0, simtest::CountingRenderers);
      const FireworkSlot& slot = slotPool.slots[0];
      for (int i : {0, 1, 149}) {
        EXPECT_EQ(slot.x[i], c.x0);
        EXPECT_EQ(slot.y[i], 0.0);
        EXPECT_EQ(slot.vx[i], c.vx0);
        EXPECT_EQ(slot.vy[i], c.vy0);
        EXPECT_EQ(slot.gravity[i], 0.1);
      }
      EXPECT_EQ(slot.red[0], c.channel);
      EXPECT_EQ(slot.alpha[0], c.channel);
    }
  }
}

TEST_F(LaunchTest, BrightnessBoostLiftsOnlyDimChannelsOfDimColours) {
  struct Case {
    LaunchColour drawn, boosted;
  };
  const Case cases[] = {
      {{0, 0, 0}, {150, 150, 150}},
      {{99, 99, 101}, {249, 249, 101}},
      {{100, 100, 100}, {100, 100, 100}},
      {{100, 50, 50}, {100, 200, 200}},
      {{250, 10, 10}, {250, 160, 160}},
      {{255, 30, 15}, {255, 30, 15}},
      {{255, 30, 14.999}, {255, 180, 164.999}},
  };
  for (const Case& c : cases) {
    const LaunchColour result = BoostColour(c.drawn);
    EXPECT_EQ(result.red, c.boosted.red) << c.drawn.red << " " << c.drawn.green << " " << c.drawn.blue;
    EXPECT_EQ(result.green, c.boosted.green);
    EXPECT_EQ(result.blue, c.boosted.blue);
  }
}

TEST_F(LaunchTest, TwoColourKindsAlternateAndOnlyColourAIsBoosted) {
  // Colour A dim (boosted to 150, 150, 150); colour B black, never boosted.
  for (RocketKind kind : {RocketKind::BicolorSphericRocket, RocketKind::SwingingRocket}) {
    Feed({100, 200, 300, 0, 0, 0, 0, 0, 0});
    LaunchRocket(kind, 2, simtest::CountingRenderers);
    const FireworkSlot& slot = slotPool.slots[2];
    int colourA = 0, colourB = 0;
    for (int i = 0; i < MaxParticles; ++i) {
      if (i % 2 == 0) {
        EXPECT_EQ(slot.red[i], 150.0);
        EXPECT_EQ(slot.alpha[i], 150.0);
        ++colourA;
      } else {
        EXPECT_EQ(slot.red[i], 0.0);
        EXPECT_EQ(slot.alpha[i], 0.0);
        ++colourB;
      }
    }
    EXPECT_EQ(colourA, 75);
    EXPECT_EQ(colourB, 75);
  }
}

TEST_F(LaunchTest, QueuedExplodingDrawsColourBButPaintsAllParticlesColourA) {
  Feed({0, 0, 0, 32767, 16384, 0, 5000, 5000, 5000});
  LaunchQueuedExplodingRocket(0, simtest::CountingRenderers);
  const FireworkSlot& slot = slotPool.slots[0];
  for (int i : {0, 1, 148, 149}) {
    EXPECT_EQ(slot.red[i], 255.0);
    EXPECT_EQ(slot.blue[i], 0.0);
    EXPECT_EQ(slot.alpha[i], 255.0);
  }
  // After launches of kinds 2 and 4 from one state the generator stands at the same place.
  platform::ResetRand();
  LaunchQueuedExplodingRocket(0, simtest::CountingRenderers);
  const int afterKind4 = platform::Rand();
  platform::ResetRand();
  LaunchBicolorSphericRocket(0, simtest::CountingRenderers);
  EXPECT_EQ(platform::Rand(), afterKind4);
}

TEST_F(LaunchTest, AlphaIsTheLargestChannel) {
  Feed({0, 0, 0, 32767, 16384, 3000});
  LaunchBasicRocket(0, simtest::CountingRenderers);
  const FireworkSlot& slot = slotPool.slots[0];
  EXPECT_EQ(slot.alpha[7], slot.red[7]);
  Feed({0, 0, 0, 3000, 32767, 16384});
  LaunchBasicRocket(0, simtest::CountingRenderers);
  EXPECT_EQ(slot.alpha[7], slot.green[7]);
}

TEST_F(LaunchTest, TrailSeedRunsBackFromTheLaunchPointWithFallingColour) {
  const int colourBDraw = 32767 / 2;
  for (RocketKind kind : {RocketKind::SwingingRocket, RocketKind::QueuedExplodingRocket}) {
    SCOPED_TRACE(static_cast<int>(kind));
    // x0 = 440, vx0 = 1.5, vy0 = 6, colour A = (255, 255*u, 255*u), colour B grey.
    Feed({32767, 32767, 0, 32767, 20000, 10000, colourBDraw, colourBDraw, colourBDraw});
    LaunchRocket(kind, 0, simtest::CountingRenderers);
    const FireworkSlot& slot = slotPool.slots[0];
    const double redA = 255.0;
    const double greenA = 255 * Unit(20000);
    const double greyB = 255 * Unit(colourBDraw);
    for (int n : {0, 1, 19}) {
      const double weight = 20 - n;
      EXPECT_EQ(slot.trailX[n], 440 - 0.35 * (n + 1) * 1.5);
      EXPECT_EQ(slot.trailY[n], -0.35 * (n + 1) * 6);
      EXPECT_EQ(slot.trailVx[n], 1.5);
      EXPECT_EQ(slot.trailVy[n], 6.0);
      EXPECT_EQ(slot.trailGravity[n], 0.1);
      EXPECT_EQ(slot.trailRed[n], 0.025 * weight * redA);
      EXPECT_EQ(slot.trailGreen[n], 0.025 * weight * greenA);
      // The trail's alpha follows particle n's alpha, which is colour B's at odd n for the
      // swinging rocket.
      const bool colourB = kind == RocketKind::SwingingRocket && n % 2 == 1;
      EXPECT_EQ(slot.trailAlpha[n], 0.025 * weight * (colourB ? greyB : redA));
    }
    EXPECT_DOUBLE_EQ(slot.trailRed[0], 0.5 * redA);
    EXPECT_DOUBLE_EQ(slot.trailRed[19], 0.025 * redA);
  }
}

TEST_F(LaunchTest, KindsWithoutTrailLeaveTheTrailArraysAlone) {
  FireworkSlot& slot = slotPool.slots[0];
  slot.trailX[5] = 77;
  slot.trailRed[5] = 88;
  LaunchBicolorSphericRocket(0, simtest::CountingRenderers);
  EXPECT_EQ(slot.trailX[5], 77.0);
  EXPECT_EQ(slot.trailRed[5], 88.0);
}

} // namespace
