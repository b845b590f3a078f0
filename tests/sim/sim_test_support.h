// Shared fixtures of the simulation tests: a clean pool, counting hooks and fed random draws.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "sim/sim.h"

namespace simtest {

using namespace sim;

// Counts of hook calls, reset by every fixture.
struct HookCalls {
  int headOrBurst = 0;
  int headTrailOrBurst = 0;
  int trailOrBurst = 0;
};
inline HookCalls hookCalls;

inline void CountHeadOrBurst(const FireworkSlot&) { ++hookCalls.headOrBurst; }
inline void CountHeadTrailOrBurst(const FireworkSlot&) { ++hookCalls.headTrailOrBurst; }
inline void CountTrailOrBurst(const FireworkSlot&) { ++hookCalls.trailOrBurst; }
// The renderers the tests launch with: each counts its calls.
inline constexpr RendererHooks CountingRenderers{CountHeadOrBurst, CountHeadTrailOrBurst, CountTrailOrBurst};

class SimTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::memset(&slotPool, 0, sizeof slotPool);
    hookCalls = {};
    platform::ResetRand();
  }
  void TearDown() override { platform::ResetRand(); }

  // The next `count` draws all return `value`.
  void FeedConstant(int value, std::size_t count) {
    fed_.assign(count, value);
    platform::FeedRand(fed_);
  }
  // The next draws return these values in order.
  void Feed(std::vector<int> values) {
    fed_ = std::move(values);
    platform::FeedRand(fed_);
  }
  static double Unit(int draw) { return static_cast<double>(draw) / 32767; }

  // Draws made by `action`.
  template <typename Action>
  static std::uint64_t DrawsMadeBy(Action action) {
    const std::uint64_t before = platform::RandCallCount();
    action();
    return platform::RandCallCount() - before;
  }

private:
  std::vector<int> fed_;
};

} // namespace simtest
