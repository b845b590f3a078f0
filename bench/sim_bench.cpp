// Measures the simulation's per-frame cost: one step over a full pool of bursting fireworks.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <iterator>

#include "sim/sim.h"

namespace {

void DrawNothing(const sim::FireworkSlot&) {}

// The step alone is measured: the renderers draw nothing.
constexpr sim::RendererHooks NoRenderers{DrawNothing, DrawNothing, DrawNothing};

void FillPoolWithBursts() {
  sim::InitPool();
  for (int i = 0; i < sim::SlotCount; ++i) {
    sim::LaunchRocket(static_cast<sim::RocketKind>(1 + i % 4), i, NoRenderers);
    sim::FireworkSlot& slot = sim::slotPool.slots[i];
    slot.burstFn(slot);
    slot.particleCount = sim::MaxParticles;
  }
}

// 25 bursting slots of 150 particles, the most the show ever steps in one frame. The slots are
// refilled whenever one finishes, so every pass does the full amount of work.
void BM_StepFullPoolOfBursts(benchmark::State& state) {
  FillPoolWithBursts();
  for (auto _ : state) {
    for (sim::FireworkSlot& slot : sim::slotPool.slots) {
      sim::StepSlot(slot, 1.0);
    }
    benchmark::DoNotOptimize(sim::slotPool.slots[0].x[0]);
    if (std::any_of(std::begin(sim::slotPool.slots), std::end(sim::slotPool.slots),
                    [](const sim::FireworkSlot& slot) { return slot.state != sim::SlotState::Burst; })) {
      state.PauseTiming();
      FillPoolWithBursts();
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations() * sim::SlotCount * sim::MaxParticles);
}
BENCHMARK(BM_StepFullPoolOfBursts);

} // namespace

BENCHMARK_MAIN();
