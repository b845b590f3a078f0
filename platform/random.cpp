// The program-wide random generator: the C runtime's classic 15-bit linear congruential rand().
#include "platform/platform.h"

namespace platform {
namespace {

struct RandomGenerator {
  std::uint32_t state = 1;
  std::uint64_t calls = 0;
  std::span<const int> fed;
  std::size_t fedNext = 0;
};

RandomGenerator generator;

} // namespace

int Rand() {
  ++generator.calls;
  if (generator.fedNext < generator.fed.size()) {
    return generator.fed[generator.fedNext++] & RandMax;
  }
  generator.state = generator.state * 214013u + 2531011u;
  return static_cast<int>((generator.state >> 16) & RandMax);
}

std::uint64_t RandCallCount() { return generator.calls; }

void ResetRand() { generator = RandomGenerator{}; }

void FeedRand(std::span<const int> values) {
  generator.fed = values;
  generator.fedNext = 0;
}

} // namespace platform
