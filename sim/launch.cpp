// Rocket launches: the kind table and the routine that fills a slot as a new rising rocket.
#include "sim/sim.h"

#include <algorithm>

#include "platform/platform.h"

namespace sim {
namespace {

constexpr double LaunchGravity = 0.1;
// One unit in the last place below 0.025 and 0.05: the values the show has always used.
constexpr double BrightenRate = 0.024999999999999998;
constexpr double FadeRate = 0.049999999999999996;

enum class ParticleColours { AllColourA, AlternateAandB };
enum class ColourB { NotDrawn, Drawn };

// One row of the kind table. The renderer is named by its place in RendererHooks, because the
// renderers themselves are handed over from above.
struct KindRow {
  BurstFn burstFn;
  DrawFn RendererHooks::*drawFn;
  TrailFn trailFn; // nullptr: no trail
  ColourB colourB;
  ParticleColours colours;
};

KindRow KindTableRow(RocketKind kind) {
  switch (kind) {
  case RocketKind::BicolorSphericRocket:
    return {ShellBurst, &RendererHooks::headOrBurst, nullptr, ColourB::Drawn, ParticleColours::AlternateAandB};
  case RocketKind::SwingingRocket:
    return {ShellBurst, &RendererHooks::trailOrBurst, SwingingTrail, ColourB::Drawn, ParticleColours::AlternateAandB};
  case RocketKind::QueuedExplodingRocket:
    // Draws colour B and never uses it.
    return {ClusterBurst, &RendererHooks::headTrailOrBurst, StraightTrail, ColourB::Drawn, ParticleColours::AllColourA};
  case RocketKind::BasicRocket:
  default: return {BasicBurst, &RendererHooks::headOrBurst, nullptr, ColourB::NotDrawn, ParticleColours::AllColourA};
  }
}

LaunchColour DrawColour() {
  LaunchColour colour{};
  colour.red = 255 * platform::RandUnit();
  colour.green = 255 * platform::RandUnit();
  colour.blue = 255 * platform::RandUnit();
  return colour;
}

} // namespace

// Each channel is judged by its own drawn value.
LaunchColour BoostColour(LaunchColour colour) {
  if (colour.red + colour.green + colour.blue < 300) {
    if (colour.red < 100) colour.red += 150;
    if (colour.green < 100) colour.green += 150;
    if (colour.blue < 100) colour.blue += 150;
  }
  return colour;
}

void LaunchRocket(RocketKind kind, std::int32_t index, const RendererHooks& renderers) {
  const KindRow row = KindTableRow(kind);

  // Every draw comes first, in this order; only then is the slot written.
  const double x0 = 200 + 240 * platform::RandUnit();
  const double vx0 = (platform::RandUnit() - 0.5) * 3;
  const double vy0 = 6 + 3 * platform::RandUnit();
  const LaunchColour colourA = BoostColour(DrawColour());
  const LaunchColour colourB = row.colourB == ColourB::Drawn ? DrawColour() : LaunchColour{};

  FireworkSlot& slot = slotPool.slots[index];
  for (int i = 0; i < MaxParticles; ++i) {
    slot.x[i] = x0;
    slot.y[i] = 0;
    slot.vx[i] = vx0;
    slot.vy[i] = vy0;
    slot.gravity[i] = LaunchGravity;
    const bool useB = row.colours == ParticleColours::AlternateAandB && i % 2 == 1;
    const LaunchColour& colour = useB ? colourB : colourA;
    slot.red[i] = colour.red;
    slot.green[i] = colour.green;
    slot.blue[i] = colour.blue;
    slot.alpha[i] = std::max({colour.red, colour.green, colour.blue});
  }

  if (row.trailFn != nullptr) {
    // A line of points running back from the launch point against the launch velocity, its
    // colour falling from half of colour A next to the head to a fortieth at the end.
    for (int n = 0; n < MaxTrailPoints; ++n) {
      const double weight = MaxTrailPoints - n;
      slot.trailX[n] = x0 - 0.35 * (n + 1) * vx0;
      slot.trailY[n] = -0.35 * (n + 1) * vy0;
      slot.trailVx[n] = vx0;
      slot.trailVy[n] = vy0;
      slot.trailGravity[n] = LaunchGravity;
      slot.trailRed[n] = 0.025 * weight * colourA.red;
      slot.trailGreen[n] = 0.025 * weight * colourA.green;
      slot.trailBlue[n] = 0.025 * weight * colourA.blue;
      slot.trailAlpha[n] = 0.025 * weight * slot.alpha[n];
    }
    slot.trailCount = MaxTrailPoints;
  } else {
    slot.trailCount = 0;
  }

  // flashPhase is left alone: every burst sets it before anything reads it.
  slot.state = SlotState::Rising;
  slot.size = LaunchSize;
  slot.brightenRate = BrightenRate;
  slot.fadeRate = FadeRate;
  slot.particleCount = MaxParticles;
  slot.growing = 1;
  slot.burstFn = row.burstFn;
  slot.drawFn = renderers.*row.drawFn;
  slot.trailFn = row.trailFn;
}

void LaunchBasicRocket(std::int32_t index, const RendererHooks& renderers) {
  LaunchRocket(RocketKind::BasicRocket, index, renderers);
}
void LaunchBicolorSphericRocket(std::int32_t index, const RendererHooks& renderers) {
  LaunchRocket(RocketKind::BicolorSphericRocket, index, renderers);
}
void LaunchSwingingRocket(std::int32_t index, const RendererHooks& renderers) {
  LaunchRocket(RocketKind::SwingingRocket, index, renderers);
}
void LaunchQueuedExplodingRocket(std::int32_t index, const RendererHooks& renderers) {
  LaunchRocket(RocketKind::QueuedExplodingRocket, index, renderers);
}

} // namespace sim
