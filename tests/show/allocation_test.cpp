// Proves that the show's frame loop allocates nothing: every global allocation function of this
// program is counted while thousands of frames run.
//
// operator new and delete are replaced here; malloc, calloc, realloc, aligned_alloc,
// posix_memalign and free are wrapped by the linker (--wrap) in this program and the static
// libraries linked into it, which hold all of the show's code.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>

#include "show/show.h"

// The linker's --wrap gives these functions their names: __real_malloc is the C library's malloc,
// and __wrap_malloc is called in its place.
// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" {
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* pointer, std::size_t size);
void* __real_aligned_alloc(std::size_t alignment, std::size_t size);
int __real_posix_memalign(void** pointer, std::size_t alignment, std::size_t size);
void __real_free(void* pointer);
}
// NOLINTEND(bugprone-reserved-identifier)

namespace {

using namespace show;

// Calls of allocation and release functions while counting is on.
struct AllocationCounts {
  bool counting = false;
  std::uint64_t allocations = 0;
  std::uint64_t releases = 0;
};
AllocationCounts counts;

// Each counts the call and hands it on to the C library's own function.
void* Counted(void* pointer) {
  if (counts.counting) ++counts.allocations;
  return pointer;
}
void Release(void* pointer) {
  if (counts.counting) ++counts.releases;
  __real_free(pointer);
}

void* AllocateOrThrow(std::size_t size) {
  void* pointer = __real_malloc(size == 0 ? 1 : size);
  if (pointer == nullptr) throw std::bad_alloc();
  return Counted(pointer);
}

void* AllocateAlignedOrThrow(std::size_t size, std::align_val_t alignment) {
  void* pointer = nullptr;
  const std::size_t bytes =
      static_cast<std::size_t>(alignment) < sizeof(void*) ? sizeof(void*) : static_cast<std::size_t>(alignment);
  if (__real_posix_memalign(&pointer, bytes, size == 0 ? 1 : size) != 0) throw std::bad_alloc();
  return Counted(pointer);
}

} // namespace

// NOLINTBEGIN(bugprone-reserved-identifier)
extern "C" {
void* __wrap_malloc(std::size_t size) { return Counted(__real_malloc(size)); }
void* __wrap_calloc(std::size_t count, std::size_t size) { return Counted(__real_calloc(count, size)); }
void* __wrap_realloc(void* pointer, std::size_t size) { return Counted(__real_realloc(pointer, size)); }
void* __wrap_aligned_alloc(std::size_t alignment, std::size_t size) {
  return Counted(__real_aligned_alloc(alignment, size));
}
int __wrap_posix_memalign(void** pointer, std::size_t alignment, std::size_t size) {
  Counted(nullptr); // a call like the others, though it answers with a status
  return __real_posix_memalign(pointer, alignment, size);
}
void __wrap_free(void* pointer) { Release(pointer); }
}
// NOLINTEND(bugprone-reserved-identifier)

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Counted(__real_malloc(size == 0 ? 1 : size));
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Counted(__real_malloc(size == 0 ? 1 : size));
}
void* operator new(std::size_t size, std::align_val_t alignment) { return AllocateAlignedOrThrow(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return AllocateAlignedOrThrow(size, alignment); }
void operator delete(void* pointer) noexcept { Release(pointer); }
void operator delete[](void* pointer) noexcept { Release(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { Release(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { Release(pointer); }
void operator delete(void* pointer, std::align_val_t) noexcept { Release(pointer); }
void operator delete[](void* pointer, std::align_val_t) noexcept { Release(pointer); }
void operator delete(void* pointer, std::size_t, std::align_val_t) noexcept { Release(pointer); }
void operator delete[](void* pointer, std::size_t, std::align_val_t) noexcept { Release(pointer); }

namespace {

// Keeps the compiler from removing an allocation whose result nothing else uses.
void* volatile keep = nullptr;
template <typename Block>
Block* Kept(Block* block) {
  keep = block;
  return block;
}

struct AllocatingCall {
  const char* name;
  std::function<void()> call;
};

// Each of these must be counted, or a loop that allocates could pass unseen.
TEST(AllocationCounting, SeesEveryAllocationFunction) {
  struct alignas(64) Aligned {
    char bytes[64];
  };
  const AllocatingCall calls[] = {
      {"malloc", [] { std::free(Kept(std::malloc(16))); }},
      {"calloc", [] { std::free(Kept(std::calloc(4, 4))); }},
      {"realloc", [] { std::free(Kept(std::realloc(nullptr, 16))); }},
      {"aligned_alloc", [] { std::free(Kept(std::aligned_alloc(64, 64))); }},
      {"posix_memalign",
       [] {
         void* block = nullptr;
         std::free(posix_memalign(&block, 64, 64) == 0 ? Kept(block) : nullptr);
       }},
      {"new", [] { delete Kept(new int(1)); }},
      {"new[]", [] { delete[] Kept(new int[4]); }},
      {"nothrow new", [] { delete Kept(new (std::nothrow) int(1)); }},
      {"aligned new", [] { delete Kept(new Aligned); }},
      {"a growing string", [] { keep = std::string(100, 'x').data(); }},
  };
  for (const AllocatingCall& c : calls) {
    counts = {true, 0, 0};
    c.call();
    const AllocationCounts seen = counts;
    counts = {};
    EXPECT_EQ(seen.allocations, 1u) << c.name;
    EXPECT_EQ(seen.releases, 1u) << c.name;
  }
}

// Turns counting on at one frame and off at another, and sees what the frames did meanwhile.
class CountingObserver final : public ShowObserver {
public:
  CountingObserver(std::uint64_t firstFrame, std::uint64_t lastFrame)
      : firstFrame_(firstFrame), lastFrame_(lastFrame) {}
  void AfterLaunchDecision(std::uint64_t frame, double, double sinceLaunch) override {
    if (frame == firstFrame_) counts = {true, 0, 0};
    if (frame > firstFrame_ && sinceLaunch == 0.0) ++launches;
    if (frame == lastFrame_) {
      counted = counts;
      counts = {};
    }
  }
  AllocationCounts counted;
  std::uint64_t launches = 0;

private:
  std::uint64_t firstFrame_;
  std::uint64_t lastFrame_;
};

TEST(Show, TheFrameLoopMakesNoAllocation) {
  // Counting starts once the show is under way and covers thousands of frames, with launches,
  // bursts and finished fireworks among them, at different frame rates.
  constexpr std::uint64_t FirstCountedFrame = 50;
  struct Case {
    std::uint32_t framesPerSecond;
    std::uint64_t countedFrames;
  };
  for (const Case& c : {Case{60, 3'000}, Case{144, 1'000}, Case{24, 1'000}}) {
    SCOPED_TRACE(c.framesPerSecond);
    const std::uint64_t lastCountedFrame = FirstCountedFrame + c.countedFrames;
    CountingObserver observer(FirstCountedFrame, lastCountedFrame);
    RunHeadlessShow({.framesPerSecond = c.framesPerSecond, .frames = lastCountedFrame + 1}, &observer);
    EXPECT_EQ(observer.counted.allocations, 0u);
    EXPECT_EQ(observer.counted.releases, 0u);
    EXPECT_GT(observer.launches, 10u) << "the counted frames launched rockets";
  }
}

} // namespace
