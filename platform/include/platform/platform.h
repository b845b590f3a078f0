// The platform seams: the program-wide random generator, the tick clock, the left-button query and the one way the program fails.
#pragma once

#include <cstdint>
#include <span>

namespace platform {

// ---------------------------------------------------------------------------------------------
// Random generator
//
// The C runtime's classic rand(): a 15-bit linear congruential generator whose state starts at 1
// and is never seeded by the program. There is one instance for the whole program.

inline constexpr int RandMax = 32767;

// Returns the next value in 0..RandMax.
int Rand();

// One draw on the unit scale: the next Rand() value divided by RandMax, so 0 <= u <= 1.
inline double RandUnit() { return static_cast<double>(Rand()) / RandMax; }

// How many times Rand() has been called since the process started (or the last ResetRand).
std::uint64_t RandCallCount();

// For tests and tools that need a known starting point: state 1, call count 0, no fed values.
void ResetRand();

// For tests: the next calls of Rand() return these values in order (each taken modulo 32768),
// then the generator resumes where it stood. The span must outlive its use; the generator's own
// state does not advance while fed values are returned.
void FeedRand(std::span<const int> values);

// ---------------------------------------------------------------------------------------------
// Clock: a free-running tick counter of which only the low 32 bits are used, with unsigned
// differences, so a wrap between two readings still gives the right elapsed ticks.

class Clock {
public:
  virtual ~Clock() = default;
  virtual std::uint32_t Ticks() = 0;
  virtual std::uint64_t TicksPerSecond() const = 0;
};

// The real clock: monotonic microseconds since an arbitrary point.
class MonotonicClock final : public Clock {
public:
  std::uint32_t Ticks() override;
  std::uint64_t TicksPerSecond() const override { return 1'000'000; }
};

// A clock that stands still until it is told to advance. A headless show advances it once per
// presented frame, so every frame lasts exactly one period of the chosen frame rate.
class VirtualClock final : public Clock {
public:
  VirtualClock(std::uint64_t ticksPerSecond, std::uint32_t ticksPerFrame, std::uint32_t start = 0);
  std::uint32_t Ticks() override { return ticks_; }
  std::uint64_t TicksPerSecond() const override { return ticksPerSecond_; }

  void AdvanceFrame() { ticks_ += ticksPerFrame_; }
  // Moves the clock on by any number of ticks (wrapping at 2^32, as a real counter does).
  void AdvanceBy(std::uint32_t ticks) { ticks_ += ticks; }

  // A clock for a show at `framesPerSecond`: 60·F·1000 ticks per second and 60,000 ticks per
  // frame, so a frame lasts exactly 60/F periods of a nominal 60 Hz refresh.
  static VirtualClock ForFrameRate(std::uint32_t framesPerSecond);

private:
  std::uint64_t ticksPerSecond_;
  std::uint32_t ticksPerFrame_;
  std::uint32_t ticks_;
};

// ---------------------------------------------------------------------------------------------
// Left-button query, in the shape of the old key-state query: a signed 16-bit value with bit 15
// set while the button is down and bit 0 set when it was pressed since the previous query.

// The bits of that value.
inline constexpr std::uint16_t ButtonDownNow = 0x8000;
inline constexpr std::uint16_t PressedSinceLastQuery = 0x0001;

class ButtonQuery {
public:
  virtual ~ButtonQuery() = default;
  virtual std::int16_t LeftButtonState() = 0;
};

// A show reads the button once at its start and once after each frame. This button reports 0
// for the start and the first N - 1 frames, then 1 (pressed since the last query), so a show
// with it runs exactly N frames. N must be at least 1.
class ScriptedButton final : public ButtonQuery {
public:
  explicit ScriptedButton(std::uint64_t framesBeforeChange) : framesBeforeChange_(framesBeforeChange) {}
  std::int16_t LeftButtonState() override;
  std::uint64_t QueryCount() const { return queries_; }

private:
  std::uint64_t framesBeforeChange_;
  std::uint64_t queries_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Failure: the one way the program ends when it cannot show anything. It writes its line (a
// printf format and its arguments) on standard error and ends with FailureStatus, which the
// shell sees as 255.

inline constexpr int FailureStatus = -1;

// `closeDisplay` gives back a display that is still open, and the process then ends through the
// runtime's exit. Null means the display has gone: nothing can be given back, and nothing may
// touch it again, so the process ends at once, without the runtime's exit handlers.
[[noreturn]] void Fail(void (*closeDisplay)(), const char* format, ...) __attribute__((format(printf, 2, 3)));

} // namespace platform
