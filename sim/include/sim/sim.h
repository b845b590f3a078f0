// The firework simulation: slots and their pool, the per-frame step, rocket launches, bursts and trails.
#pragma once

#include <cstdint>

namespace sim {

// Capacities, fixed at build time. When every slot is alive a launch finds no free slot and is
// skipped; a firework never has more particles or trail points than these.
inline constexpr int SlotCount = 25;
inline constexpr int MaxParticles = 150;
inline constexpr int MaxTrailPoints = 20;

enum class SlotState : std::int32_t {
  Rising = 0,   // the rocket climbs as one point; its trail follows
  Burst = 1,    // the particles fly apart, flash, then fade
  Finished = 2, // nothing left to show; the next walk of the show returns the slot
};

struct FireworkSlot;

// Per-kind behaviour, chosen once at launch and stored in the slot.
using BurstFn = void (*)(FireworkSlot& slot);
using DrawFn = void (*)(const FireworkSlot& slot);
using TrailFn = void (*)(FireworkSlot& slot, double dt);

// One firework: plain data, particle and trail values in parallel arrays.
struct FireworkSlot {
  // Particles 0..particleCount-1; particle 0 is the rocket's head.
  double x[MaxParticles];
  double y[MaxParticles];   // pixels from the bottom edge, growing upward
  double vx[MaxParticles];  // pixels per time unit
  double vy[MaxParticles];  // positive upward
  double red[MaxParticles]; // colour channels on the 0..255 scale
  double green[MaxParticles];
  double blue[MaxParticles];
  double alpha[MaxParticles];   // brightness on the 0..255 scale
  double gravity[MaxParticles]; // pixels per time unit squared, downward

  // Trail points 0..trailCount-1; point 0 is nearest the head.
  double trailX[MaxTrailPoints];
  double trailY[MaxTrailPoints];
  double trailVx[MaxTrailPoints];
  double trailVy[MaxTrailPoints];
  double trailRed[MaxTrailPoints];
  double trailGreen[MaxTrailPoints];
  double trailBlue[MaxTrailPoints];
  double trailAlpha[MaxTrailPoints];
  double trailGravity[MaxTrailPoints];

  SlotState state;
  double size;         // side of every sprite of this slot, in pixels
  double brightenRate; // relative brightening per time unit during the flash
  double fadeRate;     // relative fading per time unit afterwards
  std::int32_t particleCount;
  std::int32_t growing;    // 1 while the sprite size grows after the burst, then 0
  std::int32_t flashPhase; // 1 during the flash, -1 once the particles fade
  std::int32_t trailCount;
  BurstFn burstFn;
  DrawFn drawFn;
  TrailFn trailFn; // empty for rockets without a trail
};

// The pool threads every slot onto one of two singly linked lists; -1 ends a list.
struct SlotPool {
  FireworkSlot slots[SlotCount];
  std::int32_t next[SlotCount];
  std::int32_t activeHead; // newest firework first
  std::int32_t freeHead;
};

// The single pool, in static storage: zero-filled at start, never allocated or freed.
extern SlotPool slotPool;

// Slot 0 alone on the active list, slots 1..24 free in ascending order. Slot contents stay.
void InitPool();
// Moves the first free slot to the head of the active list and returns its index, or returns -1
// and changes nothing when no slot is free.
std::int32_t TakeSlot();
// Moves active slot `index` (whose predecessor on the active list is `previous`, or -1 at the
// head) to the front of the free list and returns the slot that followed it.
std::int32_t ReleaseSlot(std::int32_t index, std::int32_t previous);

// The sprite size of a firework: a rising rocket is LaunchSize wide. After the burst the size
// grows by SizeGrowthPerTimeUnit until it is larger than LargestGrowingSize, then shrinks by
// SizeShrinkPerTimeUnit, and the firework ends once it is smaller than SmallestSize.
inline constexpr double LaunchSize = 10.0;
inline constexpr double SizeGrowthPerTimeUnit = 1.5;
inline constexpr double LargestGrowingSize = 18.0;
inline constexpr double SizeShrinkPerTimeUnit = 0.2;
inline constexpr double SmallestSize = 1.0;

// Advances one firework by `dt` time units: movement, burst at the apex, trail, flash, fade,
// sprite size and the end of the firework.
void StepSlot(FireworkSlot& slot, double dt);

enum class RocketKind : std::int32_t {
  BasicRocket = 1,
  BicolorSphericRocket = 2,
  SwingingRocket = 3,
  QueuedExplodingRocket = 4,
};

// The renderers live above the simulation, so whoever launches a rocket hands them over; the
// launch copies the one its kind uses into the slot.
struct RendererHooks {
  DrawFn headOrBurst;      // basic and bicolour spheric rockets
  DrawFn headTrailOrBurst; // queued exploding rockets
  DrawFn trailOrBurst;     // swinging rockets
};

// A colour on the 0..255 scale, as a launch draws it.
struct LaunchColour {
  double red, green, blue;
};
// The brightness boost of a launch's first colour: when the channels add up to less than 300,
// each channel below 100 gets 150 added.
LaunchColour BoostColour(LaunchColour colour);

// Each fills slot `index` completely as a new rising rocket of its kind, with its hooks: its
// kind's burst and trail, and the one of `renderers` that its kind draws with.
void LaunchBasicRocket(std::int32_t index, const RendererHooks& renderers);
void LaunchBicolorSphericRocket(std::int32_t index, const RendererHooks& renderers);
void LaunchSwingingRocket(std::int32_t index, const RendererHooks& renderers);
void LaunchQueuedExplodingRocket(std::int32_t index, const RendererHooks& renderers);
// The launch routine of a kind.
void LaunchRocket(RocketKind kind, std::int32_t index, const RendererHooks& renderers);

// Burst hooks: switch the slot to Burst and scatter its particles.
void BasicBurst(FireworkSlot& slot);
void ShellBurst(FireworkSlot& slot);
void ClusterBurst(FireworkSlot& slot);

// Trail hooks: lay all trail points behind the rising head. Both ignore dt.
void StraightTrail(FireworkSlot& slot, double dt);
void SwingingTrail(FireworkSlot& slot, double dt);

} // namespace sim
