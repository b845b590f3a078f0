// The slot step: one frame of a firework's movement, burst, trail, flash, fade and size.
#include "sim/sim.h"

namespace sim {
namespace {

// Position first, with the velocity from before this step's change of vy.
void MoveParticle(FireworkSlot& slot, int k, double dt) {
  slot.x[k] = slot.x[k] + slot.vx[k] * dt;
  slot.y[k] = slot.y[k] + slot.vy[k] * dt;
  slot.vy[k] = slot.vy[k] - slot.gravity[k] * dt;
}

void StepRising(FireworkSlot& slot, double dt) {
  if (slot.vy[0] < 0) {
    slot.burstFn(slot);
  }
  // The count is read after the burst hook and again before every particle.
  for (int k = 0; k < slot.particleCount; ++k) {
    MoveParticle(slot, k, dt);
  }
  // Also in the step that burst the rocket: the trail gets one last rebuild.
  if (slot.trailCount > 0) {
    slot.trailFn(slot, dt);
  }
}

void StepBurst(FireworkSlot& slot, double dt) {
  for (int k = 0; k < slot.particleCount; ++k) {
    MoveParticle(slot, k, dt);
    // State and flash phase are read again for every particle: the flash ends, and the
    // firework finishes, at the first particle in index order that crosses its threshold.
    if (slot.state != SlotState::Burst) {
      continue;
    }
    if (slot.flashPhase == 1) {
      const double f = 1 + slot.brightenRate * dt;
      const double a = slot.alpha[k] * f;
      slot.alpha[k] = a;
      if (a >= 255) {
        slot.alpha[k] = a - slot.brightenRate * dt;
        slot.flashPhase = -1;
      } else {
        slot.red[k] = slot.red[k] * f;
        slot.green[k] = slot.green[k] * f;
        slot.blue[k] = slot.blue[k] * f;
      }
    } else {
      const double g = 1 - slot.fadeRate * dt;
      const double a = slot.alpha[k] * g;
      slot.alpha[k] = a;
      if (a <= 10) {
        slot.state = SlotState::Finished;
      } else {
        slot.red[k] = slot.red[k] * g;
        slot.green[k] = slot.green[k] * g;
        slot.blue[k] = slot.blue[k] * g;
      }
    }
  }
  // The size changes whatever the particle loop did to the state.
  if (slot.growing == 1) {
    slot.size = slot.size + SizeGrowthPerTimeUnit * dt;
    if (slot.size > LargestGrowingSize) {
      slot.growing = 0;
    }
  } else {
    slot.size = slot.size - SizeShrinkPerTimeUnit * dt;
    if (slot.size < SmallestSize) {
      slot.state = SlotState::Finished;
    }
  }
}

} // namespace

void StepSlot(FireworkSlot& slot, double dt) {
  switch (slot.state) {
  case SlotState::Rising: StepRising(slot, dt); break;
  case SlotState::Burst: StepBurst(slot, dt); break;
  default:
    // A finished slot waits, untouched, for the show to release it.
    break;
  }
}

} // namespace sim
