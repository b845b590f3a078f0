// Tests of the random generator, the real and the virtual clock and the scripted button.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>

namespace {

TEST(Random, UnseededSequenceIsTheRuntimes) {
  platform::ResetRand();
  const std::array<int, 8> expected = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
  for (int value : expected) {
    EXPECT_EQ(platform::Rand(), value);
  }
  EXPECT_EQ(platform::RandCallCount(), 8u);
}

TEST(Random, FedValuesComeFirstThenTheGeneratorResumes) {
  platform::ResetRand();
  EXPECT_EQ(platform::Rand(), 41);
  const std::array<int, 3> fed = {0, 32767, 32768 + 5};
  platform::FeedRand(fed);
  EXPECT_EQ(platform::Rand(), 0);
  EXPECT_EQ(platform::Rand(), 32767);
  EXPECT_EQ(platform::Rand(), 5);
  EXPECT_EQ(platform::Rand(), 18467); // the second value of the unfed sequence
  EXPECT_EQ(platform::RandCallCount(), 5u);
  platform::ResetRand();
}

TEST(Random, UnitDrawSpansZeroToOne) {
  const std::array<int, 2> fed = {0, 32767};
  platform::FeedRand(fed);
  EXPECT_EQ(platform::RandUnit(), 0.0);
  EXPECT_EQ(platform::RandUnit(), 1.0);
  platform::ResetRand();
}

// The real clock counts the microseconds of the system's monotonic clock, which steady_clock
// reads too: a reading lies between the readings of steady_clock just before and just after it.
TEST(MonotonicClock, CountsTheMicrosecondsOfTheSystemsMonotonicClock) {
  const auto steadyMicroseconds = [] {
    const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(sinceStart).count());
  };
  platform::MonotonicClock clock;
  const std::uint32_t before = steadyMicroseconds();
  const std::uint32_t ticks = clock.Ticks();
  const std::uint32_t after = steadyMicroseconds();
  // Unsigned differences, so that a wrap of the low 32 bits in between changes nothing.
  EXPECT_LE(static_cast<std::uint32_t>(ticks - before), static_cast<std::uint32_t>(after - before));
  EXPECT_EQ(clock.TicksPerSecond(), 1'000'000u);
}

TEST(VirtualClock, FramePeriodsGiveExactTimeUnits) {
  struct Case {
    std::uint32_t framesPerSecond;
    double expectedFrameInUnits;
  };
  for (const Case& c : {Case{60, 1.0}, Case{30, 2.0}, Case{144, 60.0 / 144.0}, Case{1, 60.0}}) {
    auto clock = platform::VirtualClock::ForFrameRate(c.framesPerSecond);
    const double timeUnit = static_cast<double>(clock.TicksPerSecond()) / 60;
    const std::uint32_t before = clock.Ticks();
    clock.AdvanceFrame();
    EXPECT_EQ(static_cast<double>(clock.Ticks() - before) / timeUnit, c.expectedFrameInUnits) << c.framesPerSecond;
  }
}

TEST(VirtualClock, WrapsLikeA32BitCounter) {
  platform::VirtualClock clock(1'000'000, 1000, 0xFFFFFF00u);
  const std::uint32_t before = clock.Ticks();
  clock.AdvanceFrame();
  EXPECT_LT(clock.Ticks(), before);
  EXPECT_EQ(clock.Ticks() - before, 1000u);
}

TEST(ScriptedButton, ChangesAtTheQueryAfterFrameN) {
  for (std::uint64_t frames : {1u, 2u, 600u}) {
    platform::ScriptedButton button(frames);
    const std::int16_t start = button.LeftButtonState();
    std::uint64_t framesRun = 0;
    do {
      ++framesRun;
    } while (button.LeftButtonState() == start && framesRun < 10'000);
    EXPECT_EQ(framesRun, frames);
  }
}

} // namespace
