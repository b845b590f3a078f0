// Burst and trail hooks: how a rocket scatters at its apex and how its trail follows it.
#include "sim/sim.h"

#include <cmath>

#include "platform/platform.h"

namespace sim {
namespace {

// Every burst starts the flash with small sprites.
void BeginBurst(FireworkSlot& slot) {
  slot.state = SlotState::Burst;
  slot.flashPhase = 1;
  slot.size = 3.0;
}

constexpr int ParticlesPerCluster = 15;

} // namespace

void BasicBurst(FireworkSlot& slot) {
  BeginBurst(slot);
  for (int i = 0; i < slot.particleCount; ++i) {
    // The particle first jumps forward along its path by up to four time units of travel.
    const double a = 4 * platform::RandUnit();
    slot.x[i] = slot.x[i] + a * slot.vx[i];
    slot.y[i] = slot.y[i] + a * slot.vy[i];
    const double dx = platform::RandUnit() - 0.5;
    const double dy = platform::RandUnit() - 0.4;
    const double dz = platform::RandUnit() - 0.5;
    const double s = platform::RandUnit();
    // A kick in a random direction, biased upward; dz only shortens its screen-plane part.
    const double k = 5 * (s + 0.2) * (1 - 2 * slot.gravity[i]) / (std::sqrt(dx * dx + dy * dy + dz * dz) + 0.001);
    slot.vx[i] = slot.vx[i] + k * dx;
    slot.vy[i] = slot.vy[i] + k * dy;
  }
}

void ShellBurst(FireworkSlot& slot) {
  BeginBurst(slot);
  for (int i = 0; i < slot.particleCount; ++i) {
    const double dx = platform::RandUnit() - 0.5;
    const double dy = platform::RandUnit() - 0.5;
    const double dz = platform::RandUnit() - 0.5;
    // Every kick has the same three-dimensional length, so on screen the particles form a shell.
    const double k = 5 * (1 - 2 * slot.gravity[i]) / (std::sqrt(dx * dx + dy * dy + dz * dz) + 0.001);
    slot.vx[i] = slot.vx[i] + k * dx;
    slot.vy[i] = slot.vy[i] + k * dy;
  }
}

void ClusterBurst(FireworkSlot& slot) {
  BeginBurst(slot);
  slot.particleCount = (slot.particleCount / 10) * 10;
  const int clusterCount = slot.particleCount / 10;
  // One cluster per ten particles, fifteen particles per cluster: the later clusters find no
  // particles left, yet make all their draws.
  int p = 0;
  for (int c = 0; c < clusterCount; ++c) {
    platform::RandUnit(); // discarded
    const double a = platform::RandUnit() - 0.5;
    const double b = platform::RandUnit() - 0.4;
    const double cz = platform::RandUnit() - 0.5;
    const double length = std::sqrt(a * a + b * b + cz * cz) + 0.001;
    const double f = 5 * (1 - 2 * slot.gravity[c]) / length;
    for (int step = 0; step < ParticlesPerCluster; ++step) {
      const double ja = platform::RandUnit() - 0.5;
      const double jb = platform::RandUnit() - 0.4;
      platform::RandUnit(); // discarded
      const double w = 0.9 * (1 - 2 * slot.gravity[c]) / length;
      if (p < slot.particleCount) {
        slot.vx[p] = slot.vx[p] + (ja * w + f * a);
        slot.vy[p] = slot.vy[p] + (jb * w + f * b);
      }
      ++p;
    }
  }
}

void StraightTrail(FireworkSlot& slot, double /*dt*/) {
  for (int n = 0; n < MaxTrailPoints; ++n) {
    const int i = n + 1;
    slot.trailX[n] = slot.x[0] - 0.5 * i * slot.vx[0];
    slot.trailY[n] = slot.y[0] - 0.5 * i * slot.vy[0];
    slot.trailVx[n] = slot.vx[0];
    slot.trailVy[n] = slot.vy[0];
  }
}

void SwingingTrail(FireworkSlot& slot, double /*dt*/) {
  for (int n = 0; n < MaxTrailPoints; ++n) {
    const int i = n + 1;
    // Each point is pushed sideways, at right angles to the head's velocity, by the head's
    // speed times a cosine whose phase moves along the trail as the rocket slows.
    const double phase = 3 * slot.vy[0] + 0.45 * i;
    const double swing = std::cos(phase);
    slot.trailX[n] = slot.x[0] - 0.45 * i * slot.vx[0] + slot.vy[0] * swing;
    slot.trailY[n] = slot.y[0] - 0.45 * i * slot.vy[0] - slot.vx[0] * swing;
    slot.trailVx[n] = slot.vx[0];
    slot.trailVy[n] = slot.vy[0];
  }
}

} // namespace sim
