// Measures the simulation's per-frame cost: one step over a full pool of bursting fireworks.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <iterator>

#include "sim/sim.h"

namespace {

void FillPoolWithBursts() {
  InitPool();
  for (int i = 0; i < SlotCount; ++i) {
    LaunchRocket(static_cast<RocketKind>(1 + i % 4), i);
    FireworkSlot& slot = slotPool.slots[i];
    slot.burstFn(slot);
    slot.particleCount = MaxParticles;
  }
}

// 25 bursting slots of 150 particles, the most the show ever steps in one frame. The slots are
// refilled whenever one finishes, so every pass does the full amount of work.
void BM_StepFullPoolOfBursts(benchmark::State& state) {
  FillPoolWithBursts();
  for (auto _ : state) {
    for (FireworkSlot& slot : slotPool.slots) {
      StepSlot(slot, 1.0);
    }
    benchmark::DoNotOptimize(slotPool.slots[0].x[0]);
    if (std::any_of(std::begin(slotPool.slots), std::end(slotPool.slots),
                    [](const FireworkSlot& slot) { return slot.state != SlotState::Burst; })) {
      state.PauseTiming();
      FillPoolWithBursts();
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations() * SlotCount * MaxParticles);
}
BENCHMARK(BM_StepFullPoolOfBursts);

} // namespace

BENCHMARK_MAIN();
